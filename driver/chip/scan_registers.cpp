// The scan register block: before every pass the whole set-up (mode, resolution, timing,
// pixel and line window, motor stepping, the variant's constants and the analogue front
// end) is written to the chip in one fixed order, and the chip is then polled until it
// reports ready.
#include "driver/chip/chip.h"
#include "platform/win32.h"

ChipSetup chipSetup = {};
AfeLevels afeLevels = {{0, 0, 0}, {0, 0, 0}};

namespace {

constexpr uint8_t kOptionsSlot = kRegOptions - 1;
constexpr uint8_t kMotorSlot = kRegMotor - 1;

constexpr uint8_t kLowNibble = 0x0F;
constexpr uint8_t kLineArtKind = 8;
constexpr int16_t kModeNotWritten = -1;

// Register 5 by the mode code: per kind of line (low nibble) the sub-mode that goes with
// the channel selector in the high nibble 0x2, 0x4, 0x8 or anything else. Grey and line
// art carry the selector; colour and the 4-sample grey ignore it. A kind not listed here,
// or a grey or line-art code without a valid selector, leaves register 5 as it was.
struct ModeRow {
  uint8_t kind;
  int16_t subMode[4];  // high nibble 0x2, 0x4, 0x8, other
};
constexpr ModeRow kModeTable[] = {
    {1, {0x00, 0x00, 0x00, 0x00}},
    {2, {0x20, 0x40, 0x80, kModeNotWritten}},
    {4, {0x00, 0x00, 0x00, 0x00}},
    {8, {0x20, 0x40, 0x80, kModeNotWritten}},
};

int HighNibbleColumn(uint8_t modeCode) {
  switch (modeCode >> 4) {
    case 0x2:
      return 0;
    case 0x4:
      return 1;
    case 0x8:
      return 2;
    default:
      return 3;
  }
}

void ProgramModeRegister(uint8_t modeCode) {
  uint8_t kind = modeCode & kLowNibble;
  for (const ModeRow& row : kModeTable) {
    if (row.kind != kind) continue;
    int16_t sub = row.subMode[HighNibbleColumn(modeCode)];
    if (sub != kModeNotWritten) WriteModeRegister(kind, static_cast<uint8_t>(sub));
    return;
  }
}

// The four registers 39 to 42 by hardware variant.
constexpr uint8_t kVariantConstants[2][4] = {
    {0xD2, 0x7F, 0x21, 0x64},  // variant 1 (and any but 2)
    {0x62, 0xC8, 0x53, 0xB8},  // variant 2
};

struct AfeWrite {
  uint8_t index;
  uint8_t value;
};
// Fixed front-end set-up written before the per-colour offsets and gains.
constexpr AfeWrite kAfeFixed[] = {{0x04, 0x00}, {0x03, 0x12}, {0x02, 0x04}, {0x05, 0x10}, {0x01, 0x03}};

constexpr uint8_t kFixed29Value = 0x60;
constexpr uint8_t kFixed44Value = 0xFF;
constexpr uint8_t kFixed45Value = 0x01;

void WritePair(uint8_t lowReg, uint8_t highReg, uint32_t value, uint8_t highMask) {
  WriteRegister(lowReg, static_cast<uint8_t>(value));
  WriteRegister(highReg, static_cast<uint8_t>((value >> 8) & highMask));
}

uint8_t Bit(uint32_t value, uint32_t bit) { return (value & bit) ? 1 : 0; }

// The chip raises register 3 bit 0x08 once it has taken the block. The wait is bounded by
// the tick counter, compared as an unsigned difference so that its wrap does no harm.
int32_t WaitUntilReady() {
  DWORD start = GetTickCount();
  if (ReadRegister(kRegStatus) & kStatusReady) return 1;
  for (;;) {
    if (static_cast<DWORD>(GetTickCount() - start) > kReadyTimeoutMs) return 0;
    if (ReadRegister(kRegStatus) & kStatusReady) return 1;
  }
}

}  // namespace

void WriteAfeRegister(uint8_t index, uint8_t value) {
  WriteRegister(kRegAfeIndex, index);
  WriteRegister(kRegAfeData, value);
}

int32_t ProgramScanRegisters() {
  const ChipSetup& s = chipSetup;
  bool lineArt = (s.modeCode & kLowNibble) == kLineArtKind;

  SetRegisterBits(kRegOptions, kOptionsSlot, kOptCorrectionA, Bit(s.scanFlags, kFlagCorrectionA));
  SetRegisterBits(kRegOptions, kOptionsSlot, kOptCorrectionB, Bit(s.scanFlags, kFlagCorrectionB));
  // Line art is thresholded from 8-bit samples: never in 12-bit mode.
  SetRegisterBits(kRegOptions, kOptionsSlot, kOptTwelveBit, lineArt ? 0 : Bit(s.scanFlags, kFlagTwelveBit));
  ProgramModeRegister(s.modeCode);

  WritePair(kRegResolutionLo, kRegResolutionHi, s.resolution, 0x07);
  WritePair(kRegLinePeriodLo, kRegLinePeriodHi, static_cast<uint32_t>(s.linePeriod) - 1, 0xFF);
  WritePair(kRegPixelStartLo, kRegPixelStartHi, s.pixelStart * 3, 0xFF);
  WritePair(kRegPixelEndLo, kRegPixelEndHi, s.pixelEnd * 3 - 1, 0xFF);
  WritePair(kRegLineBytesLo, kRegLineBytesHi, s.lineBytes - 1, 0xFF);
  WriteRegister(kRegBlockLines, static_cast<uint8_t>(s.blockLines - 1));
  WritePair(kRegStepPeriodLo, kRegStepPeriodHi, static_cast<uint32_t>(s.stepPeriod) - 1, 0xFF);
  SetRegisterBits(kRegMotor, kMotorSlot, kMotorFullStep, s.fullStep == 1 ? 1 : 0);

  uint32_t firstLine = s.lineStart * 2;
  uint32_t endLine = (s.lineStart + s.lineCount) * 2;
  WritePair(kRegStartLineLo, kRegStartLineHi, firstLine, 0x3F);
  WritePair(kRegStartLine2Lo, kRegStartLine2Hi, firstLine, 0x3F);
  WritePair(kRegEndLineLo, kRegEndLineHi, endLine, 0xFF);
  WriteRegister(kRegFixed29, kFixed29Value);

  if (s.motorRampEnable == 1) {
    WriteRegister(kRegRampPeriod, s.motorRampPeriod);
    WriteRegister(kRegRampA, s.motorRampA);
    WriteRegister(kRegRampB, s.motorRampB);
  }
  WriteRegister(kRegFixed44, kFixed44Value);
  WriteRegister(kRegFixed45, kFixed45Value);

  const uint8_t* constants = kVariantConstants[hardwareVariant == 2 ? 1 : 0];
  for (uint8_t i = 0; i < 4; ++i) WriteRegister(static_cast<uint8_t>(kRegVariant39 + i), constants[i]);

  for (const AfeWrite& w : kAfeFixed) WriteAfeRegister(w.index, w.value);
  for (uint8_t c = 0; c < 3; ++c) WriteAfeRegister(static_cast<uint8_t>(kAfeOffsetRed + c), afeLevels.afeOffset[c]);
  for (uint8_t c = 0; c < 3; ++c) WriteAfeRegister(static_cast<uint8_t>(kAfeGainRed + c), afeLevels.afeGain[c]);

  return WaitUntilReady();
}
