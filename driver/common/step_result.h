// Result of the driver's internal calibration, set-up and read steps. The entry points
// map it onto their 1/0 result and the status the application reads.
#pragma once

#include <cstdint>

typedef uint16_t StepResult;

enum : StepResult {
  kStepOk = 0,
  kStepOutOfMemory = 1,
  kStepStripNotFound = 4,
  kStepTransferFailed = 5,
};
