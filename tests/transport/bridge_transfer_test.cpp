// The bridge's port requests and the six bulk transfer functions, checked as the requests
// and transfers that reach the virtual bridge: request numbers, bytes, setup packets and
// transfer sizes, on the sizes around the plain-transfer limit.
#include <gtest/gtest.h>

#include <vector>

#include "driver/chip/chip.h"
#include "driver/transport/transport.h"
#include "tests/support/driver_fixture.h"
#include "tests/transport/bridge_trace.h"

namespace {

using Exchanges_ = std::vector<Exchange>;

class BridgeTest : public DriverTest {
 protected:
  void Open() {
    ASSERT_EQ(LD_OpenScanner(), 1);
    scanner().clearTrace();
  }
};

struct WritePortCase {
  const char* name;
  int32_t(LDAPI* fn)(uint32_t);
  uint8_t request;
  uint32_t argument;  // bits above the low byte are dropped
};
const WritePortCase kWritePorts[] = {
    {"SPP data", GLWriteSPPDataPort, 0x88, 0x15A},
    {"SPP control", GLWriteSPPControlPort, 0x87, 0x214},
    {"EPP address", GLWriteEPPAddressPort, 0x83, 0x30C},  // selects register 12
    {"EPP data", GLWriteEPPDataPort, 0x85, 0x458},
    {"GPIO output enable", GLGpioOE, 0x89, 0x5FF},
    {"GPIO pins", GLGpioWrite, 0x8B, 0x63C},
};

struct ReadPortCase {
  const char* name;
  int32_t(LDAPI* fn)();
  uint8_t request;
};
const ReadPortCase kReadPorts[] = {
    {"SPP status", GLReadSPPStatusPort, 0x86},
    {"EPP data", GLReadEPPDataPort, 0x84},
    {"GPIO pins", GLGpioRead, 0x8A},
};

TEST_F(BridgeTest, WritePortsSendTheLowByte) {
  Open();
  for (const WritePortCase& c : kWritePorts) {
    SCOPED_TRACE(c.name);
    scanner().clearTrace();
    EXPECT_EQ(c.fn(c.argument), 1);
    EXPECT_EQ(Exchanges(scanner()), (Exchanges_{Wr(c.request, static_cast<uint8_t>(c.argument))}));
  }
  EXPECT_EQ(scanner().reg(12), 0x58) << "the EPP address and data writes reach the chip";
}

TEST_F(BridgeTest, ReadPortsReturnTheAnsweredByte) {
  Open();
  GLGpioOE(0xFF);
  GLGpioWrite(0x3C);
  GLWriteSPPControlPort(0x14);
  GLWriteEPPAddressPort(12);
  GLWriteEPPDataPort(0xC7);
  GLWriteSPPControlPort(0x34);  // data direction chip to host for the EPP read
  const int32_t expected[] = {-2, 0xC7, 0x3C};  // -2: whatever the status lines show
  for (size_t i = 0; i < 3; ++i) {
    const ReadPortCase& c = kReadPorts[i];
    SCOPED_TRACE(c.name);
    scanner().clearTrace();
    int32_t value = c.fn();
    ASSERT_EQ(scanner().trace().size(), 1u);
    const vscan::TraceEntry& e = scanner().trace()[0];
    EXPECT_EQ(e.request, c.request);
    EXPECT_FALSE(e.write);
    EXPECT_EQ(value, e.byte);
    if (expected[i] >= 0) {
      EXPECT_EQ(value, expected[i]);
    }
  }
  GLWriteSPPControlPort(0x14);
}

TEST_F(BridgeTest, FailedRequestsGiveZeroOrMinusOne) {
  Open();
  for (const WritePortCase& c : kWritePorts) {
    SCOPED_TRACE(c.name);
    scanner().failAt(vscan::Op::Escape, 0);
    EXPECT_EQ(c.fn(c.argument), 0);
  }
  for (const ReadPortCase& c : kReadPorts) {
    SCOPED_TRACE(c.name);
    scanner().failAt(vscan::Op::Escape, 0);
    EXPECT_EQ(c.fn(), -1);
  }
}

// Without a connection nothing may reach for the device.
TEST_F(BridgeTest, NothingWithoutAConnection) {
  uint8_t buffer[16] = {};
  for (const WritePortCase& c : kWritePorts) EXPECT_EQ(c.fn(c.argument), 0) << c.name;
  for (const ReadPortCase& c : kReadPorts) EXPECT_EQ(c.fn(), -1) << c.name;
  EXPECT_EQ(UsbReadScanner(buffer, 16, 0), 0);
  EXPECT_EQ(UsbWriteScanner(buffer, 16, 0), 0);
  EXPECT_EQ(UsbWriteScannerFw(buffer, 16), 0);
  EXPECT_EQ(UsbWriteScannerAD(buffer, 16), 0);
  EXPECT_EQ(UsbReadScannerLines(buffer, 8, 2, 0), 0);
  EXPECT_EQ(UsbReadScannerFast(buffer, 16, 0), 0);
  EXPECT_EQ(scanner().count(vscan::Op::Escape), 0u);
  EXPECT_EQ(scanner().count(vscan::Op::RawRead), 0u);
  EXPECT_EQ(scanner().count(vscan::Op::RawWrite), 0u);
}

// The control port cannot be read back from the bridge: the last value written stands in.
TEST_F(BridgeTest, ControlPortReadsTheLastValueWritten) {
  EXPECT_EQ(GLReadSPPControlPort(), 0);
  Open();
  scanner().failAt(vscan::Op::Escape, 0);
  EXPECT_EQ(GLWriteSPPControlPort(0x134), 0);
  scanner().clearTrace();
  EXPECT_EQ(GLReadSPPControlPort(), 0x34);
  EXPECT_TRUE(scanner().trace().empty()) << "no request for the cached port";
  GLWriteSPPControlPort(0x14);
}

// --- bulk transfers ---------------------------------------------------------------------

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return v;
}

