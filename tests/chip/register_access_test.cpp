// Chip register access over the bridge: the request sequences of select, write and read,
// the masked updates through the shadow (register 3's lamp bit taken from the chip), the
// wake-up and variant detection at open, and the lamp.
#include <gtest/gtest.h>

#include <vector>

#include "driver/chip/chip.h"
#include "driver/transport/transport.h"
#include "tests/support/driver_fixture.h"
#include "tests/transport/bridge_trace.h"

namespace {

using Exchanges_ = std::vector<Exchange>;
using Writes = std::vector<vscan::RegisterWrite>;

class RegisterTest : public DriverTest {
 protected:
  void Open() {
    ASSERT_EQ(LD_OpenScanner(), 1);
    scanner().clearTrace();
  }
};

TEST_F(RegisterTest, ProtocolSequences) {
  Open();
  EXPECT_EQ(WriteRegister(7, 0x5A), 1);
  EXPECT_EQ(Exchanges(scanner()), (Exchanges_{Wr(0x87, 0x14), Wr(0x83, 0x07), Wr(0x87, 0x14), Wr(0x85, 0x5A)}));

  scanner().clearTrace();
  EXPECT_EQ(ReadRegister(7), 0x5A);
  EXPECT_EQ(Exchanges(scanner()), (Exchanges_{Wr(0x87, 0x14), Wr(0x83, 0x07), Wr(0x87, 0x14), Wr(0x87, 0x34),
                                              Rd(0x84), Wr(0x87, 0x14)}));

  scanner().clearTrace();
  EXPECT_EQ(SelectRegister(36), 1);
  EXPECT_EQ(Exchanges(scanner()), (Exchanges_{Wr(0x87, 0x14), Wr(0x83, 0x24)}));

  scanner().clearTrace();
  EXPECT_EQ(WriteModeRegister(0x08, 0x40), 1);
  EXPECT_EQ(scanner().registerWrites(), (Writes{{5, 0x48}}));
}

// Only the address write decides SelectRegister; WriteRegister fails when its selection or
// its data write fails (without the selection the data write is not sent); a failed data
// read reads as 0xFF.
TEST_F(RegisterTest, ResultsComeFromTheDataRequest) {
  Open();
  struct Case {
    int operation;  // 0 select, 1 write, 2 read
    uint64_t failing;
    int32_t result;
  };
  const Case cases[] = {{0, 0, 1}, {0, 1, 0}, {1, 0, 1}, {1, 1, 0}, {1, 2, 1}, {1, 3, 0},
                        {2, 0, 0x5A}, {2, 2, 0x5A}, {2, 4, 0xFF}};
  WriteRegister(12, 0x5A);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "operation " << c.operation << ", request " << c.failing << " fails");
    scanner().clearFaults();
    scanner().failAt(vscan::Op::Escape, c.failing);
    int32_t result = c.operation == 0 ? SelectRegister(12) : c.operation == 1 ? WriteRegister(12, 0x5A) : ReadRegister(12);
    EXPECT_EQ(result, c.result);
  }
  scanner().clearFaults();
  GLWriteSPPControlPort(0x14);
}

TEST_F(RegisterTest, MaskedUpdatesGoThroughTheShadow) {
  Open();
  struct Case {
    uint8_t reg, slot, mask, set, written;
  };
  // From the shadow at load: register 1 0x03, 2 0xA0, 6 0x01.
  const Case cases[] = {
      {2, 1, 0x04, 1, 0xA4}, {2, 1, 0x04, 0, 0xA0}, {2, 1, 0x80, 2, 0x20},
      {2, 1, 0x20, 0xFF, 0x00},  // any set value but 1 clears
      {1, 0, 0x08, 1, 0x0B},     {1, 0, 0x01, 2, 0x0A}, {6, 5, 0x01, 0, 0x00}, {6, 5, 0x01, 1, 0x01},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "register " << int(c.reg) << " mask " << int(c.mask) << " set " << int(c.set));
    scanner().clearTrace();
    EXPECT_EQ(SetRegisterBits(c.reg, c.slot, c.mask, c.set), 1);
    EXPECT_EQ(scanner().registerWrites(), (Writes{{c.reg, c.written}}));
    EXPECT_TRUE(scanner().registerReads().empty()) << "only register 3 is read first";
  }
}

