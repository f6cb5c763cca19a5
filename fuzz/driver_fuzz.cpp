// libFuzzer target: the driver's exported interface on the virtual scanner, driven by one
// input that holds, in order, the scanner's configuration and then a script of steps.
// A step is either an entry point call with its arguments and records (scan requests
// built from a few fields or taken raw from the input, line counts, null pointers where
// the interface allows them) or something done to the hardware and the host: a failing
// operation by kind and index, the device vanishing, short reads, corrupted read data and
// register answers, poked registers, failing allocations, the lock held elsewhere.
//
// After every call: the result is 0 or 1, the status one the interface documents, and the
// guard bytes around the caller's buffers untouched. After the script: with the faults
// gone, LD_CloseScanner leaves no memory block, no still-image module and no COM
// initialisation behind, and when nothing was done to the hardware the virtual scanner saw
// no protocol violation. Any breach aborts, so libFuzzer keeps the input.
//
// The input is read front to back by the small reader below (not FuzzedDataProvider,
// which takes integers from the end), so that seed inputs can be written by hand:
// see make_corpus.py.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/calibration/calibration.h"
#include "driver/chip/chip.h"
#include "driver/interface/device_state.h"
#include "driver/interface/ld_api.h"
#include "platform/win32.h"
#include "vscan/vscan.h"

namespace {

// Steps per input: enough for a full open-calibrate-scan-read-close run and faults around
// it, few enough that an input cannot run for long.
constexpr int kMaxSteps = 48;
// Lines per read, and guard bytes on each side of a caller's buffer.
constexpr uint32_t kMaxReadLines = 48;
// Lines read per input in all: a 600 dpi colour line is close to 16 KB from the scanner.
constexpr uint32_t kMaxLinesPerInput = 192;
constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(u8() | u8() << 8); }
  uint32_t u32() { return u16() | static_cast<uint32_t>(u16()) << 16; }
  // Up to n bytes into dst, the rest zero.
  void bytes(void* dst, size_t n) {
    size_t have = pos_ < size_ ? size_ - pos_ : 0;
    size_t take = have < n ? have : n;
    std::memcpy(dst, data_ + pos_, take);
    std::memset(static_cast<uint8_t*>(dst) + take, 0, n - take);
    pos_ += take;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

[[noreturn]] void Fail(const char* what, long a = 0, long b = 0) {
  std::fprintf(stderr, "driver_fuzz: invariant broken: %s (%ld, %ld)\n", what, a, b);
  std::abort();
}

// A caller's buffer with guard bytes on both sides.
class Guarded {
 public:
  explicit Guarded(size_t n) : n_(n), bytes_(n + 2 * kGuard, kGuardByte) {}
  uint8_t* data() { return bytes_.data() + kGuard; }
  void Check(const char* call) const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes_[i] != kGuardByte) Fail("write before the caller's buffer", static_cast<long>(kGuard - i));
      if (bytes_[kGuard + n_ + i] != kGuardByte) Fail("write past the caller's buffer", static_cast<long>(i));
    }
    (void)call;
  }

 private:
  size_t n_;
  std::vector<uint8_t> bytes_;
};

void CheckResult(int32_t result, const char* call) {
  if (result != 0 && result != 1) Fail("result neither 0 nor 1", result);
  int32_t status = -1;
  LD_GetScannerStatus(&status);
  if (status != kStatusNoError && status != kStatusNotOpen && status != kStatusOutOfMemory &&
      status != kStatusTransferFailed) {
    Fail("undocumented status", status);
  }
  (void)call;
}

// Bytes of a line of `pixels` pixels in a mode, as an application computes them.
uint32_t LineBytes(uint16_t mode, uint32_t pixels) {
  if (mode == 1) return 3 * pixels;
  if (mode == 2) return pixels;
  return (pixels + 7) / 8;
}

const vscan::Op kOps[] = {vscan::Op::Escape, vscan::Op::BulkSetup, vscan::Op::RawRead, vscan::Op::RawWrite,
                          vscan::Op::Lock,   vscan::Op::Unlock,    vscan::Op::CreateDevice};

// Allocation sizes the driver makes, so that a failure of one size hits something.
const SIZE_T kAllocSizes[] = {23850u * 400u, 1048576u, 61440u, 5300u * 3u * 2u, 4096u, 23850u, 15900u};

// What a clean power-on calibration finds on each variant (LLVMFuzzerInitialize).
struct Calibrated {
  CalibrationPositions positions;
  AfeLevels levels;
};
Calibrated calibrated[2];

struct Script {
  vscan::VirtualScanner* scanner;
  bool tampered = false;         // something was done to the hardware or the host
  uint32_t lastLineBytes = 16;   // bytesPerLine of the last request the driver accepted
  uint32_t linesLeft = kMaxLinesPerInput;
  bool calibrated = false;       // a real power-on calibration has run in this input
};

