// The controller chip of the virtual scanner. It sleeps until the bridge has sent its two
// wake-up sequences on the SPP ports; then the EPP address port selects a register and the
// EPP data port writes or (with the control port's direction bit) reads it. Register 3
// answers the hardware variant and the ready bit, registers 37/38 reach the analogue front
// end, and register 36 is the bulk port: chip RAM under register 2 bit 0x04 (loop-back and
// correction table), the image stream while register 2 bit 0x08 runs a transfer.
#include <cstdio>
#include <cstring>

#include "driver/chip/chip_registers.h"
#include "driver/transport/bridge_protocol.h"
#include "vscan/scanner.h"

namespace vscan {
namespace {

// The two wake-up sequences, as one run of SPP writes: the high nibbles A, 5, 9, C, 9, E
// strobed with bit 3 on the data port, then two control-port handshakes framed by the
// data bytes 0x00 and 0x04.
struct PortWrite {
  bool control;
  uint8_t value;
};
constexpr PortWrite kWakeSequence[] = {
    {false, 0xA0}, {false, 0xA8}, {false, 0x50}, {false, 0x58}, {false, 0x90}, {false, 0x98},
    {false, 0xC0}, {false, 0xC8}, {false, 0x90}, {false, 0x98}, {false, 0xE0}, {false, 0xE8},
    {false, 0x00}, {true, 0x14},  {true, 0x15},  {true, 0x1D},  {true, 0x15},  {true, 0x14},
    {false, 0x04}, {true, 0x14},  {true, 0x15},  {true, 0x17},  {true, 0x15},  {true, 0x14},
};
constexpr int kWakeSteps = sizeof kWakeSequence / sizeof kWakeSequence[0];

constexpr uint8_t kDirectionBit = 0x20;  // control port bit 5: data flows chip to host

std::string Num(uint32_t v) { return std::to_string(v); }

}  // namespace

// --- wake-up ---------------------------------------------------------------------------

static void StepWake(Scanner& s, bool control, uint8_t value) {
  const PortWrite& next = kWakeSequence[s.wakeProgress];
  if (next.control == control && next.value == value) {
    if (++s.wakeProgress == kWakeSteps) {
      s.wakeProgress = 0;
      s.awake = true;
      s.wakeUps++;
    }
    return;
  }
  s.wakeProgress = (kWakeSequence[0].control == control && kWakeSequence[0].value == value) ? 1 : 0;
}

void Scanner::ChipSppDataWrite(uint8_t value) { StepWake(*this, false, value); }
void Scanner::ChipSppControlWrite(uint8_t value) { StepWake(*this, true, value); }

// --- register protocol -----------------------------------------------------------------

void Scanner::ChipEppAddressWrite(uint8_t value) {
  if (!awake) {
    Violation("EPP address write before the chip was woken");
    return;
  }
  if (sppControl & kDirectionBit) {
    Violation("EPP address write with the direction bit set");
    return;
  }
  selected = value;
  selectedValid = true;
}

void Scanner::ChipEppDataWrite(uint8_t value) {
  if (!awake) {
    Violation("EPP data write before the chip was woken");
    return;
  }
  if (sppControl & kDirectionBit) {
    Violation("EPP data write with the direction bit set");
    return;
  }
  if (!selectedValid) {
    Violation("EPP data write with no register selected");
    return;
  }
  WriteRegister(selected, value);
}

uint8_t Scanner::ChipEppDataRead() {
  if (!awake) {
    Violation("EPP data read before the chip was woken");
    return 0xFF;
  }
  if (!(sppControl & kDirectionBit)) {
    Violation("EPP data read without the direction bit");
    return 0xFF;
  }
  if (!selectedValid) {
    Violation("EPP data read with no register selected");
    return 0xFF;
  }
  return ReadRegister(selected);
}

bool Scanner::Ready() const {
  int after = config.readyAfterPolls;
  if (after < 0) return false;
  return statusPolls > after;
}

uint8_t Scanner::ReadRegister(uint8_t r) {
  if (r >= kRegisterCount) {
    Violation("read of register " + Num(r) + ", which the chip does not have");
    return 0xFF;
  }
  if (r == kRegStatus) {
    statusPolls++;
    uint8_t v = regs[kRegStatus] & static_cast<uint8_t>(~(kStatusVariant2 | kStatusReady));
    if (config.variant == 2) v |= kStatusVariant2;
    if (Ready()) v |= kStatusReady;
    return v;
  }
  return regs[r];
}

void Scanner::WriteRegister(uint8_t r, uint8_t value) {
  if (r >= kRegisterCount) {
    Violation("write of register " + Num(r) + ", which the chip does not have");
    return;
  }
  uint8_t old = regs[r];
  regs[r] = value;
  // The ready bit drops when the scan registers change and rises again after the
  // configured number of status polls.
  if (r != kRegStatus) statusPolls = 0;

  switch (r) {
    case kRegTransfer: {
      bool ramWas = old & kXferRamAccess, ramNow = value & kXferRamAccess;
      if (ramNow && !ramWas) ramPointer = 0;
      bool runWas = old & kXferRun, runNow = value & kXferRun;
      if (runNow && !runWas) {
        ChipSnapshot snap;
        snap.variant = config.variant;
        std::memcpy(snap.regs, regs, sizeof snap.regs);
        std::memcpy(snap.afe, afe, sizeof snap.afe);
        snap.lampOn = regs[kRegStatus] & kStatusLamp;
        snap.correction = table.valid ? &table : nullptr;
        transferRunning = true;
        stream.start(snap);
      } else if (!runNow && runWas) {
        transferRunning = false;
        stream.stop();
      }
      break;
    }
    case kRegAfeData: {
      uint8_t index = regs[kRegAfeIndex];
      if (index >= kAfeRegisterCount) {
        Violation("front-end write to index " + Num(index));
      } else {
        afe[index] = value;
      }
      break;
    }
    default:
      break;
  }
}

// --- bulk port -------------------------------------------------------------------------

void Scanner::ChipBulkRead(uint8_t* dst, uint32_t n, const Announcement& a) {
  if (!selectedValid || selected != kRegBulkPort) {
    Violation("bulk read while register " + (selectedValid ? Num(selected) : std::string("none")) +
              " is selected, not 36");
    std::memset(dst, 0, n);
    return;
  }
  if (regs[kRegTransfer] & kXferRamAccess) {
    for (uint32_t i = 0; i < n; i++) {
      uint32_t at = ramPointer + i;
      if (at >= kChipRamBytes) {
        Violation("bulk read past the end of chip RAM");
        std::memset(dst + i, 0, n - i);
        break;
      }
      auto bad = ramCorruption.find(at);
      dst[i] = bad != ramCorruption.end() ? bad->second : ram[at];
    }
    ramPointer += n;
    return;
  }
  if (!transferRunning) {
    Violation("stream read of " + Num(n) + " bytes with no transfer started");
    std::memset(dst, 0, n);
    return;
  }
  if (a.active && a.kind == kBulkLines && a.lineSize != stream.lineBytes()) {
    Violation("line-mode read of " + Num(a.lineSize) + "-byte lines from a stream of " +
              Num(stream.lineBytes()) + "-byte lines");
  }
  uint32_t got = stream.read(dst, n);
  // Past the programmed end the chip has nothing more to send; the bus reads zeros.
  if (got < n) std::memset(dst + got, 0, n - got);
}

void Scanner::ChipBulkWrite(const uint8_t* src, uint32_t n) {
  if (!selectedValid || selected != kRegBulkPort) {
    Violation("bulk write while register " + (selectedValid ? Num(selected) : std::string("none")) +
              " is selected, not 36");
    return;
  }
  if (!(regs[kRegTransfer] & kXferRamAccess)) {
    Violation("bulk write of " + Num(n) + " bytes without chip RAM access (register 2 bit 0x04)");
    return;
  }
  uint32_t room = ramPointer < kChipRamBytes ? kChipRamBytes - ramPointer : 0;
  uint32_t take = n < room ? n : room;
  if (take < n) Violation("bulk write past the end of chip RAM");
  std::memcpy(ram.data() + ramPointer, src, take);
  ramPointer += take;
  if (ramPointer == CorrectionTableBytes(config.variant)) {
    ParseCorrectionTable();
  } else if (ramPointer == CorrectionTableBytes(config.variant == 2 ? 1 : 2)) {
    Violation("correction table of " + Num(ramPointer) + " bytes: the other variant's layout");
    table.valid = false;
  }
}

// Curves of 4096 entries per colour (variant 1 one byte each, variant 2 a zero byte and the
// entry), then per pixel three little-endian correction words, red, green, blue.
void Scanner::ParseCorrectionTable() {
  const uint8_t* p = ram.data();
  bool wide = config.variant == 2;
  bool highBytesClear = true;
  for (int c = 0; c < 3; c++) {
    for (uint32_t i = 0; i < kToneCurveEntries; i++) {
      if (wide) {
        if (p[0] != 0) highBytesClear = false;
        table.curves[c][i] = p[1];
        p += 2;
      } else {
        table.curves[c][i] = p[0];
        p += 1;
      }
    }
  }
  if (!highBytesClear) Violation("correction table curve entry with a non-zero first byte");
  for (uint32_t k = 0; k < kSensorPixels; k++) {
    for (int c = 0; c < 3; c++) {
      table.rawBytes[c][k][0] = p[0];
      table.rawBytes[c][k][1] = p[1];
      table.words[c][k] = static_cast<uint16_t>(p[0] | p[1] << 8);
      p += 2;
    }
  }
  table.valid = true;
}

}  // namespace vscan
