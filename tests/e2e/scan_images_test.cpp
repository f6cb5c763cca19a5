// Images scanned from the virtual scanner's built-in chart through the LD_ calls, on both
// hardware variants: where the chart's marks land at each resolution, the orientation
// marker, the colour rows brought together at thin lines, paper and ink levels after the
// shading correction, a uniform area with and without the correction, a window cut where
// it was asked for, and a whole page of the size asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "driver/interface/ld_api.h"
#include "tests/support/driver_fixture.h"
#include "vscan/test_chart.h"

namespace {

namespace chart = vscan::chart;

constexpr double kMmPerInch = 25.4;

// One scanned image, red, green and blue (grey and line art: one level per pixel, line art
// 0 for black and 255 for white).
struct Image {
  int width = 0, height = 0, channels = 0;
  uint32_t left = 0, top = 0;  // the window's corner, 1/300 inch
  int resolution = 0;
  std::vector<uint8_t> data;

  int at(int x, int y, int c = 0) const { return data[(static_cast<size_t>(y) * width + x) * channels + c]; }
  // Pixel coordinate of a chart position: pixel p covers 600/r chart columns from the
  // window's edge, so its centre lies half a pixel in.
  double column(double mm) const { return (mm * 600 / kMmPerInch - 2.0 * left) * resolution / 600 - 0.5; }
  double row(double mm) const { return (mm * 600 / kMmPerInch - 2.0 * top) * resolution / 600 - 0.5; }
  int columnAt(double mm) const { return static_cast<int>(std::lround(column(mm))); }
  int rowAt(double mm) const { return static_cast<int>(std::lround(row(mm))); }
};

struct Window {
  uint16_t mode;
  int resolution;
  double leftMm, topMm, widthMm, heightMm;
};

uint32_t To300(double mm) { return static_cast<uint32_t>(mm * 300 / kMmPerInch); }

class ScanImages : public DriverTest, public ::testing::WithParamInterface<int> {
 protected:
  vscan::Config ScannerConfig() override {
    vscan::Config config;
    config.variant = GetParam();
    return config;
  }

  void SetUp() override {
    DriverTest::SetUp();
    ASSERT_EQ(LD_OpenScanner(), 1);
    ASSERT_EQ(LD_LampOn(), 1);
    ASSERT_EQ(LD_DeviceInit(), 1);
  }

  // Scans the window, reads the lines it covers and ends the scan.
  Image Scan(const Window& w) {
    Image image;
    image.left = To300(w.leftMm);
    image.top = To300(w.topMm);
    image.resolution = w.resolution;
    image.width = static_cast<int>(w.widthMm * w.resolution / kMmPerInch + 1e-6);
    image.height = static_cast<int>(w.heightMm * w.resolution / kMmPerInch + 1e-6);
    ScanRequest request{};
    request.left = image.left;
    request.top = image.top;
    request.width = To300(w.widthMm);
    request.length = To300(w.heightMm);
    request.mode = w.mode;
    request.resolution = static_cast<uint16_t>(w.resolution);
    for (int c = 0; c < 3; ++c) {
      for (int v = 0; v < 256; ++v) request.toneCurves[c][v] = static_cast<uint8_t>(v);
    }
    request.colourOrder = 1;
    uint32_t lineBytes;
    if (w.mode == kModeColour) {
      lineBytes = 3 * image.width;
    } else if (w.mode == kModeGrey) {
      lineBytes = image.width;
    } else {
      lineBytes = (image.width + 7) / 8;
      image.width = 8 * lineBytes - 7;  // the pixels a line-art line of these bytes holds
    }
    request.bytesPerLine = lineBytes;
    EXPECT_EQ(LD_SetScanParameter(&request), 1) << "status " << ReadStatus();
    std::vector<uint8_t> raw(static_cast<size_t>(lineBytes) * image.height);
    EXPECT_EQ(LD_ReadScan(raw.data(), image.height), 1) << "status " << ReadStatus();
    EXPECT_EQ(LD_ResetScanner(0), 1);

    image.channels = w.mode == kModeColour ? 3 : 1;
    if (w.mode != kModeLineArt) {
      image.data = std::move(raw);
      return image;
    }
    image.data.resize(static_cast<size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        bool black = (raw[y * lineBytes + x / 8] >> (7 - x % 8)) & 1;
        image.data[y * image.width + x] = black ? 0 : 255;
      }
    }
    return image;
  }
};

