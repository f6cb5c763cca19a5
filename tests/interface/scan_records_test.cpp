// Filling the library's scan settings from an accepted request: window units, the pixel
// count and finished line length by mode, and the fields carried over unchanged.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/interface/device_state.h"

namespace {

ScanRequest Request(uint16_t mode, uint32_t bytesPerLine) {
  ScanRequest r{};
  r.left = 2550;
  r.top = 3510;
  r.width = 7;
  r.length = 9;
  r.mode = mode;
  r.resolution = 275;
  r.bytesPerLine = bytesPerLine;
  return r;
}

TEST(FillScanSettings, PixelsAndLineBytesByMode) {
  struct Case {
    uint16_t mode;
    uint32_t bytesPerLine, pixels, lineBytes;
  };
  const Case cases[] = {
      {kModeColour, 100, 33, 99},  {kModeColour, 2, 0, 0},    {kModeColour, 15900, 5300, 15900},
      {kModeGrey, 100, 100, 100},  {kModeGrey, 0, 0, 0},
      {kModeLineArt, 10, 73, 10},  {kModeLineArt, 1, 1, 1},   {kModeLineArt, 663, 5297, 663},
      // No byte gives no pixel, not a count wrapped below zero.
      {kModeLineArt, 0, 0, 0},
      // A count past 32 bits is held at the largest whole-byte count that fits.
      {kModeLineArt, 0x20000001u, 0xFFFFFFF8u, 0x1FFFFFFFu},
  };
  for (const Case& c : cases) {
    ScanSettings s;
    std::memset(&s, 0xEE, sizeof s);
    const ScanRequest r = Request(c.mode, c.bytesPerLine);
    FillScanSettings(&r, &s);
    EXPECT_EQ(s.pixelsPerLine, c.pixels) << "mode " << c.mode << " bytes " << c.bytesPerLine;
    EXPECT_EQ(s.outputLineBytes, c.lineBytes) << "mode " << c.mode << " bytes " << c.bytesPerLine;
    EXPECT_EQ(s.mode, c.mode);
  }
}

TEST(FillScanSettings, CopiesAndUnits) {
  ScanRequest r = Request(kModeGrey, 640);
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) r.toneCurves[c][v] = static_cast<uint8_t>(255 - v + c);
  }
  for (int i = 0; i < 64; ++i) r.reservedBlock[i] = static_cast<uint8_t>(i * 3 + 1);
  r.colourChannel = 3;
  r.colourOrder = 1;
  r.transferOption = 9;
  ScanSettings s;
  std::memset(&s, 0xEE, sizeof s);
  FillScanSettings(&r, &s);
  EXPECT_EQ(s.windowLeft, 5100u);
  EXPECT_EQ(s.windowTop, 7020u);
  EXPECT_EQ(s.scanEndLine, 7100u);
  EXPECT_EQ(s.scanResolution, 275);
  EXPECT_EQ(s.resolution, 275);
  EXPECT_EQ(0, std::memcmp(s.toneCurves, r.toneCurves, sizeof r.toneCurves));
  EXPECT_EQ(0, std::memcmp(s.reservedBlock, r.reservedBlock, sizeof r.reservedBlock));
  EXPECT_EQ(s.colourChannel, 3);
  EXPECT_EQ(s.colourOrder, 1u);
  EXPECT_EQ(s.transferOption, 9);
}

}  // namespace
