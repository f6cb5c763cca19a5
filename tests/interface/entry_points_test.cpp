// The entry points that open and close the scanner, switch and query the lamp (also on a
// closed device), record a stop request and report the status, and the loop-back test
// through the chip's RAM.
#include <gtest/gtest.h>

#include <vector>

#include "driver/chip/chip.h"
#include "driver/interface/device_state.h"
#include "driver/interface/ld_api.h"
#include "tests/support/driver_fixture.h"
#include "tests/transport/bridge_trace.h"

namespace {

using Exchanges_ = std::vector<Exchange>;

using EntryPointTest = DriverTest;

vscan::Config NoScanner() {
  vscan::Config config;
  config.devices.clear();
  return config;
}

TEST_F(EntryPointTest, StateAfterLoad) {
  EXPECT_EQ(ReadStatus(), 0);
  EXPECT_EQ(deviceOpen, 0);
  EXPECT_EQ(stopRequested, 1);
  EXPECT_EQ(LD_GetScannerStatus(nullptr), 0);
}

TEST_F(EntryPointTest, OpenAndClose) {
  ASSERT_EQ(LD_OpenScanner(), 1);
  EXPECT_EQ(deviceOpen, 1);
  EXPECT_TRUE(scanner().locked());
  EXPECT_TRUE(scanner().awake());
  EXPECT_EQ(hardwareVariant, 1);
  stopRequested = 0;
  EXPECT_EQ(LD_CloseScanner(), 1);
  EXPECT_EQ(deviceOpen, 0);
  EXPECT_EQ(stopRequested, 1);
  EXPECT_EQ(ReadStatus(), 0);
  EXPECT_FALSE(scanner().locked());
  EXPECT_EQ(host::ModuleReferences("sti.dll"), 0);

  stopRequested = 0;
  EXPECT_EQ(LD_CloseScanner(), 0);
  EXPECT_EQ(ReadStatus(), 1);
  EXPECT_EQ(stopRequested, 1);
}

// A failed open sets status 1; a later successful open leaves it until an entry point
// that checks the device resets it.
TEST_F(EntryPointTest, StatusAfterFailedThenSuccessfulOpen) {
  Reinstall(NoScanner());
  EXPECT_EQ(LD_OpenScanner(), 0);
  EXPECT_EQ(deviceOpen, 0);
  EXPECT_EQ(ReadStatus(), 1);
  Reinstall(vscan::Config{});
  ASSERT_EQ(LD_OpenScanner(), 1);
  EXPECT_EQ(ReadStatus(), 1);
  // Neither of these looks at the device, so neither resets the status.
  EXPECT_EQ(LD_StopScan(), 1);
  EXPECT_EQ(ReadStatus(), 1);
  EXPECT_EQ(LD_DiagnosticTest(), 1);
  EXPECT_EQ(ReadStatus(), 1);
  EXPECT_EQ(LD_LampOn(), 1);
  EXPECT_EQ(ReadStatus(), 0);
}

TEST_F(EntryPointTest, StopScanOnlyRecordsTheRequest) {
  ASSERT_EQ(LD_OpenScanner(), 1);
  scanner().clearTrace();
  stopRequested = 0;
  EXPECT_EQ(LD_StopScan(), 1);
  EXPECT_EQ(stopRequested, 1);
  EXPECT_TRUE(scanner().trace().empty());
}

// A second open while open starts from a clean connection instead of leaking the held
// one and failing on this process's own lock.
TEST_F(EntryPointTest, SecondOpenReplacesTheConnection) {
  ASSERT_EQ(LD_OpenScanner(), 1);
  ASSERT_NE(TakeTransferBuffer(0x42), nullptr);
  ASSERT_EQ(LD_OpenScanner(), 1);
  EXPECT_EQ(deviceOpen, 1);
  EXPECT_TRUE(scanner().locked());
  EXPECT_EQ(scanner().openDeviceObjects(), 1);
  EXPECT_EQ(scanner().serviceObjects(), 1);
  EXPECT_EQ(host::ModuleReferences("sti.dll"), 1);
  EXPECT_EQ(host::ComBalance(), 1);
  EXPECT_EQ(transferBuffer.buffer, nullptr) << "the first connection's transfer was stopped";
  EXPECT_EQ(LD_CloseScanner(), 1);
}

// On a closed device the lamp calls open it for themselves and close it again.
TEST_F(EntryPointTest, LampOnAClosedDevice) {
  struct Case {
    const char* name;
    int32_t (*call)(int32_t* lamp);
    bool lampAfter;
    int32_t stored;  // -1: nothing stored
  };
  const Case cases[] = {
      {"LD_LampOff", [](int32_t*) { return LD_LampOff(); }, false, -1},
      {"LD_LampOn", [](int32_t*) { return LD_LampOn(); }, true, -1},
      // The temporary open leaves register 3 at 0x11 before the lamp is read.
      {"LD_GetLampStatus", [](int32_t* lamp) { return LD_GetLampStatus(lamp); }, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t lamp = -1;
    lastStatus = 5;
    EXPECT_EQ(c.call(&lamp), 1);
    EXPECT_EQ(scanner().lampOn(), c.lampAfter);
    EXPECT_EQ(lamp, c.stored);
    EXPECT_EQ(deviceOpen, 0);
    EXPECT_EQ(ReadStatus(), 0);
    EXPECT_FALSE(scanner().locked());
    EXPECT_EQ(host::ModuleReferences("sti.dll"), 0);
    EXPECT_EQ(host::ComBalance(), 0);
  }

  Reinstall(NoScanner());
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " without a scanner");
    int32_t lamp = 7;
    EXPECT_EQ(c.call(&lamp), 0);
    EXPECT_EQ(lamp, 7);
    EXPECT_EQ(ReadStatus(), 1);
    EXPECT_EQ(deviceOpen, 0);
  }
}

