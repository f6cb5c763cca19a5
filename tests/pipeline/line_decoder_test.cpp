// The stream decoder: lines cut from a gapless byte stream, within a chunk and across the
// refill that fetches the next one, and a refill that fails and is retried.
#include "tests/pipeline/stream_fixture.h"

namespace {

constexpr uint32_t kChunk = 61440;
constexpr uint32_t kGuard = 0xDEADBEEF;

struct LayoutCase {
  const char* name;
  uint8_t modeCode;
  uint32_t linePixels;
  uint32_t lineBytesAll;
  int planes;         // planes filled
  uint32_t perPlane;  // entries filled per plane
  uint32_t position;  // position before the line
  uint64_t refills;   // bulk reads the line needs
  uint32_t after;     // position after the line
};

class DecoderTest : public StreamTest {};

TEST_F(DecoderTest, LinesAreCutFromTheStreamInOrderAcrossChunks) {
  const LayoutCase cases[] = {
      {"colour inside the chunk", 0x01, 1000, 3000, 3, 1000, 100, 0, 3100},
      {"colour ending at the chunk's end", 0x01, 1000, 3000, 3, 1000, kChunk - 3000, 0, kChunk},
      {"colour, first line of a scan", 0x01, 1000, 3000, 3, 1000, kChunk, 1, 3000},
      {"colour, 2999 bytes left", 0x01, 1000, 3000, 3, 1000, kChunk - 2999, 1, 1},
      {"grey straddling", 0x42, 700, 700, 1, 700, kChunk - 20, 1, 680},
      {"line art, ten bytes", 0x48, 73, 10, 1, 10, 5, 0, 15},
      {"line art straddling", 0x48, 73, 10, 1, 10, kChunk - 3, 1, 7},
      {"grey with no pixels", 0x42, 0, 0, 1, 0, kChunk, 0, kChunk},
  };
  std::vector<uint8_t> oldChunk = Counting(kChunk, 0);
  std::vector<uint8_t> newChunk = Counting(kChunk, 100);
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    RefillsFrom(newChunk);
    Stream(oldChunk, kChunk, c.position);
    UseLine(c.modeCode, c.linePixels, c.lineBytesAll);
    for (int p = 0; p < 3; ++p) std::fill(Plane(p, 3), Plane(p, 3) + kSlotSamples, kGuard);
    uint64_t readsBefore = scanner().count(vscan::Op::RawRead);

    ASSERT_EQ(FetchLine(3), 1);

    EXPECT_EQ(scanner().count(vscan::Op::RawRead) - readsBefore, c.refills);
    EXPECT_EQ(transferBuffer.position, c.after);
    // The stream as the decoder should see it: the rest of the old chunk, then the new one.
    std::vector<uint8_t> stream(oldChunk.begin() + c.position, oldChunk.end());
    stream.insert(stream.end(), newChunk.begin(), newChunk.end());
    size_t at = 0;
    for (int p = 0; p < 3; ++p) {
      const uint32_t* entry = Plane(p, 3);
      uint32_t filled = p < c.planes ? c.perPlane : 0;
      for (uint32_t i = 0; i < filled; ++i, ++at) ASSERT_EQ(entry[i], stream[at]) << "plane " << p << " entry " << i;
      // Entries beyond the line keep what they held.
      for (uint32_t i = filled; i < kSlotSamples; ++i) ASSERT_EQ(entry[i], kGuard) << "plane " << p << " entry " << i;
    }
    ReleaseTransferBuffer();
    LD_CloseScanner();
  }
}

TEST_F(DecoderTest, FailedRefillKeepsTheTakenBytesAndIsRetriedByTheNextLine) {
  std::vector<uint8_t> oldChunk = Counting(kChunk, 0);
  std::vector<uint8_t> newChunk = Counting(kChunk, 100);
  RefillsFrom(newChunk);
  // 1500 bytes left: all of red and half of green lie in the old chunk.
  const uint32_t start = kChunk - 1500;
  Stream(oldChunk, kChunk, start);
  UseLine(0x01, 1000, 3000);
  for (int p = 0; p < 3; ++p) std::fill(Plane(p, 0), Plane(p, 0) + kSlotSamples, kGuard);
  scanner().failAt(vscan::Op::RawRead, 0);

  EXPECT_EQ(FetchLine(0), 0);
  EXPECT_EQ(transferBuffer.position, kChunk);
  for (uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(Plane(0, 0)[i], oldChunk[start + i]);
  for (uint32_t i = 0; i < 500; ++i) ASSERT_EQ(Plane(1, 0)[i], oldChunk[start + 1000 + i]);
  for (uint32_t i = 500; i < 1000; ++i) ASSERT_EQ(Plane(1, 0)[i], kGuard);
  for (uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(Plane(2, 0)[i], kGuard);

  // The next line starts where the stream stopped: the new chunk's first byte.
  ASSERT_EQ(FetchLine(1), 1);
  for (int p = 0; p < 3; ++p) {
    for (uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(Plane(p, 1)[i], newChunk[p * 1000 + i]) << "plane " << p;
  }
  EXPECT_EQ(transferBuffer.position, 3000u);
}

TEST_F(DecoderTest, NoStreamBufferFetchesNothing) {
  UseLine(0x01, 10, 30);
  EXPECT_EQ(FetchLine(0), 0);
}

}  // namespace
