// Bringing the chip up when the device is opened: two fixed wake-up sequences on the
// bridge's SPP ports (before them the chip ignores its EPP port), then register 3 tells
// the two hardware variants apart by its bit 0x02 after a write of 0x53.
#include "driver/chip/chip.h"
#include "driver/transport/transport.h"

namespace {

// High nibbles 0xA, 0x5, 0x9, 0xC, 0x9, 0xE, each with bit 3 clear and then set.
constexpr uint8_t kWakeDataSequence[] = {0xA0, 0xA8, 0x50, 0x58, 0x90, 0x98, 0xC0, 0xC8, 0x90, 0x98, 0xE0, 0xE8};
constexpr uint8_t kWakeStrobeA[] = {0x14, 0x15, 0x1D, 0x15, 0x14};
constexpr uint8_t kWakeStrobeB[] = {0x14, 0x15, 0x17, 0x15, 0x14};

constexpr uint8_t kStatusProbe = 0x53;
constexpr uint8_t kStatusAfterOpen = 0x11;

}  // namespace

void WakeChip() {
  for (uint8_t byte : kWakeDataSequence) GLWriteSPPDataPort(byte);
  GLWriteSPPDataPort(0x00);
  for (uint8_t byte : kWakeStrobeA) GLWriteSPPControlPort(byte);
  GLWriteSPPDataPort(0x04);
  for (uint8_t byte : kWakeStrobeB) GLWriteSPPControlPort(byte);
}

int32_t OpenScannerDevice(int32_t* found) {
  if (!FindScanner(0, 0, found)) return 0;
  WakeChip();
  WriteRegister(kRegStatus, kStatusProbe);
  uint8_t probe = 0;
  if (!ReadRegisterChecked(kRegStatus, &probe)) {
    // A lost answer would read as 0xFF and pass for variant 2, whose line formats and table
    // layout would then corrupt every calibration and scan: the scanner is not identified.
    GeneCloseHandle();
    if (found != nullptr) *found = 0;
    return 0;
  }
  hardwareVariant = (probe & kStatusVariant2) ? 2 : 1;
  WriteRegister(kRegStatus, kStatusAfterOpen);
  return 1;
}