TEST_F(EntryPointTest, LampOnAnOpenDevice) {
  ASSERT_EQ(LD_OpenScanner(), 1);
  int32_t lamp = -1;
  EXPECT_EQ(LD_LampOff(), 1);
  EXPECT_EQ(LD_GetLampStatus(&lamp), 1);
  EXPECT_EQ(lamp, 0);
  EXPECT_EQ(LD_LampOn(), 1);
  EXPECT_EQ(LD_GetLampStatus(&lamp), 1);
  EXPECT_EQ(lamp, 1);
  EXPECT_EQ(deviceOpen, 1);
  EXPECT_TRUE(scanner().locked());
  EXPECT_EQ(ReadStatus(), 0);

  // A switch whose register write was lost fails as a transfer failure.
  scanner().failFrom(vscan::Op::Escape, 0);
  EXPECT_EQ(LD_LampOff(), 0);
  EXPECT_EQ(ReadStatus(), 5);
  scanner().clearFaults();
}

TEST_F(EntryPointTest, LampStatusWithoutAPlaceToStoreIt) {
  const int loads = host::ModuleLoadCount("sti.dll");
  lastStatus = 5;
  EXPECT_EQ(LD_GetLampStatus(nullptr), 0);
  EXPECT_EQ(host::ModuleLoadCount("sti.dll"), loads) << "no temporary open";
  EXPECT_EQ(ReadStatus(), 5);
}

// --- loop-back test --------------------------------------------------------------------

TEST_F(EntryPointTest, DiagnosticPassesThroughChipRam) {
  ASSERT_EQ(LD_OpenScanner(), 1);
  scanner().clearTrace();
  lastStatus = 5;
  EXPECT_EQ(LD_DiagnosticTest(), 1);
  EXPECT_EQ(ReadStatus(), 5);
  EXPECT_EQ(deviceOpen, 1);
  const Exchanges_ ramOn = {Wr(0x87, 0x14), Wr(0x83, 0x02), Wr(0x87, 0x14), Wr(0x85, 0xA4),
                            Wr(0x87, 0x14), Wr(0x83, 0x24)};
  const Exchanges_ ramOff = {Wr(0x87, 0x14), Wr(0x83, 0x02), Wr(0x87, 0x14), Wr(0x85, 0xA0)};
  Exchanges_ expected = ramOn;
  expected.push_back(Packet(0x01, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00));
  expected.push_back(BulkOut(4096));
  expected.insert(expected.end(), ramOff.begin(), ramOff.end());
  expected.insert(expected.end(), ramOn.begin(), ramOn.end());
  expected.push_back(Packet(0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00));
  expected.push_back(BulkIn(4096));
  expected.insert(expected.end(), ramOff.begin(), ramOff.end());
  EXPECT_EQ(Exchanges(scanner()), expected);
  EXPECT_EQ(std::vector<uint8_t>(scanner().chipRam().begin(), scanner().chipRam().begin() + 4097),
            [] {
              std::vector<uint8_t> v(4096, 0x55);
              v.push_back(0x00);
              return v;
            }());
}

TEST_F(EntryPointTest, DiagnosticFailsOnAnyDifferentByte) {
  ASSERT_EQ(LD_OpenScanner(), 1);
  for (uint32_t offset : {0u, 2048u, 4095u}) {
    SCOPED_TRACE(offset);
    scanner().clearFaults();
    scanner().corruptRamByte(offset, 0x54);
    EXPECT_EQ(LD_DiagnosticTest(), 0);
  }
  scanner().clearFaults();
  EXPECT_EQ(LD_DiagnosticTest(), 1);
  // A read that does not happen leaves the cleared block: a failure, not a pass.
  scanner().failAt(vscan::Op::RawRead, 0);
  EXPECT_EQ(LD_DiagnosticTest(), 0);
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u);
}

TEST_F(EntryPointTest, DiagnosticWithoutDeviceOrMemoryTouchesNothing) {
  const int loads = host::ModuleLoadCount("sti.dll");
  EXPECT_EQ(LD_DiagnosticTest(), 0);
  EXPECT_EQ(host::ModuleLoadCount("sti.dll"), loads);
  EXPECT_EQ(ReadStatus(), 0);

  ASSERT_EQ(LD_OpenScanner(), 1);
  scanner().clearTrace();
  host::FailGlobalAllocOfSize(4096);
  EXPECT_EQ(LD_DiagnosticTest(), 0);
  EXPECT_TRUE(scanner().trace().empty());
  host::ClearMemoryFaults();
}

}  // namespace