// Register 3: bit 0 (the lamp) comes from the chip, every other bit from the shadow.
TEST_F(RegisterTest, StatusUpdatesTakeTheLampFromTheChip) {
  Open();
  struct Case {
    uint8_t chip;  // register 3 as the chip holds it
    uint8_t mask, set, written;
    bool readFails;
  };
  // The shadow slot starts at 0x05 and carries each update to the next.
  const Case cases[] = {
      {0x10, 0x10, 1, 0x14, false},  // lamp off in the chip: bit 0 dropped from the shadow
      {0x11, 0x04, 0, 0x11, false},  // lamp on in the chip
      {0x00, 0x10, 0, 0x01, true},   // a failed read gives 0xFF: bit 0 set
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "chip 0x" << std::hex << int(c.chip));
    scanner().setReg(3, c.chip);
    scanner().clearTrace();
    if (c.readFails) scanner().failAt(vscan::Op::Escape, 4);
    SetRegisterBits(3, 2, c.mask, c.set);
    EXPECT_EQ(scanner().registerWrites(), (Writes{{3, c.written}}));
    if (!c.readFails) {
      EXPECT_EQ(scanner().registerReads(), std::vector<uint8_t>{3});
    }
  }
  GLWriteSPPControlPort(0x14);
}

TEST_F(RegisterTest, ShadowOutlivesCloseAndReopen) {
  Open();
  SetRegisterBits(1, 0, 0x08, 1);
  ASSERT_EQ(LD_CloseScanner(), 1);
  Open();
  SetRegisterBits(1, 0, 0x80, 1);
  EXPECT_EQ(scanner().registerWrites(), (Writes{{1, 0x8B}}));
}

// The open: the two wake-up sequences, register 3 written 0x53, read back for the variant,
// then written 0x11.
TEST_F(RegisterTest, OpenWakesTheChipAndProbesTheVariant) {
  ASSERT_EQ(LD_OpenScanner(), 1);
  Exchanges_ expected;
  for (uint8_t b : {0xA0, 0xA8, 0x50, 0x58, 0x90, 0x98, 0xC0, 0xC8, 0x90, 0x98, 0xE0, 0xE8, 0x00}) {
    expected.push_back(Wr(0x88, b));
  }
  for (uint8_t b : {0x14, 0x15, 0x1D, 0x15, 0x14}) expected.push_back(Wr(0x87, b));
  expected.push_back(Wr(0x88, 0x04));
  for (uint8_t b : {0x14, 0x15, 0x17, 0x15, 0x14}) expected.push_back(Wr(0x87, b));
  for (Exchange e : {Wr(0x87, 0x14), Wr(0x83, 0x03), Wr(0x87, 0x14), Wr(0x85, 0x53),  // write 0x53
                     Wr(0x87, 0x14), Wr(0x83, 0x03), Wr(0x87, 0x14), Wr(0x87, 0x34), Rd(0x84),
                     Wr(0x87, 0x14),                                                    // read
                     Wr(0x87, 0x14), Wr(0x83, 0x03), Wr(0x87, 0x14), Wr(0x85, 0x11)}) {  // write 0x11
    expected.push_back(e);
  }
  EXPECT_EQ(Exchanges(scanner()), expected);
  EXPECT_TRUE(scanner().awake());
  EXPECT_EQ(scanner().reg(3), 0x11);
}

TEST_F(RegisterTest, VariantDetection) {
  struct Case {
    int chipVariant;
    bool readFails;  // the variant read fails: the scanner is not identified, the open fails
    uint8_t detected;
  };
  for (const Case& c : {Case{1, false, 1}, Case{2, false, 2}, Case{1, true, 0}}) {
    SCOPED_TRACE(testing::Message() << "variant " << c.chipVariant << (c.readFails ? ", read fails" : ""));
    if (deviceOpen) LD_CloseScanner();
    vscan::Config config;
    config.variant = c.chipVariant;
    Reinstall(config);
    // 24 wake-up writes and 4 for register 3 = 0x53, then the read's fifth request.
    if (c.readFails) {
      scanner().failAt(vscan::Op::Escape, 32);
      EXPECT_EQ(LD_OpenScanner(), 0);
      EXPECT_EQ(deviceOpen, 0);
      EXPECT_EQ(ReadStatus(), 1);
      EXPECT_EQ(host::ModuleReferences("sti.dll"), 0);
      continue;
    }
    ASSERT_EQ(LD_OpenScanner(), 1);
    EXPECT_EQ(hardwareVariant, c.detected);
    LD_CloseScanner();
    // Kept after the close.
    EXPECT_EQ(hardwareVariant, c.detected);
  }
}

TEST_F(RegisterTest, LampSwitchesAndReadsBack) {
  Open();
  EXPECT_EQ(SwitchLampOff(), 1);
  EXPECT_EQ(scanner().registerWrites(), (Writes{{3, 0x04}}));  // the shadow's 0x05, lamp bit cleared
  EXPECT_EQ(ReadLampState(), 0);
  EXPECT_FALSE(scanner().lampOn());
  scanner().clearTrace();
  EXPECT_EQ(SwitchLampOn(), 1);
  EXPECT_EQ(scanner().registerWrites(), (Writes{{3, 0x05}}));
  EXPECT_EQ(ReadLampState(), 1);
  EXPECT_TRUE(scanner().lampOn());
}

}  // namespace
