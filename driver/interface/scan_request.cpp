// The scan request: checks the application's description of a scan, keeps the library's
// copy of it, has the pipeline calibrate the shading and start the chip's stream, and takes
// the line buffer through which lines at a resolution the motor does not run at are passed.
#include "driver/calibration/calibration.h"
#include "driver/chip/chip.h"
#include "driver/interface/device_state.h"
#include "driver/interface/scan_request.h"
#include "driver/pipeline/pipeline.h"
#include "platform/win32.h"

ScanSettings scanSettings;
uint8_t* lineBuffer = nullptr;
int32_t rowAccumulator = 0;

namespace {

constexpr uint32_t kMaxLeft = 2550;
constexpr uint32_t kMaxTop = 3510;
constexpr uint32_t kMaxWidth = 2550;
constexpr uint32_t kMaxLength = 3510;
constexpr uint16_t kMinResolution = 100;
constexpr uint16_t kMaxResolution = 600;
constexpr UINT kLineBufferFlags = 0x102;  // moveable, discardable

int32_t PassesRangeChecks(const ScanRequest* request) {
  if (request->left > kMaxLeft) return 0;
  if (request->top > kMaxTop) return 0;
  if (request->width > kMaxWidth) return 0;
  if (request->length > kMaxLength) return 0;
  if (request->mode < kModeColour || request->mode > kModeLineArt) return 0;
  if (request->resolution < kMinResolution || request->resolution > kMaxResolution) return 0;
  if (request->mode == kModeGrey && request->colourChannel > 3) return 0;
  if (request->colourOrder != 0 && request->colourOrder != 1) return 0;
  return 1;
}

}  // namespace

int32_t IsScannableRequest(const ScanRequest* request) {
  // Worked out wide: bytesPerLine is unbounded and must not wrap into a plausible count.
  uint64_t bytes = request->bytesPerLine;
  int64_t pixels;
  switch (request->mode) {
    case kModeColour:
      pixels = static_cast<int64_t>(bytes / 3);
      break;
    case kModeGrey:
      pixels = static_cast<int64_t>(bytes);
      break;
    default:
      pixels = 8 * static_cast<int64_t>(bytes) - 7;
      break;
  }
  if (pixels < 1) return 0;
  // A decoded line must fit one ring slot: one entry per sample, in line art per byte.
  uint64_t slotEntries = request->mode == kModeLineArt ? bytes : static_cast<uint64_t>(pixels);
  if (slotEntries > kSlotSamples) return 0;

  // The window, at 600 dpi, is counted leftwards from the calibrated right edge; before any
  // calibration there is no edge to count from.
  uint32_t rightEdge = calibrationPositions.rightEdgePixel;
  uint64_t windowLeft = 2ull * request->left;
  uint64_t span = static_cast<uint64_t>(pixels) * 600 / request->resolution;
  if (rightEdge == 0) return 0;
  if (windowLeft > rightEdge) return 0;
  if (span > kUsableSensorPixels) return 0;
  return 1;
}

void ReleaseLineBuffer() {
  if (lineBuffer == nullptr) return;
  HGLOBAL handle = GlobalHandle(lineBuffer);
  GlobalUnlock(handle);
  GlobalFree(handle);
  lineBuffer = nullptr;
}

void EndScanState() {
  ReleaseLineBuffer();
  scanTransferStarted = 0;
  scanPrimed = 0;
}

void EndScan() {
  StopScanTransfer();
  ReleaseLineBuffer();
}

void EndAnyScan() {
  if (scanTransferStarted || transferBuffer.buffer != nullptr || lineBuffer != nullptr) EndScan();
}

int32_t IsNativeResolution() {
  uint16_t r = scanSettings.resolution;
  return (r == 150 || r == 300 || r == 600) ? 1 : 0;
}

int32_t IsScanReadable() {
  if (!scanPrimed || transferBuffer.buffer == nullptr) return 0;
  if (!IsNativeResolution() && lineBuffer == nullptr) return 0;
  return 1;
}

LD_EXPORT int32_t LDAPI LD_SetScanParameter(const ScanRequest* request) {
  if (!IsDeviceOpen()) return 0;
  // Refused requests leave the status at 0 and everything as it was, the running scan too.
  if (request == nullptr) return 0;
  if (!PassesRangeChecks(request)) return 0;
  if (!IsScannableRequest(request)) return 0;

  // A scan still running from an earlier request is ended first: the shading passes
  // reprogram the chip and take the stream buffer's slot.
  EndAnyScan();

  FillScanSettings(request, &scanSettings);
  if (!MapStepResult(SetupScan(&scanSettings))) return 0;
  if (IsNativeResolution()) return 1;

  rowAccumulator = 0;
  HGLOBAL handle = GlobalAlloc(kLineBufferFlags, scanSettings.outputLineBytes);
  lineBuffer = handle ? static_cast<uint8_t*>(GlobalLock(handle)) : nullptr;
  if (lineBuffer == nullptr) {
    if (handle) GlobalFree(handle);
    lastStatus = kStatusOutOfMemory;
    return 0;
  }
  return 1;
}
