// Power-on calibration: finds the calibration strip (a bright band, then a dark band,
// within the first 400 lines), derives the scan origin and the shading lines from it, finds
// where the dark band ends towards the high pixel numbers, and sets the analogue front
// end's gain from the bright band and its offset from the dark band.
#include "driver/calibration/calibration.h"
#include "driver/calibration/power_on_steps.h"
#include "driver/calibration/work_memory.h"
#include "driver/chip/chip.h"

namespace {

constexpr uint8_t kStartOffset = 192;
constexpr uint8_t kStartGain = 2;
constexpr uint32_t kRunLength = 5;          // consecutive lines that make a band
constexpr uint8_t kBrightLevel = 100;       // a bright line is above this level
constexpr uint8_t kDarkLevel = 70;          // a dark line is below this level
constexpr uint32_t kFirstSearchLine = 5;
constexpr uint32_t kLowestStripLine = 55;   // whiteLine = s - 55 must not fall before line 0
constexpr uint32_t kThresholdLines = 10;
// The ten threshold lines from darkLine = s + 29 must lie inside the strip pass.
constexpr uint32_t kHighestStripLine = kStripSearchLines - kThresholdLines - 29;  // 361
constexpr uint32_t kEdgeFirstPixel = 5000;
constexpr uint32_t kEdgeRun = 10;           // more than this many bright pixels end the search
constexpr uint32_t kEdgeBeyond = 80;
constexpr uint32_t kNoEdgePixel = 5280;
constexpr uint32_t kWarmUpStart = 480;
constexpr uint32_t kWarmUpLines = 20;
constexpr uint32_t kBrightLines = 5;
constexpr uint32_t kDarkPassLines = 24;
constexpr uint32_t kSortRows = 10;
constexpr int32_t kDarkTarget = 160;

inline const int16_t* Line(const int16_t* plane, uint32_t line) { return plane + line * kPlanePixels; }

StepResult CalibrateWithPlanes(int16_t* const plane[3]) {
  StepResult result = AcquireCalibrationLines(plane[0], plane[1], plane[2], kWarmUpLines, kWarmUpStart);
  if (result != kStepOk) return result;
  result = AcquireCalibrationLines(plane[0], plane[1], plane[2], kStripSearchLines, 0);
  if (result != kStepOk) return result;

  uint32_t s = 0;
  result = FindStripLine(plane[1], &s);
  if (result != kStepOk) return result;
  calibrationPositions.originLine = s + 115;
  calibrationPositions.darkLine = s + 29;
  calibrationPositions.whiteLine = s - 55;

  const uint8_t threshold = EdgeThreshold(plane[1], calibrationPositions.darkLine);
  calibrationPositions.rightEdgePixel = FindRightEdge(Line(plane[1], calibrationPositions.darkLine), threshold);

  for (int p = 0; p < 3; ++p) {
    afeLevels.afeGain[p] = GainForAverage(BrightBandAverage(plane[p], calibrationPositions.whiteLine));
  }

  // The dark band again, now with the new gains, for the offsets.
  result = AcquireCalibrationLines(plane[0], plane[1], plane[2], kDarkPassLines, calibrationPositions.darkLine);
  if (result != kStepOk) return result;
  SortCalibrationColumns(plane[0] + 4 * kPlanePixels, plane[1] + 4 * kPlanePixels, plane[2] + 4 * kPlanePixels,
                         kSortRows, kPlanePixels);
  SortCalibrationColumns(plane[0] + 14 * kPlanePixels, plane[1] + 14 * kPlanePixels,
                         plane[2] + 14 * kPlanePixels, kSortRows, kPlanePixels);
  for (int p = 0; p < 3; ++p) {
    afeLevels.afeOffset[p] = AdjustOffset(afeLevels.afeOffset[p], DarkLevel(plane[p]));
  }
  return kStepOk;
}

}  // namespace

