// Fault sweeps over the entry points: each scenario is run clean once to count the memory
// allocations and device operations it makes, then again once per failure point with exactly
// that one failing. Every run must leave nothing held after the close, give the result and
// status that the failure calls for, and leave a library that works once the fault is gone.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "driver/pipeline/pipeline.h"
#include "driver/transport/transport.h"
#include "tests/robustness/sweep_support.h"

namespace {

using sweep::Point;
using sweep::Tally;

// One line per scenario, printed when the suite ends.
std::vector<std::string>& Summary() {
  static std::vector<std::string> lines;
  return lines;
}

class SummaryPrinter : public ::testing::Environment {
 public:
  void TearDown() override {
    if (Summary().empty()) return;
    std::printf("\nFailure points swept per scenario%s:\n",
                sweep::FullSweep() ? " (full sweep)" : " (set LUMETRA_FULL_SWEEP=1 for every point)");
    for (const std::string& line : Summary()) std::printf("  %s\n", line.c_str());
    std::fflush(stdout);
  }
};
const auto* const kSummaryPrinter = ::testing::AddGlobalTestEnvironment(new SummaryPrinter);

// Kinds with more points than this are sampled in the default run.
constexpr uint64_t kSampleAbove = 24;
constexpr uint64_t kEveryPoint = UINT64_MAX;

// The indices of one kind to run: all of them, or an even spread plus the last three. The
// stride is odd and prime to 3 and 5, so that over a run it lands on every position inside
// the register operations (4 requests a write, 6 a read, 10 a masked update of register 3);
// the last three of a scan are the priming and the reads' own refills, which a spread over
// the shading passes' many reads would miss.
constexpr uint64_t kAlwaysLast = 3;

std::vector<uint64_t> Indices(uint64_t count, uint64_t samples, uint64_t* strideOut) {
  std::vector<uint64_t> out;
  *strideOut = 1;
  if (count == 0) return out;
  if (sweep::FullSweep() || count <= samples) {
    for (uint64_t i = 0; i < count; ++i) out.push_back(i);
    return out;
  }
  uint64_t stride = (count + samples - 1) / samples;
  while (stride % 2 == 0 || stride % 3 == 0 || stride % 5 == 0) ++stride;
  *strideOut = stride;
  const uint64_t tail = count - kAlwaysLast;
  for (uint64_t i = 0; i < tail; i += stride) out.push_back(i);
  for (uint64_t i = tail; i < count; ++i) out.push_back(i);
  return out;
}

class FaultSweep : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    checkViolations_ = false;  // a fault may well make the driver misuse the bridge; checked in recovery runs
  }

  // --- what the body under test can ask about the armed point ---------------------------
  const Point* fault_ = nullptr;        // null in the clean run
  std::vector<Tally> cleanMarks_;       // clean run: tally after each step, from the body's start
  std::vector<vscan::TraceEntry> cleanRequests_;  // clean run: the body's escapes, in order
  Tally bodyStart_;

  // Ends a step of the body (one entry point call).
  void Mark() {
    if (fault_ == nullptr) cleanMarks_.push_back(sweep::Minus(sweep::Take(scanner()), bodyStart_));
  }
  // The step in which the armed point falls (steps past the last: the count of steps).
  size_t FaultStep() const {
    size_t s = 0;
    while (s < cleanMarks_.size() && cleanMarks_[s].n[fault_->kind] <= fault_->index) ++s;
    return s;
  }
  bool FaultIn(size_t step) const { return fault_ != nullptr && FaultStep() == step; }
  bool FaultBefore(size_t step) const { return fault_ != nullptr && FaultStep() < step; }
  // Index of the armed point among its kind's operations in that step.
  uint64_t IndexInStep() const {
    size_t s = FaultStep();
    return s == 0 ? fault_->index : fault_->index - cleanMarks_[s - 1].n[fault_->kind];
  }
  bool Is(int kind) const { return fault_ != nullptr && fault_->kind == kind; }
  // The failing escape carries a bulk setup packet (request 0x82), for a read or a write.
  bool IsBulkSetup(bool* toScanner = nullptr) const {
    if (!Is(sweep::kEscape) || fault_->index >= cleanRequests_.size()) return false;
    const vscan::TraceEntry& e = cleanRequests_[fault_->index];
    if (toScanner != nullptr) *toScanner = e.packet[0] == 0x01;
    return e.request == 0x82;
  }
  bool IsBulkRead() const {
    bool toScanner = false;
    return Is(sweep::kRawRead) || (IsBulkSetup(&toScanner) && !toScanner);
  }
  bool IsBulkWrite() const {
    bool toScanner = false;
    return Is(sweep::kRawWrite) || (IsBulkSetup(&toScanner) && toScanner);
  }
  // A plain bridge request: a register or port access, never examined by most callers.
  bool IsPlainRequest() const { return Is(sweep::kEscape) && !IsBulkSetup(); }

  // --- calibration kept from one clean LD_DeviceInit -------------------------------------
  static sweep::Calibration& Calibrated() {
    static sweep::Calibration c{};
    return c;
  }
  static bool& HaveCalibration() {
    static bool have = false;
    return have;
  }
  void OpenCalibrated() {
    ASSERT_EQ(LD_OpenScanner(), 1);
    ASSERT_EQ(LD_LampOn(), 1);
    if (!HaveCalibration()) {
      ASSERT_EQ(LD_DeviceInit(), 1);
      Calibrated() = {calibrationPositions, afeLevels};
      HaveCalibration() = true;
    }
    sweep::Restore(Calibrated());
  }

  // --- after every run --------------------------------------------------------------------
  void ExpectReleased(const std::string& where) {
    EXPECT_EQ(deviceOpen, 0) << where;
    EXPECT_EQ(host::LiveGlobalBlocks(), 0u) << where << ": memory blocks left live";
    EXPECT_EQ(host::ModuleReferences("sti.dll"), 0) << where << ": still-image library left loaded";
    EXPECT_EQ(host::ComBalance(), 0) << where << ": COM initialisation not balanced";
    EXPECT_EQ(ConnectionHeld(), 0) << where << ": connection still held";
  }

  // Open, lamp, loop-back test, lamp query, close: connection, registers and bulk port work.
  void QuickRecovery(const std::string& where) {
    scanner().clearViolations();
    EXPECT_EQ(LD_OpenScanner(), 1) << where;
    EXPECT_EQ(hardwareVariant, scanner().config().variant) << where;
    EXPECT_EQ(LD_LampOn(), 1) << where;
    EXPECT_EQ(LD_DiagnosticTest(), 1) << where;
    int32_t lamp = -1;
    EXPECT_EQ(LD_GetLampStatus(&lamp), 1) << where;
    EXPECT_EQ(lamp, 1) << where;
    EXPECT_EQ(LD_CloseScanner(), 1) << where;
    ExpectReleased(where + ", quick recovery");
    EXPECT_TRUE(scanner().violations().empty()) << where << ", quick recovery: " << scanner().violations().front();
  }

  // The whole road: open, lamp, power-on calibration, a colour scan set up and read, close.
  void FullRecovery(const std::string& where) {
    scanner().clearViolations();
    EXPECT_EQ(LD_OpenScanner(), 1) << where;
    EXPECT_EQ(LD_LampOn(), 1) << where;
    EXPECT_EQ(LD_DeviceInit(), 1) << where;
    if (HaveCalibration()) {
      EXPECT_EQ(calibrationPositions.originLine, Calibrated().positions.originLine) << where;
      EXPECT_EQ(calibrationPositions.rightEdgePixel, Calibrated().positions.rightEdgePixel) << where;
    }
    ScanRequest r = sweep::Request(kModeColour, 300, 3 * 200, 20);
    EXPECT_EQ(LD_SetScanParameter(&r), 1) << where;
    std::vector<uint8_t> image(20 * 600, 0);
    EXPECT_EQ(LD_ReadScan(image.data(), 20), 1) << where;
    // The chart's paper is bright: a scan that came back black did not really work.
    const uint64_t sum = std::accumulate(image.begin(), image.end(), uint64_t{0});
    EXPECT_GT(sum / image.size(), 100u) << where << ": the recovery scan is dark";
    EXPECT_EQ(LD_ResetScanner(0), 1) << where;
    EXPECT_EQ(LD_CloseScanner(), 1) << where;
    EXPECT_EQ(ReadStatus(), 0) << where;
    ExpectReleased(where + ", full recovery");
    EXPECT_TRUE(scanner().violations().empty()) << where << ", full recovery: " << scanner().violations().front();
  }

  // Runs the scenario clean, then once per failure point (all, or the sample), and records
  // the line of the summary.
  void Sweep(const std::string& name, const std::function<void()>& prepare, const std::function<void()>& body,
             uint64_t samples = kSampleAbove) {
    // Clean run: counts and step boundaries.
    fault_ = nullptr;
    cleanMarks_.clear();
    prepare();
    if (HasFatalFailure()) return;
    bodyStart_ = sweep::Take(scanner());
    const size_t traceStart = scanner().trace().size();
    body();
    const Tally counts = sweep::Minus(sweep::Take(scanner()), bodyStart_);
    cleanRequests_.clear();
    const std::vector<vscan::TraceEntry> cleanTrace(scanner().trace().begin() + traceStart, scanner().trace().end());
    for (const auto& e : cleanTrace) {
      if (e.kind == vscan::TraceEntry::Request) cleanRequests_.push_back(e);
    }
    ASSERT_EQ(cleanRequests_.size(), counts.n[sweep::kEscape]) << name << ": every escape is traced";
    if (deviceOpen) LD_CloseScanner();
    ExpectReleased(name + ", clean run");
    if (HasFailure()) return;

    uint64_t bulkSetups = 0;
    for (const auto& e : cleanRequests_) bulkSetups += e.request == 0x82;

    uint64_t total = 0, swept = 0, fullRecoveries = 0;
    std::string breakdown;
    for (int k = 0; k < sweep::kKinds; ++k) {
      const uint64_t count = counts.n[k];
      total += count;
      if (count == 0) continue;
      uint64_t stride = 1;
      const std::vector<uint64_t> indices = Indices(count, samples, &stride);
      for (uint64_t index : indices) {
        const Point point{k, index};
        const std::string where = name + ", " + sweep::Describe(point);
        SCOPED_TRACE(where);
        fault_ = nullptr;
        scanner().clearTrace();  // each run is compared from its own start; the trace would only grow
        prepare();
        if (HasFatalFailure()) return;
        fault_ = &point;
        bodyStart_ = sweep::Take(scanner());
        const size_t runStart = scanner().trace().size();
        sweep::Arm(scanner(), point);
        body();
        // The point is only the one counted if the run took the clean run's road up to it: the
        // same requests to the same registers (the values written may differ with the shadow).
        if (point.kind != sweep::kAlloc) {
          const auto& trace = scanner().trace();
          for (size_t i = runStart, j = 0; i < trace.size() && j < cleanTrace.size() && !trace[i].failed; ++i, ++j) {
            const vscan::TraceEntry& a = trace[i];
            const vscan::TraceEntry& b = cleanTrace[j];
            const bool same = a.kind == b.kind && a.request == b.request && a.write == b.write &&
                              (a.request != 0x83 || a.byte == b.byte) && a.size == b.size;
            ASSERT_TRUE(same) << "the run left the clean run's sequence at exchange " << j;
          }
        }
        sweep::Disarm(scanner());
        fault_ = nullptr;
        if (deviceOpen) LD_CloseScanner();
        ExpectReleased(where);
        QuickRecovery(where);
        if (sweep::FullSweep() || index == indices.back()) {
          FullRecovery(where);
          ++fullRecoveries;
        }
        ++swept;
        if (HasFailure()) return;  // one broken point is enough to read; the rest would repeat it
      }
      if (!breakdown.empty()) breakdown += ", ";
      breakdown += std::to_string(count) + " " + sweep::KindName(k);
      if (k == sweep::kEscape) breakdown += " (" + std::to_string(bulkSetups) + " of them bulk setups)";
      if (indices.size() < count) {
        breakdown += " [" + std::to_string(indices.size()) + " swept: one in " + std::to_string(stride) +
                     " and the last " + std::to_string(kAlwaysLast) + "]";
      }
    }
    char line[512];
    std::snprintf(line, sizeof line, "%-30s %5llu points: %s; swept %llu%s; full recovery run after %llu",
                  name.c_str(), static_cast<unsigned long long>(total), breakdown.c_str(),
                  static_cast<unsigned long long>(swept), swept == total ? " (all)" : "",
                  static_cast<unsigned long long>(fullRecoveries));
    Summary().push_back(line);
    RecordProperty("points", static_cast<int>(total));
    RecordProperty("swept", static_cast<int>(swept));
  }

  // Expectation for a call whose every device exchange is a register access that the driver
  // does not examine, apart from the failing point itself: any entry point's result is
  // 1 with status 0, or 0 with status 5 (a transfer failed) once the failure is detected.
  static void ExpectDoneOrTransferFailure(int32_t result, int32_t status) {
    if (result == 1) {
      EXPECT_EQ(status, kStatusNoError);
    } else {
      EXPECT_EQ(status, kStatusTransferFailed);
    }
  }
};

