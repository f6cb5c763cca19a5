// Scan set-up on the virtual scanner: the chip geometry, mode and motor timing a request
// turns into, the priming of the line ring, and what each failure leaves behind.
#include <algorithm>

#include "driver/calibration/calibration.h"
#include "tests/pipeline/stream_fixture.h"

namespace {

// The strip positions the power-on calibration finds on the virtual scanner.
constexpr uint32_t kDarkLine = 233;
constexpr uint32_t kWhiteLine = 149;

struct Request {
  uint16_t mode;
  uint16_t resolution;
  uint32_t pixels;
  uint32_t windowLeft;  // 1/600 inch
  uint32_t windowTop;
  uint8_t colourChannel = 0;
  uint32_t colourOrder = 1;
  uint8_t transferOption = 0;
};

ScanSettings Settings(const Request& r) {
  ScanSettings s{};
  s.windowLeft = r.windowLeft;
  s.windowTop = r.windowTop;
  s.pixelsPerLine = r.pixels;
  s.scanEndLine = kScanEndLine;
  s.mode = r.mode;
  s.scanResolution = s.resolution = r.resolution;
  s.outputLineBytes = r.mode == kModeColour ? 3 * r.pixels : r.mode == kModeGrey ? r.pixels : (r.pixels + 7) / 8;
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) s.toneCurves[c][v] = static_cast<uint8_t>(v);
  }
  s.colourChannel = r.colourChannel;
  s.colourOrder = r.colourOrder;
  s.transferOption = r.transferOption;
  return s;
}

class SetupTest : public StreamTest {
 protected:
  void Open(int variant, uint32_t originLine, uint32_t rightEdgePixel) {
    if (deviceOpen) {
      LD_ResetScanner(0);
      LD_CloseScanner();
    }
    if (scanner().config().variant != variant) {
      vscan::Config config;
      config.variant = variant;
      Reinstall(config);
    }
    ASSERT_EQ(LD_OpenScanner(), 1);
    calibrationPositions = {originLine, kDarkLine, kWhiteLine, rightEdgePixel};
  }
};

struct Expected {
  uint32_t lineStart, lineCount, pixelStart, pixelEnd;
  uint8_t modeCode;
  uint32_t lineBytes, lineBytesAll;
  uint16_t stepPeriod;
  uint8_t fullStep, rampPeriod, rampB;
  uint16_t blockLines, scanFlags;
  uint8_t transferControl;
  uint32_t primedLines;  // 0: not checked (the priming crosses a refill)
  uint32_t nextSlot;     // colour only
};

struct SetupCase {
  const char* name;
  int variant;
  uint32_t originLine, rightEdgePixel;
  Request request;
  Expected expected;
};

