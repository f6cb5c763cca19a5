// libFuzzer target: the driver's exported interface on the virtual scanner, driven by one
// input that holds, in order, the scanner's configuration and then a script of steps.
// A step is either an entry point call with its arguments and records (scan requests
// built from a few fields or taken raw from the input, line counts, null pointers where
// the interface allows them) or something done to the hardware and the host: a failing
// operation by kind and index, the device vanishing, short reads, corrupted read data and
// register answers, poked registers, failing allocations, the lock held elsewhere.
//
// After every call: the result is 0 or 1, the status one the interface documents, and the
// guard bytes around the caller's buffers untouched; no out-of-memory status unless an
// allocation was made to fail, no transfer failure unless something was done to the
// device, no failure status beside a success from an entry point that checks the device;
// the open flag as the open, the close and the lamp switches must leave it. After the
// script: with the faults
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

[[noreturn]] void Fail(const char* call, const char* what, long a = 0) {
  std::fprintf(stderr, "driver_fuzz: invariant broken after %s: %s (%ld)\n", call, what, a);
  std::abort();
}

// A caller's buffer with guard bytes on both sides.
class Guarded {
 public:
  explicit Guarded(size_t n) : n_(n), bytes_(n + 2 * kGuard, kGuardByte) {}
  uint8_t* data() { return bytes_.data() + kGuard; }
  void Check(const char* call) const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes_[i] != kGuardByte) Fail(call, "write before the caller's buffer", static_cast<long>(kGuard - i));
      if (bytes_[kGuard + n_ + i] != kGuardByte) Fail(call, "write past the caller's buffer", static_cast<long>(i));
    }
  }

 private:
  size_t n_;
  std::vector<uint8_t> bytes_;
};

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
  bool memoryTampered = false;   // allocations were made to fail
};

// Entry points that begin by checking the device, and so leave the status at 0 when they
// succeed; the others (the open, the stop, the capability report, the loop-back test)
// leave it as it was.
enum StatusRule { kKeepsStatus, kResetsStatus };

void CheckResult(const Script& s, int32_t result, const char* call, StatusRule rule = kKeepsStatus) {
  if (result != 0 && result != 1) Fail(call, "result neither 0 nor 1", result);
  int32_t status = -1;
  LD_GetScannerStatus(&status);
  if (status != kStatusNoError && status != kStatusNotOpen && status != kStatusOutOfMemory &&
      status != kStatusTransferFailed) {
    Fail(call, "undocumented status", status);
  }
  if (rule == kResetsStatus && result == 1 && status != kStatusNoError) Fail(call, "success with a failure status", status);
  // A failure the driver cannot have met: nothing made an allocation or a transfer fail.
  if (status == kStatusOutOfMemory && !s.memoryTampered) Fail(call, "out of memory with no allocation failing");
  if (status == kStatusTransferFailed && !s.tampered) Fail(call, "transfer failure with nothing done to the device");
}

void SetScan(Script& s, const ScanRequest* request) {
  int32_t result = LD_SetScanParameter(request);
  CheckResult(s, result, "LD_SetScanParameter", kResetsStatus);
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
    CheckResult(s, LD_ReadScan(nullptr, lines), "LD_ReadScan", kResetsStatus);
    return;
  }
  Guarded buffer(static_cast<size_t>(lines) * s.lastLineBytes);
  CheckResult(s, LD_ReadScan(buffer.data(), lines), "LD_ReadScan", kResetsStatus);
  buffer.Check("LD_ReadScan");
}