// --- open ---------------------------------------------------------------------------------

class OpenSweep : public FaultSweep, public ::testing::WithParamInterface<int> {
 protected:
  vscan::Config ScannerConfig() override {
    vscan::Config config;
    config.variant = GetParam();
    return config;
  }
};

TEST_P(OpenSweep, IdentifiesTheVariantOrFails) {
  Sweep(
      "open, variant " + std::to_string(GetParam()), [] {},
      [&] {
        const int32_t result = LD_OpenScanner();
        Mark();
        if (fault_ == nullptr) {
          ASSERT_EQ(result, 1);
          return;
        }
        if (Is(sweep::kLock) || Is(sweep::kCreate)) {
          EXPECT_EQ(result, 0);
          EXPECT_EQ(ReadStatus(), kStatusNotOpen);
          return;
        }
        // A failed wake-up or register write goes unnoticed; the variant must never be guessed
        // from a read that did not come back.
        if (result == 1) {
          EXPECT_EQ(hardwareVariant, scanner().config().variant);
        } else {
          EXPECT_EQ(ReadStatus(), kStatusNotOpen);
          EXPECT_EQ(deviceOpen, 0);
        }
      },
      kEveryPoint);
}

INSTANTIATE_TEST_SUITE_P(, OpenSweep, ::testing::Values(1, 2));

