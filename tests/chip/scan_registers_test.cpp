// The scan register block compared as one sequence of register writes against the
// register tables (both variants, the mode register, the motor ramp switch, the masks of
// the register pairs), the ready wait on the virtual clock, and the start and stop of a
// transfer.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "driver/chip/chip.h"
#include "driver/transport/transport.h"
#include "tests/support/driver_fixture.h"
#include "tests/transport/bridge_trace.h"

namespace {

using Writes = std::vector<vscan::RegisterWrite>;

// The front end's fixed set-up, then offsets and gains red, green, blue, through the
// index (37) and data (38) registers.
Writes FrontEnd(uint8_t r, uint8_t g, uint8_t b, uint8_t gr, uint8_t gg, uint8_t gb) {
  return {{37, 0x04}, {38, 0x00}, {37, 0x03}, {38, 0x12}, {37, 0x02}, {38, 0x04}, {37, 0x05}, {38, 0x10},
          {37, 0x01}, {38, 0x03}, {37, 0x20}, {38, r},    {37, 0x21}, {38, g},    {37, 0x22}, {38, b},
          {37, 0x28}, {38, gr},   {37, 0x29}, {38, gg},   {37, 0x2A}, {38, gb}};
}

Writes Join(Writes a, const Writes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ScanRegistersTest : public DriverTest {
 protected:
  // A fresh library (shadow as at load) on a freshly opened scanner of this variant.
  void FreshOpen(int variant) {
    if (deviceOpen) LD_CloseScanner();
    ResetChipState();
    vscan::Config config;
    config.variant = variant;
    Reinstall(config);
    ASSERT_EQ(LD_OpenScanner(), 1);
    scanner().clearTrace();
  }
};

ChipSetup ColourSetup() {
  ChipSetup s{};
  s.pixelStart = 0;
  s.pixelEnd = 5300;
  s.linePixels = 5300;
  s.lineStart = 300;
  s.lineCount = 100;
  s.resolution = 600;
  s.modeCode = 0x01;
  s.lineBytes = 15900;
  s.lineBytesAll = 47700;
  s.linePeriod = 5400;
  s.stepPeriod = 8100;
  s.fullStep = 1;
  s.blockLines = 4;
  s.scanFlags = 0x0B;
  s.motorRampEnable = 1;
  s.motorRampPeriod = 0x07;
  s.motorRampA = 0x11;
  s.motorRampB = 0x22;
  return s;
}

TEST_F(ScanRegistersTest, RegisterBlockInOrder) {
  struct Case {
    const char* name;
    int variant;
    ChipSetup setup;
    AfeLevels afe;
    Writes expected;
  };
  std::vector<Case> cases;

  // Colour, variant 1, every option bit set, ramp written.
  cases.push_back({"colour, variant 1", 1, ColourSetup(), {{0xC0, 0xC1, 0xC2}, {0x02, 0x03, 0x04}},
                   Join({{1, 0x0B}, {1, 0x8B}, {1, 0x8F}, {5, 0x01}, {12, 0x58}, {13, 0x02}, {8, 0x17},
                         {9, 0x15},  {14, 0x00}, {15, 0x00}, {16, 0x1B}, {17, 0x3E}, {18, 0x1B}, {19, 0x3E},
                         {20, 0x03}, {10, 0xA3}, {11, 0x1F}, {6, 0x01},  {23, 0x58}, {24, 0x02}, {25, 0x58},
                         {26, 0x02}, {27, 0x20}, {28, 0x03}, {29, 0x60}, {30, 0x07}, {43, 0x11}, {31, 0x22},
                         {44, 0xFF}, {45, 0x01}, {39, 0xD2}, {40, 0x7F}, {41, 0x21}, {42, 0x64}},
                        FrontEnd(0xC0, 0xC1, 0xC2, 0x02, 0x03, 0x04))});

  // Line art, variant 2: 12-bit flag overruled, ramp off, half steps; the pairs' masks
  // (resolution 3 bits, start lines 6 bits, end line 8 bits) and 16-bit wrap-around.
  ChipSetup art = ColourSetup();
  art.pixelStart = 100;
  art.pixelEnd = 2000;
  art.lineStart = 10000;
  art.lineCount = 24;
  art.resolution = 2648;  // 0x0A58
  art.modeCode = 0x48;
  art.lineBytes = 663;
  art.linePeriod = 1;
  art.stepPeriod = 0;
  art.fullStep = 0;
  art.blockLines = 0x101;
  art.scanFlags = 0x08;
  art.motorRampEnable = 0;
  cases.push_back({"line art, variant 2", 2, art, {{0x10, 0x20, 0x30}, {0x05, 0x06, 0x07}},
                   Join({{1, 0x03}, {1, 0x03}, {1, 0x03}, {5, 0x48}, {12, 0x58}, {13, 0x02}, {8, 0x00},
                         {9, 0x00},  {14, 0x2C}, {15, 0x01}, {16, 0x6F}, {17, 0x17}, {18, 0x96}, {19, 0x02},
                         {20, 0x00}, {10, 0xFF}, {11, 0xFF}, {6, 0x00},  {23, 0x20}, {24, 0x0E}, {25, 0x20},
                         {26, 0x0E}, {27, 0x50}, {28, 0x4E}, {29, 0x60}, {44, 0xFF}, {45, 0x01}, {39, 0x62},
                         {40, 0xC8}, {41, 0x53}, {42, 0xB8}},
                        FrontEnd(0x10, 0x20, 0x30, 0x05, 0x06, 0x07))});

  // Grey without a channel selector (register 5 not written), a ramp switch of 2 (not
  // written), full step 2 (cleared), bit 4 of the flags (not for the chip).
  ChipSetup grey = ColourSetup();
  grey.modeCode = 0x12;
  grey.fullStep = 2;
  grey.scanFlags = 0x13;
  grey.motorRampEnable = 2;
  cases.push_back({"grey without selector, variant 1", 1, grey, {{0, 0, 0}, {0, 0, 0}},
                   Join({{1, 0x0B}, {1, 0x8B}, {1, 0x8B}, {12, 0x58}, {13, 0x02}, {8, 0x17}, {9, 0x15},
                         {14, 0x00}, {15, 0x00}, {16, 0x1B}, {17, 0x3E}, {18, 0x1B}, {19, 0x3E}, {20, 0x03},
                         {10, 0xA3}, {11, 0x1F}, {6, 0x00},  {23, 0x58}, {24, 0x02}, {25, 0x58}, {26, 0x02},
                         {27, 0x20}, {28, 0x03}, {29, 0x60}, {44, 0xFF}, {45, 0x01}, {39, 0xD2}, {40, 0x7F},
                         {41, 0x21}, {42, 0x64}},
                        FrontEnd(0, 0, 0, 0, 0, 0))});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FreshOpen(c.variant);
    chipSetup = c.setup;
    afeLevels = c.afe;
    EXPECT_EQ(ProgramScanRegisters(), 1);
    EXPECT_EQ(scanner().registerWrites(), c.expected);
    // Then one poll of register 3: the chip is ready at once.
    EXPECT_EQ(scanner().registerReads(), std::vector<uint8_t>{3});
  }
}

TEST_F(ScanRegistersTest, ModeRegisterTable) {
  struct Case {
    uint8_t modeCode;
    std::optional<uint8_t> register5;
  };
  const Case cases[] = {
      {0x01, 0x01}, {0x21, 0x01}, {0xF1, 0x01}, {0x22, 0x22}, {0x42, 0x42}, {0x82, 0x82},
      {0x02, {}},   {0x12, {}},   {0x32, {}},   {0x04, 0x04}, {0x84, 0x04}, {0x34, 0x04},
      {0x28, 0x28}, {0x48, 0x48}, {0x88, 0x88}, {0x08, {}},   {0xC8, {}},   {0x00, {}},
      {0x03, {}},   {0x25, {}},   {0x46, {}},   {0x87, {}},   {0x29, {}},   {0x2F, {}},
  };
  FreshOpen(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode code 0x" << std::hex << int(c.modeCode));
    chipSetup = ColourSetup();
    chipSetup.modeCode = c.modeCode;
    scanner().clearTrace();
    ProgramScanRegisters();
    std::vector<uint8_t> register5;
    for (const vscan::RegisterWrite& w : scanner().registerWrites()) {
      if (w.reg == 5) register5.push_back(w.value);
    }
    EXPECT_EQ(register5, c.register5 ? std::vector<uint8_t>{*c.register5} : std::vector<uint8_t>{});
  }
}

TEST_F(ScanRegistersTest, WaitsForTheReadyBit) {
  FreshOpen(1);
  chipSetup = ColourSetup();
  scanner().setReadyAfterPolls(3);
  EXPECT_EQ(ProgramScanRegisters(), 1);
  EXPECT_EQ(scanner().registerReads(), (std::vector<uint8_t>{3, 3, 3, 3}));
}

// A chip that never gets ready: 0 after a little more than 30 s of the tick counter, also
// when the counter wraps during the wait.
TEST_F(ScanRegistersTest, ReadyTimeOut) {
  FreshOpen(1);
  chipSetup = ColourSetup();
  scanner().setReadyAfterPolls(-1);
  for (DWORD start : {DWORD{1000}, DWORD{0xFFFFFFFFu - 5000}}) {
    SCOPED_TRACE(start);
    scanner().clearTrace();
    host::SetTickCount(start);
    EXPECT_EQ(ProgramScanRegisters(), 0);
    DWORD elapsed = host::PeekTickCount() - start;
    EXPECT_GT(elapsed, 30000u);
    EXPECT_LE(elapsed, 30003u);
  }
}

TEST_F(ScanRegistersTest, TransferControlPatterns) {
  struct Case {
    uint8_t control;
    bool lampOn;  // register 3 bit 0 in the chip: carried into every register 3 update
    Writes expected;
    bool starts;
  };
  // From the shadow at load: register 2 0xA0, register 3 0x05.
  const Case cases[] = {
      {0x88, true, {{2, 0xA0}, {2, 0x80}, {2, 0x80}, {3, 0x05}, {3, 0x05}, {2, 0x88}}, true},
      {0xA8, true, {{2, 0xA0}, {2, 0xA0}, {2, 0xA0}, {3, 0x05}, {3, 0x05}, {2, 0xA8}}, true},
      {0x18, false, {{2, 0x20}, {2, 0x00}, {2, 0x10}, {3, 0x04}, {3, 0x04}, {2, 0x18}}, true},
      {0x80, false, {{2, 0xA0}, {2, 0xA0}, {2, 0x80}, {2, 0x80}, {3, 0x00}, {3, 0x10}}, false},
      {0x00, true, {{2, 0xA0}, {2, 0xA0}, {2, 0x80}, {2, 0x80}, {3, 0x01}, {3, 0x11}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "transfer control 0x" << std::hex << int(c.control));
    FreshOpen(1);
    scanner().setReg(3, c.lampOn ? 0x11 : 0x10);
    transferControl = c.control;
    ApplyTransferControl();
    EXPECT_EQ(scanner().registerWrites(), c.expected);
    EXPECT_EQ(scanner().registerReads(), (std::vector<uint8_t>{3, 3}));
    EXPECT_EQ(scanner().lampOn(), c.lampOn);
    EXPECT_EQ(scanner().transferRunning(), c.starts);
    std::vector<Exchange> trace = Exchanges(scanner());
    if (c.starts) {
      // The bulk port is selected last, for the reads that follow.
      ASSERT_GE(trace.size(), 2u);
      EXPECT_EQ(trace[trace.size() - 2], Wr(0x87, 0x14));
      EXPECT_EQ(trace.back(), Wr(0x83, 0x24));
      StopTransfer();
    }
  }
}

TEST_F(ScanRegistersTest, StopTransferTwiceFreesOnce) {
  FreshOpen(1);
  ASSERT_NE(TakeTransferBuffer(0x42), nullptr);
  EXPECT_EQ(host::LiveGlobalBlocks(), 1u);
  transferControl = 0x88;
  StopTransfer();
  EXPECT_EQ(transferControl, 0);
  EXPECT_EQ(transferBuffer.buffer, nullptr);
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
  StopTransfer();
  // The same six steps twice; the second starts from the shadow the first left.
  EXPECT_EQ(scanner().registerWrites(), (Writes{{2, 0xA0}, {2, 0xA0}, {2, 0x80}, {2, 0x80}, {3, 0x01}, {3, 0x11},
                                                {2, 0x80}, {2, 0x80}, {2, 0x80}, {2, 0x80}, {3, 0x11}, {3, 0x11}}));
}

TEST_F(ScanRegistersTest, TransferBufferSlot) {
  uint8_t* block = TakeTransferBuffer(0x42);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(block[kTransferBufferBytes - 1], 0);
  // Taking it again while held gives the old block back first instead of losing it.
  ASSERT_NE(TakeTransferBuffer(0x42), nullptr);
  EXPECT_EQ(host::LiveGlobalBlocks(), 1u);
  ReleaseTransferBuffer();
  ReleaseTransferBuffer();
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u);

  host::FailGlobalAllocOfSize(kTransferBufferBytes);
  EXPECT_EQ(TakeTransferBuffer(0x42), nullptr);
  EXPECT_EQ(transferBuffer.buffer, nullptr);
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
}

TEST_F(ScanRegistersTest, CloseStopsReleasesAndDisconnects) {
  FreshOpen(1);
  ASSERT_NE(TakeTransferBuffer(0x42), nullptr);
  transferControl = 0x88;
  ApplyTransferControl();
  ASSERT_TRUE(scanner().transferRunning());
  EXPECT_EQ(CloseScannerDevice(), 1);
  deviceOpen = 0;
  EXPECT_FALSE(scanner().transferRunning());
  EXPECT_FALSE(scanner().locked());
  EXPECT_EQ(transferBuffer.buffer, nullptr);
  EXPECT_EQ(host::ModuleReferences("sti.dll"), 0);
}

}  // namespace
