// The power-on calibration end to end on the virtual scanner, through LD_DeviceInit: the
// strip's positions, front-end levels that put the bands where the correction wants them,
// correction words that take every pixel to its targets, and every failure's status and
// the state it leaves.
#include <gtest/gtest.h>

#include <vector>

#include "driver/calibration/calibration.h"
#include "driver/calibration/power_on_steps.h"
#include "driver/chip/chip.h"
#include "tests/support/driver_fixture.h"

namespace {

constexpr uint32_t kPixels = 5300;
constexpr uint32_t kWhiteTarget[3] = {3885, 3880, 3700};

class CalibrationE2E : public DriverTest, public ::testing::WithParamInterface<int> {
 protected:
  vscan::Config ScannerConfig() override {
    vscan::Config config;
    config.variant = GetParam();
    return config;
  }
  void OpenWithLamp(bool lamp = true) {
    ASSERT_EQ(LD_OpenScanner(), 1);
    ASSERT_EQ(lamp ? LD_LampOn() : LD_LampOff(), 1);
  }
  void ExpectStartLevels() {
    for (int p = 0; p < 3; ++p) {
      EXPECT_EQ(afeLevels.afeOffset[p], 192) << "colour " << p;
      EXPECT_EQ(afeLevels.afeGain[p], 2) << "colour " << p;
    }
  }
  void ExpectPositions(uint32_t origin, uint32_t dark, uint32_t white, uint32_t edge) {
    EXPECT_EQ(calibrationPositions.originLine, origin);
    EXPECT_EQ(calibrationPositions.darkLine, dark);
    EXPECT_EQ(calibrationPositions.whiteLine, white);
    EXPECT_EQ(calibrationPositions.rightEdgePixel, edge);
  }
};

TEST_P(CalibrationE2E, FindsTheStripAndSetsTheFrontEnd) {
  OpenWithLamp();
  ASSERT_EQ(LD_DeviceInit(), 1);
  EXPECT_EQ(ReadStatus(), 0);
  ExpectPositions(319, 233, 149, 5200);
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u);

  // With the new levels the bright band reads between 2800 and 4000, the dark one near 160.
  std::vector<int16_t> plane[3];
  for (auto& p : plane) p.assign(24 * kPixels, 0);
  ASSERT_EQ(AcquireCalibrationLines(plane[0].data(), plane[1].data(), plane[2].data(), 5,
                                    calibrationPositions.whiteLine),
            kStepOk);
  for (int p = 0; p < 3; ++p) {
    const uint32_t white = BrightBandAverage(plane[p].data(), 0);
    EXPECT_GE(white, 2800u) << "colour " << p << " gain " << int(afeLevels.afeGain[p]);
    EXPECT_LE(white, 4000u) << "colour " << p << " gain " << int(afeLevels.afeGain[p]);
  }
  ASSERT_EQ(AcquireCalibrationLines(plane[0].data(), plane[1].data(), plane[2].data(), 24,
                                    calibrationPositions.darkLine),
            kStepOk);
  SortCalibrationColumns(plane[0].data() + 4 * kPixels, plane[1].data() + 4 * kPixels, plane[2].data() + 4 * kPixels,
                         10, kPixels);
  SortCalibrationColumns(plane[0].data() + 14 * kPixels, plane[1].data() + 14 * kPixels,
                         plane[2].data() + 14 * kPixels, 10, kPixels);
  for (int p = 0; p < 3; ++p) {
    EXPECT_NEAR(static_cast<double>(DarkLevel(plane[p].data())), 160.0, 10.0)
        << "colour " << p << " offset " << int(afeLevels.afeOffset[p]);
  }

  // The correction built from fresh references takes every pixel's white to within 1% of
  // the colour's target and the dark level to about 96, as the chip applies the words.
  ASSERT_EQ(TakeShadingReferences(), kStepOk);
  ASSERT_EQ(UploadCorrectionTable(), 1);
  const auto& table = scanner().correctionTable();
  ASSERT_TRUE(table.valid);
  for (int p = 0; p < 3; ++p) {
    for (uint32_t k = 0; k < kPixels; ++k) {
      const uint32_t word = table.rawBytes[p][k][0] | (table.rawBytes[p][k][1] << 8);
      const double o = word & 0x3F, g = word >> 6;
      const double white = (whiteReference[p][k] - 4.0 * o) * g / 256.0;
      const double dark = (darkReference[p][k] - 4.0 * o) * g / 256.0;
      ASSERT_NEAR(white, kWhiteTarget[p], kWhiteTarget[p] * 0.01) << "colour " << p << " pixel " << k;
      ASSERT_NEAR(dark, 96.0, 24.0) << "colour " << p << " pixel " << k;
    }
  }
}

