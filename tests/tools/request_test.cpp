// The scan request lumetra-scan hands the driver, and the turning of delivered lines into
// image rows (line art above all, whose lines lead with bits that hold no pixel).
#include <gtest/gtest.h>

#include <vector>

#include "tools/scan_request.h"

using lumetra::Channel;
using lumetra::Options;
using lumetra::ScanMode;
using lumetra::ScanPlan;

namespace {

Options Window(ScanMode mode, int dpi, double left, double top, double width, double height) {
  Options o;
  o.mode = mode;
  o.resolution = dpi;
  o.leftMm = left;
  o.topMm = top;
  o.widthMm = width;
  o.heightMm = height;
  return o;
}

TEST(ScanRequest, LineLengthAndCountFollowModeAndResolution) {
  struct Case {
    ScanMode mode;
    int dpi;
    double widthMm, heightMm;
    uint32_t pixels, lines, bytesPerLine, rowBytes;
    uint16_t modeCode;
  };
  const Case cases[] = {
      // Full glass: 8.5 x 11.7 inch.
      {ScanMode::Color, 300, 215.9, 297.18, 2550, 3510, 7650, 7650, 1},
      {ScanMode::Gray, 600, 215.9, 297.18, 5100, 7020, 5100, 5100, 2},
      {ScanMode::Lineart, 100, 215.9, 297.18, 850, 1170, 108, 107, 3},
      // One inch at a resolution the motor does not run at.
      {ScanMode::Color, 175, 25.4, 25.4, 175, 175, 525, 525, 1},
      // Line art: n pixels need (n + 14) / 8 bytes, since the driver fills b bytes with
      // 8b - 7 pixels.
      {ScanMode::Lineart, 300, 25.4 / 300 * 1, 1, 1, 12, 1, 1, 3},
      {ScanMode::Lineart, 300, 25.4 / 300 * 8, 1, 8, 12, 2, 1, 3},
      {ScanMode::Lineart, 300, 25.4 / 300 * 9, 1, 9, 12, 2, 2, 3},
      {ScanMode::Lineart, 300, 25.4 / 300 * 10, 1, 10, 12, 3, 2, 3},
      // A window narrower than a pixel still scans one.
      {ScanMode::Gray, 100, 0.1, 0.1, 1, 1, 1, 1, 2},
  };
  for (const auto& c : cases) {
    ScanPlan p = lumetra::PlanScan(Window(c.mode, c.dpi, 0, 0, c.widthMm, c.heightMm));
    SCOPED_TRACE(testing::Message() << "mode " << c.modeCode << " " << c.dpi << " dpi " << c.widthMm << " mm");
    EXPECT_EQ(p.pixels, c.pixels);
    EXPECT_EQ(p.lines, c.lines);
    EXPECT_EQ(p.request.bytesPerLine, c.bytesPerLine);
    EXPECT_EQ(p.lineBytes, c.bytesPerLine);
    EXPECT_EQ(p.rowBytes, c.rowBytes);
    EXPECT_EQ(p.request.mode, c.modeCode);
    EXPECT_EQ(p.request.resolution, c.dpi);
    // Enough scanned pixels for the image in every mode.
    uint32_t delivered = c.modeCode == 1 ? p.lineBytes / 3 : c.modeCode == 2 ? p.lineBytes : 8 * p.lineBytes - 7;
    EXPECT_GE(delivered, p.pixels);
  }
}

TEST(ScanRequest, WindowInThreeHundredthsOfAnInch) {
  ScanPlan p = lumetra::PlanScan(Window(ScanMode::Color, 150, 25.4, 10, 100, 287.18));
  EXPECT_EQ(p.request.left, 300u);
  EXPECT_EQ(p.request.top, 118u);    // 10 mm = 118.1
  EXPECT_EQ(p.request.width, 1181u);  // 100 mm = 1181.1
  EXPECT_EQ(p.request.length, 3392u);
  ScanPlan full = lumetra::PlanScan(Window(ScanMode::Color, 150, 0, 0, 215.9, 297.18));
  EXPECT_EQ(full.request.width, 2550u);
  EXPECT_EQ(full.request.length, 3510u);
}

TEST(ScanRequest, IdentityCurvesRedGreenBlueAndTheChosenChannel) {
  Options o = Window(ScanMode::Gray, 300, 0, 0, 10, 10);
  const std::pair<Channel, uint8_t> channels[] = {{Channel::Red, 1}, {Channel::Green, 2}, {Channel::Blue, 3}};
  for (auto [channel, code] : channels) {
    o.channel = channel;
    ScanPlan p = lumetra::PlanScan(o);
    EXPECT_EQ(p.request.colourChannel, code);
    EXPECT_EQ(p.request.colourOrder, 1u);
    EXPECT_EQ(p.request.transferOption, 0u);
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 256; ++i) ASSERT_EQ(p.request.toneCurves[c][i], i) << "curve " << c;
    for (uint8_t b : p.request.reservedBlock) ASSERT_EQ(b, 0);
  }
}

TEST(ScanRequest, LineArtRowKeepsItsPixelsAndClearsThePadding) {
  // 10 pixels: the driver delivers 3 bytes holding 17 pixels, left-aligned.
  ScanPlan p = lumetra::PlanScan(Window(ScanMode::Lineart, 300, 0, 0, 25.4 / 300 * 10, 1));
  ASSERT_EQ(p.lineBytes, 3u);
  ASSERT_EQ(p.rowBytes, 2u);
  const uint8_t line[3] = {0xB2, 0xFF, 0xFF};  // 10110010 11111111 ...
  uint8_t row[2] = {0xAA, 0xAA};
  lumetra::ConvertLine(p, line, row);
  EXPECT_EQ(row[0], 0xB2);
  EXPECT_EQ(row[1], 0xC0);  // pixels 8 and 9, then white padding
}

TEST(ScanRequest, ColourAndGreyLinesPassUnchanged) {
  ScanPlan p = lumetra::PlanScan(Window(ScanMode::Color, 300, 0, 0, 25.4 / 300 * 4, 1));
  std::vector<uint8_t> line(p.lineBytes), row(p.rowBytes, 0xEE);
  for (size_t i = 0; i < line.size(); ++i) line[i] = static_cast<uint8_t>(i * 7 + 1);
  lumetra::ConvertLine(p, line.data(), row.data());
  EXPECT_EQ(row, line);
}

}  // namespace
