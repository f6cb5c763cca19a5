// The controller chip's registers over the bridge's parallel-port side: a register is
// selected with an EPP address write and then written or read through the EPP data port,
// with the SPP control port's direction bit set for the read. Registers whose single bits
// the driver changes are kept in a shadow, since the chip is not read back for them.
#include "driver/chip/chip.h"
#include "driver/transport/transport.h"

namespace {
constexpr uint8_t kShadowAtLoad[6] = {0x03, 0xA0, 0x05, 0x00, 0x00, 0x01};
constexpr uint8_t kShadowSlots = 6;
}  // namespace

uint8_t registerShadow[6] = {kShadowAtLoad[0], kShadowAtLoad[1], kShadowAtLoad[2],
                             kShadowAtLoad[3], kShadowAtLoad[4], kShadowAtLoad[5]};
uint8_t hardwareVariant = 0;

int32_t SelectRegister(uint8_t reg) {
  GLWriteSPPControlPort(kSppControlIdle);
  return GLWriteEPPAddressPort(reg);
}

int32_t WriteRegister(uint8_t reg, uint8_t value) {
  // Without the selection the value would land in whichever register was selected last
  // (register 2's transfer bits written into register 3 switch the lamp, for one).
  if (!SelectRegister(reg)) return 0;
  GLWriteSPPControlPort(kSppControlIdle);
  return GLWriteEPPDataPort(value);
}

uint8_t ReadRegister(uint8_t reg) {
  uint8_t value = 0xFF;
  ReadRegisterChecked(reg, &value);
  return value;
}

int32_t ReadRegisterChecked(uint8_t reg, uint8_t* value) {
  // Without the selection or the direction bit the byte that comes back is not this
  // register's; the closing control write does not change what was read.
  int32_t ok = SelectRegister(reg);
  ok &= GLWriteSPPControlPort(kSppControlIdle);
  ok &= GLWriteSPPControlPort(kSppControlRead);
  int32_t byte = GLReadEPPDataPort();
  GLWriteSPPControlPort(kSppControlIdle);
  if (byte < 0) {
    *value = 0xFF;
    return 0;
  }
  *value = static_cast<uint8_t>(byte);
  return ok ? 1 : 0;
}

int32_t SetRegisterBits(uint8_t reg, uint8_t slot, uint8_t mask, uint8_t set) {
  if (slot >= kShadowSlots) return 0;
  if (reg == kRegStatus) {
    // The lamp may have been switched by anyone (a temporary open, another tool): take its
    // real state from the chip so that a masked update never flips it.
    // A read that did not come back (0xFF, or another register's value when the selection
    // was lost) says nothing about the lamp: then the last state known to the shadow stands.
    uint8_t chip = 0;
    if (ReadRegisterChecked(kRegStatus, &chip)) {
      registerShadow[slot] = static_cast<uint8_t>((registerShadow[slot] & ~kStatusLamp) | (chip & kStatusLamp));
    }
  }
  if (set == 1) {
    registerShadow[slot] = static_cast<uint8_t>(registerShadow[slot] | mask);
  } else {
    registerShadow[slot] = static_cast<uint8_t>(registerShadow[slot] & ~mask);
  }
  return WriteRegister(reg, registerShadow[slot]);
}

int32_t WriteModeRegister(uint8_t base, uint8_t subMode) {
  return WriteRegister(kRegMode, static_cast<uint8_t>(base | subMode));
}

void ResetRegisterShadow() {
  for (uint8_t i = 0; i < kShadowSlots; ++i) registerShadow[i] = kShadowAtLoad[i];
  hardwareVariant = 0;
}