// Darkness-weighted centre, along x or y, of the ink in a band of the image (chart mm).
double InkCentre(const Image& im, bool alongX, double from, double to, double bandFrom, double bandTo) {
  double sum = 0, weighted = 0;
  int a0 = alongX ? im.columnAt(from) : im.rowAt(from), a1 = alongX ? im.columnAt(to) : im.rowAt(to);
  int b0 = alongX ? im.rowAt(bandFrom) : im.columnAt(bandFrom), b1 = alongX ? im.rowAt(bandTo) : im.columnAt(bandTo);
  for (int a = std::max(a0, 0); a <= a1; ++a) {
    for (int b = b0; b <= b1; ++b) {
      int x = alongX ? a : b, y = alongX ? b : a;
      if (x < 0 || y < 0 || x >= im.width || y >= im.height) continue;
      double ink = 0;
      for (int c = 0; c < im.channels; ++c) ink += std::max(0, 230 - im.at(x, y, c));
      sum += ink;
      weighted += ink * a;
    }
  }
  return sum > 0 ? weighted / sum : -1e9;
}

// Image coordinate of a stroke's centre as the chart renders it at 600 dpi: the stroke
// covers 600 dpi pixels [ToPixel(centre - half), ToPixel(centre + half)).
double RenderedCentre(double centreMm, double halfMm) {
  double centre = (chart::ToPixel(centreMm - halfMm) + chart::ToPixel(centreMm + halfMm)) / 2.0;
  return chart::ToMm(centre);
}

// Every cross mark wholly inside the image sits within a pixel of where the chart has it:
// the vertical stroke's centre across a band just below the crossing, the horizontal
// stroke's along a band just right of it.
int ExpectMarksInPlace(const Image& im, double yFromMm, double yToMm) {
  int checked = 0;
  for (const chart::Point& m : chart::Marks()) {
    if (m.y - 3 < yFromMm || m.y + 3 > yToMm) continue;
    if (im.column(m.x - 3) < 0 || im.column(m.x + 3) >= im.width) continue;
    if (im.row(m.y - 3) < 0 || im.row(m.y + 3) >= im.height) continue;
    double x = InkCentre(im, true, m.x - 1.5, m.x + 1.5, m.y + 0.8, m.y + 2.2);
    double y = InkCentre(im, false, m.y - 1.5, m.y + 1.5, m.x + 0.8, m.x + 2.2);
    double half = chart::kMarkStroke / 2;
    EXPECT_NEAR(x, im.column(RenderedCentre(m.x, half)), 1.0) << "mark at " << m.x << ", " << m.y << " mm";
    EXPECT_NEAR(y, im.row(RenderedCentre(m.y, half)), 1.0) << "mark at " << m.x << ", " << m.y << " mm";
    ++checked;
  }
  return checked;
}

int Level(const Image& im, double xMm, double yMm, int c = 0) { return im.at(im.columnAt(xMm), im.rowAt(yMm), c); }

// The "F": stem on the left, bar along the top, a shorter bar at mid-height. Mirrored, the
// stem would be on the right; flipped, the long bar at the bottom.
void ExpectMarkerUpright(const Image& im) {
  struct Probe {
    double x, y;
    bool ink;
  } probes[] = {
      {25.5, 34.5, true},   // stem, low
      {34.5, 25.5, true},   // top bar, right end
      {31.5, 30.5, true},   // middle bar
      {34.5, 30.5, false},  // right of the middle bar
      {34.5, 34.5, false},  // where a mirrored stem would be
      {30.0, 34.5, false},  // below the middle bar
  };
  for (const Probe& p : probes) {
    for (int c = 0; c < im.channels; ++c) {
      int v = Level(im, p.x, p.y, c);
      if (p.ink)
        EXPECT_LT(v, 100) << "marker ink missing at " << p.x << ", " << p.y << " mm";
      else
        EXPECT_GT(v, 150) << "ink where the marker has none at " << p.x << ", " << p.y << " mm";
    }
  }
}

// Paper above 215 and ink below 15, away from the edges of the features.
void ExpectPaperAndInkLevels(const Image& im) {
  for (int c = 0; c < im.channels; ++c) {
    for (double y = 27; y <= 33; y += 0.5) {
      for (double x = 55; x <= 65; x += 0.5) EXPECT_GT(Level(im, x, y, c), 215) << x << ", " << y << " mm";
      EXPECT_LT(Level(im, 25.5, y, c), 15) << "stem at " << y << " mm, colour " << c;
    }
  }
}

const int kColourResolutions[] = {100, 150, 175, 200, 299, 300, 301, 400, 600};

// The top strip of the page: the first row of marks and the marker, over the full width.
Window TopStrip(uint16_t mode, int resolution) { return {mode, resolution, 0, 15, 215.9, 23}; }

