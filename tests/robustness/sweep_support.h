// Shared pieces of the fault sweeps: the kinds of failure point (a memory allocation or one
// device operation of a kind), counting them over a clean run, arming exactly one, and the
// runs that show the library still works once the fault is gone.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/calibration/calibration.h"
#include "driver/chip/chip.h"
#include "driver/interface/device_state.h"
#include "tests/support/driver_fixture.h"

namespace sweep {

enum Kind { kAlloc, kEscape, kRawRead, kRawWrite, kLock, kUnlock, kCreate, kKinds };

inline const char* KindName(int k) {
  static const char* const names[kKinds] = {"allocations", "escapes",  "raw reads",       "raw writes",
                                            "locks",       "unlocks", "device creations"};
  return names[k];
}

inline vscan::Op OpOf(int k) {
  switch (k) {
    case kEscape:
      return vscan::Op::Escape;
    case kRawRead:
      return vscan::Op::RawRead;
    case kRawWrite:
      return vscan::Op::RawWrite;
    case kLock:
      return vscan::Op::Lock;
    case kUnlock:
      return vscan::Op::Unlock;
    default:
      return vscan::Op::CreateDevice;
  }
}

// Allocations and device operations made so far.
struct Tally {
  uint64_t n[kKinds]{};
};

inline Tally Take(const vscan::VirtualScanner& s) {
  Tally t;
  t.n[kAlloc] = host::GlobalAllocCalls();
  for (int k = kEscape; k < kKinds; ++k) t.n[k] = s.count(OpOf(k));
  return t;
}

inline Tally Minus(const Tally& a, const Tally& b) {
  Tally d;
  for (int k = 0; k < kKinds; ++k) d.n[k] = a.n[k] - b.n[k];
  return d;
}

// One failure point: the index-th operation of a kind (0 = the first) after arming.
struct Point {
  int kind;
  uint64_t index;
};

inline std::string Describe(const Point& p) {
  return std::string(KindName(p.kind)) + " #" + std::to_string(p.index);
}

inline void Arm(vscan::VirtualScanner& s, const Point& p) {
  if (p.kind == kAlloc) {
    host::FailGlobalAllocNumber(p.index + 1);
  } else {
    s.failAt(OpOf(p.kind), p.index);
  }
}

inline void Disarm(vscan::VirtualScanner& s) {
  s.clearFaults();
  host::ClearMemoryFaults();
}

// LUMETRA_FULL_SWEEP=1 runs every point with the full recovery run after each; the default
// run takes every point of the short scenarios and a spread sample of the long ones.
inline bool FullSweep() {
  const char* v = std::getenv("LUMETRA_FULL_SWEEP");
  return v != nullptr && v[0] != '\0' && v[0] != '0';
}

// A colour request of the built-in chart's kind: identity curves, red-green-blue order.
inline ScanRequest Request(uint16_t mode, uint16_t resolution, uint32_t bytesPerLine, uint32_t length) {
  ScanRequest r = IdentityRequest(mode, resolution, bytesPerLine);
  r.left = 100;
  r.top = 60;
  r.length = length;
  return r;
}

// What LD_DeviceInit finds on the virtual scanner, kept so that scan scenarios can start from
// a calibrated library without paying for a calibration each run.
struct Calibration {
  CalibrationPositions positions;
  AfeLevels levels;
};

inline void Restore(const Calibration& c) {
  calibrationPositions = c.positions;
  afeLevels = c.levels;
}

}  // namespace sweep
