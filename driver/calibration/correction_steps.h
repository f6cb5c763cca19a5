// Pieces of the correction table upload: the chip tone curve of a colour (from its curve
// file or the library's default), the per-pixel correction word, and the table's layout.
#pragma once

#include <cstdint>

constexpr uint32_t kChipCurveEntries = 4096;
constexpr uint32_t kCorrectionGroupBytes = 6;  // red, green, blue word of one pixel

// Bytes of the whole table for a hardware variant: 44,088 (variant 1) or 56,376 (variant 2,
// whose curve entries take two bytes each).
uint32_t CorrectionTableBytes(uint8_t variant);

// Fills a 4096-byte chip tone curve of colour 0 (red), 1 (green) or 2 (blue) from the
// colour's curve file on drive C; a missing file gives the default curve, and a file of
// fewer than 4096 bytes keeps the default curve's entries beyond its end.
void LoadChipToneCurve(uint32_t colour, uint8_t* curve);

// The two bytes of the correction word that take a pixel's dark reference to about 96 and
// its white reference to about the colour's target on the 12-bit scale. white is the
// reference as measured; one below the dark reference is taken as 16383.
void CorrectionWordBytes(uint32_t white, uint32_t dark, uint32_t colour, uint8_t bytes[2]);

// Writes the curves section and the 5300 pixel groups into table and returns its length.
// White references below their dark reference are set to 16383 on the way.
uint32_t BuildCorrectionTable(uint8_t* const curves[3], uint8_t variant, uint8_t* table);
