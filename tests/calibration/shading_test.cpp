// Shading references: the white and dark reference rules on synthetic passes, and the
// measurement on the virtual scanner with its failures (memory, reads) and what they leave.
#include <gtest/gtest.h>

#include <vector>

#include "driver/calibration/calibration.h"
#include "driver/calibration/shading_steps.h"
#include "driver/chip/chip.h"
#include "tests/support/driver_fixture.h"

namespace {

constexpr uint32_t kPixels = 5300;

struct Pass {
  std::vector<int16_t> plane[3];
  int16_t* pointers[3];
  explicit Pass(int16_t fill) {
    for (int p = 0; p < 3; ++p) {
      plane[p].assign(24 * kPixels, fill);
      pointers[p] = plane[p].data();
    }
  }
  void Set(int p, uint32_t line, uint32_t pixel, int16_t v) { plane[p][line * kPixels + pixel] = v; }
};

class ShadingRules : public ::testing::Test {
 protected:
  void SetUp() override { ResetCalibrationState(); }
  void TearDown() override { ResetCalibrationState(); }
};

TEST_F(ShadingRules, WhiteFromLines8And18WithLowEntriesReplaced) {
  Pass pass(4095);  // lines other than 8 and 18 must not count
  for (int p = 0; p < 3; ++p) {
    for (uint32_t k = 0; k < kPixels; ++k) {
      pass.Set(p, 8, k, static_cast<int16_t>(3000 + p * 100));
      pass.Set(p, 18, k, static_cast<int16_t>(3001 + p * 100));
    }
  }
  // Pixel 10: 511, pixel 11: 512, pixel 2950: low inside the mean's range.
  pass.Set(0, 8, 10, 511);
  pass.Set(0, 18, 10, 511);
  pass.Set(0, 8, 11, 512);
  pass.Set(0, 18, 11, 513);  // (512 + 513) / 2 = 512
  pass.Set(0, 8, 2950, 0);
  pass.Set(0, 18, 2950, 100);
  WhiteReferenceFromPass(pass.pointers);
  // Red mean over 2900..2999, taken before the replacement: (99 x 3000 + 50) / 100 = 2970.
  EXPECT_EQ(whiteReference[0][10], 2970u);
  EXPECT_EQ(whiteReference[0][11], 512u);
  EXPECT_EQ(whiteReference[0][2950], 2970u);
  EXPECT_EQ(whiteReference[0][0], 3000u);  // (3000 + 3001) / 2
  EXPECT_EQ(whiteReference[1][5299], 3100u);
  EXPECT_EQ(whiteReference[2][2900], 3200u);
}

TEST_F(ShadingRules, DarkIsOneMeanPerColour) {
  Pass pass(4095);
  for (int p = 0; p < 3; ++p) {
    for (uint32_t k = 0; k < kPixels; ++k) {
      const bool inRange = k >= 2900 && k < 3000;
      pass.Set(p, 8, k, static_cast<int16_t>(inRange ? 150 + p : 900));
      pass.Set(p, 18, k, static_cast<int16_t>(inRange ? 153 + p : 900));  // (150 + 153) / 2 = 151
    }
  }
  DarkReferenceFromPass(pass.pointers);
  for (int p = 0; p < 3; ++p) {
    for (uint32_t k : {0u, 2900u, 5299u}) EXPECT_EQ(darkReference[p][k], 151u + p) << "colour " << p;
  }
}

// --- on the virtual scanner ---------------------------------------------------------

class ShadingTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    ASSERT_EQ(LD_OpenScanner(), 1);
    ASSERT_EQ(LD_LampOn(), 1);
    // The lines the virtual scanner's strip gives.
    calibrationPositions = CalibrationPositions{319, 233, 149, 5200};
    afeLevels = AfeLevels{{192, 192, 192}, {2, 2, 2}};
  }
  static void Mark() {
    for (int p = 0; p < 3; ++p) {
      for (uint32_t k = 0; k < kPixels; ++k) {
        whiteReference[p][k] = 7;
        darkReference[p][k] = 9;
      }
    }
  }
};

TEST_F(ShadingTest, MeasuresTheBands) {
  ASSERT_EQ(TakeShadingReferences(), kStepOk);
  for (int p = 0; p < 3; ++p) {
    EXPECT_GT(whiteReference[p][2550], 1000u) << "colour " << p;
    EXPECT_GE(whiteReference[p][100], 512u) << "colour " << p;
    EXPECT_LT(darkReference[p][0], whiteReference[p][2550] / 4) << "colour " << p;
    EXPECT_EQ(darkReference[p][0], darkReference[p][5299]);
  }
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
}

// Allocations: the three planes, then the line buffer of each pass.
TEST_F(ShadingTest, EachAllocationFailing) {
  for (uint64_t n = 1; n <= 5; ++n) {
    Mark();
    host::FailGlobalAllocNumber(n);
    EXPECT_EQ(TakeShadingReferences(), kStepOutOfMemory) << "allocation " << n;
    EXPECT_EQ(host::LiveGlobalBlocks(), 0u) << "allocation " << n;
    // Only the second pass's failure comes after the white reference is taken.
    EXPECT_EQ(whiteReference[0][2550] != 7, n == 5) << "allocation " << n;
    EXPECT_EQ(darkReference[0][2550], 9u) << "allocation " << n;
  }
}

TEST_F(ShadingTest, FailedReadInEitherPass) {
  struct Case {
    uint64_t read;  // raw read that fails: the first pass has 24
    bool whiteTaken;
  };
  for (const Case& c : {Case{0, false}, Case{23, false}, Case{24, true}, Case{47, true}}) {
    Mark();
    scanner().clearFaults();
    scanner().failAt(vscan::Op::RawRead, c.read);
    EXPECT_EQ(TakeShadingReferences(), kStepTransferFailed) << "read " << c.read;
    EXPECT_EQ(host::LiveGlobalBlocks(), 0u) << "read " << c.read;
    EXPECT_EQ(whiteReference[1][2550] != 7, c.whiteTaken) << "read " << c.read;
    EXPECT_EQ(darkReference[1][2550], 9u) << "read " << c.read;
    EXPECT_FALSE(scanner().transferRunning());
  }
}

}  // namespace
