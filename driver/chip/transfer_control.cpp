// Starting and stopping the chip's data flow (register 2 bit 0x08, with the stream option
// bits 0x80, 0x20 and 0x10 and register 3's transfer bits), and closing the device.
#include "driver/chip/chip.h"
#include "driver/transport/transport.h"

uint8_t transferControl = 0;

namespace {

constexpr uint8_t kTransferSlot = kRegTransfer - 1;
constexpr uint8_t kStatusSlot = kRegStatus - 1;
constexpr uint8_t kControlStart = 0x08;

struct BitStep {
  uint8_t reg;
  uint8_t mask;
  uint8_t set;
};
// The stop pattern, in the order the chip is given it.
constexpr BitStep kStopPattern[] = {
    {kRegTransfer, kXferRun, 0},  {kRegTransfer, kXferBit7, 1},  {kRegTransfer, kXferBit5, 0},
    {kRegTransfer, kXferBit4, 0}, {kRegStatus, kStatusXferA, 0}, {kRegStatus, kStatusXferB, 1},
};

int32_t Bits(uint8_t reg, uint8_t mask, uint8_t set) {
  return SetRegisterBits(reg, reg == kRegStatus ? kStatusSlot : kTransferSlot, mask, set);
}

}  // namespace

void ApplyTransferControl() {
  uint8_t control = transferControl;
  if (control & kControlStart) {
    Bits(kRegTransfer, kXferBit7, (control & 0x80) ? 1 : 0);
    Bits(kRegTransfer, kXferBit5, (control & 0x20) ? 1 : 0);
    Bits(kRegTransfer, kXferBit4, (control & 0x10) ? 1 : 0);
    Bits(kRegStatus, kStatusXferB, 0);
    Bits(kRegStatus, kStatusXferA, 1);
    Bits(kRegTransfer, kXferRun, 1);
    // The bulk reads that follow take their data from the port selected last.
    SelectRegister(kRegBulkPort);
    return;
  }
  for (const BitStep& step : kStopPattern) Bits(step.reg, step.mask, step.set);
}

void StopTransfer() {
  transferControl = 0;
  ApplyTransferControl();
  ReleaseTransferBuffer();
}

int32_t CloseScannerDevice() {
  StopTransfer();
  GeneCloseHandle();
  return 1;
}

void ResetChipState() {
  ReleaseTransferBuffer();
  transferBuffer = TransferBuffer{nullptr, 0, 0};
  ResetRegisterShadow();
  chipSetup = ChipSetup{};
  afeLevels = AfeLevels{{0, 0, 0}, {0, 0, 0}};
  transferControl = 0;
}
