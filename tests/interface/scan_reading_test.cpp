// LD_ReadScan and LD_ResetScanner: the lines kept at resolutions the motor does not run at,
// the accumulator carried from call to call, reads with nothing to read from, a bulk
// failure in the middle of a read, stop requests, and the reset of a scan.
#include <algorithm>
#include <functional>
#include <string>

#include "tests/interface/scan_fixture.h"

namespace {

class ReadingTest : public ScanTest {
 protected:
  // Stream lines the line assembly has taken since the last call (lines within one chunk).
  uint32_t LinesTaken() {
    uint32_t lines = (transferBuffer.position - lastPosition_) / chipSetup.lineBytesAll;
    lastPosition_ = transferBuffer.position;
    return lines;
  }
  void MarkPosition() { lastPosition_ = transferBuffer.position; }

 private:
  uint32_t lastPosition_ = 0;
};

TEST_F(ReadingTest, KeepLineSpreadsTheKeptLinesEvenly) {
  struct Case {
    uint16_t resolution;
    const char* pattern;  // K kept, D dropped, from the first line of a scan
  } cases[] = {
      {200, "KKDKKDKKDKKD"},
      {100, "KKDKKDKKDKKD"},
      {500, "KKKKKDKKKKKD"},
      {175, "KKDKDKKDKDKDKKDKDKKDKDKD"},
      {125, "KKKKKDKKKKKD"},
      {599, "KKKKKKKKKKKK"},
      {301, "KKDKDKDKDKDK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.resolution);
    scanSettings.resolution = c.resolution;
    rowAccumulator = 0;
    std::string got;
    for (size_t i = 0; i < std::string(c.pattern).size(); ++i) got += KeepLine() ? 'K' : 'D';
    EXPECT_EQ(got, c.pattern);
  }
}

TEST_F(ReadingTest, AccumulatorCarriesAcrossCalls) {
  OpenCalibrated();
  ScanRequest request = Colour(200);
  ASSERT_EQ(LD_SetScanParameter(&request), 1);
  MarkPosition();
  std::vector<uint8_t> lines(4 * 300);

  ASSERT_EQ(LD_ReadScan(lines.data(), 4), 1);
  EXPECT_EQ(LinesTaken(), 5u);  // keep, keep, drop, keep, keep
  EXPECT_EQ(rowAccumulator, 200);
  ASSERT_EQ(LD_ReadScan(lines.data(), 1), 1);
  EXPECT_EQ(LinesTaken(), 2u);  // the accumulator at 200 drops the first
}

TEST_F(ReadingTest, OneLinePerCallGivesTheLinesOfOneCall) {
  OpenCalibrated();
  ScanRequest request = Colour(175, 200);
  request.top = 150;  // over the chart's top marks, so the lines differ
  const uint32_t lineBytes = 600, count = 24;

  ASSERT_EQ(LD_SetScanParameter(&request), 1);
  std::vector<uint8_t> once(count * lineBytes);
  ASSERT_EQ(LD_ReadScan(once.data(), count), 1);
  ASSERT_EQ(LD_ResetScanner(0), 1);

  ASSERT_EQ(LD_SetScanParameter(&request), 1);
  std::vector<uint8_t> singly(count * lineBytes);
  for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(LD_ReadScan(&singly[i * lineBytes], 1), 1);
  EXPECT_EQ(once, singly);
}

TEST_F(ReadingTest, NoLinesWantedReadsNothing) {
  OpenCalibrated();
  uint8_t line[300];
  for (uint16_t resolution : {300, 200}) {
    SCOPED_TRACE(resolution);
    ScanRequest request = Colour(resolution);
    ASSERT_EQ(LD_SetScanParameter(&request), 1);
    scanner().clearTrace();
    EXPECT_EQ(LD_ReadScan(line, 0), 1);
    EXPECT_TRUE(scanner().trace().empty());
  }
}

TEST_F(ReadingTest, NothingToReadFrom) {
  std::vector<uint8_t> line(300, 0xA5);
  // No device: status 1, whatever the count.
  for (uint32_t count : {0u, 5u}) {
    EXPECT_EQ(LD_ReadScan(line.data(), count), 0);
    EXPECT_EQ(ReadStatus(), 1);
  }

  OpenCalibrated();
  ScanRequest request = Colour(200);
  struct Case {
    const char* name;
    std::function<void()> before;
  } cases[] = {
      {"no request yet", [] {}},
      {"after a reset", [&] {
         ASSERT_EQ(LD_SetScanParameter(&request), 1);
         LD_ResetScanner(0);
       }},
      {"after close and reopen", [&] {
         ASSERT_EQ(LD_SetScanParameter(&request), 1);
         LD_CloseScanner();
         ASSERT_EQ(LD_OpenScanner(), 1);
       }},
      {"after a refused request", [&] {
         ScanRequest refused = Colour(601);
         EXPECT_EQ(LD_SetScanParameter(&refused), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.before();
    scanner().clearTrace();
    EXPECT_EQ(LD_ReadScan(line.data(), 1), 0);
    EXPECT_EQ(ReadStatus(), 0);
    EXPECT_EQ(line[0], 0xA5);
    EXPECT_TRUE(scanner().trace().empty());
  }

  // A null buffer is refused on a running scan too.
  ASSERT_EQ(LD_SetScanParameter(&request), 1);
  EXPECT_EQ(LD_ReadScan(nullptr, 1), 0);
  EXPECT_EQ(LD_ReadScan(nullptr, 0), 0);
  EXPECT_EQ(LD_ReadScan(line.data(), 1), 1);
}

TEST_F(ReadingTest, BulkFailureInTheMiddleOfARead) {
  OpenCalibrated();
  // 3000-byte lines: the priming leaves 14 lines read, so the seventh line read straddles
  // the end of the first chunk.
  struct Case {
    uint16_t resolution;
    uint32_t linesBeforeFailure;  // output lines complete in the buffer
  } cases[] = {{300, 6}, {200, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.resolution);
    ScanRequest request = Colour(c.resolution, 1000);
    std::vector<uint8_t> reference(10 * 3000);
    ASSERT_EQ(LD_SetScanParameter(&request), 1);
    ASSERT_EQ(LD_ReadScan(reference.data(), 10), 1);

    ASSERT_EQ(LD_SetScanParameter(&request), 1);
    std::vector<uint8_t> lines(10 * 3000, 0xA5);
    scanner().failAt(vscan::Op::RawRead, 0);
    uint32_t slot = nextSlot;
    EXPECT_EQ(LD_ReadScan(lines.data(), 10), 0);
    EXPECT_EQ(ReadStatus(), 5);
    size_t good = c.linesBeforeFailure * 3000;
    EXPECT_TRUE(std::equal(lines.begin(), lines.begin() + good, reference.begin()));
    EXPECT_EQ(lines[good], 0xA5);
    EXPECT_EQ(nextSlot, (slot + 6) % 5) << "advanced for the six lines made only";

    // The scan goes on from where it stood.
    EXPECT_EQ(LD_ReadScan(lines.data(), 1), 1);
    EXPECT_EQ(ReadStatus(), 0);
    LD_ResetScanner(0);
  }
}

TEST_F(ReadingTest, StopRequestDoesNotCutAReadShort) {
  OpenCalibrated();
  ScanRequest request = Colour(300);
  ASSERT_EQ(LD_SetScanParameter(&request), 1);
  std::vector<uint8_t> lines(2 * 300);
  EXPECT_EQ(stopRequested, 1);  // set since load
  EXPECT_EQ(LD_ReadScan(lines.data(), 2), 1);
  EXPECT_EQ(stopRequested, 0);
  EXPECT_EQ(LD_StopScan(), 1);
  EXPECT_EQ(LD_ReadScan(lines.data(), 2), 1);
  EXPECT_EQ(stopRequested, 0);
  EXPECT_TRUE(scanner().transferRunning());
}

TEST_F(ReadingTest, ResetTwiceAndWithoutADevice) {
  EXPECT_EQ(LD_ResetScanner(0), 0);
  EXPECT_EQ(ReadStatus(), 1);
  EXPECT_EQ(stopRequested, 1);

  OpenCalibrated();
  ScanRequest request = Colour(200);
  ASSERT_EQ(LD_SetScanParameter(&request), 1);
  std::vector<uint8_t> line(300);
  ASSERT_EQ(LD_ReadScan(line.data(), 1), 1);
  EXPECT_EQ(LD_ResetScanner(0), 1);
  EXPECT_EQ(stopRequested, 1);
  EXPECT_FALSE(scanner().transferRunning());
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
  EXPECT_EQ(deviceOpen, 1);

  scanner().clearTrace();
  EXPECT_EQ(LD_ResetScanner(0), 1);
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
  // The stop pattern goes to the chip again: register 2's data-flow bit cleared first.
  std::vector<vscan::RegisterWrite> writes = scanner().registerWrites();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes.front().reg, 2);
  EXPECT_EQ(writes.front().value & 0x08, 0);
}

}  // namespace
