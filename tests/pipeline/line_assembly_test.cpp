// Line assembly: colour rows brought together from ring slots the row spacing apart, the
// mirror, the colour order, the curves each mode maps through, line-art packing, and a
// failed fetch in the middle of a run of lines.
#include <random>

#include "tests/pipeline/stream_fixture.h"

namespace {

constexpr uint32_t kChunk = 61440;

class AssemblyTest : public StreamTest {
 protected:
  void SetUp() override {
    StreamTest::SetUp();
    for (int v = 0; v < 256; ++v) {
      for (int c = 0; c < 3; ++c) workingToneCurves[c][v] = static_cast<uint8_t>(v);
    }
  }
};

// A colour stream whose every sample of line i is i (the line's index counted from the
// first line the ring keeps).
std::vector<uint8_t> LinesCarryingTheirIndex(uint32_t lines, uint32_t pixels) {
  std::vector<uint8_t> s;
  for (uint32_t i = 0; i < lines; ++i) s.insert(s.end(), 3 * pixels, static_cast<uint8_t>(i));
  return s;
}

TEST_F(AssemblyTest, ColourRowsAreTakenFromLinesTheRowSpacingApart) {
  struct Case {
    uint16_t resolution;
    uint32_t ring;
  } cases[] = {{600, 9}, {400, 9}, {301, 9}, {300, 5}, {200, 5}, {151, 5}, {150, 3}, {100, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.resolution);
    const uint32_t pixels = 2, primed = c.ring - 1, lines = 3 * c.ring;
    Stream(LinesCarryingTheirIndex(primed + lines, pixels), kChunk, 0);
    UseLine(0x01, pixels, 3 * pixels, c.resolution);
    chipSetup.scanFlags = kFlagColourOrder;
    // What scan set-up leaves: the first ring-size-less-one lines in slots 0, 1, ...
    for (uint32_t slot = 0; slot < primed; ++slot) ASSERT_EQ(FetchLine(slot), 1);
    nextSlot = primed;

    std::vector<uint8_t> out(lines * 3 * pixels);
    ASSERT_EQ(AssembleLines(out.data(), lines), kStepOk);

    // Red from the newest line, green (ring - 1) / 2 lines older, blue ring - 1 older.
    for (uint32_t k = 0; k < lines; ++k) {
      for (uint32_t p = 0; p < pixels; ++p) {
        const uint8_t* px = &out[(k * pixels + p) * 3];
        EXPECT_EQ(px[0], k + primed) << "line " << k;
        EXPECT_EQ(px[1], k + primed / 2) << "line " << k;
        EXPECT_EQ(px[2], k) << "line " << k;
      }
    }
    EXPECT_EQ(nextSlot, primed);  // three times round the ring
    ReleaseTransferBuffer();
  }
}

// One line of three pixels: red samples 10, 11, 12, green 20.., blue 30.., each curve
// adding its own amount, so every output byte tells its sample, plane and curve.
TEST_F(AssemblyTest, LinesAreMirroredAndMappedThroughTheirModesCurves) {
  for (int v = 0; v < 256; ++v) {
    workingToneCurves[0][v] = static_cast<uint8_t>(v + 100);
    workingToneCurves[1][v] = static_cast<uint8_t>(v + 150);
    workingToneCurves[2][v] = static_cast<uint8_t>(v + 200);
  }
  const std::vector<uint8_t> colourLine = {10, 11, 12, 20, 21, 22, 30, 31, 32};
  struct Case {
    const char* name;
    uint8_t modeCode;
    uint16_t scanFlags;
    std::vector<uint8_t> expected;
  } cases[] = {
      // Red and green through the first curve, blue through the third; the second unused.
      {"colour, red first", 0x01, kFlagColourOrder, {112, 122, 232, 111, 121, 231, 110, 120, 230}},
      {"colour, blue first", 0x01, 0, {232, 122, 112, 231, 121, 111, 230, 120, 110}},
      {"colour, other flags ignored", 0x01, 0x03 | kFlagColourOrder, {112, 122, 232, 111, 121, 231, 110, 120, 230}},
      // Grey maps through the second curve only.
      {"grey", 0x42, kFlagColourOrder, {162, 161, 160}},
      {"grey, code 4", 0x04, 0, {162, 161, 160}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Three copies of the line, so that every slot the 150 dpi ring reads holds it.
    std::vector<uint8_t> stream;
    for (int i = 0; i < 3; ++i) stream.insert(stream.end(), colourLine.begin(), colourLine.end());
    Stream(stream, kChunk, 0);
    bool colour = c.modeCode == 0x01;
    UseLine(c.modeCode, 3, colour ? 9 : 3, 150);
    chipSetup.scanFlags = c.scanFlags;
    if (colour) {
      ASSERT_EQ(FetchLine(0), 1);
      ASSERT_EQ(FetchLine(1), 1);
      nextSlot = 2;
    }
    std::vector<uint8_t> out(c.expected.size() + 4, 0xA5);
    ASSERT_EQ(AssembleLines(out.data(), 1), kStepOk);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + c.expected.size()), c.expected);
    EXPECT_EQ(out[c.expected.size()], 0xA5) << "wrote past the line";
    ReleaseTransferBuffer();
  }
}

