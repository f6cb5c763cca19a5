// The wire protocol of the USB-to-parallel bridge, shared by the driver and the virtual
// scanner: the escape control codes and input block, the numbered bridge requests and
// the 8-byte packet that announces every bulk transfer.
#pragma once

#include <cstdint>

// The USB scanner kernel driver's register-read and register-write escape codes.
constexpr uint32_t kEscapeRegisterRead = 0x8000200C;
constexpr uint32_t kEscapeRegisterWrite = 0x80002010;

// Escape input block: request number, data length, data pointer, a field the driver leaves
// at 0. Four 32-bit fields (16 bytes) in the 32-bit build; in a 64-bit build the pointer is
// 8 bytes wide and the block grows to 24 bytes with alignment.
struct EscapeBlock {
  uint32_t request;
  uint32_t length;
  uint8_t* data;
  uint32_t reserved;
};
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(EscapeBlock) == 16, "escape block is four 32-bit fields");
#endif

enum BridgeRequest : uint8_t {
  kReqBulkSetup = 0x82,       // write 8 bytes: BulkSetupPacket
  kReqEppAddressWrite = 0x83,
  kReqEppDataRead = 0x84,
  kReqEppDataWrite = 0x85,
  kReqSppStatusRead = 0x86,
  kReqSppControlWrite = 0x87,
  kReqSppDataWrite = 0x88,
  kReqGpioOutputEnable = 0x89,
  kReqGpioRead = 0x8A,
  kReqGpioWrite = 0x8B,
};

// Bulk setup packet bytes.
constexpr uint8_t kBulkFromScanner = 0x00;
constexpr uint8_t kBulkToScanner = 0x01;
enum BulkKind : uint8_t {
  kBulkPlain = 0x00,
  kBulkFirmware = 0x01,
  kBulkBlocks = 0x04,
  kBulkLines = 0x0C,
  kBulkAnalogue = 0x11,
};
constexpr uint32_t kBulkSetupPacketSize = 8;

// The most bytes a plain bulk read or write moves in one call, and the block size of the
// fast read's block phase.
constexpr uint32_t kMaxBulkTransfer = 61440;
