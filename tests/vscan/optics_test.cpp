// The virtual scanner's optics: the signal of one pixel, the per-pixel response, and what
// the three colour rows see along the travel and across the sensor.
#include "vscan/optics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "vscan/document_image.h"

namespace {

using vscan::Config;
using vscan::Optics;

double Formula(const Optics& o, double r, int c, int k, int offset, int gain, bool lamp) {
  double g = (gain + 2) / 4.0;
  double v = (lamp ? r * 2000.0 * o.prnu(c, k) * g : 0.0) + o.dark(c, k) * g + 10.0 * (208 - offset);
  return std::min(4095.0, std::max(0.0, std::round(v)));
}

TEST(OpticsSignal, LevelFollowsTheFrontEndFormula) {
  Optics optics{Config{}};
  struct Case {
    double reflectance;
    int colour, pixel, offset, gain;
    bool lamp;
  } cases[] = {
      {0.90, 1, 2550, 192, 2, true},   // bright band at the calibration's start levels
      {0.02, 0, 0, 192, 5, true},      // dark band after the gain step
      {0.50, 2, 5299, 208, 2, true},   // lid, no offset
      {0.90, 1, 10, 192, 2, false},    // lamp off: dark signal and offset only
      {0.90, 0, 100, 100, 255, true},  // clamps at 4095
      {0.01, 2, 200, 255, 0, true},    // clamps at 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "r " << c.reflectance << " offset " << c.offset << " gain "
                                    << c.gain << " lamp " << c.lamp);
    double expected = Formula(optics, c.reflectance, c.colour, c.pixel, c.offset, c.gain, c.lamp);
    EXPECT_EQ(optics.rawLevel(c.reflectance, c.colour, c.pixel, c.offset, c.gain, c.lamp),
              expected);
  }
  EXPECT_EQ(optics.rawLevel(0.9, 0, 100, 100, 255, true), 4095);
  EXPECT_EQ(optics.rawLevel(0.01, 2, 200, 255, 0, true), 0);
  // Lamp off: whatever the reflectance, the same level.
  EXPECT_EQ(optics.rawLevel(0.9, 1, 10, 192, 2, false), optics.rawLevel(0.0, 1, 10, 192, 2, true));
}

// The stream's integer path (a per-pixel response folded with the front end) must agree
// with the formula everywhere on the sensor.
TEST(OpticsSignal, FixedPointResponseAgreesWithFormula) {
  Optics optics{Config{}};
  struct Setting {
    uint8_t offset, gain;
    bool lamp;
  } settings[] = {{192, 2, true}, {201, 5, true}, {170, 40, true}, {192, 2, false}};
  for (const Setting& s : settings) {
    vscan::FrontEnd afe;
    for (int c = 0; c < 3; ++c) {
      afe.offset[c] = s.offset;
      afe.gain[c] = s.gain;
    }
    Optics::PixelResponse resp = optics.response(afe, s.lamp);
    int worst = 0;
    for (double r : {0.01, 0.02, 0.5, 0.9}) {
      vscan::Reflectance16 r16 = vscan::ToReflectance16(r);
      for (int c = 0; c < 3; ++c)
        for (int k = 0; k < vscan::kSensorPixels; k += 7)
          worst = std::max(worst, std::abs(Optics::RawFromResponse(resp, c, k, r16) -
                                           optics.rawLevel(r, c, k, s.offset, s.gain, s.lamp)));
    }
    EXPECT_LE(worst, 1) << "offset " << int(s.offset) << " gain " << int(s.gain);
  }
}

