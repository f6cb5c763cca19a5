// The built-in test chart against its own description, and documents loaded from image
// files.
#include "vscan/test_chart.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vscan/document_image.h"

#if defined(__has_include)
#if __has_include(<png.h>)
#include <png.h>
#define VSCAN_TEST_PNG 1
#endif
#endif

namespace {

namespace chart = vscan::chart;

// The rendered page, read back by millimetre position.
class ChartTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { page_ = new std::vector<uint8_t>(chart::RenderChart()); }
  static void TearDownTestSuite() {
    delete page_;
    page_ = nullptr;
  }
  static const uint8_t* at(double xMm, double yMm) {
    int x = chart::ToPixel(xMm), y = chart::ToPixel(yMm);
    return page_->data() + (static_cast<size_t>(y) * chart::kWidth + x) * 3;
  }
  static bool ink(double x, double y) {
    const uint8_t* p = at(x, y);
    return p[0] == 0 && p[1] == 0 && p[2] == 0;
  }
  static bool paper(double x, double y) {
    const uint8_t* p = at(x, y);
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
  }
  static std::vector<uint8_t>* page_;
};
std::vector<uint8_t>* ChartTest::page_ = nullptr;

TEST_F(ChartTest, PageSize) {
  EXPECT_EQ(page_->size(), size_t(5100) * 7020 * 3);
  EXPECT_NEAR(chart::kWidthMm, 215.9, 1e-9);
  EXPECT_NEAR(chart::kHeightMm, 297.18, 1e-9);
}

TEST_F(ChartTest, MarksAreCrossesAtTheirCentres) {
  ASSERT_GT(chart::Marks().size(), 50u);
  const double off = chart::kMarkStroke;  // beside a stroke
  for (const chart::Point& m : chart::Marks()) {
    SCOPED_TRACE(testing::Message() << "mark at " << m.x << ", " << m.y);
    EXPECT_TRUE(ink(m.x, m.y));
    EXPECT_TRUE(ink(m.x - chart::kMarkArm + 0.2, m.y));
    EXPECT_TRUE(ink(m.x + chart::kMarkArm - 0.2, m.y));
    EXPECT_TRUE(ink(m.x, m.y - chart::kMarkArm + 0.2));
    EXPECT_TRUE(ink(m.x, m.y + chart::kMarkArm - 0.2));
    EXPECT_TRUE(paper(m.x + off + 0.3, m.y + off + 0.3));  // between the arms
    EXPECT_TRUE(paper(m.x - off - 0.3, m.y - off - 0.3));
    EXPECT_TRUE(paper(m.x + chart::kMarkArm + 0.3, m.y));  // past an arm's end
    EXPECT_TRUE(paper(m.x, m.y - chart::kMarkArm - 0.3));
  }
}

TEST_F(ChartTest, MarkerShowsMirroringAndFlipping) {
  chart::Box box = chart::MarkerBox();
  for (const chart::Box& s : chart::MarkerStrokes()) {
    EXPECT_TRUE(ink(s.centreX(), s.centreY()));
    EXPECT_GE(s.left, box.left);
    EXPECT_LE(s.right, box.right);
  }
  // Top-left and top-right and bottom-left ink, bottom-right paper; the middle bar reaches
  // further than its stem side but stops short of the right edge.
  EXPECT_TRUE(ink(box.left + 0.5, box.top + 0.5));
  EXPECT_TRUE(ink(box.right - 0.5, box.top + 0.5));
  EXPECT_TRUE(ink(box.left + 0.5, box.bottom - 0.5));
  EXPECT_TRUE(paper(box.right - 0.5, box.bottom - 0.5));
  EXPECT_TRUE(paper(box.right - 0.5, box.centreY() + 0.5));
  EXPECT_TRUE(ink(box.centreX(), box.centreY() + 0.5));
}

TEST_F(ChartTest, LinesRunAcrossThePage) {
  for (const chart::LineRow& l : chart::Lines()) {
    SCOPED_TRACE(testing::Message() << "line at " << l.centre);
    for (double x = l.left + 0.1; x < l.right - 0.1; x += 1.0) {
      ASSERT_TRUE(ink(x, l.centre)) << x;
      ASSERT_TRUE(paper(x, l.centre - l.thickness / 2 - 0.2)) << x;
      ASSERT_TRUE(paper(x, l.centre + l.thickness / 2 + 0.2)) << x;
    }
    // Its rendered thickness in pixels.
    int rows = 0;
    for (int y = chart::ToPixel(l.centre - 2); y < chart::ToPixel(l.centre + 2); ++y)
      rows += ink(100.0, chart::ToMm(y) + 1e-6);
    EXPECT_NEAR(rows, l.thickness * 600 / 25.4, 1.0);
  }
}