// --- lamp, on an open and on a closed device -----------------------------------------------

enum class LampCall { kOn, kOff, kQuery };

struct LampCase {
  const char* name;
  LampCall call;
  bool openFirst;
};

class LampSweep : public FaultSweep, public ::testing::WithParamInterface<LampCase> {};

TEST_P(LampSweep, ResultMatchesTheLamp) {
  const LampCase c = GetParam();
  // The lamp starts in the state the call changes, so that a call that did nothing shows.
  const bool startOn = c.call != LampCall::kOn;
  Sweep(
      c.name,
      [&] {
        ASSERT_EQ(startOn ? LD_LampOn() : LD_LampOff(), 1);
        if (c.openFirst) {
          ASSERT_EQ(LD_OpenScanner(), 1);
        }
      },
      [&] {
        int32_t lamp = -7;
        int32_t result = 0;
        switch (c.call) {
          case LampCall::kOn:
            result = LD_LampOn();
            break;
          case LampCall::kOff:
            result = LD_LampOff();
            break;
          case LampCall::kQuery:
            result = LD_GetLampStatus(&lamp);
            break;
        }
        const int32_t status = ReadStatus();
        Mark();
        EXPECT_EQ(deviceOpen, c.openFirst ? 1 : 0);
        if (fault_ == nullptr) {
          ASSERT_EQ(result, 1);
          ASSERT_EQ(status, kStatusNoError);
        }
        if (result == 1) {
          // Success means the lamp is as the call says.
          EXPECT_EQ(status, kStatusNoError);
          if (c.call == LampCall::kQuery) {
            EXPECT_EQ(lamp, scanner().lampOn() ? 1 : 0);
          } else {
            EXPECT_EQ(scanner().lampOn(), c.call == LampCall::kOn);
          }
          return;
        }
        if (c.call == LampCall::kQuery) {
          EXPECT_EQ(lamp, -7) << "a failed query must leave the integer alone";
        }
        if (Is(sweep::kLock) || Is(sweep::kCreate)) {
          EXPECT_EQ(status, kStatusNotOpen);
        } else if (c.openFirst) {
          EXPECT_EQ(status, kStatusTransferFailed);
        } else {
          // The temporary open may itself fail (a read of the variant lost), or the action.
          EXPECT_TRUE(status == kStatusNotOpen || status == kStatusTransferFailed) << "status " << status;
        }
      },
      kEveryPoint);
}

