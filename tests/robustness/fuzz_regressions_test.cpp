// Cases that the libFuzzer target (fuzz/driver_fuzz.cpp) drives the driver into, kept as
// ordinary tests: calibration data laid over the device's reads band by band, the way the
// fuzzer shapes a power-on calibration, and what the driver must make of it; and register
// accesses between two reads of a running scan.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "driver/calibration/calibration.h"
#include "tests/support/driver_fixture.h"

namespace {

using Corruption = vscan::VirtualScanner::Corruption;

// The power-on calibration reads one line a transfer: 20 warm-up lines, then the 400 lines
// of the strip search. Strip line L is raw read 20 + L.
constexpr uint64_t kWarmUpReads = 20;

struct BandCase {
  const char* name;
  int brightFrom;    // strip line where the bright band starts, -1: none
  int darkFrom;      // strip line where the dark band starts, -1: none
  int32_t result;    // of LD_DeviceInit
  uint32_t originLine;
};

class CalibrationBands : public DriverTest, public ::testing::WithParamInterface<BandCase> {};

TEST_P(CalibrationBands, StripFoundOnlyWhereTheDarkPassCanFollow) {
  const BandCase& c = GetParam();
  ASSERT_EQ(LD_OpenScanner(), 1);
  ASSERT_EQ(LD_LampOn(), 1);
  // Dark everywhere, then the bands; from the 24-line dark pass on, the scanner's own data.
  // A byte with equal nibbles fills both samples of each packed pair with the same level.
  scanner().corruptReadsFrom(0, Corruption::Fill, 0x11);
  if (c.brightFrom >= 0) scanner().corruptReadsFrom(kWarmUpReads + c.brightFrom, Corruption::Fill, 0xCC);
  if (c.darkFrom >= 0) scanner().corruptReadsFrom(kWarmUpReads + c.darkFrom, Corruption::Fill, 0x11);
  scanner().corruptReadsFrom(kWarmUpReads + 400, Corruption::Keep, 0);

  EXPECT_EQ(LD_DeviceInit(), c.result);
  EXPECT_EQ(ReadStatus(), 0);  // a strip not found is no transfer or memory failure
  if (c.result == 1) {
    EXPECT_EQ(calibrationPositions.originLine, c.originLine);
    EXPECT_EQ(calibrationPositions.darkLine, c.originLine - 115 + 29);
    EXPECT_EQ(calibrationPositions.whiteLine, c.originLine - 115 - 55);
  }
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u);  // the sample planes are given back either way
}

INSTANTIATE_TEST_SUITE_P(
    Fuzz, CalibrationBands,
    ::testing::Values(BandCase{"Found", 5, 100, 1, 219},
                      // Dark run ends at line 14, before line 55.
                      BandCase{"TooEarly", 5, 10, 0, 0},
                      // Dark run ends at line 380: its ten threshold lines would run past the pass.
                      BandCase{"TooLate", 5, 376, 0, 0},
                      BandCase{"LastLineThatFits", 5, 357, 1, 361 + 115},
                      BandCase{"AllDark", -1, -1, 0, 0},
                      BandCase{"AllBright", 0, -1, 0, 0}),
    [](const ::testing::TestParamInfo<BandCase>& info) { return info.param.name; });

// Entry points that reach the chip's registers while a scan runs: the lamp switches and
// query, and the loop-back test. Each leaves another register selected than the bulk port
// the scan's stream is read through; the next refill of the stream must still read image
// data, not that register. (Found by the fuzzer as a lamp switch between two reads.)
struct MidScanCase {
  const char* name;
  int32_t (*call)();
};

int32_t QueryLamp() {
  int32_t on = -1;
  return LD_GetLampStatus(&on);
}

class MidScanRegisterAccess : public DriverTest, public ::testing::WithParamInterface<MidScanCase> {};

TEST_P(MidScanRegisterAccess, LaterReadsStillReadTheStream) {
  ASSERT_EQ(LD_OpenScanner(), 1);
  ASSERT_EQ(LD_LampOn(), 1);
  ASSERT_EQ(LD_DeviceInit(), 1);
  ScanRequest request;
  std::memset(&request, 0, sizeof request);
  request.mode = 1;  // colour
  request.resolution = 300;
  request.left = 200;
  request.top = 300;
  request.width = 240;
  request.length = 240;
  request.bytesPerLine = 3 * 240;
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) request.toneCurves[c][v] = static_cast<uint8_t>(v);
  }
  ASSERT_EQ(LD_SetScanParameter(&request), 1);
  std::vector<uint8_t> lines(120 * request.bytesPerLine);
  ASSERT_EQ(LD_ReadScan(lines.data(), 4), 1);

  GetParam().call();
  // 120 lines of 720 bytes run past the 61440-byte chunk in hand: at least one refill.
  const uint64_t readsBefore = scanner().count(vscan::Op::RawRead);
  EXPECT_EQ(LD_ReadScan(lines.data(), 120), 1);
  EXPECT_GT(scanner().count(vscan::Op::RawRead), readsBefore);
  EXPECT_EQ(ReadStatus(), 0);
  EXPECT_TRUE(scanner().violations().empty()) << scanner().violations().front();
}

INSTANTIATE_TEST_SUITE_P(Fuzz, MidScanRegisterAccess,
                         ::testing::Values(MidScanCase{"LampOn", LD_LampOn}, MidScanCase{"LampOff", LD_LampOff},
                                           MidScanCase{"LampQuery", QueryLamp},
                                           MidScanCase{"LoopBack", LD_DiagnosticTest}),
                         [](const ::testing::TestParamInfo<MidScanCase>& info) { return info.param.name; });

}  // namespace
