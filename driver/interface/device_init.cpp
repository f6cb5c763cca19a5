// LD_DeviceInit: the power-on calibration as an entry point, run with the lamp on and no
// scan in progress; its step result becomes the entry point's result and status.
#include "driver/calibration/calibration.h"
#include "driver/interface/device_state.h"
#include "driver/interface/scan_request.h"

LD_EXPORT int32_t LDAPI LD_DeviceInit(void) {
  if (IsDeviceOpen() == 0) return 0;
  // The calibration passes reprogram the chip and take the stream buffer's slot: a scan
  // still set up is ended first, as LD_ResetScanner would end it.
  EndAnyScan();
  return MapStepResult(RunPowerOnCalibration());
}
