// The correction table: the per-pixel correction words, the default chip tone curves and
// the curve files that replace them, the table layouts of both variants, and the upload
// as the virtual scanner receives it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include "driver/calibration/calibration.h"
#include "driver/calibration/correction_steps.h"
#include "driver/chip/chip.h"
#include "tests/support/driver_fixture.h"

namespace {

constexpr uint32_t kPixels = 5300;
constexpr uint32_t kWhiteTarget[3] = {3885, 3880, 3700};

struct Word {
  uint32_t offset, gain;
};
Word Decode(const uint8_t bytes[2]) {
  const uint32_t word = bytes[0] | (bytes[1] << 8);
  return {word & 0x3F, word >> 6};
}

TEST(CorrectionWord, Examples) {
  struct Case {
    const char* what;
    uint32_t colour, white, dark;
    uint8_t bytes[2];
  };
  const Case cases[] = {
      {"worked example: o 19, g 290", 0, 3500, 160, {0x93, 0x48}},
      {"green", 1, 3500, 160, {0x93, 0x48}},
      {"blue: o 18, g 276", 2, 3500, 160, {0x12, 0x45}},
      {"blue: o 17, g 490", 2, 2000, 120, {0x91, 0x7A}},
      {"white below dark is taken as 16383: o 0, g 60", 0, 100, 160, {0x00, 0x0F}},
      {"c above the dark level gives o 0: g 248", 0, 4000, 50, {0x00, 0x3E}},
      // g 2762 does not fit the ten bits; its bytes would wrap to a gain of 714.
      {"gain held at 1023: o 38", 0, 512, 160, {0xE6, 0xFF}},
      {"white equal to dark, a multiple of 4: the highest gain", 0, 160, 160, {0xE8, 0xFF}},
      // o 80 would spill into the gain bits; with o 63 the gain is 306.
      {"offset held at 63", 0, 3500, 400, {0xBF, 0x4C}},
  };
  for (const Case& c : cases) {
    uint8_t bytes[2] = {0xEE, 0xEE};
    CorrectionWordBytes(c.white, c.dark, c.colour, bytes);
    EXPECT_EQ(bytes[0], c.bytes[0]) << c.what;
    EXPECT_EQ(bytes[1], c.bytes[1]) << c.what;
  }
}

// Applied as the chip does, (s - 4o) x g / 256, the word takes the white reference to the
// colour's target and the dark one to about 96, over the range of calibrated levels.
TEST(CorrectionWord, TakesWhiteToTargetAndDarkTo96) {
  for (uint32_t colour = 0; colour < 3; ++colour) {
    for (uint32_t white = 1300; white <= 4095; white += 7) {
      for (uint32_t dark = 100; dark <= 250; dark += 3) {
        uint8_t bytes[2];
        CorrectionWordBytes(white, dark, colour, bytes);
        const Word w = Decode(bytes);
        const double whiteOut = (double(white) - 4.0 * w.offset) * w.gain / 256.0;
        const double darkOut = (double(dark) - 4.0 * w.offset) * w.gain / 256.0;
        ASSERT_NEAR(whiteOut, kWhiteTarget[colour], kWhiteTarget[colour] * 0.01)
            << "colour " << colour << " white " << white << " dark " << dark;
        ASSERT_NEAR(darkOut, 96.0, 24.0) << "colour " << colour << " white " << white << " dark " << dark;
      }
    }
  }
}

TEST(DefaultChipToneCurves, RowsAndBounds) {
  struct Row {
    uint32_t index;
    uint8_t value[3];
  };
  const Row rows[] = {
      {64, {0, 3, 2}},       {128, {10, 11, 11}},   {256, {19, 19, 21}},   {512, {36, 37, 40}},
      {1024, {69, 70, 74}},  {1536, {100, 100, 106}}, {2048, {131, 131, 137}}, {2560, {156, 155, 162}},
      {3072, {185, 184, 192}}, {3584, {211, 210, 218}},
  };
  const uint32_t lastZero[3] = {82, 46, 57};
  const uint32_t firstMax[3] = {4090, 4093, 4073};
  const uint8_t maximum[3] = {234, 233, 240};
  for (int c = 0; c < 3; ++c) {
    const uint8_t* curve = kDefaultChipToneCurves[c];
    for (const Row& r : rows) EXPECT_EQ(curve[r.index], r.value[c]) << "colour " << c << " index " << r.index;
    for (uint32_t i = 0; i <= lastZero[c]; ++i) ASSERT_EQ(curve[i], 0) << "colour " << c << " index " << i;
    EXPECT_EQ(curve[lastZero[c] + 1], 1) << "colour " << c;
    EXPECT_EQ(curve[firstMax[c] - 1], maximum[c] - 1) << "colour " << c;
    for (uint32_t i = firstMax[c]; i < 4096; ++i) ASSERT_EQ(curve[i], maximum[c]) << "colour " << c << " index " << i;
    for (uint32_t i = 1; i < 4096; ++i) {
      ASSERT_TRUE(curve[i] == curve[i - 1] || curve[i] == curve[i - 1] + 1) << "colour " << c << " index " << i;
    }
  }
}

// A temporary folder standing in for the root of drive C.
class DriveRoot {
 public:
  DriveRoot() {
    char pattern[] = "/tmp/curvesXXXXXX";
    path_ = mkdtemp(pattern);
    previous_ = host::DriveRoot();
    host::SetDriveRoot(path_);
  }
  ~DriveRoot() {
    for (const std::string& f : files_) std::remove(f.c_str());
    std::remove(path_.c_str());
    host::SetDriveRoot(previous_);
  }
  void Write(const char* name, const std::vector<uint8_t>& bytes) {
    const std::string file = path_ + "/" + name;
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    files_.push_back(file);
  }