StepResult FindStripLine(const int16_t* green, uint32_t* stripLine) {
  uint32_t i = kFirstSearchLine;
  uint32_t n = 0;
  for (; i < kStripSearchLines; ++i) {
    if (SampleLevel(Line(green, i)[kStripPixel]) <= kBrightLevel) {
      n = 0;
    } else if (++n == kRunLength) {
      break;
    }
  }
  if (i >= kStripSearchLines) return kStepStripNotFound;
  // The dark run starts at the line that ended the bright run, which resets it.
  n = 0;
  for (; i < kStripSearchLines; ++i) {
    if (SampleLevel(Line(green, i)[kStripPixel]) >= kDarkLevel) {
      n = 0;
    } else if (++n == kRunLength) {
      break;
    }
  }
  if (i >= kStripSearchLines || i < kLowestStripLine || i > kHighestStripLine) return kStepStripNotFound;
  *stripLine = i;
  return kStepOk;
}

uint8_t EdgeThreshold(const int16_t* green, uint32_t darkLine) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < kThresholdLines; ++i) sum += SampleLevel(Line(green, darkLine + i)[kStripPixel]);
  uint8_t t = static_cast<uint8_t>(sum / kThresholdLines);
  if (t <= kDarkLevel) t = static_cast<uint8_t>(t * 2);
  return t;
}

uint32_t FindRightEdge(const int16_t* greenLine, uint8_t threshold) {
  uint32_t m = 0;
  for (uint32_t j = kEdgeFirstPixel; j < kPlanePixels; ++j) {
    if (SampleLevel(greenLine[j]) <= threshold) {
      m = 0;
    } else if (++m > kEdgeRun) {
      // An edge found in the last 80 pixels would put the bound past the sensor's end.
      const uint32_t edge = j + kEdgeBeyond;
      return edge < kPlanePixels ? edge : kPlanePixels;
    }
  }
  return kNoEdgePixel;
}

uint32_t BrightBandAverage(const int16_t* plane, uint32_t whiteLine) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < kBrightLines; ++i) {
    const int16_t* line = Line(plane, whiteLine + i);
    for (uint32_t k = kBandFirstPixel; k < kBandFirstPixel + kBandPixels; ++k) sum += static_cast<uint16_t>(line[k]);
  }
  return sum / (kBrightLines * kBandPixels);
}

uint8_t GainForAverage(uint32_t average) {
  if (average > 4000) return 1;
  // A band that reads black gives no measure of the sensor's response: take the highest
  // gain, which the formula approaches as the average falls.
  if (average == 0) return 255;
  const int32_t gain = (static_cast<int32_t>(350000 / average) - 100) / 25 + 2;
  // Below an average of 55 the formula passes the front end's 8-bit range; its low eight
  // bits would give a dim band a low gain, so hold it at the highest.
  return gain > 255 ? 255 : static_cast<uint8_t>(gain);
}

uint32_t DarkLevel(const int16_t* plane) {
  const int16_t* fifthOfFirst = Line(plane, 8);
  const int16_t* fifthOfSecond = Line(plane, 18);
  uint32_t sum = 0;
  for (uint32_t k = kBandFirstPixel; k < kBandFirstPixel + kBandPixels; ++k) {
    sum += (static_cast<uint32_t>(static_cast<uint16_t>(fifthOfFirst[k])) + static_cast<uint16_t>(fifthOfSecond[k])) / 2;
  }
  return sum / kBandPixels;
}

uint8_t AdjustOffset(uint8_t offset, uint32_t darkLevel) {
  const int32_t moved = offset + (static_cast<int32_t>(darkLevel) - kDarkTarget) / 10;
  // A raised offset code lowers the level; past 255 its low eight bits would turn a far too
  // bright dark level into a still brighter one, so the code stops at the register's range.
  if (moved > 255) return 255;
  if (moved < 0) return 0;
  return static_cast<uint8_t>(moved);
}

StepResult RunPowerOnCalibration() {
  for (int p = 0; p < 3; ++p) {
    afeLevels.afeOffset[p] = kStartOffset;
    afeLevels.afeGain[p] = kStartGain;
  }
  SamplePlanes planes;
  StepResult result = TakeSamplePlanes(&planes, kStripSearchLines);
  if (result != kStepOk) return result;
  result = CalibrateWithPlanes(planes.plane);
  ReleaseSamplePlanes(&planes);
  return result;
}
