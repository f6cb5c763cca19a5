// Fixture for the decoder and line assembly: a stream buffer filled by the test, and, for
// refills, the virtual chip's RAM behind the bulk port (register 2 bit 0x04), which hands
// out the bytes the test loaded there, one chunk after the other.
#pragma once

#include <cstring>
#include <vector>

#include "driver/chip/chip.h"
#include "driver/pipeline/pipeline.h"
#include "tests/support/driver_fixture.h"

class StreamTest : public DriverTest {
 protected:
  void TearDown() override {
    if (deviceOpen) SetRegisterBits(kRegTransfer, kRegTransfer - 1, kXferRamAccess, 0);
    ReleaseTransferBuffer();
    DriverTest::TearDown();
  }

  // Takes the stream buffer and puts the bytes at its start; chunkSize and position as given.
  uint8_t* Stream(const std::vector<uint8_t>& bytes, uint32_t chunkSize, uint32_t position) {
    uint8_t* buffer = TakeTransferBuffer(0x42);
    EXPECT_NE(buffer, nullptr);
    std::memcpy(buffer, bytes.data(), bytes.size());
    transferBuffer.chunkSize = chunkSize;
    transferBuffer.position = position;
    return buffer;
  }

  // Opens the scanner and loads its RAM, so that refills deliver these bytes in order.
  void RefillsFrom(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(LD_OpenScanner(), 1);
    std::vector<uint8_t> ram(bytes);
    // The RAM pointer starts again at 0 whenever the bit is raised.
    SetRegisterBits(kRegTransfer, kRegTransfer - 1, kXferRamAccess, 0);
    SetRegisterBits(kRegTransfer, kRegTransfer - 1, kXferRamAccess, 1);
    SelectRegister(kRegBulkPort);
    ASSERT_EQ(UsbWriteScanner(ram.data(), static_cast<uint32_t>(ram.size()), 0), 1);
    SetRegisterBits(kRegTransfer, kRegTransfer - 1, kXferRamAccess, 0);
    SetRegisterBits(kRegTransfer, kRegTransfer - 1, kXferRamAccess, 1);
    SelectRegister(kRegBulkPort);
  }

  uint32_t* Plane(int plane, uint32_t slot) { return &lineRing[plane][slot * kSlotSamples]; }

  void UseLine(uint8_t modeCode, uint32_t linePixels, uint32_t lineBytesAll, uint16_t resolution = 300) {
    chipSetup.modeCode = modeCode;
    chipSetup.linePixels = linePixels;
    chipSetup.lineBytesAll = lineBytesAll;
    chipSetup.resolution = resolution;
  }
};

// Bytes 0, 1, 2, ... wrapping at 251 (a prime, so runs of 256 do not line up with it).
inline std::vector<uint8_t> Counting(size_t n, uint8_t first = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((first + i) % 251);
  return v;
}
