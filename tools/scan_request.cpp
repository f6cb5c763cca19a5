// Scan request building: window in 1/300 inch, line length by mode, identity tone curves.
#include "tools/scan_request.h"

#include <cmath>
#include <cstring>

namespace lumetra {

namespace {

constexpr double kMmPerInch = 25.4;

uint32_t Round(double v) { return v <= 0 ? 0 : static_cast<uint32_t>(std::floor(v + 0.5)); }

// Millimetres to a count at dots per inch, at least one.
uint32_t Count(double mm, int dpi) {
  uint32_t n = Round(mm * dpi / kMmPerInch);
  return n == 0 ? 1 : n;
}

uint8_t ChannelCode(Channel channel) {
  switch (channel) {
    case Channel::Red: return 1;
    case Channel::Green: return 2;
    case Channel::Blue: return 3;
  }
  return 2;
}

}  // namespace

ScanPlan PlanScan(const Options& o) {
  ScanPlan plan;
  ScanRequest& r = plan.request;
  std::memset(&r, 0, sizeof r);

  plan.pixels = Count(o.widthMm, o.resolution);
  plan.lines = Count(o.heightMm, o.resolution);

  r.left = Round(o.leftMm * 300 / kMmPerInch);
  r.top = Round(o.topMm * 300 / kMmPerInch);
  r.width = Round(o.widthMm * 300 / kMmPerInch);
  r.length = Round(o.heightMm * 300 / kMmPerInch);
  r.resolution = static_cast<uint16_t>(o.resolution);

  switch (o.mode) {
    case ScanMode::Color:
      r.mode = 1;
      r.bytesPerLine = 3 * plan.pixels;
      plan.lineBytes = r.bytesPerLine;
      plan.rowBytes = r.bytesPerLine;
      break;
    case ScanMode::Gray:
      r.mode = 2;
      r.bytesPerLine = plan.pixels;
      plan.lineBytes = r.bytesPerLine;
      plan.rowBytes = r.bytesPerLine;
      break;
    case ScanMode::Lineart: {
      // The driver scans 8 x bytesPerLine - 7 pixels into bytesPerLine bytes, so a line
      // of n pixels needs (n + 14) / 8 bytes; the surplus pixels are cut off the row.
      r.mode = 3;
      r.bytesPerLine = (plan.pixels + 14) / 8;
      plan.lineBytes = r.bytesPerLine;
      plan.rowBytes = (plan.pixels + 7) / 8;
      break;
    }
  }

  for (auto& curve : r.toneCurves)
    for (int i = 0; i < 256; ++i) curve[i] = static_cast<uint8_t>(i);
  r.colourChannel = ChannelCode(o.channel);
  r.colourOrder = 1;  // red, green, blue
  r.transferOption = 0;
  return plan;
}

void ConvertLine(const ScanPlan& plan, const uint8_t* line, uint8_t* row) {
  std::memcpy(row, line, plan.rowBytes);
  if (plan.request.mode != 3) return;
  // Bits past the last pixel are white, as the image formats expect of padding.
  uint32_t tail = plan.pixels % 8;
  if (tail) row[plan.rowBytes - 1] &= static_cast<uint8_t>(0xFF00u >> tail);
}

}  // namespace lumetra
