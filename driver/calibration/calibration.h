// Calibration: calibration passes and the per-pixel ordering of their lines, the
// power-on calibration (strip search, positions, right edge, analogue gain and offset),
// and per-scan shading references with the upload of the correction table.
#pragma once

#include <cstdint>

#include "driver/common/step_result.h"

struct CalibrationPositions {
  uint32_t originLine;
  uint32_t darkLine;
  uint32_t whiteLine;
  uint32_t rightEdgePixel;
};
extern CalibrationPositions calibrationPositions;

// Per-pixel shading references, 12-bit scale, red, green, blue.
extern uint32_t whiteReference[3][5300];
extern uint32_t darkReference[3][5300];

constexpr uint32_t kPlanePixels = 5300;

StepResult AcquireCalibrationLines(int16_t* red, int16_t* green, int16_t* blue, uint32_t count,
                                   uint32_t startLine);
void SortCalibrationColumns(int16_t* red, int16_t* green, int16_t* blue, uint32_t count, uint32_t pixels);
// Unpacks one 23,850-byte calibration line in the variant's sample order into pixel
// 0..5299 of the three plane rows.
void UnpackCalibrationLine(const uint8_t* line, uint8_t variant, int16_t* red, int16_t* green, int16_t* blue);

StepResult RunPowerOnCalibration();

StepResult TakeShadingReferences();
int32_t UploadCorrectionTable();

// The library's default chip tone curves, 4096 entries each (red, green, blue).
extern const uint8_t kDefaultChipToneCurves[3][4096];

void ResetCalibrationState();
