// Line assembly: one stream line in, one finished line out. The sensor's three colour rows
// lie one behind the other along the carriage's travel, so each colour of a document line
// is taken from the ring slot read that many lines earlier; the sensor also runs right to
// left over the glass, so every line is mirrored on the way out.
#include "driver/chip/chip.h"
#include "driver/pipeline/pipeline.h"

#include <cstring>

uint8_t workingToneCurves[3][256];

namespace {

struct SlotRow {
  uint8_t plane0;
  uint8_t plane1;
  uint8_t plane2;
};

// Row k: the slots of planes 0, 1 and 2 when slot k has just been filled. Plane 0 is the
// newest line, plane 1 the one (N - 1) / 2 lines older, plane 2 the one N - 1 older.
constexpr SlotRow kSlots9[9] = {{0, 5, 1}, {1, 6, 2}, {2, 7, 3}, {3, 8, 4}, {4, 0, 5},
                                {5, 1, 6}, {6, 2, 7}, {7, 3, 8}, {8, 4, 0}};
constexpr SlotRow kSlots5[5] = {{0, 3, 1}, {1, 4, 2}, {2, 0, 3}, {3, 1, 4}, {4, 2, 0}};
constexpr SlotRow kSlots3[3] = {{0, 2, 1}, {1, 0, 2}, {2, 1, 0}};

struct Ring {
  uint32_t size;
  const SlotRow* rows;
};

// The rows are 4/600 inch apart; the motor moves 1, 2 or 4 of those lines per line read.
Ring RingFor(uint16_t resolution) {
  if (resolution > 300) return {9, kSlots9};
  if (resolution > 150) return {5, kSlots5};
  return {3, kSlots3};
}

struct BitReversal {
  uint8_t table[256];
  constexpr BitReversal() : table() {
    for (int v = 0; v < 256; ++v) {
      int r = 0;
      for (int b = 0; b < 8; ++b) {
        if (v & (1 << b)) r |= 0x80 >> b;
      }
      table[v] = static_cast<uint8_t>(r);
    }
  }
};
constexpr BitReversal kReversed;

const uint32_t* Slot(int plane, uint32_t slot) { return &lineRing[plane][slot * kSlotSamples]; }

void WriteColourLine(uint8_t* out, int32_t pixels, const SlotRow& row, bool redFirst) {
  const uint32_t* red = Slot(0, row.plane0);
  const uint32_t* green = Slot(1, row.plane1);
  const uint32_t* blue = Slot(2, row.plane2);
  // Red and green both map through the first curve, blue through the third.
  const uint8_t* first = workingToneCurves[0];
  const uint8_t* third = workingToneCurves[2];
  if (redFirst) {
    for (int32_t s = pixels - 1; s >= 0; --s) {
      out[0] = first[red[s] & 0xFF];
      out[1] = first[green[s] & 0xFF];
      out[2] = third[blue[s] & 0xFF];
      out += 3;
    }
  } else {
    for (int32_t s = pixels - 1; s >= 0; --s) {
      out[0] = third[blue[s] & 0xFF];
      out[1] = first[green[s] & 0xFF];
      out[2] = first[red[s] & 0xFF];
      out += 3;
    }
  }
}

void WriteGreyLine(uint8_t* out, int32_t pixels) {
  const uint32_t* grey = Slot(0, 0);
  const uint8_t* curve = workingToneCurves[1];
  for (int32_t s = pixels - 1; s >= 0; --s) *out++ = curve[grey[s] & 0xFF];
}

// The chip packs a line's pixels eight a byte, first pixel in bit 0x80, and fills the
// last byte's unused low bits. Mirroring the line reverses the bit string; the unused
// bits, which would then lead the line, are shifted out to its end, where they are left
// clear, so that output pixel p is the window's pixel p.
void WriteLineArtLine(uint8_t* out, int32_t pixels) {
  const uint32_t* packed = Slot(0, 0);
  uint32_t bytes = (static_cast<uint32_t>(pixels) + 7) / 8;
  uint32_t unused = bytes * 8 - static_cast<uint32_t>(pixels);
  for (uint32_t j = 0; j < bytes; ++j) {
    uint32_t here = kReversed.table[packed[bytes - 1 - j] & 0xFF];
    uint32_t next = j + 1 < bytes ? kReversed.table[packed[bytes - 2 - j] & 0xFF] : 0;
    out[j] = static_cast<uint8_t>(((here << 8 | next) << unused) >> 8);
  }
}

}  // namespace

StepResult AssembleLines(uint8_t* destination, uint32_t lineCount) {
  uint8_t* out = destination;
  int32_t pixels = static_cast<int32_t>(chipSetup.linePixels);
  for (uint32_t line = 0; line < lineCount; ++line) {
    switch (chipSetup.modeCode & 0x0F) {
      case 0x01: {
        Ring ring = RingFor(chipSetup.resolution);
        if (nextSlot >= ring.size) nextSlot %= ring.size;
        if (!FetchLine(nextSlot)) return kStepTransferFailed;
        const SlotRow& row = ring.rows[nextSlot];
        nextSlot = (nextSlot + 1) % ring.size;
        if (pixels > 0) {
          WriteColourLine(out, pixels, row, (chipSetup.scanFlags & kFlagColourOrder) != 0);
          out += 3 * static_cast<uint32_t>(pixels);
        }
        break;
      }
      case 0x02:
      case 0x04:
        if (!FetchLine(0)) return kStepTransferFailed;
        if (pixels > 0) {
          WriteGreyLine(out, pixels);
          out += pixels;
        }
        break;
      case 0x08:
        if (!FetchLine(0)) return kStepTransferFailed;
        if (pixels > 0) {
          WriteLineArtLine(out, pixels);
          out += (static_cast<uint32_t>(pixels) + 7) / 8;
        }
        break;
      default:
        // No output format: the line is taken from the stream and dropped.
        if (!FetchLine(0)) return kStepTransferFailed;
        break;
    }
  }
  return kStepOk;
}

void ResetPipelineState() {
  std::memset(lineRing, 0, sizeof lineRing);
  nextSlot = 0;
  std::memset(workingToneCurves, 0, sizeof workingToneCurves);
  scanTransferStarted = 0;
  scanPrimed = 0;
}