TEST_F(SetupTest, RequestsBecomeChipSettings) {
  const SetupCase cases[] = {
      {"colour 600",
       1, 319, 5200, {kModeColour, 600, 100, 0, 0},
       {319, 7100, 5100, 5200, 0x01, 100, 300, 8100, 0, 253, 24, 250, 0x13, 0xA8, 18, 8}},
      {"colour 600, variant 2",
       2, 319, 5200, {kModeColour, 600, 100, 0, 0},
       {319, 7100, 5100, 5200, 0x01, 100, 300, 8100, 0, 253, 24, 250, 0x13, 0xA8, 18, 8}},
      {"colour 300, origin kept, plain transfer",
       1, 1000, 5200, {kModeColour, 300, 100, 0, 0, 0, 1, 1},
       {1000, 7100, 5000, 5200, 0x01, 100, 300, 2700, 1, 84, 48, 250, 0x13, 0x18, 14, 4}},
      {"colour 300, variant 2, blue first",
       2, 1000, 5200, {kModeColour, 300, 100, 0, 0, 0, 0},
       {1000, 7100, 5000, 5200, 0x01, 100, 300, 1350, 0, 42, 48, 250, 0x03, 0xA8, 14, 4}},
      {"colour 299, reduced origin",
       1, 1000, 5200, {kModeColour, 299, 100, 0, 0},
       {875, 7100, 5000, 5200, 0x01, 100, 300, 2700, 1, 84, 48, 250, 0x13, 0xA8, 14, 4}},
      {"colour 200",
       1, 1000, 5200, {kModeColour, 200, 100, 0, 0},
       {875, 7100, 4900, 5200, 0x01, 100, 300, 2700, 1, 84, 48, 250, 0x13, 0xA8, 14, 4}},
      {"colour 150",
       1, 319, 5200, {kModeColour, 150, 100, 0, 0},
       {280, 7100, 4800, 5200, 0x01, 100, 300, 1350, 1, 42, 48, 250, 0x13, 0xA8, 12, 2}},
      {"colour 150, variant 2",
       2, 319, 5200, {kModeColour, 150, 100, 0, 0},
       {280, 7100, 4800, 5200, 0x01, 100, 300, 675, 0, 21, 48, 250, 0x13, 0xA8, 12, 2}},
      {"window at the bottom",
       1, 319, 5200, {kModeColour, 600, 100, 0, 7020},
       {319 + 7020, 80, 5100, 5200, 0x01, 100, 300, 8100, 0, 253, 24, 250, 0x13, 0xA8, 18, 8}},
      {"window past the right edge falls back to 5280",
       1, 319, 5200, {kModeColour, 600, 5100, 200, 0},
       {319, 7100, 180, 5280, 0x01, 5100, 15300, 8100, 0, 253, 24, 17, 0x13, 0xA8, 0, 8}},
      {"window from the right edge",
       1, 319, 5200, {kModeColour, 300, 1275, 100, 0},
       {319, 7100, 2550, 5100, 0x01, 1275, 3825, 2700, 1, 84, 48, 68, 0x13, 0xA8, 14, 4}},
      {"grey 600, 5100 pixels",
       1, 319, 5200, {kModeGrey, 600, 5100, 0, 0},
       {319, 7100, 100, 5200, 0x42, 5100, 5100, 5400, 1, 168, 48, 51, 0x13, 0xA8, 9, 0}},
      {"grey 600, 5100 pixels, variant 2",
       2, 319, 5200, {kModeGrey, 600, 5100, 0, 0},
       {319, 7100, 100, 5200, 0x42, 5100, 5100, 5400, 1, 168, 48, 76, 0x13, 0xA8, 9, 0}},
      {"grey 300, red, 100 pixels",
       2, 319, 5200, {kModeGrey, 300, 100, 0, 0, 1},
       {319, 7100, 5000, 5200, 0x22, 100, 100, 2700, 1, 84, 48, 250, 0x13, 0xA8, 9, 0}},
      {"grey 100, blue",
       1, 319, 5200, {kModeGrey, 100, 100, 0, 0, 3},
       {280, 7100, 4600, 5200, 0x82, 100, 100, 1350, 1, 42, 48, 250, 0x13, 0xA8, 9, 0}},
      {"line art 400",
       1, 319, 5200, {kModeLineArt, 400, 73, 0, 0, 4},
       {319, 7100, 5091, 5200, 0x48, 10, 10, 2700, 0, 84, 48, 250, 0x13, 0xA8, 9, 0}},
      {"line art 300, red",
       1, 319, 5200, {kModeLineArt, 300, 73, 0, 0, 1},
       {319, 7100, 5054, 5200, 0x28, 10, 10, 2700, 1, 84, 48, 250, 0x13, 0xA8, 9, 0}},
      {"line art 150, blue",
       1, 319, 5200, {kModeLineArt, 150, 73, 0, 0, 3},
       {280, 7100, 4908, 5200, 0x88, 10, 10, 1350, 1, 42, 48, 250, 0x13, 0xA8, 9, 0}},
  };
  for (const SetupCase& c : cases) {
    SCOPED_TRACE(c.name);
    Open(c.variant, c.originLine, c.rightEdgePixel);
    ScanSettings settings = Settings(c.request);
    nextSlot = 77;
    ASSERT_EQ(SetupScan(&settings), kStepOk);

    const Expected& e = c.expected;
    EXPECT_EQ(chipSetup.lineStart, e.lineStart);
    EXPECT_EQ(chipSetup.lineCount, e.lineCount);
    EXPECT_EQ(chipSetup.pixelStart, e.pixelStart);
    EXPECT_EQ(chipSetup.pixelEnd, e.pixelEnd);
    EXPECT_EQ(chipSetup.linePixels, c.request.pixels);
    EXPECT_EQ(chipSetup.resolution, c.request.resolution);
    EXPECT_EQ(chipSetup.linePeriod, 5400);
    EXPECT_EQ(chipSetup.modeCode, e.modeCode);
    EXPECT_EQ(chipSetup.lineBytes, e.lineBytes);
    EXPECT_EQ(chipSetup.lineBytesAll, e.lineBytesAll);
    EXPECT_EQ(chipSetup.stepPeriod, e.stepPeriod);
    EXPECT_EQ(chipSetup.fullStep, e.fullStep);
    EXPECT_EQ(chipSetup.motorRampEnable, 1u);
    EXPECT_EQ(chipSetup.motorRampPeriod, e.rampPeriod);
    EXPECT_EQ(chipSetup.motorRampA, 21);
    EXPECT_EQ(chipSetup.motorRampB, e.rampB);
    EXPECT_EQ(chipSetup.blockLines, e.blockLines);
    EXPECT_EQ(chipSetup.scanFlags, e.scanFlags);
    EXPECT_EQ(transferControl, e.transferControl);
    EXPECT_TRUE(scanner().transferRunning());
    ASSERT_NE(transferBuffer.buffer, nullptr);
    EXPECT_EQ(transferBuffer.chunkSize, 61440u);
    if (e.primedLines) {
      EXPECT_EQ(transferBuffer.position, e.primedLines * e.lineBytesAll);
    }
    EXPECT_EQ(nextSlot, c.request.mode == kModeColour ? e.nextSlot : 77u);
    EXPECT_EQ(0, std::memcmp(workingToneCurves, settings.toneCurves, sizeof workingToneCurves));
  }
}

