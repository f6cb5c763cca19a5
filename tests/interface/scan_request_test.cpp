// LD_SetScanParameter: the range checks and the refusals of requests that cannot be
// scanned, what a refused request leaves alone, the status of each failing step, the line
// buffer at native and other resolutions, and a request made while a scan still runs.
#include <cstring>
#include <functional>

#include "tests/interface/scan_fixture.h"

namespace {

struct CheckCase {
  const char* name;
  std::function<void(ScanRequest&)> change;
  bool accepted;
};

class RequestTest : public ScanTest {};

TEST_F(RequestTest, RangeChecksAndScannableWindows) {
  const CheckCase cases[] = {
      {"left 2550", [](ScanRequest& r) { r.left = 2550; }, true},
      {"left 2551", [](ScanRequest& r) { r.left = 2551; }, false},
      {"top 3510", [](ScanRequest& r) { r.top = 3510; }, true},
      {"top 3511", [](ScanRequest& r) { r.top = 3511; }, false},
      {"top wrapping", [](ScanRequest& r) { r.top = 0xFFFFFFFF; }, false},
      {"width 2550", [](ScanRequest& r) { r.width = 2550; }, true},
      {"width 2551", [](ScanRequest& r) { r.width = 2551; }, false},
      {"length 3510", [](ScanRequest& r) { r.length = 3510; }, true},
      {"length 3511", [](ScanRequest& r) { r.length = 3511; }, false},
      {"mode 0", [](ScanRequest& r) { r.mode = 0; }, false},
      {"mode 4", [](ScanRequest& r) { r.mode = 4; }, false},
      {"resolution 75", [](ScanRequest& r) { r.resolution = 75; }, false},
      {"resolution 99", [](ScanRequest& r) { r.resolution = 99; }, false},
      {"resolution 100", [](ScanRequest& r) { r.resolution = 100; }, true},
      {"resolution 600", [](ScanRequest& r) { r.resolution = 600; }, true},
      {"resolution 601", [](ScanRequest& r) { r.resolution = 601; }, false},
      {"grey, channel 3", [](ScanRequest& r) { r.mode = kModeGrey; r.colourChannel = 3; }, true},
      {"grey, channel 4", [](ScanRequest& r) { r.mode = kModeGrey; r.colourChannel = 4; }, false},
      {"line art, channel 4", [](ScanRequest& r) { r.mode = kModeLineArt; r.bytesPerLine = 10; r.colourChannel = 4; }, true},
      {"colour order 0", [](ScanRequest& r) { r.colourOrder = 0; }, true},
      {"colour order 2", [](ScanRequest& r) { r.colourOrder = 2; }, false},
      {"grey, colour order 2", [](ScanRequest& r) { r.mode = kModeGrey; r.colourOrder = 2; }, false},
      // Lines that give no pixel, or more than a decoded line slot holds.
      {"colour, 2 bytes", [](ScanRequest& r) { r.bytesPerLine = 2; }, false},
      {"colour, 3 bytes", [](ScanRequest& r) { r.bytesPerLine = 3; }, true},
      {"grey, 0 bytes", [](ScanRequest& r) { r.mode = kModeGrey; r.bytesPerLine = 0; }, false},
      {"line art, 0 bytes", [](ScanRequest& r) { r.mode = kModeLineArt; r.bytesPerLine = 0; }, false},
      {"line art, 1 byte", [](ScanRequest& r) { r.mode = kModeLineArt; r.bytesPerLine = 1; }, true},
      {"colour, 2^32 - 1 bytes", [](ScanRequest& r) { r.bytesPerLine = 0xFFFFFFFF; }, false},
      {"line art, 2^29 bytes", [](ScanRequest& r) { r.mode = kModeLineArt; r.bytesPerLine = 1u << 29; }, false},
      {"line art, 5301 bytes", [](ScanRequest& r) { r.mode = kModeLineArt; r.bytesPerLine = 5301; }, false},
      // The window's span at 600 dpi within the usable 5280 sensor pixels.
      {"colour 600, 5280 pixels", [](ScanRequest& r) { r.resolution = 600; r.bytesPerLine = 3 * 5280; }, true},
      {"colour 600, 5281 pixels", [](ScanRequest& r) { r.resolution = 600; r.bytesPerLine = 3 * 5281; }, false},
      {"colour 600, 5300 pixels", [](ScanRequest& r) { r.resolution = 600; r.bytesPerLine = 3 * 5300; }, false},
      {"grey 100, 880 pixels", [](ScanRequest& r) { r.mode = kModeGrey; r.resolution = 100; r.bytesPerLine = 880; }, true},
      {"grey 100, 881 pixels", [](ScanRequest& r) { r.mode = kModeGrey; r.resolution = 100; r.bytesPerLine = 881; }, false},
      {"line art 600, 660 bytes", [](ScanRequest& r) { r.mode = kModeLineArt; r.resolution = 600; r.bytesPerLine = 660; }, true},
      {"line art 600, 661 bytes", [](ScanRequest& r) { r.mode = kModeLineArt; r.resolution = 600; r.bytesPerLine = 661; }, false},
  };
  OpenCalibrated();
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScanRequest request = Colour(300);
    c.change(request);
    ScanSettings before = scanSettings;
    scanner().clearTrace();

    EXPECT_EQ(LD_SetScanParameter(&request), c.accepted ? 1 : 0);
    EXPECT_EQ(ReadStatus(), 0);
    if (c.accepted) {
      EXPECT_TRUE(scanner().transferRunning());
      EXPECT_EQ(scanSettings.resolution, request.resolution);
    } else {
      EXPECT_TRUE(scanner().trace().empty()) << "a refused request reached the scanner";
      EXPECT_EQ(0, std::memcmp(&before, &scanSettings, sizeof before)) << "a refused request changed the settings";
    }
  }
}

