// Line stream decoder: the chip sends a scan as one gapless byte stream over the bulk
// pipe; this cuts it into lines and unpacks each line into one slot of the line ring,
// refilling the stream buffer chunk by chunk.
#include "driver/chip/chip.h"
#include "driver/pipeline/pipeline.h"
#include "driver/transport/transport_exports.h"

uint32_t lineRing[3][kRingSlots * kSlotSamples];
uint32_t nextSlot = 0;

int32_t NextStreamByte(uint32_t chunkSize, uint32_t* position, uint8_t* buffer, uint32_t* entry) {
  if (*position >= chunkSize) {
    // A failed refill leaves the chunk used up, so the next byte asked for retries it.
    if (UsbReadScanner(buffer, chunkSize, 0) == 0) return 0;
    *position = 0;
  }
  *entry = buffer[*position];
  ++*position;
  return 1;
}

int32_t DecodeLine(int layout, uint32_t* plane0, uint32_t* plane1, uint32_t* plane2, int32_t linePixels,
                   uint32_t chunkSize, uint32_t* position, int32_t lineBytesAll, uint8_t* buffer) {
  int32_t count = layout == kLayoutLineArt ? lineBytesAll : linePixels;
  if (count <= 0) return 1;
  uint32_t* planes[3] = {plane0, plane1, plane2};
  int planeCount = layout == kLayoutThreePlanes ? 3 : 1;
  uint32_t perPlane = static_cast<uint32_t>(count);
  uint32_t total = perPlane * static_cast<uint32_t>(planeCount);

  uint32_t left = *position < chunkSize ? chunkSize - *position : 0;
  if (left >= static_cast<uint32_t>(lineBytesAll) && left >= total) {
    // The whole line lies in the current chunk.
    const uint8_t* source = buffer + *position;
    for (int p = 0; p < planeCount; ++p) {
      uint32_t* entry = planes[p];
      for (uint32_t i = 0; i < perPlane; ++i) entry[i] = source[i];
      source += perPlane;
    }
    *position += total;
    return 1;
  }

  // The line straddles a chunk boundary. The bytes are taken in stream order as one at a
  // time would take them, but each run that lies in one chunk is copied in one loop: a
  // quarter of the 600 dpi colour lines straddle, and a call per byte made them cost more
  // than all the other lines together. The byte after a used-up chunk goes through
  // NextStreamByte, which refills (or fails, with the entries before it filled).
  for (int p = 0; p < planeCount; ++p) {
    uint32_t* entry = planes[p];
    for (uint32_t i = 0; i < perPlane;) {
      if (!NextStreamByte(chunkSize, position, buffer, &entry[i])) return 0;
      ++i;
      uint32_t inChunk = *position < chunkSize ? chunkSize - *position : 0;
      uint32_t run = perPlane - i < inChunk ? perPlane - i : inChunk;
      const uint8_t* source = buffer + *position;
      for (uint32_t k = 0; k < run; ++k) entry[i + k] = source[k];
      i += run;
      *position += run;
    }
  }
  return 1;
}

int32_t FetchLine(uint32_t slot) {
  if (slot >= kRingSlots || transferBuffer.buffer == nullptr) return 0;
  int layout;
  switch (chipSetup.modeCode & 0x0F) {
    case 0x01:
      layout = kLayoutThreePlanes;
      break;
    case 0x08:
      layout = kLayoutLineArt;
      break;
    default:
      layout = kLayoutOnePlane;
      break;
  }
  uint32_t first = slot * kSlotSamples;
  return DecodeLine(layout, &lineRing[0][first], &lineRing[1][first], &lineRing[2][first],
                    static_cast<int32_t>(chipSetup.linePixels), transferBuffer.chunkSize, &transferBuffer.position,
                    static_cast<int32_t>(chipSetup.lineBytesAll), transferBuffer.buffer);
}
