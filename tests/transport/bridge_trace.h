// Test helpers over the virtual scanner's trace: the bridge requests and bulk transfers a
// driver call made, in order, in a form that compares and prints well.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

#include "vscan/vscan.h"

// One bridge request of one byte (or a bulk setup packet, with its 8 bytes), or a bulk
// transfer with its size.
struct Exchange {
  enum Kind { Request, Setup, Read, Write } kind;
  uint8_t request = 0;
  bool write = false;
  uint8_t byte = 0;
  uint8_t packet[8]{};
  uint32_t size = 0;

  bool operator==(const Exchange& o) const {
    return kind == o.kind && request == o.request && write == o.write && byte == o.byte &&
           std::memcmp(packet, o.packet, 8) == 0 && size == o.size;
  }
};

inline Exchange Wr(uint8_t request, uint8_t byte) { return {Exchange::Request, request, true, byte, {}, 0}; }
// A read request records the byte the bridge answered; tests compare reads with Rd().
inline Exchange Rd(uint8_t request) { return {Exchange::Request, request, false, 0, {}, 0}; }
inline Exchange Packet(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5, uint8_t b6,
                      uint8_t b7) {
  Exchange e{Exchange::Setup, 0x82, true, 0, {b0, b1, b2, b3, b4, b5, b6, b7}, 0};
  return e;
}
inline Exchange BulkIn(uint32_t size) { return {Exchange::Read, 0, false, 0, {}, size}; }
inline Exchange BulkOut(uint32_t size) { return {Exchange::Write, 0, false, 0, {}, size}; }

inline std::ostream& operator<<(std::ostream& os, const Exchange& e) {
  char text[80];
  switch (e.kind) {
    case Exchange::Request:
      if (e.write) {
        std::snprintf(text, sizeof text, "write 0x%02X <- 0x%02X", e.request, e.byte);
      } else {
        std::snprintf(text, sizeof text, "read 0x%02X", e.request);
      }
      break;
    case Exchange::Setup:
      std::snprintf(text, sizeof text, "setup %02X %02X %02X %02X %02X %02X %02X %02X", e.packet[0], e.packet[1],
                    e.packet[2], e.packet[3], e.packet[4], e.packet[5], e.packet[6], e.packet[7]);
      break;
    case Exchange::Read:
      std::snprintf(text, sizeof text, "bulk read %u", static_cast<unsigned>(e.size));
      break;
    case Exchange::Write:
      std::snprintf(text, sizeof text, "bulk write %u", static_cast<unsigned>(e.size));
      break;
  }
  return os << text;
}

// The trace as exchanges; the bytes answered by read requests are dropped so that reads
// compare by request alone.
inline std::vector<Exchange> Exchanges(const vscan::VirtualScanner& scanner) {
  std::vector<Exchange> out;
  for (const vscan::TraceEntry& t : scanner.trace()) {
    switch (t.kind) {
      case vscan::TraceEntry::Request:
        if (t.request == 0x82) {
          Exchange e{Exchange::Setup, 0x82, true, 0, {}, 0};
          std::memcpy(e.packet, t.packet, 8);
          out.push_back(e);
        } else {
          out.push_back(t.write ? Wr(t.request, t.byte) : Rd(t.request));
        }
        break;
      case vscan::TraceEntry::BulkRead:
        out.push_back(BulkIn(t.size));
        break;
      case vscan::TraceEntry::BulkWrite:
        out.push_back(BulkOut(t.size));
        break;
    }
  }
  return out;
}

namespace vscan {
inline std::ostream& operator<<(std::ostream& os, const RegisterWrite& w) {
  return os << "reg " << int(w.reg) << " <- 0x" << std::hex << int(w.value) << std::dec;
}
}  // namespace vscan
