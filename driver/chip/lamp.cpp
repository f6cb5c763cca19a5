// The lamp is bit 0 of register 3. It is switched through the shadow, which takes the
// register's other bits from the driver's copy, and read back from the chip itself.
#include "driver/chip/chip.h"

namespace {
constexpr uint8_t kStatusSlot = kRegStatus - 1;
}

int32_t SwitchLampOn() { return SetRegisterBits(kRegStatus, kStatusSlot, kStatusLamp, 1); }

int32_t SwitchLampOff() { return SetRegisterBits(kRegStatus, kStatusSlot, kStatusLamp, 0); }

int32_t ReadLampState() { return (ReadRegister(kRegStatus) & kStatusLamp) ? 1 : 0; }

int32_t QueryLampState(int32_t* lampOn) {
  uint8_t status = 0;
  if (!ReadRegisterChecked(kRegStatus, &status)) return 0;
  *lampOn = (status & kStatusLamp) ? 1 : 0;
  return 1;
}
