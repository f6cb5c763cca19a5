// Device state shared by every entry point: the open flag, the last status the application
// reads, and the stop request.
#include "driver/interface/device_state.h"

#include "driver/calibration/calibration.h"
#include "driver/chip/chip.h"
#include "driver/interface/scan_request.h"
#include "driver/pipeline/pipeline.h"
#include "driver/transport/transport.h"
#include "platform/win32.h"

int32_t deviceOpen = 0;
int32_t lastStatus = 0;
int32_t stopRequested = 1;

int32_t IsDeviceOpen() {
  lastStatus = kStatusNoError;
  if (deviceOpen == 0) {
    lastStatus = kStatusNotOpen;
    return 0;
  }
  return 1;
}

int32_t MapStepResult(StepResult result) {
  switch (result) {
    case kStepOk:
      return 1;
    case kStepOutOfMemory:
      lastStatus = kStatusOutOfMemory;
      return 0;
    case kStepTransferFailed:
      lastStatus = kStatusTransferFailed;
      return 0;
    default:
      // Unlisted results (the strip not found among them) fail with the status left alone.
      return 0;
  }
}

void ResetDriverState() {
  deviceOpen = 0;
  lastStatus = kStatusNoError;
  stopRequested = 1;
  ReleaseTransferBuffer();
  ReleaseLineBuffer();
  rowAccumulator = 0;
  scanSettings = ScanSettings{};
  ResetTransportState();
  ResetChipState();
  ResetCalibrationState();
  ResetPipelineState();
}
