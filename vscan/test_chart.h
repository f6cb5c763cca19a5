// The built-in test chart: a 600 dpi page (5100 x 7020 pixels, 8.5 x 11.7 inch) with features
// that show a scan's geometry, orientation, colour-row alignment, levels and resolution. All
// positions are in millimetres from the page's top-left corner (the glass's top-left corner),
// x to the right, y down the page (the direction of travel). Image tests check scans against
// this description; the renderer draws exactly these boxes.
//
//   - a grid of cross marks every 20 mm (x 20..200, y 20..280), left out over the uniform area;
//   - an "F" marker in the top-left cell, so that mirroring and flipping show;
//   - three thin black lines across the page (across the direction of travel), where
//     misaligned colour rows show as coloured fringes;
//   - a grey wedge of ten patches and six colour patches;
//   - bar groups of three periods, vertical and horizontal bars;
//   - a large uniform paper area.
#pragma once

#include <cstdint>
#include <vector>

#include "vscan/document_image.h"

namespace vscan {
namespace chart {

constexpr int kDpi = 600;
constexpr int kWidth = 5100;   // pixels at 600 dpi
constexpr int kHeight = 7020;
constexpr double kMmPerInch = 25.4;
constexpr double kWidthMm = kWidth * kMmPerInch / kDpi;    // 215.9
constexpr double kHeightMm = kHeight * kMmPerInch / kDpi;  // 297.18

constexpr uint8_t kPaperValue = 255;  // reflectance 0.90
constexpr uint8_t kInkValue = 0;      // reflectance 0.01

struct Box {  // millimetres; left/top inclusive, right/bottom exclusive when rendered
  double left, top, right, bottom;
  double centreX() const { return (left + right) / 2; }
  double centreY() const { return (top + bottom) / 2; }
};

struct Point {
  double x, y;
};

struct Patch {
  Box box;
  uint8_t value[3];  // red, green, blue document values
  const char* name;
  double reflectance(int colour) const { return DocumentReflectance(value[colour]); }
};

struct LineRow {  // a black line across the page
  double centre;     // y of its centre
  double thickness;  // along y
  double left, right;
};

struct BarGroup {  // ink bars of half the period, starting with ink at the box's left/top
  Box box;
  double period;
  bool vertical;  // true: vertical bars, alternating along x (horizontal resolution)
};

// Cross marks: two ink strokes, each kMarkStroke wide and 2 x kMarkArm long, centred on
// the mark.
constexpr double kMarkArm = 2.5;
constexpr double kMarkStroke = 0.4;

const std::vector<Point>& Marks();
// The "F": a stem down its left side, a bar along its top and a shorter bar at mid-height.
Box MarkerBox();
const std::vector<Box>& MarkerStrokes();
const std::vector<LineRow>& Lines();
const std::vector<Patch>& GreyPatches();    // darkest first, left to right
const std::vector<Patch>& ColourPatches();  // red, green, blue, cyan, magenta, yellow
const std::vector<BarGroup>& BarGroups();
Box UniformArea();  // paper only

// 600 dpi pixel index of a millimetre coordinate (a box covers [ToPixel(left),
// ToPixel(right)) ).
int ToPixel(double mm);
double ToMm(double pixel);

// The chart as a document: rows rendered on demand from the boxes above.
class TestChart : public Document {
 public:
  TestChart();
  int width() const override { return kWidth; }
  int height() const override { return kHeight; }
  void row(int row, int count, uint8_t* red, uint8_t* green, uint8_t* blue) const override;

 private:
  struct Rect {
    int x0, y0, x1, y1;
    uint8_t rgb[3];
  };
  std::vector<Rect> rects_;  // painted in order over paper
};

// The whole page, 5100 x 7020 x 3 bytes (RGB), rows top to bottom.
std::vector<uint8_t> RenderChart();

}  // namespace chart
}  // namespace vscan
