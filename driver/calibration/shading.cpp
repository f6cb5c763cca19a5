// Shading references, measured before every scan at the lines the power-on calibration
// found: a per-pixel white level and one dark level per colour, on the 12-bit scale.
#include "driver/calibration/calibration.h"
#include "driver/calibration/shading_steps.h"
#include "driver/calibration/work_memory.h"

namespace {

constexpr uint32_t kReferenceLines = 24;
constexpr uint32_t kSortFirst = 4;   // lines 4..13 are column sorted
constexpr uint32_t kSortRows = 10;
constexpr uint32_t kFifthLargest = 8;  // where the sort leaves the fifth largest of lines 4..13
constexpr uint32_t kSecondSample = 18;
constexpr uint32_t kMeanFirstPixel = 2900;
constexpr uint32_t kMeanPixels = 100;
// A white level this low is a dead or dirty pixel: it takes the colour's typical level.
constexpr uint32_t kLowestWhite = 512;

inline uint32_t Sample(const int16_t* plane, uint32_t line, uint32_t pixel) {
  return static_cast<uint16_t>(plane[line * kPlanePixels + pixel]);
}

StepResult ReadReferenceBand(int16_t* const plane[3], uint32_t startLine) {
  StepResult result = AcquireCalibrationLines(plane[0], plane[1], plane[2], kReferenceLines, startLine);
  if (result != kStepOk) return result;
  const uint32_t row = kSortFirst * kPlanePixels;
  SortCalibrationColumns(plane[0] + row, plane[1] + row, plane[2] + row, kSortRows, kPlanePixels);
  return kStepOk;
}

inline uint32_t RobustSample(const int16_t* plane, uint32_t pixel) {
  return (Sample(plane, kFifthLargest, pixel) + Sample(plane, kSecondSample, pixel)) / 2;
}

StepResult MeasureReferences(int16_t* const plane[3]) {
  StepResult result = ReadReferenceBand(plane, calibrationPositions.whiteLine);
  if (result != kStepOk) return result;
  WhiteReferenceFromPass(plane);
  result = ReadReferenceBand(plane, calibrationPositions.darkLine);
  if (result != kStepOk) return result;
  DarkReferenceFromPass(plane);
  return kStepOk;
}

}  // namespace

void WhiteReferenceFromPass(int16_t* const plane[3]) {
  for (int p = 0; p < 3; ++p) {
    uint32_t* white = whiteReference[p];
    for (uint32_t k = 0; k < kPlanePixels; ++k) white[k] = RobustSample(plane[p], k);
    uint32_t sum = 0;
    for (uint32_t k = kMeanFirstPixel; k < kMeanFirstPixel + kMeanPixels; ++k) sum += white[k];
    const uint32_t mean = sum / kMeanPixels;
    for (uint32_t k = 0; k < kPlanePixels; ++k) {
      if (white[k] < kLowestWhite) white[k] = mean;
    }
  }
}

void DarkReferenceFromPass(int16_t* const plane[3]) {
  for (int p = 0; p < 3; ++p) {
    uint32_t sum = 0;
    for (uint32_t k = kMeanFirstPixel; k < kMeanFirstPixel + kMeanPixels; ++k) sum += RobustSample(plane[p], k);
    const uint32_t mean = sum / kMeanPixels;
    for (uint32_t k = 0; k < kPlanePixels; ++k) darkReference[p][k] = mean;
  }
}

StepResult TakeShadingReferences() {
  SamplePlanes planes;
  StepResult result = TakeSamplePlanes(&planes, kReferenceLines);
  if (result != kStepOk) return result;
  result = MeasureReferences(planes.plane);
  ReleaseSamplePlanes(&planes);
  return result;
}