TEST_F(RequestTest, WindowMustLieLeftOfTheCalibratedRightEdge) {
  struct Case {
    uint32_t rightEdgePixel;
    uint32_t left;  // 1/300 inch
    bool accepted;
  } cases[] = {{5000, 2500, true}, {5000, 2501, false}, {5200, 0, true}, {0, 0, false}, {0, 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "edge " << c.rightEdgePixel << ", left " << c.left);
    OpenCalibrated(c.rightEdgePixel);
    ScanRequest request = Colour(300);
    request.left = c.left;
    EXPECT_EQ(LD_SetScanParameter(&request), c.accepted ? 1 : 0);
    EXPECT_EQ(ReadStatus(), 0);
    EXPECT_EQ(scanner().transferRunning(), c.accepted);
    LD_ResetScanner(0);
    LD_CloseScanner();
  }
}

TEST_F(RequestTest, RefusedRequestLeavesTheRunningScanAsItWas) {
  OpenCalibrated();
  ScanRequest first = Colour(200);
  ASSERT_EQ(LD_SetScanParameter(&first), 1);
  std::vector<uint8_t> lines(3 * 300);
  ASSERT_EQ(LD_ReadScan(lines.data(), 3), 1);
  const uint8_t* buffer = transferBuffer.buffer;
  uint32_t position = transferBuffer.position;
  uint8_t* held = lineBuffer;
  ScanSettings before = scanSettings;

  ScanRequest refused = Colour(601);
  EXPECT_EQ(LD_SetScanParameter(&refused), 0);
  refused = Colour(300, 6000);
  EXPECT_EQ(LD_SetScanParameter(&refused), 0);
  EXPECT_EQ(LD_SetScanParameter(nullptr), 0);
  EXPECT_EQ(ReadStatus(), 0);

  EXPECT_EQ(transferBuffer.buffer, buffer);
  EXPECT_EQ(transferBuffer.position, position);
  EXPECT_EQ(lineBuffer, held);
  EXPECT_EQ(0, std::memcmp(&before, &scanSettings, sizeof before));
  EXPECT_TRUE(scanner().transferRunning());
  EXPECT_EQ(LD_ReadScan(lines.data(), 3), 1);
}

TEST_F(RequestTest, NoDeviceOpen) {
  ScanRequest request = Colour(300);
  EXPECT_EQ(LD_SetScanParameter(&request), 0);
  EXPECT_EQ(ReadStatus(), 1);
  EXPECT_EQ(LD_SetScanParameter(nullptr), 0);
  EXPECT_EQ(ReadStatus(), 1);
}

TEST_F(RequestTest, LineBufferOnlyAtResolutionsTheMotorDoesNotRunAt) {
  OpenCalibrated();
  struct Case {
    uint16_t resolution;
    bool lineBuffer;
  } cases[] = {{150, false}, {300, false}, {600, false}, {100, true}, {200, true}, {599, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.resolution);
    ScanRequest request = Colour(c.resolution, 50);
    rowAccumulator = 123;
    ASSERT_EQ(LD_SetScanParameter(&request), 1);
    EXPECT_EQ(IsNativeResolution(), c.lineBuffer ? 0 : 1);
    EXPECT_EQ(lineBuffer != nullptr, c.lineBuffer);
    EXPECT_EQ(host::LiveGlobalBlocks(), c.lineBuffer ? 2u : 1u);
    EXPECT_EQ(host::LiveGlobalBytes(), 0x100000u + (c.lineBuffer ? 150u : 0u));
    if (c.lineBuffer) {
      EXPECT_EQ(rowAccumulator, 0);
    }
    EXPECT_EQ(LD_ResetScanner(0), 1);
    EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
  }
}

