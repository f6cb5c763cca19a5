// The library's default chip tone curves (12-bit sample to 8-bit output), used for a
// colour whose curve file is absent. Each rises from 0 to its maximum without a fall or a
// skipped output value: a piecewise-linear curve through the knots below, built at compile
// time with integer steps.
#include "driver/calibration/calibration.h"

namespace {

struct Knot {
  int index;
  int value;
};

constexpr int kKnotCount = 16;

// Per colour: the last zero entry and the first non-zero one, the measured rows, then the
// entry before the first at the maximum, the first at the maximum and the end.
constexpr Knot kKnots[3][kKnotCount] = {
    {{0, 0}, {82, 0}, {83, 1}, {128, 10}, {256, 19}, {512, 36}, {1024, 69}, {1536, 100}, {2048, 131},
     {2560, 156}, {3072, 185}, {3584, 211}, {4089, 233}, {4090, 234}, {4095, 234}, {4095, 234}},
    {{0, 0}, {46, 0}, {47, 1}, {64, 3}, {128, 11}, {256, 19}, {512, 37}, {1024, 70}, {1536, 100},
     {2048, 131}, {2560, 155}, {3072, 184}, {3584, 210}, {4092, 232}, {4093, 233}, {4095, 233}},
    {{0, 0}, {57, 0}, {58, 1}, {64, 2}, {128, 11}, {256, 21}, {512, 40}, {1024, 74}, {1536, 106},
     {2048, 137}, {2560, 162}, {3072, 192}, {3584, 218}, {4072, 239}, {4073, 240}, {4095, 240}},
};

constexpr uint8_t CurveEntry(int colour, int index) {
  const Knot* k = kKnots[colour];
  for (int s = 1; s < kKnotCount; ++s) {
    if (index <= k[s].index) {
      const int run = k[s].index - k[s - 1].index;
      const int rise = k[s].value - k[s - 1].value;
      if (run == 0) return static_cast<uint8_t>(k[s].value);
      return static_cast<uint8_t>(k[s - 1].value + (index - k[s - 1].index) * rise / run);
    }
  }
  return static_cast<uint8_t>(k[kKnotCount - 1].value);
}

}  // namespace

#define CURVE_4(c, i) CurveEntry(c, i), CurveEntry(c, i + 1), CurveEntry(c, i + 2), CurveEntry(c, i + 3)
#define CURVE_16(c, i) CURVE_4(c, i), CURVE_4(c, i + 4), CURVE_4(c, i + 8), CURVE_4(c, i + 12)
#define CURVE_64(c, i) CURVE_16(c, i), CURVE_16(c, i + 16), CURVE_16(c, i + 32), CURVE_16(c, i + 48)
#define CURVE_256(c, i) CURVE_64(c, i), CURVE_64(c, i + 64), CURVE_64(c, i + 128), CURVE_64(c, i + 192)
#define CURVE_1024(c, i) CURVE_256(c, i), CURVE_256(c, i + 256), CURVE_256(c, i + 512), CURVE_256(c, i + 768)
#define CURVE_4096(c) CURVE_1024(c, 0), CURVE_1024(c, 1024), CURVE_1024(c, 2048), CURVE_1024(c, 3072)

constexpr uint8_t kDefaultChipToneCurves[3][4096] = {{CURVE_4096(0)}, {CURVE_4096(1)}, {CURVE_4096(2)}};

#undef CURVE_4096
#undef CURVE_1024
#undef CURVE_256
#undef CURVE_64
#undef CURVE_16
#undef CURVE_4