 private:
  std::string path_, previous_;
  std::vector<std::string> files_;
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed);
  return bytes;
}

TEST(LoadChipToneCurve, FilesAndDefaults) {
  DriveRoot root;
  const std::vector<uint8_t> longFile = Pattern(5000, 3);
  const std::vector<uint8_t> shortFile = Pattern(100, 5);
  root.Write("CCmpGG12.dat", longFile);
  root.Write("CCmpBG12.dat", shortFile);
  uint8_t curves[3][4096];
  for (uint32_t c = 0; c < 3; ++c) {
    std::fill(curves[c], curves[c] + 4096, 0xEE);
    LoadChipToneCurve(c, curves[c]);
  }
  // Red has no file: the default curve.
  EXPECT_EQ(0, std::memcmp(curves[0], kDefaultChipToneCurves[0], 4096));
  // Green: the first 4096 of 5000 bytes.
  EXPECT_EQ(0, std::memcmp(curves[1], longFile.data(), 4096));
  // Blue: 100 bytes from the file, the default curve beyond them.
  EXPECT_EQ(0, std::memcmp(curves[2], shortFile.data(), 100));
  EXPECT_EQ(0, std::memcmp(curves[2] + 100, kDefaultChipToneCurves[2] + 100, 4096 - 100));
  EXPECT_EQ(host::OpenFileCount(), 0);
}

TEST(LoadChipToneCurve, EmptyFileGivesTheDefault) {
  DriveRoot root;
  root.Write("CCmpRG12.dat", {});
  uint8_t curve[4096];
  LoadChipToneCurve(0, curve);
  EXPECT_EQ(0, std::memcmp(curve, kDefaultChipToneCurves[0], 4096));
}

class CorrectionTableTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetCalibrationState(); }
  void TearDown() override { ResetCalibrationState(); }
  // Distinct references per pixel and colour, so that a group out of place shows.
  static void FillReferences() {
    for (uint32_t p = 0; p < 3; ++p) {
      for (uint32_t k = 0; k < kPixels; ++k) {
        whiteReference[p][k] = 2600 + (k * 13 + p * 101) % 1400;
        darkReference[p][k] = 120 + p * 20;
      }
    }
  }
};

TEST_F(CorrectionTableTest, LayoutOfBothVariants) {
  FillReferences();
  whiteReference[1][77] = 100;  // below its dark reference
  uint8_t curveData[3][4096];
  uint8_t* curves[3];
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < 4096; ++i) curveData[c][i] = static_cast<uint8_t>(i * (c + 1) + c);
    curves[c] = curveData[c];
  }
  for (uint8_t variant : {1, 2}) {
    const uint32_t width = variant == 2 ? 2 : 1;
    std::vector<uint8_t> table(0x100000, 0xEE);
    const uint32_t length = BuildCorrectionTable(curves, variant, table.data());
    EXPECT_EQ(length, variant == 2 ? 56376u : 44088u);
    EXPECT_EQ(CorrectionTableBytes(variant), length);
    EXPECT_EQ(table[length], 0xEE) << "written past the table";
    for (int c = 0; c < 3; ++c) {
      for (uint32_t i = 0; i < 4096; ++i) {
        const uint8_t* entry = &table[(c * 4096 + i) * width];
        if (variant == 2) {
          ASSERT_EQ(entry[0], 0) << "variant 2 entry " << i;
        }
        ASSERT_EQ(entry[width - 1], curveData[c][i]) << "variant " << int(variant) << " colour " << c << " entry " << i;
      }
    }
    EXPECT_EQ(whiteReference[1][77], 16383u) << "a white below its dark is stored as 16383";
    const uint8_t* groups = &table[3 * 4096 * width];
    for (uint32_t k = 0; k < kPixels; ++k) {
      for (uint32_t p = 0; p < 3; ++p) {
        uint8_t expected[2];
        CorrectionWordBytes(whiteReference[p][k], darkReference[p][k], p, expected);
        ASSERT_EQ(groups[k * 6 + p * 2], expected[0]) << "pixel " << k << " colour " << p;
        ASSERT_EQ(groups[k * 6 + p * 2 + 1], expected[1]) << "pixel " << k << " colour " << p;
      }
    }
  }
}

