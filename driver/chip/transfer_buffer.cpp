// The single 1 MiB stream buffer slot shared by calibration passes and scans. Whoever
// frees it goes through ReleaseTransferBuffer, which marks the slot empty, so the block is
// never freed twice.
#include "driver/chip/chip.h"
#include "platform/win32.h"

TransferBuffer transferBuffer = {nullptr, 0, 0};

uint8_t* TakeTransferBuffer(uint32_t globalAllocFlags) {
  // One buffer at a time: a block still held from an earlier pass would otherwise be lost.
  ReleaseTransferBuffer();
  HGLOBAL handle = GlobalAlloc(globalAllocFlags, kTransferBufferBytes);
  if (handle == nullptr) return nullptr;
  uint8_t* block = static_cast<uint8_t*>(GlobalLock(handle));
  if (block == nullptr) {
    GlobalFree(handle);
    return nullptr;
  }
  transferBuffer.buffer = block;
  return block;
}

void ReleaseTransferBuffer() {
  if (transferBuffer.buffer == nullptr) return;
  HGLOBAL handle = GlobalHandle(transferBuffer.buffer);
  GlobalUnlock(handle);
  GlobalFree(handle);
  transferBuffer.buffer = nullptr;
}
