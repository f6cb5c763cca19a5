#include "vscan/test_chart.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vscan {
namespace chart {

namespace {

constexpr double kGridPitch = 20.0;

bool Overlaps(const Box& a, const Box& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

Box Cell(int column, double top, double bottom) {
  return Box{kGridPitch * column + 3.0, top, kGridPitch * column + 17.0, bottom};
}

}  // namespace

int ToPixel(double mm) { return static_cast<int>(std::lround(mm * kDpi / kMmPerInch)); }
double ToMm(double pixel) { return pixel * kMmPerInch / kDpi; }

Box UniformArea() { return Box{25.0, 165.0, 195.0, 275.0}; }

const std::vector<Point>& Marks() {
  static const std::vector<Point> marks = [] {
    std::vector<Point> m;
    Box keepOut = UniformArea();
    keepOut.left -= 2.0;
    keepOut.top -= 2.0;
    keepOut.right += 2.0;
    keepOut.bottom += 2.0;
    for (int j = 1; j <= 14; ++j) {
      for (int i = 1; i <= 10; ++i) {
        Point p{kGridPitch * i, kGridPitch * j};
        Box extent{p.x - kMarkArm, p.y - kMarkArm, p.x + kMarkArm, p.y + kMarkArm};
        if (!Overlaps(extent, keepOut)) m.push_back(p);
      }
    }
    return m;
  }();
  return marks;
}

Box MarkerBox() { return Box{24.0, 24.0, 36.0, 36.0}; }

const std::vector<Box>& MarkerStrokes() {
  static const std::vector<Box> strokes = {
      {24.0, 24.0, 27.0, 36.0},  // stem, left
      {24.0, 24.0, 36.0, 27.0},  // top bar, full width
      {24.0, 29.0, 33.0, 32.0},  // middle bar, shorter
  };
  return strokes;
}

const std::vector<LineRow>& Lines() {
  static const std::vector<LineRow> lines = {
      {65.0, 0.25, 5.0, 211.0},
      {70.0, 0.5, 5.0, 211.0},
      {75.0, 1.0, 5.0, 211.0},
  };
  return lines;
}

const std::vector<Patch>& GreyPatches() {
  static const std::vector<Patch> patches = [] {
    std::vector<Patch> p;
    for (int i = 0; i < 10; ++i) {
      uint8_t v = static_cast<uint8_t>(25 * i);
      p.push_back(Patch{Cell(i, 83.0, 97.0), {v, v, v}, "grey"});
    }
    return p;
  }();
  return patches;
}

const std::vector<Patch>& ColourPatches() {
  static const std::vector<Patch> patches = {
      {Cell(0, 103.0, 117.0), {255, 0, 0}, "red"},
      {Cell(1, 103.0, 117.0), {0, 255, 0}, "green"},
      {Cell(2, 103.0, 117.0), {0, 0, 255}, "blue"},
      {Cell(3, 103.0, 117.0), {0, 255, 255}, "cyan"},
      {Cell(4, 103.0, 117.0), {255, 0, 255}, "magenta"},
      {Cell(5, 103.0, 117.0), {255, 255, 0}, "yellow"},
  };
  return patches;
}

const std::vector<BarGroup>& BarGroups() {
  static const std::vector<BarGroup> groups = {
      {Cell(0, 123.0, 137.0), 2.0, true},  {Cell(1, 123.0, 137.0), 1.0, true},
      {Cell(2, 123.0, 137.0), 0.5, true},  {Cell(3, 123.0, 137.0), 2.0, false},
      {Cell(4, 123.0, 137.0), 1.0, false}, {Cell(5, 123.0, 137.0), 0.5, false},
  };
  return groups;
}

TestChart::TestChart() {
  auto add = [this](const Box& b, const uint8_t rgb[3]) {
    Rect r{ToPixel(b.left), ToPixel(b.top), ToPixel(b.right), ToPixel(b.bottom), {}};
    std::memcpy(r.rgb, rgb, 3);
    r.x0 = std::max(r.x0, 0);
    r.y0 = std::max(r.y0, 0);
    r.x1 = std::min(r.x1, kWidth);
    r.y1 = std::min(r.y1, kHeight);
    if (r.x0 < r.x1 && r.y0 < r.y1) rects_.push_back(r);
  };
  const uint8_t ink[3] = {kInkValue, kInkValue, kInkValue};
  for (const Point& m : Marks()) {
    add(Box{m.x - kMarkArm, m.y - kMarkStroke / 2, m.x + kMarkArm, m.y + kMarkStroke / 2}, ink);
    add(Box{m.x - kMarkStroke / 2, m.y - kMarkArm, m.x + kMarkStroke / 2, m.y + kMarkArm}, ink);
  }
  for (const Box& s : MarkerStrokes()) add(s, ink);
  for (const LineRow& l : Lines())
    add(Box{l.left, l.centre - l.thickness / 2, l.right, l.centre + l.thickness / 2}, ink);
  for (const Patch& p : GreyPatches()) add(p.box, p.value);
  for (const Patch& p : ColourPatches()) add(p.box, p.value);
  for (const BarGroup& g : BarGroups()) {
    double extent = g.vertical ? g.box.right - g.box.left : g.box.bottom - g.box.top;
    for (double at = 0; at + g.period / 2 <= extent + 1e-9; at += g.period) {
      if (g.vertical)
        add(Box{g.box.left + at, g.box.top, g.box.left + at + g.period / 2, g.box.bottom}, ink);
      else
        add(Box{g.box.left, g.box.top + at, g.box.right, g.box.top + at + g.period / 2}, ink);
    }
  }
}

void TestChart::row(int row, int count, uint8_t* red, uint8_t* green, uint8_t* blue) const {
  std::memset(red, kPaperValue, count);
  std::memset(green, kPaperValue, count);
  std::memset(blue, kPaperValue, count);
  if (row < 0 || row >= kHeight) return;
  for (const Rect& r : rects_) {
    if (row < r.y0 || row >= r.y1) continue;
    int x0 = std::min(r.x0, count), x1 = std::min(r.x1, count);
    if (x0 >= x1) continue;
    std::memset(red + x0, r.rgb[0], x1 - x0);
    std::memset(green + x0, r.rgb[1], x1 - x0);
    std::memset(blue + x0, r.rgb[2], x1 - x0);
  }
}

std::vector<uint8_t> RenderChart() {
  TestChart chart;
  std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  std::vector<uint8_t> r(kWidth), g(kWidth), b(kWidth);
  for (int y = 0; y < kHeight; ++y) {
    chart.row(y, kWidth, r.data(), g.data(), b.data());
    uint8_t* dst = rgb.data() + static_cast<size_t>(y) * kWidth * 3;
    for (int x = 0; x < kWidth; ++x) {
      dst[3 * x] = r[x];
      dst[3 * x + 1] = g[x];
      dst[3 * x + 2] = b[x];
    }
  }
  return rgb;
}

}  // namespace chart
}  // namespace vscan