constexpr uint8_t kGuard = 0xA5;

class BulkTest : public BridgeTest {
 protected:
  void TearDown() override {
    if (deviceOpen) {
      SetRegisterBits(kRegTransfer, kRegTransfer - 1, kXferRamAccess, 0);
      StopTransfer();
    }
    BridgeTest::TearDown();
  }
  // The bulk port to the chip's RAM, its pointer back at 0.
  void ChipRam() {
    SetRegisterBits(kRegTransfer, kRegTransfer - 1, kXferRamAccess, 0);
    SetRegisterBits(kRegTransfer, kRegTransfer - 1, kXferRamAccess, 1);
    SelectRegister(kRegBulkPort);
    scanner().clearTrace();
  }
  // A running 600 dpi colour stream of 23,850-byte lines.
  void Stream() {
    chipSetup = ChipSetup{};
    chipSetup.pixelEnd = 5300;
    chipSetup.lineCount = 2000;
    chipSetup.resolution = 600;
    chipSetup.modeCode = 0x01;
    chipSetup.lineBytes = 7950;
    chipSetup.linePeriod = 5400;
    chipSetup.stepPeriod = 5400;
    chipSetup.blockLines = 1;
    ProgramScanRegisters();
    transferControl = 0x88;
    ApplyTransferControl();
    scanner().clearTrace();
  }
};

struct PlainCase {
  const char* name;
  bool write;
  uint8_t kind;
  int32_t (*call)(uint8_t* buffer, uint32_t length);
};
const PlainCase kPlain[] = {
    {"UsbReadScanner", false, 0x00, [](uint8_t* b, uint32_t n) { return UsbReadScanner(b, n, 0x1A7); }},
    {"UsbWriteScanner", true, 0x00, [](uint8_t* b, uint32_t n) { return UsbWriteScanner(b, n, 0x1A7); }},
    {"UsbWriteScannerFw", true, 0x01, [](uint8_t* b, uint32_t n) { return UsbWriteScannerFw(b, n); }},
    {"UsbWriteScannerAD", true, 0x11, [](uint8_t* b, uint32_t n) { return UsbWriteScannerAD(b, n); }},
};

