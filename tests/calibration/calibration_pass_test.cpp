// Calibration lines: the 12-bit unpacking of both line formats, the partial column sort,
// and the pass itself on the virtual scanner (its chip set-up, a failed read, no memory).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "driver/calibration/calibration.h"
#include "driver/chip/chip.h"
#include "tests/support/driver_fixture.h"

namespace {

constexpr uint32_t kPixels = 5300;
constexpr uint32_t kLineBytes = 23850;

// Packs 15,900 12-bit samples in stream order, two to three bytes.
std::vector<uint8_t> PackLine(const std::vector<uint16_t>& samples) {
  std::vector<uint8_t> line(kLineBytes);
  for (size_t n = 0; n < samples.size(); n += 2) {
    uint8_t* b = &line[n / 2 * 3];
    b[0] = static_cast<uint8_t>(samples[n] >> 4);
    b[1] = static_cast<uint8_t>(((samples[n] & 0x0F) << 4) | (samples[n + 1] >> 8));
    b[2] = static_cast<uint8_t>(samples[n + 1] & 0xFF);
  }
  return line;
}

struct Unpacked {
  std::vector<int16_t> plane[3];
  Unpacked() {
    for (auto& p : plane) p.assign(kPixels, -1);
  }
};

Unpacked Unpack(const std::vector<uint8_t>& line, uint8_t variant) {
  Unpacked u;
  UnpackCalibrationLine(line.data(), variant, u.plane[0].data(), u.plane[1].data(), u.plane[2].data());
  return u;
}

TEST(UnpackCalibrationLine, ByteExamples) {
  std::vector<uint8_t> line(kLineBytes, 0);
  const uint8_t head[6] = {0xAB, 0xCD, 0xEF, 0x12, 0x34, 0x56};
  std::copy(head, head + 6, line.begin());
  line[7950] = 0x9A;  // variant 2: the green plane starts here
  line[7951] = 0xB0;

  Unpacked v1 = Unpack(line, 1);
  EXPECT_EQ(v1.plane[0][0], 0xABC);  // R0 and G0 share the first three bytes
  EXPECT_EQ(v1.plane[1][0], 0xDEF);
  EXPECT_EQ(v1.plane[2][0], 0x123);  // B0 and R1 the next three
  EXPECT_EQ(v1.plane[0][1], 0x456);

  Unpacked v2 = Unpack(line, 2);
  EXPECT_EQ(v2.plane[0][0], 0xABC);
  EXPECT_EQ(v2.plane[0][1], 0xDEF);
  EXPECT_EQ(v2.plane[0][2], 0x123);
  EXPECT_EQ(v2.plane[0][3], 0x456);
  EXPECT_EQ(v2.plane[1][0], 0x9AB);
}

// Every sample of a whole line lands in its pixel and colour, for both orders.
TEST(UnpackCalibrationLine, WholeLineOrders) {
  auto value = [](uint32_t colour, uint32_t pixel) { return static_cast<uint16_t>((pixel * 3 + colour * 1361 + 7) & 0xFFF); };
  for (uint8_t variant : {1, 2}) {
    std::vector<uint16_t> samples(kPixels * 3);
    for (uint32_t c = 0; c < 3; ++c) {
      for (uint32_t k = 0; k < kPixels; ++k) {
        const uint32_t n = variant == 1 ? k * 3 + c : c * kPixels + k;
        samples[n] = value(c, k);
      }
    }
    Unpacked u = Unpack(PackLine(samples), variant);
    for (uint32_t c = 0; c < 3; ++c) {
      for (uint32_t k = 0; k < kPixels; ++k) {
        ASSERT_EQ(u.plane[c][k], value(c, k)) << "variant " << int(variant) << " colour " << c << " pixel " << k;
      }
    }
  }
}

TEST(SortCalibrationColumns, PartialDescendingSort) {
  struct Case {
    std::vector<int16_t> column;
    std::vector<int16_t> sorted;
  };
  const Case cases[] = {
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {10, 9, 8, 7, 6, 1, 2, 3, 4, 5}},
      {{5, -1, 7, 0, 3, 3, 9, -4, 2, 8}, {9, 8, 7, 5, 3, -1, 0, -4, 2, 3}},  // signed comparison
      {{4, 9, 1}, {9, 4, 1}},                                                // odd count: one pass
      {{42}, {42}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    const uint32_t count = static_cast<uint32_t>(c.column.size());
    // The case sits in column 1 of three, with its own offset in each plane; columns 0 and
    // 2 already descend, so a sort that keeps to its columns leaves them as they are.
    std::vector<int16_t> plane[3];
    for (int p = 0; p < 3; ++p) {
      plane[p].resize(count * 3);
      for (uint32_t r = 0; r < count; ++r) {
        plane[p][r * 3 + 0] = static_cast<int16_t>(900 - r);
        plane[p][r * 3 + 1] = static_cast<int16_t>(c.column[r] + 1000 * p);
        plane[p][r * 3 + 2] = static_cast<int16_t>(-100 - 7 * r);
      }
    }
    SortCalibrationColumns(plane[0].data(), plane[1].data(), plane[2].data(), count, 3);
    for (int p = 0; p < 3; ++p) {
      for (uint32_t r = 0; r < count; ++r) {
        EXPECT_EQ(plane[p][r * 3 + 1], c.sorted[r] + 1000 * p) << "count " << count << " plane " << p << " row " << r;
        EXPECT_EQ(plane[p][r * 3 + 0], static_cast<int16_t>(900 - r));
        EXPECT_EQ(plane[p][r * 3 + 2], static_cast<int16_t>(-100 - 7 * r));
      }
    }
  }
}

// --- the pass on the virtual scanner ------------------------------------------------

class CalibrationPassTest : public DriverTest {
 protected:
  void Open() {
    ASSERT_EQ(LD_OpenScanner(), 1);
    ASSERT_EQ(LD_LampOn(), 1);
  }
  void TakePlanes(uint32_t lines) {
    for (auto& p : planes_) p.assign(lines * kPixels, 0x5A5);
  }
  StepResult Pass(uint32_t count, uint32_t start) {
    return AcquireCalibrationLines(planes_[0].data(), planes_[1].data(), planes_[2].data(), count, start);
  }
  // Register 2 writes with bit 0x08 (data flow) set, then cleared.
  int DataFlowStarts() {
    int starts = 0;
    for (const auto& w : scanner().registerWrites()) {
      if (w.reg == 2 && (w.value & 0x08) != 0) ++starts;
    }
    return starts;
  }
  std::vector<int16_t> planes_[3];
};

TEST_F(CalibrationPassTest, ChipSetupOfBothVariants) {
  struct Expect {
    int variant;
    uint32_t lineBytes, lineBytesAll;
    uint16_t blockLines;
  };
  for (const Expect& e : {Expect{1, 7950, 23850, 4}, Expect{2, 5300, 15900, 37}}) {
    vscan::Config config;
    config.variant = e.variant;
    Reinstall(config);
    Open();
    TakePlanes(3);
    chipSetup.motorRampEnable = 1;
    ASSERT_EQ(Pass(3, 300), kStepOk);
    EXPECT_EQ(chipSetup.pixelStart, 0u);
    EXPECT_EQ(chipSetup.pixelEnd, 5300u);
    EXPECT_EQ(chipSetup.linePixels, 5300u);
    EXPECT_EQ(chipSetup.lineStart, 300u);
    EXPECT_EQ(chipSetup.lineCount, 3u);
    EXPECT_EQ(chipSetup.resolution, 600);
    EXPECT_EQ(chipSetup.modeCode, 1);
    EXPECT_EQ(chipSetup.lineBytes, e.lineBytes);
    EXPECT_EQ(chipSetup.lineBytesAll, e.lineBytesAll);
    EXPECT_EQ(chipSetup.linePeriod, 5400);
    EXPECT_EQ(chipSetup.stepPeriod, 8100);
    EXPECT_EQ(chipSetup.fullStep, 0);
    EXPECT_EQ(chipSetup.blockLines, e.blockLines);
    EXPECT_EQ(chipSetup.scanFlags, 0x18);
    EXPECT_EQ(chipSetup.motorRampEnable, 0u);
    EXPECT_EQ(transferControl, 0);
    EXPECT_FALSE(scanner().transferRunning());
    EXPECT_EQ(transferBuffer.buffer, nullptr);
    // Lines at the dark band are read as 12-bit samples, not the planes' fill.
    for (int p = 0; p < 3; ++p) {
      for (uint32_t i = 0; i < 3 * kPixels; i += 997) {
        EXPECT_GE(planes_[p][i], 0);
        EXPECT_LE(planes_[p][i], 4095);
        EXPECT_NE(planes_[p][i], 0x5A5);
      }
    }
    LD_CloseScanner();
    ExpectNoViolations();
  }
}

TEST_F(CalibrationPassTest, NoLinesStartsAndStopsOnly) {
  Open();
  TakePlanes(1);
  scanner().clearTrace();
  const uint64_t readsBefore = scanner().count(vscan::Op::RawRead);
  EXPECT_EQ(Pass(0, 480), kStepOk);
  EXPECT_EQ(DataFlowStarts(), 1);
  EXPECT_FALSE(scanner().transferRunning());
  EXPECT_EQ(scanner().count(vscan::Op::RawRead), readsBefore);
  EXPECT_EQ(planes_[0][0], 0x5A5);
}

TEST_F(CalibrationPassTest, FailedThirdReadKeepsTheLinesBefore) {
  Open();
  TakePlanes(5);
  // One raw read per line after its bulk setup packet: the third line's read fails.
  scanner().failAt(vscan::Op::RawRead, 2);
  EXPECT_EQ(Pass(5, 100), kStepTransferFailed);
  for (int p = 0; p < 3; ++p) {
    EXPECT_NE(planes_[p][0 * kPixels + 2550], 0x5A5);
    EXPECT_NE(planes_[p][1 * kPixels + 2550], 0x5A5);
    for (uint32_t line = 2; line < 5; ++line) {
      EXPECT_EQ(std::count(planes_[p].begin() + line * kPixels, planes_[p].begin() + (line + 1) * kPixels, 0x5A5),
                static_cast<long>(kPixels))
          << "line " << line << " was written";
    }
  }
  EXPECT_EQ(transferControl, 0);
  EXPECT_FALSE(scanner().transferRunning());
  EXPECT_EQ(transferBuffer.buffer, nullptr);
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
}

TEST_F(CalibrationPassTest, NoLineBufferStartsNoTransfer) {
  Open();
  TakePlanes(2);
  scanner().clearTrace();
  host::FailGlobalAllocNumber(1);
  EXPECT_EQ(Pass(2, 100), kStepOutOfMemory);
  EXPECT_EQ(DataFlowStarts(), 0);
  EXPECT_FALSE(scanner().registerWrites().empty()) << "the chip is programmed before the buffer is taken";
  EXPECT_EQ(planes_[0][0], 0x5A5);
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
}

}  // namespace