TEST_P(ScanImages, ColourGeometryAndLevelsAtEachResolution) {
  for (int r : kColourResolutions) {
    SCOPED_TRACE(testing::Message() << r << " dpi");
    Image im = Scan(TopStrip(kModeColour, r));
    EXPECT_EQ(ExpectMarksInPlace(im, 15, 38), 10);
    ExpectMarkerUpright(im);
    ExpectPaperAndInkLevels(im);
  }
}

TEST_P(ScanImages, GreyAndLineArtGeometry) {
  for (uint16_t mode : {kModeGrey, kModeLineArt}) {
    SCOPED_TRACE(mode == kModeGrey ? "grey" : "line art");
    Image im = Scan(TopStrip(mode, 300));
    EXPECT_EQ(ExpectMarksInPlace(im, 15, 38), 10);
    ExpectMarkerUpright(im);
    ExpectPaperAndInkLevels(im);
  }
}

// Misaligned colour rows show as fringes at the edges of lines across the travel: the
// three colours of one pixel see different rows, one still paper while another is ink.
TEST_P(ScanImages, ColourRowsAlignedAtThinLines) {
  for (int r : kColourResolutions) {
    SCOPED_TRACE(testing::Message() << r << " dpi");
    Image im = Scan({kModeColour, r, 90, 62, 30, 16});
    int worst = 0, darkest = 255;
    for (int y = 0; y < im.height; ++y) {
      for (int x = 0; x < im.width; ++x) {
        int red = im.at(x, y, 0), green = im.at(x, y, 1), blue = im.at(x, y, 2);
        worst = std::max({worst, std::abs(red - green), std::abs(blue - green), std::abs(red - blue)});
        darkest = std::min(darkest, green);
      }
    }
    EXPECT_LE(worst, 12) << "colour fringe";
    EXPECT_LT(darkest, 60) << "the lines were not seen";
  }
}

// Spread of each colour's levels over a uniform paper strip.
int Spread(const Image& im) {
  int worst = 0;
  for (int c = 0; c < im.channels; ++c) {
    int lo = 255, hi = 0;
    for (int y = 0; y < im.height; ++y) {
      for (int x = 0; x < im.width; ++x) {
        lo = std::min(lo, im.at(x, y, c));
        hi = std::max(hi, im.at(x, y, c));
      }
    }
    worst = std::max(worst, hi - lo);
  }
  return worst;
}

TEST_P(ScanImages, UniformAreaFlatOnlyWithTheCorrection) {
  const Window strip{kModeColour, 300, 30, 200, 160, 3};
  EXPECT_LE(Spread(Scan(strip)), 3);

  // The correction table's buffer is the allocation just before the stream buffer's.
  host::ResetMemoryCounters();
  Scan(strip);
  uint64_t allocations = host::GlobalAllocCalls();
  host::FailGlobalAllocNumber(allocations - 1);
  Image uncorrected = Scan(strip);
  host::ClearMemoryFaults();
  EXPECT_GT(Spread(uncorrected), 20) << "the sensor's response shows without the correction";
}

TEST_P(ScanImages, WindowCutWhereAsked) {
  for (int r : {300, 175}) {
    SCOPED_TRACE(testing::Message() << r << " dpi");
    Image im = Scan({kModeColour, r, 10, 55, 50.8, 25.4});
    EXPECT_EQ(ExpectMarksInPlace(im, 55, 80.4), 2);  // the marks at 20 and 40 mm, 60 mm down
    // The lines across the page at 65, 70 and 75 mm, where the window puts them.
    for (const chart::LineRow& line : chart::Lines()) {
      double y = InkCentre(im, false, line.centre - 1.5, line.centre + 1.5, 30, 35);
      EXPECT_NEAR(y, im.row(RenderedCentre(line.centre, line.thickness / 2)), 1.0) << "line at " << line.centre << " mm";
    }
  }
}

TEST_P(ScanImages, WholePageAtTheSizeAsked) {
  Image im = Scan({kModeColour, 100, 0, 0, 215.9, 297.18});
  EXPECT_EQ(im.width, 850);
  EXPECT_EQ(im.height, 1170);
  // Marks from the top row to the bottom one, so that any stretch along the page shows.
  EXPECT_GE(ExpectMarksInPlace(im, 0, 297), 100);
  ExpectMarkerUpright(im);
}

INSTANTIATE_TEST_SUITE_P(Variants, ScanImages, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) { return "Variant" + std::to_string(info.param); });

}  // namespace
