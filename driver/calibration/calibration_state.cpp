// The calibration's process-wide results: the positions found by the power-on calibration
// and the shading references of the last scan set-up.
#include <cstring>

#include "driver/calibration/calibration.h"

CalibrationPositions calibrationPositions = {0, 0, 0, 0};
uint32_t whiteReference[3][5300];
uint32_t darkReference[3][5300];

void ResetCalibrationState() {
  calibrationPositions = CalibrationPositions{0, 0, 0, 0};
  std::memset(whiteReference, 0, sizeof whiteReference);
  std::memset(darkReference, 0, sizeof darkReference);
}