void Step(Script& s, Reader& in) {
  vscan::VirtualScanner& scanner = *s.scanner;
  const int step = in.u8() % 24;
  switch (step) {
    case 0: {
      int32_t result = LD_OpenScanner();
      CheckResult(s, result, "LD_OpenScanner");
      if (deviceOpen != result) Fail("LD_OpenScanner", "open flag differs from the result", deviceOpen);
      break;
    }
    case 1:
      CheckResult(s, LD_CloseScanner(), "LD_CloseScanner", kResetsStatus);
      if (deviceOpen != 0) Fail("LD_CloseScanner", "device still open");
      break;
    case 2:
    case 3: {
      // The lamp switches open a closed device for the one call and close it again.
      int32_t wasOpen = deviceOpen;
      bool on = step == 2;
      CheckResult(s, on ? LD_LampOn() : LD_LampOff(), on ? "LD_LampOn" : "LD_LampOff", kResetsStatus);
      if (deviceOpen != wasOpen) Fail(on ? "LD_LampOn" : "LD_LampOff", "open flag changed", deviceOpen);
      break;
    }
    case 4: {
      Guarded lamp(sizeof(int32_t));
      bool null = in.u8() & 1;
      CheckResult(s, LD_GetLampStatus(null ? nullptr : reinterpret_cast<int32_t*>(lamp.data())), "LD_GetLampStatus",
                  kResetsStatus);
      lamp.Check("LD_GetLampStatus");
      break;
    }
    case 5: {
      int32_t status;
      LD_GetScannerStatus((in.u8() & 1) ? nullptr : &status);
      break;
    }
    case 6: CheckResult(s, LD_DiagnosticTest(), "LD_DiagnosticTest"); break;
    case 7:
      // The power-on calibration reads close to 10 MB from the scanner: run it for real in
      // one case of sixteen and at most once an input, and otherwise put in place what a
      // clean one found, so that most inputs spend their time on requests, reads and faults.
      if (uint8_t real = in.u8(); !deviceOpen) {
        CheckResult(s, LD_DeviceInit(), "LD_DeviceInit", kResetsStatus);
      } else if (real < 16 && !s.calibrated) {
        s.calibrated = true;
        CheckResult(s, LD_DeviceInit(), "LD_DeviceInit", kResetsStatus);
      } else {
        calibrationPositions = calibrated[scanner.config().variant - 1].positions;
        afeLevels = calibrated[scanner.config().variant - 1].levels;
      }
      break;
    case 8: {
      Guarded record(sizeof(ScannerAbility));
      bool null = in.u8() & 1;
      CheckResult(s, LD_GetScannerAbility(null ? nullptr : reinterpret_cast<ScannerAbility*>(record.data())),
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
    case 12: CheckResult(s, LD_SetScanParameter(nullptr), "LD_SetScanParameter", kResetsStatus); break;
    case 13:
    case 14:
      Read(s, in);
      break;
    case 15: CheckResult(s, LD_ResetScanner(in.u8()), "LD_ResetScanner", kResetsStatus); break;
    case 16: CheckResult(s, LD_StopScan(), "LD_StopScan"); break;
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
      // Raw read indexes reach over a whole power-on calibration (20 warm-up lines, 400
      // strip lines, 24 dark lines, one read each): Fill steps at chosen lines lay bright
      // and dark bands, flat planes or no strip at all over it.
      using Corruption = vscan::VirtualScanner::Corruption;
      switch (what % 6) {
        case 0: scanner.vanish(); break;
        case 1: scanner.shortReadsFrom(index % 64, 1 + value * 97u); break;
        case 2: scanner.corruptReadsFrom(index % 512, Corruption::Fill, value); break;
        case 3: scanner.corruptReadsFrom(index % 512, Corruption::Scramble, value); break;
        case 4: scanner.corruptAnswersFrom(index, value ? value : 0x02); break;
        case 5: scanner.corruptReadsFrom(index % 512, Corruption::Keep, 0); break;
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
      s.memoryTampered = true;
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
    if (LD_OpenScanner() != 1 || LD_LampOn() != 1 || LD_DeviceInit() != 1) Fail("LLVMFuzzerInitialize", "clean calibration failed", variant);
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
  if (host::LiveGlobalBlocks() != 0) Fail("the final LD_CloseScanner", "memory blocks left live after the close", static_cast<long>(host::LiveGlobalBlocks()));
  if (host::ModuleReferences("sti.dll") != 0) Fail("the final LD_CloseScanner", "still-image library left loaded", host::ModuleReferences("sti.dll"));
  if (host::ComBalance() != 0) Fail("the final LD_CloseScanner", "COM initialisation not balanced", host::ComBalance());
  if (scanner.openDeviceObjects() != 0) Fail("the final LD_CloseScanner", "device objects left open", scanner.openDeviceObjects());
  if (scanner.serviceObjects() != 0) Fail("the final LD_CloseScanner", "service objects left alive", scanner.serviceObjects());
  if (!script.tampered && !scanner.violations().empty()) {
    std::fprintf(stderr, "first violation: %s\n", scanner.violations().front().c_str());
    Fail("the final LD_CloseScanner", "protocol violation with nothing done to the hardware", static_cast<long>(scanner.violations().size()));
  }

  vscan::Uninstall();
  ResetDriverState();
  return 0;
}