void SetScan(Script& s, const ScanRequest* request) {
  int32_t result = LD_SetScanParameter(request);
  CheckResult(result, "LD_SetScanParameter");
  if (result == 1 && request->bytesPerLine > 0 && request->bytesPerLine <= 3 * 5300) {
    s.lastLineBytes = request->bytesPerLine;
  }
}

// A request built from a few fields, most of them valid, so that scans get through.
void BuiltRequest(Script& s, Reader& in) {
  ScanRequest request;
  std::memset(&request, 0, sizeof request);
  uint8_t shape = in.u8();
  request.mode = static_cast<uint16_t>(1 + shape % 3);
  request.resolution = static_cast<uint16_t>(100 + in.u16() % 501);
  request.left = in.u16() % 2600;
  request.top = in.u16() % 3600;
  // Mostly lines of a few hundred pixels; the whole sensor width and past it (where the
  // request must be refused) when asked for.
  uint32_t pixels = in.u16() % ((shape & 0x04) ? 5400 : 640);
  request.width = in.u16() % 2600;
  request.length = in.u16() % 3600;
  request.bytesPerLine = LineBytes(request.mode, pixels);
  if (shape & 0x08) request.bytesPerLine += static_cast<int8_t>(in.u8()) % 4;
  request.colourChannel = in.u8() % 5;
  request.colourOrder = (shape & 0x10) ? 1 : 0;
  if (shape & 0x20) request.colourOrder = in.u8();
  request.transferOption = (shape & 0x40) ? 1 : 0;
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) request.toneCurves[c][v] = static_cast<uint8_t>((shape & 0x80) ? 255 - v : v);
  }
  SetScan(s, &request);
}

void Read(Script& s, Reader& in) {
  uint8_t arg = in.u8();
  uint32_t lines = arg % (kMaxReadLines + 1);
  if (lines > s.linesLeft) lines = s.linesLeft;
  s.linesLeft -= lines;
  if (arg & 0x80) {
    CheckResult(LD_ReadScan(nullptr, lines), "LD_ReadScan");
    return;
  }
  Guarded buffer(static_cast<size_t>(lines) * s.lastLineBytes);
  CheckResult(LD_ReadScan(buffer.data(), lines), "LD_ReadScan");
  buffer.Check("LD_ReadScan");
}

void Step(Script& s, Reader& in) {
  vscan::VirtualScanner& scanner = *s.scanner;
  switch (in.u8() % 24) {
    case 0: CheckResult(LD_OpenScanner(), "LD_OpenScanner"); break;
    case 1: CheckResult(LD_CloseScanner(), "LD_CloseScanner"); break;
    case 2: CheckResult(LD_LampOn(), "LD_LampOn"); break;
    case 3: CheckResult(LD_LampOff(), "LD_LampOff"); break;
    case 4: {
      Guarded lamp(sizeof(int32_t));
      bool null = in.u8() & 1;
      CheckResult(LD_GetLampStatus(null ? nullptr : reinterpret_cast<int32_t*>(lamp.data())), "LD_GetLampStatus");
      lamp.Check("LD_GetLampStatus");
      break;
    }
    case 5: {
      int32_t status;
      LD_GetScannerStatus((in.u8() & 1) ? nullptr : &status);
      break;
    }
    case 6: CheckResult(LD_DiagnosticTest(), "LD_DiagnosticTest"); break;
    case 7:
      // The power-on calibration reads close to 10 MB from the scanner: run it for real in
      // one case of sixteen and at most once an input, and otherwise put in place what a
      // clean one found, so that most inputs spend their time on requests, reads and faults.
      if (uint8_t real = in.u8(); !deviceOpen) {
        CheckResult(LD_DeviceInit(), "LD_DeviceInit");
      } else if (real < 16 && !s.calibrated) {
        s.calibrated = true;
        CheckResult(LD_DeviceInit(), "LD_DeviceInit");
      } else {
        calibrationPositions = calibrated[scanner.config().variant - 1].positions;
        afeLevels = calibrated[scanner.config().variant - 1].levels;
      }
      break;
    case 8: {
      Guarded record(sizeof(ScannerAbility));
      bool null = in.u8() & 1;
      CheckResult(LD_GetScannerAbility(null ? nullptr : reinterpret_cast<ScannerAbility*>(record.data())),
                  "LD_GetScannerAbility");
      record.Check("LD_GetScannerAbility");
      break;
    }
    case 9:
    case 10:
      BuiltRequest(s, in);
      break;
    case 11: {
      // The record as raw bytes; the driver reads its first 865 only.
      ScanRequest request;
      in.bytes(&request, sizeof request);
      SetScan(s, &request);
      break;
    }
    case 12: CheckResult(LD_SetScanParameter(nullptr), "LD_SetScanParameter"); break;
    case 13:
    case 14:
      Read(s, in);
      break;
    case 15: CheckResult(LD_ResetScanner(in.u8()), "LD_ResetScanner"); break;
    case 16: CheckResult(LD_StopScan(), "LD_StopScan"); break;
    case 17: {
      uint8_t kind = in.u8();
      uint16_t index = in.u16();
      vscan::Op op = kOps[kind % 7];
      if (kind & 0x80) {
        scanner.failFrom(op, index);
      } else {
        scanner.failAt(op, index);
      }
      s.tampered = true;
      break;
    }
    case 18: {
      uint8_t what = in.u8();
      uint16_t index = in.u16();
      uint8_t value = in.u8();
      switch (what % 5) {
        case 0: scanner.vanish(); break;
        case 1: scanner.shortReadsFrom(index % 64, 1 + value * 97u); break;
        case 2: scanner.corruptReadsFrom(index % 512, vscan::VirtualScanner::Corruption::Fill, value); break;
        case 3: scanner.corruptReadsFrom(index % 512, vscan::VirtualScanner::Corruption::Scramble, value); break;
        case 4: scanner.corruptAnswersFrom(index, value ? value : 0x02); break;
      }
      s.tampered = true;
      break;
    }
    case 19: {
      uint8_t what = in.u8();
      uint8_t n = in.u8();
      switch (what % 3) {
        case 0: host::FailGlobalAllocNumber(1 + n % 8); break;
        case 1: host::FailEveryGlobalAllocFrom(1 + n % 8); break;
        case 2: host::FailGlobalAllocOfSize(kAllocSizes[n % (sizeof kAllocSizes / sizeof kAllocSizes[0])]); break;
      }
      s.tampered = true;
      break;
    }
    case 20: {
      uint8_t reg = in.u8();
      uint8_t value = in.u8();
      scanner.setReg(reg % 64, value);
      s.tampered = true;
      break;
    }
    case 21: {
      uint8_t polls = in.u8();
      // Never ready waits out the driver's 30 s time-out on the virtual clock: keep it rare.
      scanner.setReadyAfterPolls(polls == 0xFF ? -1 : polls % 8);
      s.tampered = true;
      break;
    }
    case 22:
      scanner.setLockHeldElsewhere(in.u8() & 1);
      s.tampered = true;
      break;
    case 23:
      scanner.clearFaults();
      host::ClearMemoryFaults();
      break;
  }
}