// Each earlier state is followed by a second accepted request without a reset in between.
TEST_F(RequestTest, RequestWhileAScanRunsEndsItFirst) {
  struct Case {
    const char* name;
    uint16_t firstResolution;
    bool failPriming;
  } cases[] = {
      {"running scan at 200 dpi", 200, false},
      {"running scan at 300 dpi", 300, false},
      {"scan whose priming failed", 200, true},
  };
  OpenCalibrated();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScanRequest first = Colour(c.firstResolution);
    if (c.failPriming) {
      // The priming of a 100-pixel line is the set-up's last bulk read.
      uint64_t reads = scanner().count(vscan::Op::RawRead);
      ASSERT_EQ(LD_SetScanParameter(&first), 1);
      reads = scanner().count(vscan::Op::RawRead) - reads;
      LD_ResetScanner(0);
      scanner().failAt(vscan::Op::RawRead, reads - 1);
      EXPECT_EQ(LD_SetScanParameter(&first), 0);
      EXPECT_EQ(ReadStatus(), 5);
      scanner().clearFaults();
    } else {
      ASSERT_EQ(LD_SetScanParameter(&first), 1);
    }
    ASSERT_TRUE(scanner().transferRunning());
    scanner().clearTrace();

    ScanRequest second = Colour(175, 80);
    ASSERT_EQ(LD_SetScanParameter(&second), 1);
    // One stream buffer and one line buffer, the new scan's.
    EXPECT_EQ(host::LiveGlobalBlocks(), 2u);
    EXPECT_EQ(host::LiveGlobalBytes(), 0x100000u + 240u);
    // The old transfer was stopped before anything else reached the chip.
    std::vector<vscan::RegisterWrite> writes = scanner().registerWrites();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front().reg, 2);
    EXPECT_EQ(writes.front().value & 0x08, 0);
    std::vector<uint8_t> lines(4 * 240);
    EXPECT_EQ(LD_ReadScan(lines.data(), 4), 1);
    LD_ResetScanner(0);
  }
}

// A power-on calibration reprograms the chip and takes the stream buffer's slot: asked for
// while a scan runs, it ends that scan first, and the scan can no longer be read.
TEST_F(RequestTest, CalibrationWhileAScanRunsEndsItFirst) {
  OpenCalibrated();
  ScanRequest first = Colour(200);
  ASSERT_EQ(LD_SetScanParameter(&first), 1);
  ASSERT_TRUE(scanner().transferRunning());
  scanner().clearTrace();

  ASSERT_EQ(LD_DeviceInit(), 1);
  std::vector<vscan::RegisterWrite> writes = scanner().registerWrites();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes.front().reg, 2);
  EXPECT_EQ(writes.front().value & 0x08, 0);
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
  std::vector<uint8_t> lines(4 * 300);
  EXPECT_EQ(LD_ReadScan(lines.data(), 4), 0);
  EXPECT_EQ(ReadStatus(), 0);

  ASSERT_EQ(LD_SetScanParameter(&first), 1);
  EXPECT_EQ(LD_ReadScan(lines.data(), 4), 1);
  LD_ResetScanner(0);
}

TEST_F(RequestTest, FailingStepsGiveTheirStatus) {
  OpenCalibrated();
  ScanRequest request = Colour(200);
  host::ResetMemoryCounters();
  ASSERT_EQ(LD_SetScanParameter(&request), 1);
  // Allocations of a 200 dpi request: shading and table buffers, stream buffer, line buffer.
  const uint64_t allocations = host::GlobalAllocCalls();
  LD_ResetScanner(0);

  struct Case {
    const char* name;
    std::function<void()> fault;
    int32_t status;
    bool transferRunning;
  } cases[] = {
      {"no memory for the shading planes", [] { host::FailGlobalAllocNumber(1); }, 2, false},
      {"shading pass read fails", [this] { scanner().failAt(vscan::Op::RawRead, 0); }, 5, false},
      {"no stream buffer", [=] { host::FailGlobalAllocNumber(allocations - 1); }, 2, false},
      {"no line buffer", [=] { host::FailGlobalAllocNumber(allocations); }, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.fault();
    EXPECT_EQ(LD_SetScanParameter(&request), 0);
    EXPECT_EQ(ReadStatus(), c.status);
    EXPECT_EQ(scanner().transferRunning(), c.transferRunning);
    EXPECT_EQ(lineBuffer, nullptr);
    // Nothing can be read from a scan that was not set up.
    std::vector<uint8_t> line(300, 0xA5);
    EXPECT_EQ(LD_ReadScan(line.data(), 1), 0);
    EXPECT_EQ(line[0], 0xA5);
    host::ClearMemoryFaults();
    scanner().clearFaults();
    EXPECT_EQ(LD_ResetScanner(0), 1);
    EXPECT_FALSE(scanner().transferRunning());
    EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
  }
}

}  // namespace
