// Calibration passes: a band of lines read at 600 dpi over the full 5300-pixel sensor,
// uncorrected, as 12-bit samples packed two to three bytes; and the partial column sort
// that picks a robust per-pixel value out of a run of such lines.

#include "driver/calibration/calibration.h"
#include "driver/chip/chip.h"
#include "driver/transport/transport_exports.h"
#include "platform/win32.h"

#include <cstring>

namespace {

constexpr uint32_t kSamplesPerLine = kPlanePixels * 3;  // 15,900
constexpr uint16_t kPassResolution = 600;
constexpr uint16_t kPassLinePeriod = 5400;
constexpr uint16_t kPassStepPeriod = 8100;

// Pairs of 12-bit samples share three bytes: the first sample takes the whole first byte
// and the high nibble of the middle one, the second the low nibble and the last byte.
void UnpackSamples(const uint8_t* line, int16_t* samples) {
  for (uint32_t n = 0; n < kSamplesPerLine; n += 2, line += 3) {
    samples[n] = static_cast<int16_t>((line[0] << 4) | (line[1] >> 4));
    samples[n + 1] = static_cast<int16_t>(((line[1] & 0x0F) << 8) | line[2]);
  }
}

// One line's samples in stream order, between unpacking and sorting them into planes.
int16_t lineSamples[kSamplesPerLine];

}  // namespace

void UnpackCalibrationLine(const uint8_t* line, uint8_t variant, int16_t* red, int16_t* green,
                           int16_t* blue) {
  UnpackSamples(line, lineSamples);
  if (variant == 2) {
    // Whole colour planes one after the other, 7950 bytes each.
    std::memcpy(red, lineSamples, kPlanePixels * sizeof(int16_t));
    std::memcpy(green, lineSamples + kPlanePixels, kPlanePixels * sizeof(int16_t));
    std::memcpy(blue, lineSamples + 2 * kPlanePixels, kPlanePixels * sizeof(int16_t));
    return;
  }
  // Pixel-interleaved R G B; a pair of samples runs across the colour boundary.
  const int16_t* rgb = lineSamples;
  for (uint32_t k = 0; k < kPlanePixels; ++k, rgb += 3) {
    red[k] = rgb[0];
    green[k] = rgb[1];
    blue[k] = rgb[2];
  }
}

StepResult AcquireCalibrationLines(int16_t* red, int16_t* green, int16_t* blue, uint32_t count,
                                   uint32_t startLine) {
  const bool variant2 = hardwareVariant == 2;
  chipSetup.pixelStart = 0;
  chipSetup.pixelEnd = kPlanePixels;
  chipSetup.linePixels = kPlanePixels;
  chipSetup.lineStart = startLine;
  chipSetup.lineCount = count;
  chipSetup.resolution = kPassResolution;
  chipSetup.modeCode = 1;
  chipSetup.lineBytes = variant2 ? 5300 : 7950;
  chipSetup.lineBytesAll = chipSetup.lineBytes * 3;
  chipSetup.linePeriod = kPassLinePeriod;
  chipSetup.stepPeriod = kPassStepPeriod;
  chipSetup.fullStep = 0;
  chipSetup.blockLines = variant2 ? 37 : 4;
  // 12-bit samples, no correction: the table is only switched on by a scan after upload.
  chipSetup.scanFlags = kFlagTwelveBit | kFlagColourOrder;
  chipSetup.motorRampEnable = 0;

  // The chip is read regardless of its ready bit: a chip that never became ready shows
  // up as a failed read below.
  ProgramScanRegisters();

  // The line buffer is the driver's one transfer buffer; its contents need no initial value.
  uint8_t* line = TakeTransferBuffer(GMEM_MOVEABLE);
  if (line == nullptr) return kStepOutOfMemory;

  transferControl = kTransferCalibration;
  ApplyTransferControl();

  StepResult result = kStepOk;
  for (uint32_t i = 0; i < count; ++i) {
    if (UsbReadScanner(line, kCalibrationLineBytes, 0) == 0) {
      result = kStepTransferFailed;
      break;
    }
    const uint32_t row = i * kPlanePixels;
    UnpackCalibrationLine(line, hardwareVariant, red + row, green + row, blue + row);
  }

  transferControl = 0;
  ApplyTransferControl();
  ReleaseTransferBuffer();
  return result;
}

void SortCalibrationColumns(int16_t* red, int16_t* green, int16_t* blue, uint32_t count, uint32_t pixels) {
  // Only count / 2 selection passes: the callers want the (count / 2)-th largest value of
  // each column, which then sits in row count / 2 - 1.
  const uint32_t half = count / 2;
  int16_t* planes[3] = {red, green, blue};
  for (int16_t* plane : planes) {
    for (uint32_t k = 0; k < pixels; ++k) {
      int16_t* column = plane + k;
      for (uint32_t r = 0; r < half; ++r) {
        for (uint32_t j = r + 1; j < count; ++j) {
          int16_t& a = column[r * pixels];
          int16_t& b = column[j * pixels];
          if (a < b) {
            const int16_t t = a;
            a = b;
            b = t;
          }
        }
      }
    }
  }
}
