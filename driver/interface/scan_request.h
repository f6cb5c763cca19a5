// Per-scan state shared by the scan request and the reading of lines: the checks that tell
// whether a request can be scanned, and the end of a scan's buffers.
#pragma once

#include <cstdint>

#include "driver/interface/ld_api.h"

// The width of the sensor, in 600 dpi pixels, that a window's span may take.
constexpr uint32_t kUsableSensorPixels = 5280;

// 1 when the request's line length and window can be scanned with the calibration now
// held: at least one pixel, no more than a ring slot holds, and a window that lies on the
// sensor left of the calibrated right edge. Assumes the request passed the range checks.
int32_t IsScannableRequest(const ScanRequest* request);

// Stops the scan's data flow, releases its stream buffer and its line buffer; the device
// stays open.
void EndScan();
// Ends a scan that is set up or still running (EndScan), and does nothing when there is none.
void EndAnyScan();
void ReleaseLineBuffer();
// After the device has been closed: the scan ends with it. The line buffer is given back
// (the stream buffer went with the close), and no scan counts as set up or running.
void EndScanState();

// 1 when a scan is set up and its lines can be read.
int32_t IsScanReadable();
