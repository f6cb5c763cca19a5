// One scan through the driver's LD_ entry points, in the order a scanning application
// calls them: open, lamp on, power-on calibration, scan request, lines in batches, reset,
// close. Every failure is reported with the driver's status in words.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/driver_api.h"
#include "tools/image_writer.h"
#include "tools/scan_request.h"

namespace lumetra {

enum ExitCode : int {
  kExitSuccess = 0,
  kExitFailure = 1,  // the scanner or driver failed, or the image could not be written
  kExitUsage = 2,    // bad options
};

// LD_GetScannerStatus codes in words.
std::string StatusText(int32_t status);

// Bytes of lines asked of LD_ReadScan at once (at least one line a call).
constexpr uint32_t kReadBatchBytes = 256 * 1024;

struct ScanReport {
  FILE* messages = nullptr;  // errors and warnings
  bool progress = false;     // a progress line on messages
};

// Scans plan into writer. Returns kExitSuccess, or kExitFailure after a message. The
// scanner is left closed on every path.
int RunScan(const DriverApi& driver, const ScanPlan& plan, int resolution, ImageWriter& writer,
            const ScanReport& report);

// Interrupting a scan (Ctrl-C): safe to call from a signal handler. The scan stops at the
// next step or batch of lines and still resets and closes the scanner. RunScan clears a
// request left from before it started.
void RequestCancel();

// The ImageInfo a plan's rows make.
ImageInfo ImageInfoFor(const ScanPlan& plan, int resolution);

}  // namespace lumetra
