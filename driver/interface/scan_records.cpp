// The library's copy of an accepted scan request: window in 1/600 inch, the pixel count
// and finished line length worked out from the caller's bytes per line and mode.
#include <cstring>

#include "driver/interface/device_state.h"

namespace {

// Line art: the fewest pixels that still fill bytesPerLine bytes, 8 x bytes - 7. No byte
// gives no pixel (rather than a count wrapped below zero), and a count beyond 32 bits is
// held at the largest that still fits with its rounding-up to whole bytes.
uint32_t LineArtPixels(uint32_t bytesPerLine) {
  if (bytesPerLine == 0) return 0;
  const uint64_t pixels = static_cast<uint64_t>(bytesPerLine) * 8 - 7;
  return pixels > 0xFFFFFFF8u ? 0xFFFFFFF8u : static_cast<uint32_t>(pixels);
}

}  // namespace

void FillScanSettings(const ScanRequest* request, ScanSettings* settings) {
  settings->windowLeft = request->left * 2;
  settings->windowTop = request->top * 2;
  switch (request->mode) {
    case kModeColour:
      settings->pixelsPerLine = request->bytesPerLine / 3;
      settings->outputLineBytes = settings->pixelsPerLine * 3;
      break;
    case kModeGrey:
      settings->pixelsPerLine = request->bytesPerLine;
      settings->outputLineBytes = settings->pixelsPerLine;
      break;
    default:  // line art; the request check admits no other mode
      settings->pixelsPerLine = LineArtPixels(request->bytesPerLine);
      settings->outputLineBytes = static_cast<uint32_t>((static_cast<uint64_t>(settings->pixelsPerLine) + 7) / 8);
      break;
  }
  settings->scanEndLine = kScanEndLine;
  settings->mode = request->mode;
  settings->scanResolution = request->resolution;
  settings->resolution = request->resolution;
  std::memcpy(settings->toneCurves, request->toneCurves, sizeof settings->toneCurves);
  std::memcpy(settings->reservedBlock, request->reservedBlock, sizeof settings->reservedBlock);
  settings->colourChannel = request->colourChannel;
  settings->colourOrder = request->colourOrder;
  settings->transferOption = request->transferOption;
}