INSTANTIATE_TEST_SUITE_P(, LampSweep,
                         ::testing::Values(LampCase{"lamp on, open", LampCall::kOn, true},
                                           LampCase{"lamp off, open", LampCall::kOff, true},
                                           LampCase{"lamp status, open", LampCall::kQuery, true},
                                           LampCase{"lamp on, closed", LampCall::kOn, false},
                                           LampCase{"lamp off, closed", LampCall::kOff, false},
                                           LampCase{"lamp status, closed", LampCall::kQuery, false}),
                         [](const ::testing::TestParamInfo<LampCase>& info) {
                           std::string n;
                           for (const char* p = info.param.name; *p; ++p) {
                             if (std::isalnum(static_cast<unsigned char>(*p))) n += *p;
                           }
                           return n;
                         });

// --- loop-back test -----------------------------------------------------------------------

TEST_F(FaultSweep, LoopBack) {
  Sweep(
      "loop-back test",
      [&] {
        ASSERT_EQ(LD_OpenScanner(), 1);
        ASSERT_EQ(LD_LampOn(), 1);
      },
      [&] {
        const uint64_t escapesBefore = scanner().count(vscan::Op::Escape);
        const int32_t result = LD_DiagnosticTest();
        Mark();
        EXPECT_EQ(ReadStatus(), kStatusNoError) << "the test does not report through the status";
        if (fault_ == nullptr) {
          ASSERT_EQ(result, 1);
          return;
        }
        if (Is(sweep::kAlloc)) {
          EXPECT_EQ(result, 0);
          EXPECT_EQ(scanner().count(vscan::Op::Escape), escapesBefore) << "no memory: the device is not touched";
        } else if (IsBulkRead() || IsBulkWrite()) {
          EXPECT_EQ(result, 0) << "a lost transfer must fail the comparison";
        } else if (result == 1) {
          // A lost register request may still leave a working loop: then the RAM holds the pattern.
          const auto& ram = scanner().chipRam();
          ASSERT_GE(ram.size(), 4096u);
          for (size_t i = 0; i < 4096; ++i) ASSERT_EQ(ram[i], 0x55) << "byte " << i;
        }
      },
      kEveryPoint);
}

