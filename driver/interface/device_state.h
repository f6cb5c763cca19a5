// Device state consulted by every entry point: the open flag, the last status and the
// stop request; and the mapping of a step result onto an entry point's result.
#pragma once

#include <cstdint>

#include "driver/common/scan_settings.h"
#include "driver/common/step_result.h"
#include "driver/interface/ld_api.h"

extern int32_t deviceOpen;
extern int32_t lastStatus;
extern int32_t stopRequested;

// Sets lastStatus to 0, then to 1 and returns 0 when no device is open.
int32_t IsDeviceOpen();
// 0 gives 1; 1 gives 0 with status 2; 5 gives 0 with status 5; others 0, status unchanged.
int32_t MapStepResult(StepResult result);

// Accepted scan request and the per-scan state of reading.
extern ScanSettings scanSettings;
extern uint8_t* lineBuffer;
extern int32_t rowAccumulator;

// Fills the library's settings from a request that has passed the checks.
void FillScanSettings(const ScanRequest* request, ScanSettings* settings);

int32_t IsNativeResolution();
bool KeepLine();

// Back to the state at load (tests only): resets every subsystem.
void ResetDriverState();
