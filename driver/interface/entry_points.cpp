// The entry points that open and close the scanner, switch and query the lamp (also on a
// closed device, which they open for the one call), record a stop request, report the last
// status and run the loop-back test through the chip's bulk data port.
#include <cstring>

#include "driver/chip/chip.h"
#include "driver/interface/device_state.h"
#include "driver/interface/ld_api.h"
#include "driver/interface/scan_request.h"
#include "driver/pipeline/pipeline.h"
#include "driver/transport/transport.h"
#include "platform/win32.h"

namespace {

constexpr uint32_t kLoopBackBytes = 4096;
constexpr uint8_t kLoopBackPattern = 0x55;
constexpr uint8_t kTransferSlot = kRegTransfer - 1;

enum LampAction { kLampOn, kLampOff, kLampQuery };

// A running scan's stream is read through register 36, and the bulk reads that refill it
// rely on that register staying selected. A lamp or loop-back access made between two reads
// leaves another register selected: select the bulk port again, or the next refill would
// read that register instead of image data.
void ReselectStreamPort() {
  if (scanTransferStarted) SelectRegister(kRegBulkPort);
}

// 1 when the lamp register's write, or the read of the lamp state, went through. A switch
// whose write was lost has not switched the lamp, and a lost read must not pass for "on"
// (it would read as 0xFF).
int32_t DoLampAction(LampAction action, int32_t* lampOn) {
  switch (action) {
    case kLampOn:
      return SwitchLampOn();
    case kLampOff:
      return SwitchLampOff();
    case kLampQuery:
      return QueryLampState(lampOn);
  }
  return 0;
}

// The lamp works on a closed device too: it is opened for this call and closed again.
int32_t RunLampAction(LampAction action, int32_t* lampOn) {
  int32_t done;
  if (IsDeviceOpen()) {
    done = DoLampAction(action, lampOn);
    ReselectStreamPort();
  } else {
    lastStatus = kStatusNoError;
    if (!OpenScannerDevice(&deviceOpen)) {
      lastStatus = kStatusNotOpen;
      return 0;
    }
    done = DoLampAction(action, lampOn);
    CloseScannerDevice();
    deviceOpen = 0;
  }
  if (!done) {
    lastStatus = kStatusTransferFailed;
    return 0;
  }
  return 1;
}

// Register 2 bit 0x04 turns the bulk port (register 36) to the chip's RAM. 1 when the bulk
// transfer went through.
int32_t BulkToChipRam(uint8_t* block, bool write) {
  SetRegisterBits(kRegTransfer, kTransferSlot, kXferRamAccess, 1);
  SelectRegister(kRegBulkPort);
  int32_t moved;
  if (write) {
    moved = UsbWriteScanner(block, kLoopBackBytes, 0);
  } else {
    moved = UsbReadScanner(block, kLoopBackBytes, 0);
  }
  SetRegisterBits(kRegTransfer, kTransferSlot, kXferRamAccess, 0);
  return moved;
}

}  // namespace

LD_EXPORT int32_t LDAPI LD_OpenScanner(void) {
  // Opening again while open starts from a clean connection, as after a close: the held
  // interfaces are released and the device lock this process holds is given up first.
  if (deviceOpen) {
    CloseScannerDevice();
    EndScanState();
    deviceOpen = 0;
  }
  if (!OpenScannerDevice(&deviceOpen)) {
    lastStatus = kStatusNotOpen;
    return 0;
  }
  return 1;
}

LD_EXPORT int32_t LDAPI LD_CloseScanner(void) {
  stopRequested = 1;
  if (!IsDeviceOpen()) return 0;
  CloseScannerDevice();
  EndScanState();
  deviceOpen = 0;
  return 1;
}

LD_EXPORT int32_t LDAPI LD_StopScan(void) {
  stopRequested = 1;
  return 1;
}

LD_EXPORT int32_t LDAPI LD_GetScannerStatus(int32_t* status) {
  if (status == nullptr) return 0;
  *status = lastStatus;
  return 1;
}

LD_EXPORT int32_t LDAPI LD_LampOn(void) { return RunLampAction(kLampOn, nullptr); }

LD_EXPORT int32_t LDAPI LD_LampOff(void) { return RunLampAction(kLampOff, nullptr); }

LD_EXPORT int32_t LDAPI LD_GetLampStatus(int32_t* lampOn) {
  if (lampOn == nullptr) return 0;
  return RunLampAction(kLampQuery, lampOn);
}

LD_EXPORT int32_t LDAPI LD_DiagnosticTest(void) {
  // The test neither opens the device nor reports through the status.
  if (!deviceOpen) return 0;
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, kLoopBackBytes);
  if (handle == nullptr) return 0;
  uint8_t* block = static_cast<uint8_t*>(GlobalLock(handle));
  if (block == nullptr) {
    GlobalFree(handle);
    return 0;
  }
  std::memset(block, kLoopBackPattern, kLoopBackBytes);
  const int32_t written = BulkToChipRam(block, true);
  std::memset(block, 0x00, kLoopBackBytes);
  const int32_t read = BulkToChipRam(block, false);
  ReselectStreamPort();
  // A failed read shows as a mismatch, since the block was cleared before it; a failed write
  // does not, when the chip's RAM still holds the pattern of an earlier test.
  uint32_t i = 0;
  while (i < kLoopBackBytes && block[i] == kLoopBackPattern) ++i;
  GlobalUnlock(handle);
  GlobalFree(handle);
  return written && read && i == kLoopBackBytes ? 1 : 0;
}