// Pixel q of the chip's packed line: bit 0x80 of its first byte is pixel 0.
int StreamPixel(const std::vector<uint8_t>& packed, int q) { return (packed[q / 8] >> (7 - q % 8)) & 1; }

TEST_F(AssemblyTest, LineArtIsMirroredPixelForPixelWithThePaddingAtTheEnd) {
  std::mt19937 random(5170);
  for (int pixels : {1, 7, 8, 9, 15, 16, 17, 73, 5280}) {
    SCOPED_TRACE(pixels);
    int bytes = (pixels + 7) / 8;
    std::vector<uint8_t> packed(bytes);
    for (auto& b : packed) b = static_cast<uint8_t>(random());
    Stream(packed, kChunk, 0);
    UseLine(0x48, pixels, bytes);

    std::vector<uint8_t> out(bytes + 1, 0xA5);
    ASSERT_EQ(AssembleLines(out.data(), 1), kStepOk);
    for (int p = 0; p < pixels; ++p) ASSERT_EQ((out[p / 8] >> (7 - p % 8)) & 1, StreamPixel(packed, pixels - 1 - p)) << p;
    for (int p = pixels; p < 8 * bytes; ++p) ASSERT_EQ((out[p / 8] >> (7 - p % 8)) & 1, 0) << "padding bit " << p;
    EXPECT_EQ(out[bytes], 0xA5) << "wrote past the line";
    ReleaseTransferBuffer();
  }
}

TEST_F(AssemblyTest, LineArtPaddingBitsOfTheChipDoNotLeadTheLine) {
  // Nine pixels: 0 and 1 black, 8 black; the chip's last byte carries junk in its seven
  // unused bits.
  Stream({0xC0, 0xFF}, kChunk, 0);
  UseLine(0x48, 9, 2);
  uint8_t out[2] = {};
  ASSERT_EQ(AssembleLines(out, 1), kStepOk);
  EXPECT_EQ(out[0], 0x81);  // pixels 0 and 7: the window's pixels 8 and 1
  EXPECT_EQ(out[1], 0x80);  // pixel 8: the window's pixel 0
}

TEST_F(AssemblyTest, EmptyRequestsAndEmptyLines) {
  Stream(LinesCarryingTheirIndex(4, 2), kChunk, 0);
  UseLine(0x01, 2, 6, 300);
  nextSlot = 4;
  uint8_t out[8];
  std::fill(out, out + 8, 0xA5);

  // No lines: nothing read, nothing moved.
  EXPECT_EQ(AssembleLines(out, 0), kStepOk);
  EXPECT_EQ(transferBuffer.position, 0u);
  EXPECT_EQ(nextSlot, 4u);

  // Lines of no pixels are still taken from the ring in turn, and write nothing.
  chipSetup.linePixels = 0;
  EXPECT_EQ(AssembleLines(out, 3), kStepOk);
  EXPECT_EQ(nextSlot, 2u);
  // An unknown line kind is taken from the stream and dropped.
  UseLine(0x00, 2, 2, 300);
  EXPECT_EQ(AssembleLines(out, 2), kStepOk);
  EXPECT_EQ(transferBuffer.position, 4u);
  EXPECT_EQ(nextSlot, 2u);
  for (uint8_t b : out) EXPECT_EQ(b, 0xA5);
}

TEST_F(AssemblyTest, FailedFetchOnTheThirdOfFiveLinesLeavesTwoLines) {
  RefillsFrom(Counting(kChunk));
  // The chunk holds exactly two lines; the refill for the third fails.
  const uint32_t pixels = 4, lineBytes = 3 * pixels;
  Stream(LinesCarryingTheirIndex(2, pixels), 2 * lineBytes, 0);
  UseLine(0x01, pixels, lineBytes, 150);
  chipSetup.scanFlags = kFlagColourOrder;
  nextSlot = 2;
  scanner().failAt(vscan::Op::RawRead, 0);

  std::vector<uint8_t> out(5 * lineBytes, 0xA5);
  EXPECT_EQ(AssembleLines(out.data(), 5), kStepTransferFailed);
  EXPECT_EQ(out[lineBytes - 3], 0u);  // line 0 red: stream line 0
  EXPECT_EQ(out[2 * lineBytes - 3], 1u);  // line 1 red: stream line 1
  for (uint32_t i = 2 * lineBytes; i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5) << i;
  EXPECT_EQ(nextSlot, 1u);  // advanced for the two lines made, not for the failed one
}

}  // namespace
