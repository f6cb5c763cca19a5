// The steps of the power-on calibration, each working on sample planes, so that each can
// be exercised on synthetic planes: the strip search, the right-hand edge of the usable
// sensor width, and the front end's gain and offset from the bright and dark bands.
#pragma once

#include <cstdint>

#include "driver/common/step_result.h"

constexpr uint32_t kStripSearchLines = 400;  // lines of the strip pass, from line 0
constexpr uint32_t kStripPixel = 2550;       // the strip is searched in this green column
constexpr uint32_t kBandFirstPixel = 2900;   // gains and offsets are taken over 2900..2999
constexpr uint32_t kBandPixels = 100;

// A sample's level: its top eight bits.
inline uint8_t SampleLevel(int16_t sample) { return static_cast<uint8_t>(static_cast<uint16_t>(sample) >> 4); }

// Searches the green plane of the 400-line strip pass for five bright lines (level above
// 100) followed by five dark ones (below 70), from line 5. Stores the fifth dark line and
// returns 0, or returns 4 when there is no such strip, when it ends before line 55, or when
// it ends so low (after line 361) that the edge threshold's ten lines from darkLine would
// pass the captured lines.
StepResult FindStripLine(const int16_t* green, uint32_t* stripLine);

// The level that marks the lid beyond the dark band: the mean level at the strip column
// over the ten lines from darkLine, doubled when it is 70 or less.
uint8_t EdgeThreshold(const int16_t* green, uint32_t darkLine);

// Along one green line from pixel 5000: the pixel where the eleventh consecutive level above
// the threshold is seen, plus 80; 5280 when there is none. Never beyond the sensor's 5300.
uint32_t FindRightEdge(const int16_t* greenLine, uint8_t threshold);

// Mean of the 500 samples of five lines from whiteLine over pixels 2900..2999.
uint32_t BrightBandAverage(const int16_t* plane, uint32_t whiteLine);
// Front-end gain code that brings the bright band towards 3500.
uint8_t GainForAverage(uint32_t average);

// Dark level of a 24-line pass whose lines 4..13 and 14..23 have been column sorted: the
// mean over pixels 2900..2999 of the two groups' fifth largest values (lines 8 and 18).
uint32_t DarkLevel(const int16_t* plane);
// Front-end offset moved by a tenth of the dark level's distance from 160.
uint8_t AdjustOffset(uint8_t offset, uint32_t darkLevel);
