// Scan pipeline: scan settings into a running, primed scan; the stream decoder that fills
// the line ring; the assembly of finished output lines.
#pragma once

#include <cstdint>

#include "driver/common/scan_settings.h"
#include "driver/common/step_result.h"

StepResult SetupScan(const ScanSettings* settings);

// The line ring: three planes (red, green, blue in stream order) of 17 slots of 5300
// samples each.
constexpr uint32_t kRingSlots = 17;
constexpr uint32_t kSlotSamples = 5300;
extern uint32_t lineRing[3][kRingSlots * kSlotSamples];
extern uint32_t nextSlot;

// Working tone curves of line assembly, copied from the request by scan set-up.
extern uint8_t workingToneCurves[3][256];

int32_t FetchLine(uint32_t slot);
int32_t DecodeLine(int layout, uint32_t* plane0, uint32_t* plane1, uint32_t* plane2, int32_t linePixels,
                   uint32_t chunkSize, uint32_t* position, int32_t lineBytesAll, uint8_t* buffer);
int32_t NextStreamByte(uint32_t chunkSize, uint32_t* position, uint8_t* buffer, uint32_t* entry);

StepResult AssembleLines(uint8_t* destination, uint32_t lineCount);

// Decoder layouts by the kind of line.
enum : int {
  kLayoutLineArt = 0,
  kLayoutOnePlane = 1,
  kLayoutThreePlanes = 2,
};

// Bytes fetched by one refill of the stream buffer.
constexpr uint32_t kStreamChunkBytes = 61440;

// scanTransferStarted: scan set-up has started a scan's data flow that nobody has stopped
// since (it stays set when priming fails and the buffer is already gone).
// scanPrimed: the last scan set-up left a running, primed scan whose lines can be read.
extern int32_t scanTransferStarted;
extern int32_t scanPrimed;

// Stops a scan's data flow on the chip, releases its stream buffer and forgets the scan.
void StopScanTransfer();

void ResetPipelineState();
