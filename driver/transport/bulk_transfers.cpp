// Bulk transfers: an 8-byte setup packet (bridge request 0x82) tells the bridge the
// direction, kind and size, then one raw read or write moves exactly that many bytes.
#include <cstring>

#include "driver/transport/transport.h"

namespace {

constexpr uint32_t kFastBlockLimit = 0x10000;  // the fast read's block count is 16 bits

void PutSize32(uint8_t* packet, uint32_t size) {
  packet[4] = static_cast<uint8_t>(size);
  packet[5] = static_cast<uint8_t>(size >> 8);
  packet[6] = static_cast<uint8_t>(size >> 16);
  packet[7] = static_cast<uint8_t>(size >> 24);
}

void PutSizes16(uint8_t* packet, uint16_t first, uint16_t second) {
  packet[4] = static_cast<uint8_t>(first);
  packet[5] = static_cast<uint8_t>(first >> 8);
  packet[6] = static_cast<uint8_t>(second);
  packet[7] = static_cast<uint8_t>(second >> 8);
}

int32_t SendSetup(uint8_t direction, uint8_t kind, uint8_t value, uint8_t* packet) {
  packet[0] = direction;
  packet[1] = kind;
  packet[2] = value;
  packet[3] = 0;
  return BridgeWrite(kReqBulkSetup, kBulkSetupPacketSize, packet);
}

int32_t RawRead(uint8_t* buffer, uint32_t bytes, bool withOverlapped) {
  if (!ConnectionHeld()) return 0;
  OVERLAPPED overlapped;
  std::memset(&overlapped, 0, sizeof(overlapped));
  DWORD count = bytes;
  IStiDevice* device = deviceConnection.scannerDevice;
  HRESULT hr = device->lpVtbl->RawReadData(device, buffer, &count, withOverlapped ? &overlapped : nullptr);
  // A read that brings fewer bytes than announced leaves the rest of the buffer stale:
  // that is a failed transfer, not a successful one.
  return SUCCEEDED(hr) && count == bytes ? 1 : 0;
}

int32_t RawWrite(uint8_t* buffer, uint32_t bytes) {
  if (!ConnectionHeld()) return 0;
  OVERLAPPED overlapped;
  std::memset(&overlapped, 0, sizeof(overlapped));
  IStiDevice* device = deviceConnection.scannerDevice;
  HRESULT hr = device->lpVtbl->RawWriteData(device, buffer, bytes, &overlapped);
  return SUCCEEDED(hr) ? 1 : 0;
}

// A plain transfer moves at most kMaxBulkTransfer bytes. A longer request moves only the
// first kMaxBulkTransfer and still reports failure, so callers keep within the limit.
int32_t PlainTransfer(uint8_t direction, uint8_t kind, uint8_t value, uint8_t* buffer, uint32_t length) {
  uint32_t moved = length <= kMaxBulkTransfer ? length : kMaxBulkTransfer;
  uint8_t packet[kBulkSetupPacketSize];
  PutSize32(packet, moved);
  if (!SendSetup(direction, kind, value, packet)) return 0;
  int32_t ok = direction == kBulkToScanner ? RawWrite(buffer, moved) : RawRead(buffer, moved, true);
  return length <= kMaxBulkTransfer ? ok : 0;
}

}  // namespace

LD_EXPORT int32_t LDAPI UsbReadScanner(uint8_t* buffer, uint32_t length, uint32_t value) {
  return PlainTransfer(kBulkFromScanner, kBulkPlain, static_cast<uint8_t>(value), buffer, length);
}

LD_EXPORT int32_t LDAPI UsbWriteScanner(uint8_t* buffer, uint32_t length, uint32_t value) {
  return PlainTransfer(kBulkToScanner, kBulkPlain, static_cast<uint8_t>(value), buffer, length);
}

LD_EXPORT int32_t LDAPI UsbWriteScannerFw(uint8_t* buffer, uint32_t length) {
  return PlainTransfer(kBulkToScanner, kBulkFirmware, 0, buffer, length);
}

LD_EXPORT int32_t LDAPI UsbWriteScannerAD(uint8_t* buffer, uint32_t length) {
  return PlainTransfer(kBulkToScanner, kBulkAnalogue, 0, buffer, length);
}

LD_EXPORT int32_t LDAPI UsbReadScannerLines(uint8_t* buffer, uint32_t lineSize, uint32_t lineCount,
                                            uint32_t value) {
  uint16_t size = static_cast<uint16_t>(lineSize);
  uint16_t count = static_cast<uint16_t>(lineCount);
  uint8_t packet[kBulkSetupPacketSize];
  PutSizes16(packet, size, count);
  if (!SendSetup(kBulkFromScanner, kBulkLines, static_cast<uint8_t>(value), packet)) return 0;
  return RawRead(buffer, static_cast<uint32_t>(size) * count, false);
}

LD_EXPORT int32_t LDAPI UsbReadScannerFast(uint8_t* buffer, uint32_t length, uint32_t value) {
  uint32_t blocks = length / kMaxBulkTransfer;
  // A block count that does not fit the packet's 16-bit field cannot be announced; sending
  // its low 16 bits would leave the rest to a plain read far beyond the plain limit.
  if (blocks >= kFastBlockLimit) return 0;
  uint8_t packet[kBulkSetupPacketSize];
  if (blocks >= 1) {
    PutSizes16(packet, static_cast<uint16_t>(kMaxBulkTransfer), static_cast<uint16_t>(blocks));
    if (!SendSetup(kBulkFromScanner, kBulkBlocks, static_cast<uint8_t>(value), packet)) return 0;
    if (!RawRead(buffer, blocks * kMaxBulkTransfer, false)) return 0;
  }
  uint32_t remainder = length - blocks * kMaxBulkTransfer;
  if (remainder == 0) return 1;
  PutSize32(packet, remainder);
  if (!SendSetup(kBulkFromScanner, kBulkPlain, static_cast<uint8_t>(value), packet)) return 0;
  return RawRead(buffer + blocks * kMaxBulkTransfer, remainder, false);
}
