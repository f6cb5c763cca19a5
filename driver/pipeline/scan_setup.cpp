// Scan set-up: turns the accepted settings into chip geometry, mode and motor timing,
// refreshes the shading correction, starts the chip's sample stream and reads the first
// lines, so that the colour rows can be brought together from the first delivered line on.
#include "driver/calibration/calibration.h"
#include "driver/chip/chip.h"
#include "driver/pipeline/pipeline.h"

#include <cstring>

int32_t scanTransferStarted = 0;
int32_t scanPrimed = 0;

namespace {

// The sensor's 600 dpi pixel that bounds a window when it would not fit left of the
// calibrated right edge.
constexpr uint32_t kFallbackPixelEnd = 5280;
constexpr uint16_t kScanLinePeriod = 5400;
constexpr uint8_t kRampA = 21;
constexpr uint8_t kRampBFastColour = 24;
constexpr uint8_t kRampB = 48;
constexpr uint16_t kBlockLinesCap = 250;
constexpr uint32_t kGreyPrimingLines = 9;
constexpr uint32_t kColourDiscardLines = 10;

// Line-art threshold pair (registers 22 and 21).
constexpr uint8_t kLineArtHigh = 0x70;
constexpr uint8_t kLineArtLow = 0x90;

// Resolution bands of the motor: 100-150, 151-300 and 301-600 dpi.
int Band(uint16_t resolution) {
  if (resolution <= 150) return 0;
  if (resolution <= 300) return 1;
  return 2;
}

struct MotorTiming {
  uint16_t stepPeriod;
  uint8_t fullStep;
};

enum MotorKind { kColourVariant1, kColourOther, kGrey, kLineArt };

// The motor advances 4, 2 or 1 lines of 1/600 inch per line time in the three bands.
// Colour above 300 dpi has a tripled line time and steps at half steps.
constexpr MotorTiming kMotorTimings[4][3] = {
    /* colour, variant 1 */ {{1350, 1}, {2700, 1}, {8100, 0}},
    /* colour, variant 2 */ {{675, 0}, {1350, 0}, {8100, 0}},
    /* grey              */ {{1350, 1}, {2700, 1}, {5400, 1}},
    /* line art          */ {{1350, 1}, {2700, 1}, {2700, 0}},
};

// Colour lines read into the ring before the first assembled one, by band: the ring's
// size less one (3, 5 or 9 slots).
constexpr uint32_t kColourPrimeSlots[3] = {2, 4, 8};

// Grey and line-art mode codes by the chosen colour channel: 1 red, 3 blue, else green.
uint8_t ChannelNibble(uint8_t colourChannel) {
  if (colourChannel == 1) return 0x20;
  if (colourChannel == 3) return 0x80;
  return 0x40;
}

void FillChipSetup(const ScanSettings* settings, int32_t correctionUploaded) {
  ChipSetup& chip = chipSetup;

  // Below 300 dpi the carriage ramps up over 1/8 of the origin's distance before its first
  // line, so the window is measured from a point that much nearer home.
  uint32_t origin = calibrationPositions.originLine;
  if (settings->resolution < 300) origin -= origin / 8;

  chip.scanFlags = correctionUploaded ? (kFlagCorrectionA | kFlagCorrectionB) : 0;
  if (settings->colourOrder == 1) chip.scanFlags |= kFlagColourOrder;

  // The sensor runs right to left over the glass: the window is counted from the
  // calibrated right edge.
  uint32_t span = settings->pixelsPerLine * 600u / settings->scanResolution;
  chip.pixelEnd = calibrationPositions.rightEdgePixel - settings->windowLeft;
  if (chip.pixelEnd < span) chip.pixelEnd = kFallbackPixelEnd;
  chip.pixelStart = chip.pixelEnd - span;
  chip.linePixels = settings->pixelsPerLine;

  chip.lineStart = origin + settings->windowTop;
  chip.lineCount = settings->scanEndLine - settings->windowTop;
  chip.resolution = settings->scanResolution;
  chip.linePeriod = kScanLinePeriod;

  MotorKind kind;
  if (settings->mode == kModeColour) {
    chip.modeCode = 0x01;
    chip.lineBytes = chip.linePixels;
    chip.lineBytesAll = 3 * chip.linePixels;
    kind = hardwareVariant == 1 ? kColourVariant1 : kColourOther;
  } else if (settings->mode == kModeGrey) {
    chip.modeCode = ChannelNibble(settings->colourChannel) | 0x02;
    chip.lineBytes = chip.linePixels;
    chip.lineBytesAll = chip.linePixels;
    kind = kGrey;
  } else {
    chip.modeCode = ChannelNibble(settings->colourChannel) | 0x08;
    chip.lineBytes = (chip.linePixels - 1) / 8 + 1;
    chip.lineBytesAll = chip.lineBytes;
    WriteRegister(kRegLineArtHigh, kLineArtHigh);
    WriteRegister(kRegLineArtLow, kLineArtLow);
    kind = kLineArt;
  }

  int band = Band(settings->resolution);
  const MotorTiming& timing = kMotorTimings[kind][band];
  chip.stepPeriod = timing.stepPeriod;
  chip.fullStep = timing.fullStep;
  chip.motorRampPeriod = static_cast<uint8_t>((chip.stepPeriod - 1) >> 5);
  chip.motorRampA = kRampA;
  chip.motorRampB = (settings->mode == kModeColour && band == 2) ? kRampBFastColour : kRampB;
  chip.motorRampEnable = 1;

  // Lines per block of the chip's buffer: variant 1 counts the bytes of a whole line,
  // the other variant the samples of one colour.
  uint32_t blockLines = hardwareVariant == 1 ? 0x40000u / chip.lineBytesAll : 2 * (0x30000u / chip.linePixels);
  chip.blockLines = static_cast<uint16_t>(blockLines > kBlockLinesCap ? kBlockLinesCap : blockLines);
}

// Reads the lines that lie before the first deliverable one: the carriage's run-in and,
// in colour, the lines that the colour rows' spacing needs to be held in the ring.
int32_t PrimeLineRing(uint16_t mode, uint16_t resolution) {
  if (mode != kModeColour) {
    for (uint32_t i = 0; i < kGreyPrimingLines; ++i) {
      if (!FetchLine(0)) return 0;
    }
    return 1;
  }
  for (uint32_t i = 0; i < kColourDiscardLines; ++i) {
    if (!FetchLine(0)) return 0;
  }
  uint32_t slots = kColourPrimeSlots[Band(resolution)];
  nextSlot = slots;
  for (uint32_t slot = 0; slot < slots; ++slot) {
    if (!FetchLine(slot)) return 0;
  }
  return 1;
}

}  // namespace

StepResult SetupScan(const ScanSettings* settings) {
  scanPrimed = 0;

  StepResult shading = TakeShadingReferences();
  if (shading != kStepOk) return shading;
  int32_t uploaded = UploadCorrectionTable();

  FillChipSetup(settings, uploaded);
  ProgramScanRegisters();  // a chip that never reports ready shows up as failed reads

  if (TakeTransferBuffer(0x42) == nullptr) return kStepOutOfMemory;
  // The buffer counts as used up: the first byte asked for starts the first bulk read.
  transferBuffer.chunkSize = kStreamChunkBytes;
  transferBuffer.position = kStreamChunkBytes;

  std::memcpy(workingToneCurves, settings->toneCurves, sizeof workingToneCurves);

  transferControl = settings->transferOption == 1 ? kTransferScanPlain : kTransferScan;
  ApplyTransferControl();
  scanTransferStarted = 1;

  if (!PrimeLineRing(settings->mode, settings->resolution)) {
    // The data flow keeps running until the application resets the scan.
    ReleaseTransferBuffer();
    return kStepTransferFailed;
  }
  scanPrimed = 1;
  return kStepOk;
}

void StopScanTransfer() {
  StopTransfer();
  scanTransferStarted = 0;
  scanPrimed = 0;
}