TEST(OpticsSignal, ResponseAndDarkSignalComeFromTheSeed) {
  Config a, b, c;
  c.seed = 1234;
  Optics oa{a}, ob{b}, oc{c};
  double lo = 2, hi = 0, dlo = 100, dhi = 0;
  int differ = 0;
  for (int col = 0; col < 3; ++col) {
    for (int k = 0; k < vscan::kSensorPixels; ++k) {
      lo = std::min(lo, oa.prnu(col, k));
      hi = std::max(hi, oa.prnu(col, k));
      dlo = std::min(dlo, oa.dark(col, k));
      dhi = std::max(dhi, oa.dark(col, k));
      ASSERT_EQ(oa.prnu(col, k), ob.prnu(col, k));
      ASSERT_EQ(oa.dark(col, k), ob.dark(col, k));
      differ += oa.prnu(col, k) != oc.prnu(col, k);
    }
  }
  EXPECT_GE(lo, 0.85);
  EXPECT_LE(hi, 1.15);
  EXPECT_GE(dlo, 5.0);
  EXPECT_LE(dhi, 20.0);
  // Spread over the whole range, not a constant.
  EXPECT_LT(lo, 0.87);
  EXPECT_GT(hi, 1.13);
  EXPECT_GT(differ, 15000);
  // Pixels and colours differ from one another.
  EXPECT_NE(oa.prnu(0, 0), oa.prnu(1, 0));
  EXPECT_NE(oa.prnu(0, 0), oa.prnu(0, 1));
}

// What the colour rows see along the travel: green at the motor position, red four lines
// behind it, blue four ahead.
TEST(OpticsFrame, StripLidAndGlassAlongTheTravel) {
  Optics optics{Config{}};
  const double lid = vscan::kLidReflectance, bright = vscan::kBrightReflectance,
               dark = vscan::kDarkReflectance, paper = 0.90;
  struct Case {
    int colour, motorLine, pixel;
    double expected;
  } cases[] = {
      {1, 0, 2550, lid},       {1, 39, 2550, lid},     {1, 40, 2550, bright},
      {1, 199, 2550, bright},  {1, 200, 2550, dark},   {1, 299, 2550, dark},
      {1, 300, 2550, lid},     {1, 318, 2550, lid},    {1, 319, 2550, paper},
      {1, 7338, 2550, paper},  {1, 7339, 2550, lid},   {1, 204, 5109, dark},
      {1, 204, 5110, lid},     {1, 204, 5299, lid},    {1, 204, 0, dark},
      {0, 43, 2550, lid},      {0, 44, 2550, bright},  {0, 203, 2550, bright},
      {0, 204, 2550, dark},    {2, 35, 2550, lid},     {2, 36, 2550, bright},
      {2, 196, 2550, dark},    {0, -10, 100, lid},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(optics.reflectance(c.colour, c.motorLine, c.pixel), c.expected, 1e-4)
        << "colour " << c.colour << " motor line " << c.motorLine << " pixel " << c.pixel;
  }
}

// Sensor pixel k sees document column 5200 - k; a document row r is seen by green at motor
// line 319 + r.
TEST(OpticsFrame, DocumentRunsRightToLeftAcrossTheSensor) {
  // An 80 x 40 grey image, all paper but one ink pixel at column 30, row 12.
  const int w = 80, h = 40;
  std::vector<uint8_t> img(w * h, 255);
  img[12 * w + 30] = 0;
  std::string path = ::testing::TempDir() + "optics_dot.pgm";
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fprintf(f, "P5\n%d %d\n255\n", w, h);
  std::fwrite(img.data(), 1, img.size(), f);
  std::fclose(f);

  Config config;
  config.documentPath = path;
  Optics optics{config};
  ASSERT_EQ(optics.documentError(), "");
  const double ink = 0.01, paper = 0.90;
  const int row12 = vscan::kGlassLine + 12;
  EXPECT_NEAR(optics.reflectance(1, row12, 5200 - 30), ink, 1e-4);
  EXPECT_NEAR(optics.reflectance(1, row12, 5200 - 29), paper, 1e-4);
  EXPECT_NEAR(optics.reflectance(1, row12, 5200 - 31), paper, 1e-4);
  EXPECT_NEAR(optics.reflectance(1, row12 - 1, 5200 - 30), paper, 1e-4);
  EXPECT_NEAR(optics.reflectance(0, row12 + 4, 5200 - 30), ink, 1e-4);  // red lags
  EXPECT_NEAR(optics.reflectance(2, row12 - 4, 5200 - 30), ink, 1e-4);  // blue leads
  // Beyond the image, and past column 0 (sensor pixels above 5200), the glass shows paper.
  EXPECT_NEAR(optics.reflectance(1, vscan::kGlassLine + 500, 2000), paper, 1e-4);
  EXPECT_NEAR(optics.reflectance(1, row12, 5250), paper, 1e-4);
}

}  // namespace