// --- power-on calibration ----------------------------------------------------------------

TEST_F(FaultSweep, PowerOnCalibration) {
  Sweep(
      "power-on calibration",
      [&] {
        ASSERT_EQ(LD_OpenScanner(), 1);
        ASSERT_EQ(LD_LampOn(), 1);
      },
      [&] {
        const int32_t result = LD_DeviceInit();
        const int32_t status = ReadStatus();
        Mark();
        if (fault_ == nullptr) {
          ASSERT_EQ(result, 1);
          if (!HaveCalibration()) {
            Calibrated() = {calibrationPositions, afeLevels};
            HaveCalibration() = true;
          }
          return;
        }
        if (Is(sweep::kAlloc)) {
          EXPECT_EQ(result, 0);
          EXPECT_EQ(status, kStatusOutOfMemory);
        } else if (IsBulkRead()) {
          EXPECT_EQ(result, 0);
          EXPECT_EQ(status, kStatusTransferFailed);
        } else if (result == 0) {
          // A lost register request goes unnoticed, but may cost the strip (status 0).
          EXPECT_TRUE(status == kStatusNoError || status == kStatusTransferFailed) << "status " << status;
        } else {
          EXPECT_EQ(status, kStatusNoError);
        }
      },
      16);
}

// --- a scan set up and read --------------------------------------------------------------

