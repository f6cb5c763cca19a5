// The scan loop of lumetra-scan: what the driver is asked, in which order, and how each
// refusal is put into words before the scanner is released.
#include "tools/scan_session.h"

#include <algorithm>
#include <csignal>
#include <vector>

namespace lumetra {

namespace {

volatile std::sig_atomic_t cancelRequested = 0;

bool Cancelled(const ScanReport& report) {
  if (!cancelRequested) return false;
  std::fprintf(report.messages, "lumetra-scan: scan cancelled\n");
  return true;
}

int32_t DriverStatus(const DriverApi& driver) {
  int32_t status = -1;
  driver.getScannerStatus(&status);
  return status;
}

// "opening the scanner (LD_OpenScanner) failed: device not open or open failed"
void ReportDriverFailure(const DriverApi& driver, const ScanReport& report, const char* what,
                         const char* entry, const char* hintForNoError) {
  int32_t status = DriverStatus(driver);
  std::string line = std::string("lumetra-scan: ") + what + " (" + entry + ") failed: " + StatusText(status) +
                     " [status " + std::to_string(status) + "]";
  if (status == kStatusNoError && hintForNoError) line += std::string("; ") + hintForNoError;
  std::fprintf(report.messages, "%s\n", line.c_str());
}

class Progress {
 public:
  Progress(const ScanReport& report, uint32_t total) : report_(report), total_(total) {}

  void Update(uint32_t done) {
    if (!report_.progress) return;
    int tenths = static_cast<int>(uint64_t(done) * 1000 / (total_ ? total_ : 1));
    if (tenths == shown_) return;
    shown_ = tenths;
    std::fprintf(report_.messages, "\rProgress: %d.%d%%", tenths / 10, tenths % 10);
    std::fflush(report_.messages);
  }

  void End() {
    if (report_.progress && shown_ >= 0) std::fprintf(report_.messages, "\n");
  }

 private:
  const ScanReport& report_;
  uint32_t total_;
  int shown_ = -1;
};

}  // namespace

void RequestCancel() { cancelRequested = 1; }

std::string StatusText(int32_t status) {
  switch (status) {
    case kStatusNoError: return "no error";
    case kStatusNotOpen: return "device not open or open failed";
    case kStatusOutOfMemory: return "out of memory";
    case kStatusTransferFailed: return "data transfer failed";
  }
  return "unknown status " + std::to_string(status);
}

ImageInfo ImageInfoFor(const ScanPlan& plan, int resolution) {
  ImageInfo info;
  info.width = plan.pixels;
  info.height = plan.lines;
  info.dpi = resolution;
  info.kind = plan.request.mode == 1 ? PixelKind::Rgb : plan.request.mode == 2 ? PixelKind::Gray : PixelKind::Bilevel;
  return info;
}

int RunScan(const DriverApi& driver, const ScanPlan& plan, int resolution, ImageWriter& writer,
            const ScanReport& report) {
  FILE* msg = report.messages;
  cancelRequested = 0;
  if (report.progress) {
    const char* mode = plan.request.mode == 1 ? "Color" : plan.request.mode == 2 ? "Gray" : "Lineart";
    std::fprintf(msg, "Scanning %u x %u pixels, %s, %d dpi\n", plan.pixels, plan.lines, mode, resolution);
  }

  if (!driver.openScanner()) {
    ReportDriverFailure(driver, report, "opening the scanner", "LD_OpenScanner", nullptr);
    return kExitFailure;
  }
  if (!driver.lampOn()) {
    ReportDriverFailure(driver, report, "switching the lamp on", "LD_LampOn", nullptr);
    driver.closeScanner();
    return kExitFailure;
  }
  if (!driver.deviceInit()) {
    ReportDriverFailure(driver, report, "calibrating the scanner", "LD_DeviceInit",
                        "the calibration strip was not found");
    driver.closeScanner();
    return kExitFailure;
  }
  if (Cancelled(report)) {
    driver.closeScanner();
    return kExitFailure;
  }

  // From here on a scan may be running (also after a refused set-up, which can leave the
  // transfer started): every path ends with a reset before the close.
  int result = kExitSuccess;
  bool imageOk = false;
  if (!driver.setScanParameter(&plan.request)) {
    ReportDriverFailure(driver, report, "setting up the scan", "LD_SetScanParameter",
                        "the driver refused the scan request");
    result = kExitFailure;
  } else if (!writer.Start(ImageInfoFor(plan, resolution))) {
    std::fprintf(msg, "lumetra-scan: %s\n", writer.error().c_str());
    result = kExitFailure;
  } else {
    const uint32_t batchLines =
        std::max<uint32_t>(1, std::min<uint32_t>(plan.lines, kReadBatchBytes / std::max<uint32_t>(1, plan.lineBytes)));
    std::vector<uint8_t> lines(size_t(batchLines) * plan.lineBytes);
    std::vector<uint8_t> row(plan.rowBytes);
    Progress progress(report, plan.lines);
    progress.Update(0);
    uint32_t done = 0;
    while (done < plan.lines && result == kExitSuccess) {
      if (cancelRequested) {
        progress.End();
        Cancelled(report);
        result = kExitFailure;
        break;
      }
      uint32_t n = std::min(batchLines, plan.lines - done);
      if (!driver.readScan(lines.data(), n)) {
        progress.End();
        ReportDriverFailure(driver, report, "reading the image", "LD_ReadScan", nullptr);
        std::fprintf(msg, "lumetra-scan: the scan stopped after %u of %u lines\n", done, plan.lines);
        result = kExitFailure;
        break;
      }
      for (uint32_t i = 0; i < n; ++i) {
        ConvertLine(plan, lines.data() + size_t(i) * plan.lineBytes, row.data());
        if (!writer.WriteRow(row.data())) {
          progress.End();
          std::fprintf(msg, "lumetra-scan: %s\n", writer.error().c_str());
          result = kExitFailure;
          break;
        }
      }
      if (result != kExitSuccess) break;
      done += n;
      progress.Update(done);
    }
    if (result == kExitSuccess) {
      progress.End();
      imageOk = true;
    }
  }

  bool reset = driver.resetScanner(0) != 0;
  if (!reset && result == kExitSuccess)
    ReportDriverFailure(driver, report, "ending the scan", "LD_ResetScanner", nullptr);
  bool closed = driver.closeScanner() != 0;
  if (!closed && result == kExitSuccess && reset)
    ReportDriverFailure(driver, report, "closing the scanner", "LD_CloseScanner", nullptr);

  if (imageOk && !writer.Finish()) {
    std::fprintf(msg, "lumetra-scan: %s\n", writer.error().c_str());
    return kExitFailure;
  }
  if (result == kExitSuccess && (!reset || !closed)) {
    std::fprintf(msg, "lumetra-scan: the image is complete, but the scanner was not released cleanly\n");
    return kExitFailure;
  }
  return result;
}

}  // namespace lumetra