// 0 and 61440 move what was asked; 61441 announces and moves 61440 and still fails.
TEST_F(BulkTest, PlainTransfersAroundTheLimit) {
  Open();
  struct Size {
    uint32_t asked, moved;
    int32_t result;
  };
  const Size sizes[] = {{0, 0, 1}, {100, 100, 1}, {61440, 61440, 1}, {61441, 61440, 0}};
  for (const PlainCase& c : kPlain) {
    for (const Size& size : sizes) {
      SCOPED_TRACE(std::string(c.name) + " of " + std::to_string(size.asked));
      ChipRam();
      std::vector<uint8_t> buffer = Pattern(size.asked + 1, 3);
      buffer[size.asked] = kGuard;
      EXPECT_EQ(c.call(buffer.data(), size.asked), size.result);
      const uint8_t value = c.kind == 0x00 ? 0xA7 : 0x00;
      Exchange packet = Packet(c.write ? 0x01 : 0x00, c.kind, value, 0x00, static_cast<uint8_t>(size.moved),
                              static_cast<uint8_t>(size.moved >> 8), 0, 0);
      EXPECT_EQ(Exchanges(scanner()),
                (Exchanges_{packet, c.write ? BulkOut(size.moved) : BulkIn(size.moved)}));
      if (c.write && c.kind == 0x00) {
        std::vector<uint8_t> ram(scanner().chipRam().begin(), scanner().chipRam().begin() + size.moved);
        EXPECT_EQ(ram, std::vector<uint8_t>(buffer.begin(), buffer.begin() + size.moved));
        EXPECT_NE(scanner().chipRam()[size.moved], buffer[size.moved]) << "moved one byte too many";
      }
      if (!c.write) {
        EXPECT_EQ(buffer[size.asked], kGuard) << "read past the length";
      }
    }
  }
}

TEST_F(BulkTest, PlainReadBringsBackWhatWasWritten) {
  Open();
  ChipRam();
  std::vector<uint8_t> out = Pattern(61440, 11);
  ASSERT_EQ(UsbWriteScanner(out.data(), 61440, 0), 1);
  ChipRam();
  std::vector<uint8_t> in(61441, kGuard);
  ASSERT_EQ(UsbReadScanner(in.data(), 61440, 0), 1);
  EXPECT_EQ(std::vector<uint8_t>(in.begin(), in.begin() + 61440), out);
  EXPECT_EQ(in[61440], kGuard);
}

TEST_F(BulkTest, FailuresOfPacketOrTransfer) {
  Open();
  for (const PlainCase& c : kPlain) {
    SCOPED_TRACE(c.name);
    const vscan::Op raw = c.write ? vscan::Op::RawWrite : vscan::Op::RawRead;
    std::vector<uint8_t> buffer(64);
    ChipRam();
    const uint64_t transfers = scanner().count(raw);
    scanner().failAt(vscan::Op::BulkSetup, 0);
    EXPECT_EQ(c.call(buffer.data(), 64), 0);
    EXPECT_EQ(scanner().count(raw), transfers) << "no transfer after a failed setup packet";
    ChipRam();
    scanner().failAt(raw, 0);
    EXPECT_EQ(c.call(buffer.data(), 64), 0);
  }
}