struct ScanCase {
  const char* name;
  uint16_t mode;
  uint16_t resolution;
  uint32_t bytesPerLine;
  uint32_t lines;  // the whole window, read in three calls
};

class ScanSweep : public FaultSweep, public ::testing::WithParamInterface<ScanCase> {};

// Allocation order of a scan's set-up: three shading planes and two pass buffers, three curve
// buffers and the table of the correction upload, the stream buffer, then the line buffer.
constexpr uint64_t kShadingAllocs = 5;
constexpr uint64_t kUploadAllocs = 4;

TEST_P(ScanSweep, SetUpAndRead) {
  const ScanCase c = GetParam();
  const ScanRequest request = sweep::Request(c.mode, c.resolution, c.bytesPerLine, c.lines * 300 / c.resolution);
  const uint32_t lineBytes =
      c.mode == kModeColour ? c.bytesPerLine / 3 * 3 : c.bytesPerLine;  // finished line, by mode
  const uint32_t calls[3] = {c.lines / 3, c.lines / 3, c.lines - 2 * (c.lines / 3)};
  std::vector<uint8_t> image(static_cast<size_t>(c.lines) * lineBytes + 16);

  Sweep(
      c.name, [&] { OpenCalibrated(); },
      [&] {
        const int32_t setUp = LD_SetScanParameter(&request);
        const int32_t setUpStatus = ReadStatus();
        Mark();
        bool scanRuns = true;     // a scan was set up that the reads may take lines from
        bool readsMayFail = false;
        if (fault_ == nullptr) {
          ASSERT_EQ(setUp, 1);
        } else if (FaultIn(0)) {
          if (Is(sweep::kAlloc)) {
            const uint64_t a = fault_->index;
            const bool upload = a >= kShadingAllocs && a < kShadingAllocs + kUploadAllocs;
            // Without the correction table's buffers the scan runs uncorrected; any other
            // allocation is needed.
            EXPECT_EQ(setUp, upload ? 1 : 0);
            EXPECT_EQ(setUpStatus, upload ? kStatusNoError : kStatusOutOfMemory);
          } else if (IsBulkRead()) {
            EXPECT_EQ(setUp, 0);
            EXPECT_EQ(setUpStatus, kStatusTransferFailed);
          } else if (IsBulkWrite()) {
            // The correction table's write is not checked: the scan goes on.
            EXPECT_EQ(setUp, 1);
            EXPECT_EQ(setUpStatus, kStatusNoError);
          } else {
            ExpectDoneOrTransferFailure(setUp, setUpStatus);
            readsMayFail = true;
          }
          scanRuns = setUp == 1;
        }

        for (size_t j = 0; j < 3; ++j) {
          const size_t step = j + 1;
          uint8_t* at = image.data() + static_cast<size_t>(j == 0 ? 0 : (j == 1 ? calls[0] : calls[0] + calls[1])) * lineBytes;
          int32_t result = LD_ReadScan(at, calls[j]);
          int32_t status = ReadStatus();
          Mark();
          if (fault_ == nullptr) {
            ASSERT_EQ(result, 1);
            continue;
          }
          if (!scanRuns) {
            // Nothing set up: refused, with nothing to report.
            EXPECT_EQ(result, 0);
            EXPECT_EQ(status, kStatusNoError);
            continue;
          }
          if (FaultIn(step)) {
            // Reads move only bulk data: a lost refill fails the call, and the next call
            // retries it and goes on from where the stream stopped.
            EXPECT_TRUE(IsBulkRead()) << "reads make no other device exchange";
            EXPECT_EQ(result, 0);
            EXPECT_EQ(status, kStatusTransferFailed);
            result = LD_ReadScan(at, calls[j]);
            status = ReadStatus();
            EXPECT_EQ(result, 1) << "the refill is retried by the next read";
          } else if (readsMayFail) {
            ExpectDoneOrTransferFailure(result, status);
            continue;
          } else {
            EXPECT_EQ(result, 1);
          }
          EXPECT_EQ(status, kStatusNoError);
        }
      });
}

