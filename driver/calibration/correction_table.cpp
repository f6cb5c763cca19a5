// The correction table the chip applies to every scanned sample: three 4096-entry chip
// tone curves (12-bit sample to 8-bit output), then per pixel and colour an offset and gain
// that take the pixel's dark and white references to fixed levels. Built from the shading
// references and sent to chip RAM in one bulk write through register 36.
#include <cstring>

#include "driver/calibration/calibration.h"
#include "driver/calibration/correction_steps.h"
#include "driver/calibration/work_memory.h"
#include "driver/chip/chip.h"
#include "driver/transport/transport_exports.h"
#include "platform/win32.h"

namespace {

const char* const kCurveFiles[3] = {"C:\\CCmpRG12.dat", "C:\\CCmpGG12.dat", "C:\\CCmpBG12.dat"};

// Per colour: K1 = (T - 96) x 100 and K2 = 1600 x 256 x T, T the white target.
struct CorrectionConstants {
  uint32_t k1;
  uint32_t k2;
};
constexpr CorrectionConstants kConstants[3] = {
    {378900, 1591296000},  // red, T 3885
    {378400, 1589248000},  // green, T 3880
    {360400, 1515520000},  // blue, T 3700
};

constexpr uint32_t kDeadWhite = 0x3FFF;
// The word holds the offset in bits 0..5 and the gain in bits 6..15.
constexpr uint32_t kMaxOffsetField = 63;
constexpr uint32_t kMaxGainField = 1023;
constexpr uint32_t kTableBufferBytes = 0x100000;

}  // namespace

uint32_t CorrectionTableBytes(uint8_t variant) {
  const uint32_t curveBytes = 3 * kChipCurveEntries * (variant == 2 ? 2 : 1);
  return curveBytes + kPlanePixels * kCorrectionGroupBytes;
}

void LoadChipToneCurve(uint32_t colour, uint8_t* curve) {
  const uint8_t* fallback = kDefaultChipToneCurves[colour];
  HFILE file = _lopen(kCurveFiles[colour], OF_READ);
  if (file == HFILE_ERROR) {
    std::memcpy(curve, fallback, kChipCurveEntries);
    return;
  }
  UINT got = _lread(file, curve, kChipCurveEntries);
  _lclose(file);
  if (got > kChipCurveEntries) got = 0;  // a read error
  std::memcpy(curve + got, fallback + got, kChipCurveEntries - got);
}

void CorrectionWordBytes(uint32_t white, uint32_t dark, uint32_t colour, uint8_t bytes[2]) {
  const CorrectionConstants& k = kConstants[colour];
  // A pixel whiter in the dark than in the light is dead: a huge white keeps its gain low.
  if (white < dark) white = kDeadWhite;
  const uint32_t c = ((white - dark) * 9600) / k.k1;
  uint32_t o = c > dark ? 0 : (dark - c) / 4;
  // The offset field is six bits; the gain is computed for the offset the chip will use.
  if (o > kMaxOffsetField) o = kMaxOffsetField;
  uint32_t span = white - 4 * o;
  // A white reference equal to its dark one (and a multiple of 4) leaves no span: take the
  // narrowest, as its neighbours with a span of 1 to 3 do, which asks for the highest gain.
  if (span == 0) span = 1;
  uint32_t g = (k.k2 / span) / 1600;
  // The gain field is ten bits: beyond it the bytes would wrap to a far lower gain.
  if (g > kMaxGainField) g = kMaxGainField;
  bytes[0] = static_cast<uint8_t>((g % 4) * 64 + o);
  bytes[1] = static_cast<uint8_t>(g / 4);
}

uint32_t BuildCorrectionTable(uint8_t* const curves[3], uint8_t variant, uint8_t* table) {
  uint8_t* out = table;
  for (int p = 0; p < 3; ++p) {
    for (uint32_t i = 0; i < kChipCurveEntries; ++i) {
      if (variant == 2) *out++ = 0;
      *out++ = curves[p][i];
    }
  }
  for (uint32_t k = 0; k < kPlanePixels; ++k) {
    for (uint32_t p = 0; p < 3; ++p) {
      if (whiteReference[p][k] < darkReference[p][k]) whiteReference[p][k] = kDeadWhite;
      CorrectionWordBytes(whiteReference[p][k], darkReference[p][k], p, out);
      out += 2;
    }
  }
  return static_cast<uint32_t>(out - table);
}

int32_t UploadCorrectionTable() {
  WorkBlock curveBlocks[3] = {{nullptr, nullptr}, {nullptr, nullptr}, {nullptr, nullptr}};
  WorkBlock tableBlock = {nullptr, nullptr};
  bool taken = true;
  for (int p = 0; p < 3 && taken; ++p) taken = TakeWorkBlock(&curveBlocks[p], kChipCurveEntries);
  if (taken) taken = TakeWorkBlock(&tableBlock, kTableBufferBytes);
  if (taken) {
    uint8_t* curves[3];
    for (uint32_t p = 0; p < 3; ++p) {
      curves[p] = curveBlocks[p].data;
      LoadChipToneCurve(p, curves[p]);
    }
    const uint32_t length = BuildCorrectionTable(curves, hardwareVariant, tableBlock.data);
    // Register 2 bit 0x04 opens chip RAM to the bulk port for the one write.
    SetRegisterBits(kRegTransfer, kRegTransfer - 1, kXferRamAccess, 1);
    SelectRegister(kRegBulkPort);
    UsbWriteScanner(tableBlock.data, length, 0);
    SetRegisterBits(kRegTransfer, kRegTransfer - 1, kXferRamAccess, 0);
  }
  ReleaseWorkBlock(&tableBlock);
  for (int p = 2; p >= 0; --p) ReleaseWorkBlock(&curveBlocks[p]);
  return taken ? 1 : 0;
}
