// The reference computations of the shading measurement, on the sample planes of a
// 24-line pass whose lines 4..13 have been column sorted.
#pragma once

#include <cstdint>

// whiteReference from the pass at whiteLine: per pixel the mean of line 8 (the fifth
// largest of lines 4..13) and line 18; entries below 512 take the mean of entries 2900..2999.
void WhiteReferenceFromPass(int16_t* const plane[3]);
// darkReference from the pass at darkLine: the same per-pixel value, averaged over pixels
// 2900..2999 and stored in all 5300 entries of the colour.
void DarkReferenceFromPass(int16_t* const plane[3]);
