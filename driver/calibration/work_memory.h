// Working memory of the calibration steps: moveable global blocks that a step takes at its
// start, keeps locked while it works and gives back on every path before it returns.
#pragma once

#include <cstdint>

#include "driver/common/step_result.h"
#include "platform/win32.h"

struct WorkBlock {
  HGLOBAL handle;  // null when not held
  uint8_t* data;
};

// Takes a moveable block of the given size and locks it; false (and the block empty) when
// either step fails.
bool TakeWorkBlock(WorkBlock* block, uint32_t bytes);
// Unlocks and frees a held block and marks it empty; an empty block is left alone.
void ReleaseWorkBlock(WorkBlock* block);

// Three sample planes, red, green, blue, of lines x 5300 signed 16-bit samples each.
struct SamplePlanes {
  WorkBlock blocks[3];
  int16_t* plane[3];
};

// Out of memory (1) when any plane cannot be had; the planes obtained are released again.
StepResult TakeSamplePlanes(SamplePlanes* planes, uint32_t lines);
void ReleaseSamplePlanes(SamplePlanes* planes);
