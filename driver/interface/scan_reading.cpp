// Reading a scan: finished lines at the requested resolution, and the end of a scan. The
// motor only runs at 150, 300 or 600 lines per inch; other resolutions keep an evenly
// spread share of the lines of the native band above them.
#include <cstring>

#include "driver/interface/device_state.h"
#include "driver/interface/scan_request.h"
#include "driver/pipeline/pipeline.h"

namespace {

// The native line pitch that a requested resolution is scanned at.
int32_t KeepLineBase(int32_t resolution) {
  if (resolution <= 150) return 150;
  if (resolution <= 300) return 300;
  return 600;
}

}  // namespace

bool KeepLine() {
  int32_t r = scanSettings.resolution;
  rowAccumulator -= r;
  if (rowAccumulator < 0) {
    rowAccumulator += KeepLineBase(r);
    return true;
  }
  return false;
}

LD_EXPORT int32_t LDAPI LD_ReadScan(uint8_t* buffer, uint32_t lineCount) {
  // A pending stop request is consumed and does not cut the read short: the application
  // ends a scan with LD_ResetScanner.
  if (stopRequested == 1) stopRequested = 0;
  if (!IsDeviceOpen()) return 0;
  if (buffer == nullptr || !IsScanReadable()) return 0;

  if (IsNativeResolution()) return MapStepResult(AssembleLines(buffer, lineCount));

  uint32_t lineBytes = scanSettings.outputLineBytes;
  for (uint32_t i = 0; i < lineCount;) {
    if (!MapStepResult(AssembleLines(lineBuffer, 1))) return 0;
    if (KeepLine()) {
      std::memcpy(buffer + static_cast<size_t>(i) * lineBytes, lineBuffer, lineBytes);
      ++i;
    }
  }
  return 1;
}

LD_EXPORT int32_t LDAPI LD_ResetScanner(uint32_t unused) {
  stopRequested = 1;
  if (!IsDeviceOpen()) return 0;
  EndScan();
  return 1;
}