// --- the upload on the virtual scanner ----------------------------------------------

class UploadTest : public DriverTest {
 protected:
  void Open(int variant) {
    vscan::Config config;
    config.variant = variant;
    Reinstall(config);
    ASSERT_EQ(LD_OpenScanner(), 1);
    for (uint32_t p = 0; p < 3; ++p) {
      for (uint32_t k = 0; k < kPixels; ++k) {
        whiteReference[p][k] = 2600 + (k * 13 + p * 101) % 1400;
        darkReference[p][k] = 150 + p;
      }
    }
    scanner().clearTrace();
  }
  DriveRoot root_;
};

TEST_F(UploadTest, ReceivedByteForByte) {
  const std::vector<uint8_t> red = Pattern(4096, 9);
  root_.Write("CCmpRG12.dat", red);
  for (int variant : {1, 2}) {
    Open(variant);
    ASSERT_EQ(UploadCorrectionTable(), 1);
    const auto& table = scanner().correctionTable();
    ASSERT_TRUE(table.valid) << "variant " << variant;
    EXPECT_EQ(0, std::memcmp(table.curves[0], red.data(), 4096));
    EXPECT_EQ(0, std::memcmp(table.curves[1], kDefaultChipToneCurves[1], 4096));
    EXPECT_EQ(0, std::memcmp(table.curves[2], kDefaultChipToneCurves[2], 4096));
    for (uint32_t k = 0; k < kPixels; ++k) {
      for (uint32_t p = 0; p < 3; ++p) {
        uint8_t expected[2];
        CorrectionWordBytes(whiteReference[p][k], darkReference[p][k], p, expected);
        ASSERT_EQ(table.rawBytes[p][k][0], expected[0]) << "pixel " << k << " colour " << p;
        ASSERT_EQ(table.rawBytes[p][k][1], expected[1]) << "pixel " << k << " colour " << p;
      }
    }
    // One bulk write of the table's length, with chip RAM opened just for it.
    uint32_t writes = 0;
    for (const auto& t : scanner().trace()) {
      if (t.kind == vscan::TraceEntry::BulkWrite) {
        ++writes;
        EXPECT_EQ(t.size, variant == 2 ? 56376u : 44088u);
      }
    }
    EXPECT_EQ(writes, 1u);
    std::vector<uint8_t> reg2;
    for (const auto& w : scanner().registerWrites()) {
      if (w.reg == 2) reg2.push_back(w.value);
    }
    ASSERT_EQ(reg2.size(), 2u);
    EXPECT_NE(reg2[0] & 0x04, 0);
    EXPECT_EQ(reg2[1] & 0x04, 0);
    EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
    LD_CloseScanner();
    ExpectNoViolations();
  }
}

TEST_F(UploadTest, EachAllocationFailingTouchesNothing) {
  root_.Write("CCmpRG12.dat", Pattern(4096, 1));
  Open(1);
  for (uint64_t n = 1; n <= 4; ++n) {
    host::FailGlobalAllocNumber(n);
    EXPECT_EQ(UploadCorrectionTable(), 0) << "allocation " << n;
    EXPECT_TRUE(scanner().trace().empty()) << "allocation " << n << ": the chip was touched";
    EXPECT_EQ(host::LiveGlobalBlocks(), 0u) << "allocation " << n;
    EXPECT_EQ(host::OpenFileCount(), 0);
    EXPECT_FALSE(scanner().correctionTable().valid);
  }
  host::ClearMemoryFaults();
  EXPECT_EQ(UploadCorrectionTable(), 1);
}

}  // namespace
