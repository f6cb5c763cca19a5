// The USB-to-parallel bridge of the virtual scanner: its SPP and EPP ports and GPIO pins,
// each reached by one numbered request, and the 8-byte bulk setup packet that announces
// the one raw transfer that must follow it, with its direction, kind and size.
#include <cstdio>
#include <cstring>

#include "driver/transport/bridge_protocol.h"
#include "vscan/scanner.h"

namespace vscan {
namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(v));
  return text;
}

// Bulk data at full-speed USB.
uint64_t BulkMicros(uint32_t bytes) { return static_cast<uint64_t>(bytes) * 1000000u / 1216000u; }

}  // namespace

bool Scanner::BridgeWrite(uint8_t request, const uint8_t* data, uint32_t length) {
  switch (request) {
    case kReqBulkSetup: {
      if (announcement.active) {
        Violation("bulk setup packet while an announced transfer of " + std::to_string(announcement.size) +
                  " bytes is still pending");
      }
      Announcement a;
      a.value = data[2];
      a.kind = data[1];
      if (data[0] != kBulkFromScanner && data[0] != kBulkToScanner) {
        Violation("bulk setup packet with direction byte " + Hex(data[0]));
        announcement = Announcement{};
        return false;
      }
      a.toScanner = data[0] == kBulkToScanner;
      if (data[3] != 0) Violation("bulk setup packet with byte 3 = " + Hex(data[3]));
      switch (a.kind) {
        case kBulkPlain:
          a.size = Le32(data + 4);
          if (a.size > kMaxBulkTransfer) {
            Violation("plain bulk transfer of " + std::to_string(a.size) + " bytes announced");
          }
          break;
        case kBulkFirmware:
        case kBulkAnalogue:
          a.size = Le32(data + 4);
          if (!a.toScanner) Violation("bulk setup kind " + Hex(a.kind) + " from the scanner");
          break;
        case kBulkLines:
          a.lineSize = Le16(data + 4);
          a.size = static_cast<uint32_t>(a.lineSize) * Le16(data + 6);
          if (a.toScanner) Violation("line-mode bulk transfer to the scanner");
          break;
        case kBulkBlocks:
          if (Le16(data + 4) != kMaxBulkTransfer) {
            Violation("block-mode bulk read with block size " + std::to_string(Le16(data + 4)));
          }
          a.size = static_cast<uint32_t>(Le16(data + 4)) * Le16(data + 6);
          if (a.toScanner) Violation("block-mode bulk transfer to the scanner");
          break;
        default:
          Violation("bulk setup packet of kind " + Hex(a.kind));
          announcement = Announcement{};
          return false;
      }
      a.active = true;
      announcement = a;
      return true;
    }
    case kReqEppAddressWrite:
      ChipEppAddressWrite(data[0]);
      return true;
    case kReqEppDataWrite:
      ChipEppDataWrite(data[0]);
      return true;
    case kReqSppControlWrite:
      sppControl = data[0];
      ChipSppControlWrite(data[0]);
      return true;
    case kReqSppDataWrite:
      sppData = data[0];
      ChipSppDataWrite(data[0]);
      return true;
    case kReqGpioOutputEnable:
      gpioOutputEnable = data[0];
      return true;
    case kReqGpioWrite:
      gpioPins = data[0];
      return true;
    default:
      Violation("bridge write request " + Hex(request));
      return false;
  }
}

bool Scanner::BridgeRead(uint8_t request, uint8_t* data, uint32_t length) {
  switch (request) {
    case kReqEppDataRead:
      data[0] = ChipEppDataRead();
      return true;
    case kReqSppStatusRead:
      data[0] = sppStatus;
      return true;
    case kReqGpioRead:
      data[0] = static_cast<uint8_t>((gpioPins & gpioOutputEnable) | (gpioInputs & ~gpioOutputEnable));
      return true;
    default:
      Violation("bridge read request " + Hex(request));
      return false;
  }
}

void Scanner::DropAnnouncement() { announcement = Announcement{}; }

void Scanner::RawRead(uint8_t* buffer, uint32_t asked, uint32_t delivered) {
  Announcement a = announcement;
  announcement = Announcement{};
  virtualMicros += BulkMicros(delivered);
  if (!a.active) {
    Violation("raw read of " + std::to_string(asked) + " bytes without a bulk setup packet");
  } else if (a.toScanner) {
    Violation("raw read after a bulk setup packet announcing a write");
  } else if (a.size != asked) {
    Violation("raw read of " + std::to_string(asked) + " bytes, " + std::to_string(a.size) + " announced");
  }
  if (delivered == 0) return;
  ChipBulkRead(buffer, delivered, a);
}

void Scanner::RawWrite(const uint8_t* buffer, uint32_t bytes) {
  Announcement a = announcement;
  announcement = Announcement{};
  virtualMicros += BulkMicros(bytes);
  if (!a.active) {
    Violation("raw write of " + std::to_string(bytes) + " bytes without a bulk setup packet");
  } else if (!a.toScanner) {
    Violation("raw write after a bulk setup packet announcing a read");
  } else if (a.size != bytes) {
    Violation("raw write of " + std::to_string(bytes) + " bytes, " + std::to_string(a.size) + " announced");
  }
  if (a.active && a.kind == kBulkFirmware) {
    firmwareBytes.insert(firmwareBytes.end(), buffer, buffer + bytes);
    return;
  }
  if (a.active && a.kind == kBulkAnalogue) {
    analogueBytes.insert(analogueBytes.end(), buffer, buffer + bytes);
    return;
  }
  if (bytes == 0) return;
  ChipBulkWrite(buffer, bytes);
}

}  // namespace vscan
