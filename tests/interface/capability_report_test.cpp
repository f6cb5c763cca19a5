// The capability record as the scanning application reads it: every written byte, the
// bytes it must leave alone, and the library's resolution list.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "driver/interface/device_state.h"
#include "driver/interface/ld_api.h"

namespace {

// The record laid over a guard-filled buffer, so that a stray byte shows.
struct Filled {
  alignas(ScannerAbility) unsigned char bytes[sizeof(ScannerAbility) + 16];
  ScannerAbility* record() { return reinterpret_cast<ScannerAbility*>(bytes); }
  Filled() { std::memset(bytes, 0xA5, sizeof bytes); }
};

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

class CapabilityReport : public ::testing::Test {
 protected:
  void SetUp() override { ResetDriverState(); }
  void TearDown() override { ResetDriverState(); }
};

TEST_F(CapabilityReport, RecordBytes) {
  Filled f;
  // Before any open, and whatever status an earlier call left.
  lastStatus = kStatusNotOpen;
  ASSERT_EQ(LD_GetScannerAbility(f.record()), 1);
  int32_t status = -1;
  LD_GetScannerStatus(&status);
  EXPECT_EQ(status, kStatusNotOpen);

  const unsigned char* b = f.bytes;
  EXPECT_EQ(U16(b + 0), 3);
  struct Text {
    size_t offset;
    const char* text;
  };
  for (const Text& t : {Text{2, "Vindrel Scanner"}, Text{130, "Scanner"}, Text{258, "USB Scanner V1.00"},
                        Text{386, "1998/12/26"}}) {
    const size_t n = std::strlen(t.text) + 1;  // the text and its zero, nothing more
    EXPECT_EQ(0, std::memcmp(b + t.offset, t.text, n)) << t.text;
    for (size_t i = t.offset + n; i < t.offset + 128; ++i) ASSERT_EQ(b[i], 0xA5) << t.text << ": byte " << i;
  }
  EXPECT_EQ(b[514], 7);
  EXPECT_EQ(b[515], 0xA5);
  EXPECT_EQ(U16(b + 516), 600);
  EXPECT_EQ(U16(b + 518), 22);
  // After the list pointer the layout depends on the pointer's width (4 bytes in the
  // 32-bit interface).
  const size_t tail = offsetof(ScannerAbility, maxWidth);
  EXPECT_EQ(tail, 520 + sizeof(void*));
  EXPECT_EQ(U32(b + tail + 0), 2550u);
  EXPECT_EQ(U32(b + tail + 4), 10u);
  EXPECT_EQ(U32(b + tail + 8), 3510u);
  EXPECT_EQ(U32(b + tail + 12), 20u);
  EXPECT_EQ(U32(b + tail + 16), 0u);
  for (size_t i = sizeof(ScannerAbility); i < sizeof f.bytes; ++i) ASSERT_EQ(b[i], 0xA5) << "byte " << i;
}

TEST_F(CapabilityReport, ResolutionListIsTheLibrarysAndStaysPut) {
  Filled first, second;
  ASSERT_EQ(LD_GetScannerAbility(first.record()), 1);
  const uint16_t* list = first.record()->resolutionList;
  ASSERT_NE(list, nullptr);
  for (int i = 0; i < 22; ++i) EXPECT_EQ(list[i], 75 + 25 * i) << "entry " << i;
  // The list is rebuilt at every call: an entry spoiled in between comes back.
  const_cast<uint16_t*>(list)[5] = 0;
  ASSERT_EQ(LD_GetScannerAbility(second.record()), 1);
  EXPECT_EQ(second.record()->resolutionList, list);
  EXPECT_EQ(list[5], 200);
  EXPECT_EQ(list[0], 75);
  EXPECT_EQ(list[21], 600);
}

TEST_F(CapabilityReport, NoRecordIsRefused) { EXPECT_EQ(LD_GetScannerAbility(nullptr), 0); }

}  // namespace