TEST_F(ChartTest, PatchesHoldTheirValuesAndReflectances) {
  std::vector<chart::Patch> patches = chart::GreyPatches();
  ASSERT_EQ(patches.size(), 10u);
  for (const chart::Patch& p : chart::ColourPatches()) patches.push_back(p);
  for (const chart::Patch& p : patches) {
    SCOPED_TRACE(p.name);
    for (double fx : {0.1, 0.5, 0.9})
      for (double fy : {0.1, 0.5, 0.9}) {
        const uint8_t* v = at(p.box.left + fx * (p.box.right - p.box.left),
                              p.box.top + fy * (p.box.bottom - p.box.top));
        EXPECT_EQ(v[0], p.value[0]);
        EXPECT_EQ(v[1], p.value[1]);
        EXPECT_EQ(v[2], p.value[2]);
      }
    EXPECT_TRUE(paper(p.box.left - 0.3, p.box.centreY()));
    EXPECT_TRUE(paper(p.box.centreX(), p.box.bottom + 0.3));
  }
  EXPECT_NEAR(chart::GreyPatches()[0].reflectance(1), 0.01, 1e-9);
  EXPECT_NEAR(chart::ColourPatches()[0].reflectance(0), 0.90, 1e-9);
  EXPECT_NEAR(chart::ColourPatches()[0].reflectance(2), 0.01, 1e-9);
}

TEST_F(ChartTest, BarGroupsAlternateAtTheirPeriod) {
  for (const chart::BarGroup& g : chart::BarGroups()) {
    SCOPED_TRACE(testing::Message() << "period " << g.period << (g.vertical ? " vertical" : " horizontal"));
    for (int n = 0; n < 4; ++n) {
      double barMid = n * g.period + g.period / 4, gapMid = n * g.period + 3 * g.period / 4;
      if (g.vertical) {
        EXPECT_TRUE(ink(g.box.left + barMid, g.box.centreY()));
        EXPECT_TRUE(paper(g.box.left + gapMid, g.box.centreY()));
      } else {
        EXPECT_TRUE(ink(g.box.centreX(), g.box.top + barMid));
        EXPECT_TRUE(paper(g.box.centreX(), g.box.top + gapMid));
      }
    }
  }
}

TEST_F(ChartTest, UniformAreaIsPaperThroughout) {
  chart::Box u = chart::UniformArea();
  int x0 = chart::ToPixel(u.left), x1 = chart::ToPixel(u.right);
  int y0 = chart::ToPixel(u.top), y1 = chart::ToPixel(u.bottom);
  ASSERT_GT((x1 - x0) * 25.4 / 600, 150.0);
  ASSERT_GT((y1 - y0) * 25.4 / 600, 100.0);
  size_t notPaper = 0;
  for (int y = y0; y < y1; ++y) {
    const uint8_t* row = page_->data() + (static_cast<size_t>(y) * chart::kWidth + x0) * 3;
    for (int i = 0; i < (x1 - x0) * 3; ++i) notPaper += row[i] != 255;
  }
  EXPECT_EQ(notPaper, 0u);
}

TEST_F(ChartTest, DocumentRowsMatchTheRenderedPage) {
  chart::TestChart doc;
  std::vector<uint8_t> r(5201), g(5201), b(5201);
  for (int y : {0, 472, 1535, 2480, 7019}) {
    doc.row(y, 5201, r.data(), g.data(), b.data());
    const uint8_t* line = page_->data() + static_cast<size_t>(y) * chart::kWidth * 3;
    for (int x = 0; x < chart::kWidth; ++x) {
      ASSERT_EQ(r[x], line[3 * x]) << y << "," << x;
      ASSERT_EQ(g[x], line[3 * x + 1]) << y << "," << x;
      ASSERT_EQ(b[x], line[3 * x + 2]) << y << "," << x;
    }
    EXPECT_EQ(r[5200], 255);  // past the page: paper
  }
  doc.row(7020, 10, r.data(), g.data(), b.data());
  EXPECT_EQ(r[0], 255);
}

// --- image documents ------------------------------------------------------------------------

