// Working memory of the calibration steps: moveable global blocks, locked while in use.
#include "driver/calibration/work_memory.h"

#include "driver/calibration/calibration.h"

bool TakeWorkBlock(WorkBlock* block, uint32_t bytes) {
  block->handle = nullptr;
  block->data = nullptr;
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (handle == nullptr) return false;
  void* data = GlobalLock(handle);
  if (data == nullptr) {
    GlobalFree(handle);
    return false;
  }
  block->handle = handle;
  block->data = static_cast<uint8_t*>(data);
  return true;
}

void ReleaseWorkBlock(WorkBlock* block) {
  if (block->handle == nullptr) return;
  GlobalUnlock(block->handle);
  GlobalFree(block->handle);
  block->handle = nullptr;
  block->data = nullptr;
}

StepResult TakeSamplePlanes(SamplePlanes* planes, uint32_t lines) {
  for (int p = 0; p < 3; ++p) {
    planes->blocks[p].handle = nullptr;
    planes->blocks[p].data = nullptr;
    planes->plane[p] = nullptr;
  }
  const uint32_t bytes = lines * kPlanePixels * 2;
  for (int p = 0; p < 3; ++p) {
    if (!TakeWorkBlock(&planes->blocks[p], bytes)) {
      ReleaseSamplePlanes(planes);
      return kStepOutOfMemory;
    }
    planes->plane[p] = reinterpret_cast<int16_t*>(planes->blocks[p].data);
  }
  return kStepOk;
}

void ReleaseSamplePlanes(SamplePlanes* planes) {
  for (int p = 0; p < 3; ++p) {
    ReleaseWorkBlock(&planes->blocks[p]);
    planes->plane[p] = nullptr;
  }
}
