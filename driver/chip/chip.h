// Chip control: register access over the bridge's parallel-port protocol, the register
// shadow, start-up and variant detection, the lamp, the scan register block with the
// analogue front end, and the start, stop and close of a transfer.
#pragma once

#include <cstdint>

#include "driver/chip/chip_registers.h"

// --- register access and start-up ----------------------------------------------------
extern uint8_t registerShadow[6];  // registers 1..6, slot = register - 1
extern uint8_t hardwareVariant;    // 1 or 2 after an open, 0 at load

void WakeChip();
int32_t SelectRegister(uint8_t reg);
int32_t WriteRegister(uint8_t reg, uint8_t value);
uint8_t ReadRegister(uint8_t reg);
// As ReadRegister, but 0 when a request of the read failed, so that a lost answer is not
// taken for the register's value; 1 with the value stored otherwise.
int32_t ReadRegisterChecked(uint8_t reg, uint8_t* value);
int32_t SetRegisterBits(uint8_t reg, uint8_t slot, uint8_t mask, uint8_t set);
int32_t WriteModeRegister(uint8_t base, uint8_t subMode);
int32_t OpenScannerDevice(int32_t* found);
int32_t SwitchLampOn();
int32_t SwitchLampOff();
int32_t ReadLampState();
// Stores 1 (lamp on) or 0 and returns 1; returns 0 and stores nothing when the read failed.
int32_t QueryLampState(int32_t* lampOn);

// --- scan registers and transfer control ---------------------------------------------
struct ChipSetup {
  uint32_t pixelStart;
  uint32_t pixelEnd;
  uint32_t linePixels;
  uint32_t lineStart;
  uint32_t lineCount;
  uint16_t resolution;
  uint8_t modeCode;
  uint32_t lineBytes;
  uint32_t lineBytesAll;
  uint16_t linePeriod;
  uint16_t stepPeriod;
  uint8_t fullStep;
  uint16_t blockLines;
  uint16_t scanFlags;
  uint32_t motorRampEnable;
  uint8_t motorRampPeriod;
  uint8_t motorRampA;
  uint8_t motorRampB;
};
extern ChipSetup chipSetup;

// scanFlags bits.
constexpr uint16_t kFlagCorrectionA = 0x01;  // register 1 bit 0x08
constexpr uint16_t kFlagCorrectionB = 0x02;  // register 1 bit 0x80
constexpr uint16_t kFlagTwelveBit = 0x08;    // register 1 bit 0x04
constexpr uint16_t kFlagColourOrder = 0x10;  // line assembly only

// Analogue front end levels; the power-on calibration sets them.
struct AfeLevels {
  uint8_t afeOffset[3];
  uint8_t afeGain[3];
};
extern AfeLevels afeLevels;

// Bit 3 starts (set) or stops (clear) the data flow; bits 7, 5 and 4 go to register 2.
extern uint8_t transferControl;
constexpr uint8_t kTransferCalibration = 0x88;
constexpr uint8_t kTransferScanPlain = 0x18;
constexpr uint8_t kTransferScan = 0xA8;

// The single stream buffer slot, taken by a calibration pass or a scan and released by
// StopTransfer (or the end of the pass).
struct TransferBuffer {
  uint8_t* buffer;     // locked moveable global memory, null when not held
  uint32_t chunkSize;  // bytes fetched by one refill
  uint32_t position;   // next unread byte of the current chunk
};
extern TransferBuffer transferBuffer;
constexpr uint32_t kTransferBufferBytes = 0x100000;

// Takes the slot: flags are GlobalAlloc flags. Returns the locked block or null.
uint8_t* TakeTransferBuffer(uint32_t globalAllocFlags);
// Unlocks and frees the block if one is held and marks the slot empty.
void ReleaseTransferBuffer();

constexpr uint32_t kReadyTimeoutMs = 30000;

int32_t ProgramScanRegisters();
void ApplyTransferControl();
void StopTransfer();
int32_t CloseScannerDevice();
void WriteAfeRegister(uint8_t index, uint8_t value);

void ResetChipState();
// Parts of ResetChipState kept beside the state they reset.
void ResetRegisterShadow();