std::string WriteFile(const std::string& name, const std::string& bytes) {
  std::string path = ::testing::TempDir() + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

TEST(ImageDocument, PnmKindsLoadAsRgb) {
  struct Case {
    const char* name;
    std::string bytes;
    uint8_t first[3], last[3];
  } cases[] = {
      {"grey.pgm", std::string("P5\n# c\n2 2\n255\n") + std::string("\x00\x40\x80\xff", 4),
       {0, 0, 0}, {255, 255, 255}},
      {"colour.ppm", std::string("P6 2 1 255 ") + std::string("\x10\x20\x30\x40\x50\x60", 6),
       {0x10, 0x20, 0x30}, {0x40, 0x50, 0x60}},
      {"ascii.pgm", "P2\n2 1\n15\n0 15\n", {0, 0, 0}, {255, 255, 255}},
      {"ascii.ppm", "P3 1 2 255\n1 2 3\n# comment\n4 5 6\n", {1, 2, 3}, {4, 5, 6}},
      {"wide.pgm", std::string("P5 2 1 65535\n") + std::string("\x00\x00\xff\xff", 4), {0, 0, 0},
       {255, 255, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    auto doc = vscan::LoadImageDocument(WriteFile(c.name, c.bytes), &error);
    ASSERT_TRUE(doc) << error;
    const std::vector<uint8_t>& rgb = doc->rgb();
    size_t n = rgb.size();
    EXPECT_EQ(n, size_t(doc->pixelWidth()) * doc->pixelHeight() * 3);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(rgb[i], c.first[i]);
      EXPECT_EQ(rgb[n - 3 + i], c.last[i]);
    }
    EXPECT_EQ(doc->dpiX(), 600);
  }
}

TEST(ImageDocument, BadFilesAreRefusedAndTheChartTakesTheirPlace) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty.pgm", ""},
      {"text.pgm", "hello"},
      {"short.pgm", std::string("P5 4 4 255\n") + "abc"},
      {"zero.pgm", "P5 0 4 255\n"},
      {"huge.ppm", "P6 99999999 99999999 255\n"},
      {"too_large.ppm", "P6 30000 30000 255\n"},  // 2.7 GB of raster: refused, not allocated
      {"ascii_short.ppm", "P3 2 1 255 1 2 3 4"},
      {"png.png", std::string("\x89PNG\r\n\x1a\n", 8) + "broken"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    std::string path = WriteFile(c.name, c.bytes);
    EXPECT_FALSE(vscan::LoadImageDocument(path, &error));
    EXPECT_NE(error, "");
    error.clear();
    auto doc = vscan::MakeDocument(path, &error);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->width(), chart::kWidth);
    EXPECT_NE(error, "");
  }
  std::string error;
  EXPECT_FALSE(vscan::LoadImageDocument(::testing::TempDir() + "no_such_file.pgm", &error));
}

TEST(ImageDocument, PlacedAtTheTopLeftOnThe600DpiGrid) {
  // 3 x 2 grey image: row 0 = 10 20 30, row 1 = 40 50 60.
  std::string path = WriteFile("place.pgm", std::string("P5 3 2 255\n") + "\x0a\x14\x1e\x28\x32\x3c");
  auto doc = vscan::MakeDocument(path, nullptr);
  ASSERT_EQ(doc->width(), 3);
  ASSERT_EQ(doc->height(), 2);
  uint8_t r[5], g[5], b[5];
  doc->row(1, 5, r, g, b);
  EXPECT_EQ(std::vector<uint8_t>(g, g + 5), (std::vector<uint8_t>{40, 50, 60, 255, 255}));
  doc->row(2, 5, r, g, b);
  EXPECT_EQ(std::vector<uint8_t>(r, r + 5), (std::vector<uint8_t>{255, 255, 255, 255, 255}));
  doc->row(-1, 5, r, g, b);
  EXPECT_EQ(b[0], 255);
}

#if VSCAN_TEST_PNG
// A PNG at 300 dpi (pHYs): each image pixel covers two 600 dpi columns and rows.
TEST(ImageDocument, PngResolutionFromPhys) {
  std::string path = ::testing::TempDir() + "phys.png";
  FILE* f = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, 2, 2, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, 11811, 11811, PNG_RESOLUTION_METER);  // 300 dpi
  png_write_info(png, info);
  uint8_t rows[2][6] = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}};
  png_write_row(png, rows[0]);
  png_write_row(png, rows[1]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);

  std::string error;
  auto doc = vscan::LoadImageDocument(path, &error);
  ASSERT_TRUE(doc) << error;
  EXPECT_EQ(doc->dpiX(), 300);
  EXPECT_EQ(doc->width(), 4);
  EXPECT_EQ(doc->height(), 4);
  uint8_t r[5], g[5], b[5];
  doc->row(3, 5, r, g, b);
  EXPECT_EQ(std::vector<uint8_t>(r, r + 5), (std::vector<uint8_t>{7, 7, 10, 10, 255}));
  EXPECT_EQ(std::vector<uint8_t>(b, b + 5), (std::vector<uint8_t>{9, 9, 12, 12, 255}));
}
#endif

}  // namespace