// A read that delivers fewer bytes than it announced has failed: the buffer's tail would
// still hold what was there before.
TEST_F(BulkTest, ShortReadsFail) {
  Open();
  Stream();
  std::vector<uint8_t> buffer(95400);
  struct Case {
    const char* name;
    int32_t (*call)(uint8_t* buffer);
  };
  const Case cases[] = {
      {"UsbReadScanner", [](uint8_t* b) { return UsbReadScanner(b, 61440, 0); }},
      {"UsbReadScannerLines", [](uint8_t* b) { return UsbReadScannerLines(b, 23850, 4, 0); }},
      {"UsbReadScannerFast", [](uint8_t* b) { return UsbReadScannerFast(b, 61540, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scanner().clearFaults();
    EXPECT_EQ(c.call(buffer.data()), 1);
    scanner().shortReadsFrom(0, 10);
    EXPECT_EQ(c.call(buffer.data()), 0);
  }
  scanner().clearFaults();
}

// Fast reads: whole 61440-byte blocks in one block-mode transfer, the rest in a plain one.
TEST_F(BulkTest, FastReadSplitsIntoBlocksAndRemainder) {
  Open();
  Stream();
  struct Case {
    uint32_t length;
    Exchanges_ expected;
  };
  const Case cases[] = {
      {0, {}},
      {1000, {Packet(0x00, 0x00, 0x5C, 0x00, 0xE8, 0x03, 0x00, 0x00), BulkIn(1000)}},
      {61440, {Packet(0x00, 0x04, 0x5C, 0x00, 0x00, 0xF0, 0x01, 0x00), BulkIn(61440)}},
      {184320, {Packet(0x00, 0x04, 0x5C, 0x00, 0x00, 0xF0, 0x03, 0x00), BulkIn(184320)}},
      {122980,
       {Packet(0x00, 0x04, 0x5C, 0x00, 0x00, 0xF0, 0x02, 0x00), BulkIn(122880),
        Packet(0x00, 0x00, 0x5C, 0x00, 0x64, 0x00, 0x00, 0x00), BulkIn(100)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    scanner().clearTrace();
    std::vector<uint8_t> buffer(c.length + 1, kGuard);
    EXPECT_EQ(UsbReadScannerFast(buffer.data(), c.length, 0x35C), 1);
    EXPECT_EQ(Exchanges(scanner()), c.expected);
    EXPECT_EQ(buffer[c.length], kGuard);
  }
}

// The remainder lands right after the blocks; a failure after the block phase keeps them.
TEST_F(BulkTest, FastReadPlacesTheRemainderAfterTheBlocks) {
  Open();
  ChipRam();
  std::vector<uint8_t> ram = Pattern(61540, 29);
  ASSERT_EQ(UsbWriteScanner(ram.data(), 61440, 0), 1);
  ASSERT_EQ(UsbWriteScanner(ram.data() + 61440, 100, 0), 1);
  ChipRam();
  std::vector<uint8_t> in(61541, kGuard);
  ASSERT_EQ(UsbReadScannerFast(in.data(), 61540, 0), 1);
  EXPECT_EQ(std::vector<uint8_t>(in.begin(), in.end() - 1), ram);
  EXPECT_EQ(in[61540], kGuard);

  ChipRam();
  std::vector<uint8_t> half(61540, kGuard);
  scanner().failAt(vscan::Op::RawRead, 1);
  EXPECT_EQ(UsbReadScannerFast(half.data(), 61540, 0), 0);
  EXPECT_EQ(std::vector<uint8_t>(half.begin(), half.begin() + 61440),
            std::vector<uint8_t>(ram.begin(), ram.begin() + 61440));
}

// A block count that does not fit the packet's 16 bits is refused before any request.
TEST_F(BulkTest, FastReadRefusesACountBeyondSixteenBits) {
  Open();
  uint8_t buffer[1] = {kGuard};
  EXPECT_EQ(UsbReadScannerFast(buffer, 65536u * 61440u, 0), 0);
  EXPECT_TRUE(scanner().trace().empty());
  EXPECT_EQ(buffer[0], kGuard);
}

// Line mode: 16-bit line size and count in the packet, their product in one transfer.
TEST_F(BulkTest, LineReadAnnouncesSizeAndCount) {
  Open();
  Stream();
  struct Case {
    uint32_t lineSize, lineCount;
  };
  // The bits above 16 of either argument are not part of the packet.
  for (const Case& c : {Case{23850, 4}, Case{0x10000 + 23850, 0x30001}}) {
    SCOPED_TRACE(c.lineSize);
    scanner().clearTrace();
    std::vector<uint8_t> buffer(95401, kGuard);
    EXPECT_EQ(UsbReadScannerLines(buffer.data(), c.lineSize, c.lineCount, 0x107), 1);
    const uint8_t count = c.lineCount == 4 ? 0x04 : 0x01;
    const uint32_t bytes = 23850u * count;
    EXPECT_EQ(Exchanges(scanner()),
              (Exchanges_{Packet(0x00, 0x0C, 0x07, 0x00, 0x2A, 0x5D, count, 0x00), BulkIn(bytes)}));
    EXPECT_EQ(buffer[bytes], kGuard);
  }
  scanner().failAt(vscan::Op::RawRead, 0);
  std::vector<uint8_t> buffer(23850);
  EXPECT_EQ(UsbReadScannerLines(buffer.data(), 23850, 1, 0), 0);
}

}  // namespace