void ResetHost() {
  ResetDriverState();
  host::ClearMemoryFaults();
  host::ResetMemoryCounters();
  host::ResetCom();
  host::ResetModuleCounts();
  host::SetTickCount(1000);
  // The chip's ready bit is polled for up to 30 s of the virtual clock; a coarse step keeps
  // a chip that never gets ready down to about a hundred polls.
  host::SetTickStep(250);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every scan set-up takes and frees a few megabytes of blocks; reusing them spares the
  // page faults of fresh memory, which otherwise cost more than the run itself.
  host::KeepFreedGlobalBlocks(true);
  for (int variant = 1; variant <= 2; ++variant) {
    ResetHost();
    vscan::Config config;
    config.variant = variant;
    vscan::VirtualScanner scanner(config);
    vscan::Install(&scanner);
    if (LD_OpenScanner() != 1 || LD_LampOn() != 1 || LD_DeviceInit() != 1) Fail("clean calibration failed", variant);
    calibrated[variant - 1] = {calibrationPositions, afeLevels};
    LD_CloseScanner();
    vscan::Uninstall();
  }
  ResetDriverState();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  ResetHost();

  vscan::Config config;
  uint8_t setup = in.u8();
  config.variant = (setup & 1) ? 2 : 1;
  config.lampOnAtStart = (setup & 2) != 0;
  config.seed = 5170 + (setup >> 4);
  vscan::VirtualScanner scanner(config);
  vscan::Install(&scanner);

  Script script{&scanner};
  for (int step = 0; step < kMaxSteps && !in.empty(); ++step) Step(script, in);

  // With the faults gone (a vanished device stays gone), the close releases everything.
  scanner.clearFaults();
  scanner.setLockHeldElsewhere(false);
  host::ClearMemoryFaults();
  LD_CloseScanner();
  if (host::LiveGlobalBlocks() != 0) Fail("memory blocks left live after the close", static_cast<long>(host::LiveGlobalBlocks()));
  if (host::ModuleReferences("sti.dll") != 0) Fail("still-image library left loaded", host::ModuleReferences("sti.dll"));
  if (host::ComBalance() != 0) Fail("COM initialisation not balanced", host::ComBalance());
  if (scanner.openDeviceObjects() != 0) Fail("device objects left open", scanner.openDeviceObjects());
  if (scanner.serviceObjects() != 0) Fail("service objects left alive", scanner.serviceObjects());
  if (!script.tampered && !scanner.violations().empty()) {
    std::fprintf(stderr, "first violation: %s\n", scanner.violations().front().c_str());
    Fail("protocol violation with nothing done to the hardware", static_cast<long>(scanner.violations().size()));
  }

  vscan::Uninstall();
  ResetDriverState();
  return 0;
}