TEST_F(SetupTest, LineArtThresholdIsWrittenBeforeTheRegisterBlock) {
  Open(1, 319, 5200);
  ScanSettings settings = Settings({kModeLineArt, 400, 73, 0, 0});
  scanner().clearTrace();
  ASSERT_EQ(SetupScan(&settings), kStepOk);
  std::vector<vscan::RegisterWrite> writes = scanner().registerWrites();
  auto high = std::find(writes.begin(), writes.end(), vscan::RegisterWrite{22, 0x70});
  ASSERT_NE(high, writes.end());
  ASSERT_NE(high + 1, writes.end());
  EXPECT_EQ(high[1], (vscan::RegisterWrite{21, 0x90}));
  // The scan's block follows, with 400 dpi in register 12.
  auto block = std::find(high, writes.end(), vscan::RegisterWrite{12, 0x90});
  EXPECT_NE(block, writes.end());
}

// Allocations and bulk reads of one successful set-up, counted on the virtual scanner, to
// place a fault at a given step of the next.
struct Counts {
  uint64_t allocations, reads;
};

class SetupFailureTest : public SetupTest {
 protected:
  ScanSettings settings_ = Settings({kModeColour, 600, 100, 0, 0});

  Counts CountOneSetup() {
    uint64_t reads = scanner().count(vscan::Op::RawRead);
    host::ResetMemoryCounters();
    EXPECT_EQ(SetupScan(&settings_), kStepOk);
    Counts c{host::GlobalAllocCalls(), scanner().count(vscan::Op::RawRead) - reads};
    StopScanTransfer();
    return c;
  }
};

TEST_F(SetupFailureTest, EachFailureLeavesWhatItShould) {
  Open(1, 319, 5200);
  Counts counts = CountOneSetup();

  {
    SCOPED_TRACE("shading pass fails");
    scanner().failAt(vscan::Op::RawRead, 0);
    EXPECT_EQ(SetupScan(&settings_), kStepTransferFailed);
    EXPECT_FALSE(scanner().transferRunning());
    EXPECT_EQ(transferBuffer.buffer, nullptr);
    EXPECT_EQ(chipSetup.lineStart, kWhiteLine);  // the chip was left as the pass set it
    scanner().clearFaults();
  }
  {
    SCOPED_TRACE("correction table cannot be built");
    // The table's buffer is the allocation just before the stream buffer.
    host::FailGlobalAllocNumber(counts.allocations - 1);
    EXPECT_EQ(SetupScan(&settings_), kStepOk);
    EXPECT_EQ(chipSetup.scanFlags, kFlagColourOrder);
    EXPECT_EQ(scanner().reg(1) & 0x88, 0);
    EXPECT_TRUE(scanner().transferRunning());
    host::ClearMemoryFaults();
    StopScanTransfer();
  }
  {
    SCOPED_TRACE("no stream buffer");
    host::FailGlobalAllocNumber(counts.allocations);
    EXPECT_EQ(SetupScan(&settings_), kStepOutOfMemory);
    EXPECT_EQ(transferBuffer.buffer, nullptr);
    EXPECT_FALSE(scanner().transferRunning());
    host::ClearMemoryFaults();
  }
  {
    SCOPED_TRACE("priming read fails");
    // The priming of a 100-pixel line takes one bulk read, the last of the set-up.
    scanner().failAt(vscan::Op::RawRead, counts.reads - 1);
    EXPECT_EQ(SetupScan(&settings_), kStepTransferFailed);
    EXPECT_EQ(transferBuffer.buffer, nullptr);
    EXPECT_TRUE(scanner().transferRunning());  // stopped by the application's reset
    EXPECT_EQ(scanPrimed, 0);
    scanner().clearFaults();
  }
  StopScanTransfer();
  EXPECT_FALSE(scanner().transferRunning());
}

}  // namespace
