// The steps of the power-on calibration on synthetic planes: the strip search, the edge
// threshold and the right edge, the gain from the bright band and the offset from the dark
// band, at the boundaries of their rules.
#include <gtest/gtest.h>

#include <vector>

#include "driver/calibration/calibration.h"
#include "driver/calibration/power_on_steps.h"

namespace {

constexpr uint32_t kPixels = 5300;

// A sample whose level (its top eight bits) is the given one, with low bits set so that a
// level taken by rounding rather than truncating would show.
int16_t AtLevel(int level) { return static_cast<int16_t>(level * 16 + 15); }

struct Band {
  uint32_t first, last;  // lines, inclusive
  int level;
};

// A 400-line green plane: level 80 (neither bright nor dark) but for the bands given, which
// cover only the strip column.
std::vector<int16_t> StripPlane(std::initializer_list<Band> bands) {
  std::vector<int16_t> plane(400 * kPixels, AtLevel(80));
  for (const Band& b : bands) {
    for (uint32_t i = b.first; i <= b.last; ++i) plane[i * kPixels + 2550] = AtLevel(b.level);
  }
  return plane;
}

TEST(FindStripLine, Bands) {
  struct Case {
    const char* what;
    std::vector<int16_t> plane;
    StepResult result;
    uint32_t s;
  };
  const Case cases[] = {
      {"bright 5..9, dark from 10: s 14 is too high up", StripPlane({{5, 9, 101}, {10, 399, 69}}), kStepStripNotFound, 0},
      {"bright 5..99, dark from 100", StripPlane({{5, 99, 255}, {100, 399, 0}}), kStepOk, 104},
      {"level 100 is not bright: the run restarts",
       StripPlane({{60, 63, 101}, {64, 64, 100}, {65, 66, 101}, {67, 399, 69}}), kStepStripNotFound, 0},
      {"four bright, one at 100, five bright: the run ends in the second group",
       StripPlane({{60, 63, 101}, {64, 64, 100}, {65, 69, 101}, {70, 399, 69}}), kStepOk, 74},
      {"level 70 is not dark: the run restarts",
       StripPlane({{60, 64, 101}, {65, 68, 69}, {69, 69, 70}, {70, 399, 69}}), kStepOk, 74},
      {"the dark run counts from the line after the fifth bright one", StripPlane({{50, 54, 101}, {55, 59, 69}}), kStepOk, 59},
      {"lines before 5 are not searched", StripPlane({{0, 4, 200}, {5, 399, 10}}), kStepStripNotFound, 0},
      {"no bright run", StripPlane({{5, 399, 100}}), kStepStripNotFound, 0},
      {"no dark run after the bright one", StripPlane({{100, 200, 150}, {201, 399, 70}}), kStepStripNotFound, 0},
      {"a strip ending at 399 lies too low", StripPlane({{300, 394, 150}, {395, 399, 10}}), kStepStripNotFound, 0},
      {"s 361 leaves room for the threshold lines", StripPlane({{300, 356, 150}, {357, 399, 10}}), kStepOk, 361},
      {"s 362 would read past the pass", StripPlane({{300, 357, 150}, {358, 399, 10}}), kStepStripNotFound, 0},
      {"s 55, the first line allowed", StripPlane({{40, 50, 150}, {51, 399, 10}}), kStepOk, 55},
      {"s 54", StripPlane({{40, 49, 150}, {50, 399, 10}}), kStepStripNotFound, 0},
  };
  for (const Case& c : cases) {
    uint32_t s = 12345;
    EXPECT_EQ(FindStripLine(c.plane.data(), &s), c.result) << c.what;
    if (c.result == kStepOk) {
      EXPECT_EQ(s, c.s) << c.what;
    }
  }
}

TEST(EdgeThreshold, MeanOfTenLinesDoubledWhenDark) {
  struct Case {
    int levels[10];
    uint8_t threshold;
  };
  const Case cases[] = {
      {{70, 70, 70, 70, 70, 70, 70, 70, 70, 70}, 140},
      {{71, 71, 71, 71, 71, 71, 71, 71, 71, 71}, 71},
      {{70, 70, 70, 70, 70, 70, 70, 70, 70, 79}, 140},  // 709 / 10 truncates to 70
      {{10, 10, 10, 10, 10, 10, 10, 10, 10, 20}, 22},
      {{255, 255, 255, 255, 255, 255, 255, 255, 255, 255}, 255},
  };
  for (const Case& c : cases) {
    const uint32_t darkLine = 233;
    std::vector<int16_t> plane = StripPlane({{darkLine - 1, darkLine - 1, 255}, {darkLine + 10, darkLine + 10, 255}});
    for (int i = 0; i < 10; ++i) plane[(darkLine + i) * kPixels + 2550] = AtLevel(c.levels[i]);
    EXPECT_EQ(EdgeThreshold(plane.data(), darkLine), c.threshold) << "first level " << c.levels[0];
  }
}

TEST(FindRightEdge, ElevenPixelsAboveTheThreshold) {
  struct Run {
    uint32_t first, last;
    int level;
  };
  struct Case {
    const char* what;
    std::vector<Run> runs;
    uint32_t edge;
  };
  const uint8_t threshold = 40;
  const Case cases[] = {
      {"nothing above the threshold", {{5000, 5299, 40}}, 5280},
      {"eleven from 5000", {{5000, 5010, 41}}, 5090},
      {"ten only, then at the threshold", {{5000, 5009, 41}, {5010, 5010, 40}, {5011, 5020, 41}}, 5280},
      {"the lid from 5110 (the virtual scanner's edge)", {{5110, 5299, 120}}, 5200},
      {"pixels before 5000 do not count", {{4990, 5009, 120}}, 5280},
      {"restart, then eleven", {{5000, 5005, 99}, {5007, 5017, 99}}, 5097},
      {"an edge at 5219 stays inside the sensor", {{5209, 5299, 99}}, 5299},
      {"an edge completing at 5299 is held at the sensor's end", {{5289, 5299, 99}}, 5300},
  };
  for (const Case& c : cases) {
    std::vector<int16_t> line(kPixels, AtLevel(10));
    for (const Run& r : c.runs) {
      for (uint32_t j = r.first; j <= r.last; ++j) line[j] = AtLevel(r.level);
    }
    EXPECT_EQ(FindRightEdge(line.data(), threshold), c.edge) << c.what;
  }
}

TEST(GainForAverage, Table) {
  struct Case {
    uint32_t average;
    uint8_t gain;
  };
  const Case cases[] = {
      {4095, 1}, {4001, 1}, {4000, 2}, {3500, 2}, {2801, 2}, {2800, 3}, {2334, 3}, {2333, 4}, {2001, 4},
      {2000, 5}, {1000, 12}, {500, 26}, {100, 138}, {55, 252},
      // Below 55 the formula passes 255: held there, as for a band that reads black.
      {54, 255}, {1, 255}, {0, 255},
  };
  for (const Case& c : cases) EXPECT_EQ(GainForAverage(c.average), c.gain) << "average " << c.average;
}

TEST(BrightBandAverage, FiveLinesOverPixels2900To2999) {
  const uint32_t whiteLine = 149;
  std::vector<int16_t> plane(400 * kPixels, 4095);  // outside the band: must not count
  for (uint32_t i = whiteLine; i < whiteLine + 5; ++i) {
    for (uint32_t k = 2900; k < 3000; ++k) plane[i * kPixels + k] = 4000;
  }
  EXPECT_EQ(BrightBandAverage(plane.data(), whiteLine), 4000u);
  plane[(whiteLine + 4) * kPixels + 2999] = 4499;  // sum + 499: still 4000
  EXPECT_EQ(BrightBandAverage(plane.data(), whiteLine), 4000u);
  plane[whiteLine * kPixels + 2900] = 4001;  // sum + 500: 4001
  EXPECT_EQ(BrightBandAverage(plane.data(), whiteLine), 4001u);
}

TEST(AdjustOffset, TenthOfTheDistanceFrom160) {
  struct Case {
    uint8_t offset;
    uint32_t level;
    uint8_t adjusted;
  };
  const Case cases[] = {
      {192, 165, 192}, {192, 151, 192}, {192, 169, 192}, {192, 170, 193}, {192, 150, 191},
      {192, 100, 186}, {192, 0, 176},   {192, 800, 255}, {192, 4095, 255},  // held at the register's top
      {5, 0, 0},       {250, 250, 255},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AdjustOffset(c.offset, c.level), c.adjusted) << int(c.offset) << " at level " << c.level;
  }
}

TEST(DarkLevel, MeanOfTheTwoFifthLargest) {
  std::vector<int16_t> plane(24 * kPixels, 4095);  // other lines and pixels must not count
  for (uint32_t k = 2900; k < 3000; ++k) {
    plane[8 * kPixels + k] = 160;
    plane[18 * kPixels + k] = 161;  // per pixel (160 + 161) / 2 = 160
  }
  EXPECT_EQ(DarkLevel(plane.data()), 160u);
  for (uint32_t k = 2900; k < 2950; ++k) plane[18 * kPixels + k] = 181;  // 170 on half the pixels
  EXPECT_EQ(DarkLevel(plane.data()), 165u);
}

}  // namespace