TEST_P(CalibrationE2E, RepeatedRunStartsAfresh) {
  OpenWithLamp();
  ASSERT_EQ(LD_DeviceInit(), 1);
  const AfeLevels first = afeLevels;
  ASSERT_EQ(LD_DeviceInit(), 1);
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(afeLevels.afeGain[p], first.afeGain[p]);
    EXPECT_EQ(afeLevels.afeOffset[p], first.afeOffset[p]);
  }
  ExpectPositions(319, 233, 149, 5200);
}

TEST_P(CalibrationE2E, LampOffFindsNoStrip) {
  OpenWithLamp(false);
  EXPECT_EQ(LD_DeviceInit(), 0);
  EXPECT_EQ(ReadStatus(), 0);
  ExpectStartLevels();
  ExpectPositions(0, 0, 0, 0);
}

TEST_P(CalibrationE2E, ClosedDeviceIsNotTouched) {
  EXPECT_EQ(LD_DeviceInit(), 0);
  EXPECT_EQ(ReadStatus(), 1);
  EXPECT_TRUE(scanner().trace().empty());
  EXPECT_EQ(scanner().count(vscan::Op::Escape), 0u);
}

// Allocations in order: the three 400-line planes, then the line buffer of each of the
// three passes. Before the strip is found nothing but the start levels is left; a failure in
// the last pass keeps the positions and gains just found, with the offsets at 192.
TEST_P(CalibrationE2E, EachAllocationFailing) {
  OpenWithLamp();
  for (uint64_t n = 1; n <= 6; ++n) {
    calibrationPositions = CalibrationPositions{1, 2, 3, 4};
    host::FailGlobalAllocNumber(n);
    EXPECT_EQ(LD_DeviceInit(), 0) << "allocation " << n;
    EXPECT_EQ(ReadStatus(), 2) << "allocation " << n;
    EXPECT_EQ(host::LiveGlobalBlocks(), 0u) << "allocation " << n;
    EXPECT_FALSE(scanner().transferRunning());
    if (n < 6) {
      ExpectStartLevels();
      ExpectPositions(1, 2, 3, 4);
    } else {
      ExpectPositions(319, 233, 149, 5200);
      for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(afeLevels.afeOffset[p], 192);
        EXPECT_GT(afeLevels.afeGain[p], 2);
      }
    }
  }
  host::ClearMemoryFaults();
  EXPECT_EQ(LD_DeviceInit(), 1);
}

// One raw read per calibration line: 20 lines of the first pass, 400 of the strip pass, 24
// of the dark pass.
TEST_P(CalibrationE2E, FailedReadInEachPass) {
  OpenWithLamp();
  struct Case {
    uint64_t read;
    bool positionsFound;
  };
  for (const Case& c : {Case{0, false}, Case{19, false}, Case{20, false}, Case{419, false}, Case{420, true},
                        Case{443, true}}) {
    calibrationPositions = CalibrationPositions{1, 2, 3, 4};
    scanner().clearFaults();
    scanner().failAt(vscan::Op::RawRead, c.read);
    EXPECT_EQ(LD_DeviceInit(), 0) << "read " << c.read;
    EXPECT_EQ(ReadStatus(), 5) << "read " << c.read;
    EXPECT_EQ(host::LiveGlobalBlocks(), 0u) << "read " << c.read;
    EXPECT_FALSE(scanner().transferRunning()) << "read " << c.read;
    if (c.positionsFound) {
      ExpectPositions(319, 233, 149, 5200);
    } else {
      ExpectPositions(1, 2, 3, 4);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, CalibrationE2E, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) { return "Variant" + std::to_string(info.param); });

}  // namespace