// Small windows, wide enough that the read crosses at least one 61440-byte refill.
INSTANTIATE_TEST_SUITE_P(, ScanSweep,
                         ::testing::Values(ScanCase{"scan colour 300 dpi", kModeColour, 300, 3 * 500, 42},
                                           ScanCase{"scan colour 200 dpi", kModeColour, 200, 3 * 400, 42},
                                           ScanCase{"scan grey 300 dpi", kModeGrey, 300, 1500, 42},
                                           ScanCase{"scan line art 600 dpi", kModeLineArt, 600, 660, 102}),
                         [](const ::testing::TestParamInfo<ScanCase>& info) {
                           std::string n;
                           for (const char* p = info.param.name; *p; ++p) {
                             if (std::isalnum(static_cast<unsigned char>(*p))) n += *p;
                           }
                           return n;
                         });

// --- reset and close of a running scan -----------------------------------------------------

class EndOfScan : public FaultSweep {
 protected:
  // A 200 dpi scan, so that both the stream buffer and the line buffer are held.
  void StartScan() {
    OpenCalibrated();
    if (HasFatalFailure()) return;
    const ScanRequest r = sweep::Request(kModeColour, 200, 3 * 100, 15);
    ASSERT_EQ(LD_SetScanParameter(&r), 1);
    std::vector<uint8_t> lines(10 * 300);
    ASSERT_EQ(LD_ReadScan(lines.data(), 10), 1);
    ASSERT_EQ(host::LiveGlobalBlocks(), 2u);
    // With the lamp off, a stop pattern that switched it on through a lost read would show.
    ASSERT_EQ(LD_LampOff(), 1);
  }
};

TEST_F(EndOfScan, Reset) {
  Sweep(
      "reset", [&] { StartScan(); },
      [&] {
        EXPECT_EQ(LD_ResetScanner(0), 1);
        EXPECT_EQ(ReadStatus(), kStatusNoError);
        Mark();
        // The buffers go whatever the chip made of the stop pattern; the device stays open.
        EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
        EXPECT_EQ(deviceOpen, 1);
        EXPECT_FALSE(scanner().lampOn()) << "stopping the transfer never switches the lamp";
        std::vector<uint8_t> line(300);
        EXPECT_EQ(LD_ReadScan(line.data(), 1), 0) << "nothing left to read after a reset";
      },
      kEveryPoint);
}

TEST_F(EndOfScan, Close) {
  Sweep(
      "close", [&] { StartScan(); },
      [&] {
        EXPECT_EQ(LD_CloseScanner(), 1);
        Mark();
        // Closing with the scan still set up (no reset first) gives back everything.
        ExpectReleased("right after the close");
        EXPECT_FALSE(scanner().lampOn()) << "stopping the transfer never switches the lamp";
      },
      kEveryPoint);
}

}  // namespace
