// The seam between the chip model and the optics: when the chip starts a transfer it hands
// the stream engine a snapshot of its registers, front end, lamp and correction table; the
// engine then produces the bytes of the sample stream that the bulk port delivers, from the
// calibration strip, the glass and the document under the moving carriage.
#pragma once

#include <cstdint>
#include <memory>

#include "vscan/vscan.h"

namespace vscan {

struct ChipSnapshot {
  int variant = 1;
  uint8_t regs[64]{};  // the register file at the start of the transfer
  uint8_t afe[64]{};   // front-end registers (index 0x20.. offsets, 0x28.. gains)
  bool lampOn = false;
  const VirtualScanner::CorrectionTable* correction = nullptr;  // last uploaded table
};

class Optics;  // document, strip, sensor response, front end (optics.h)

class StreamEngine {
 public:
  explicit StreamEngine(const Config& config);
  ~StreamEngine();

  // A transfer starts (register 2 bit 0x08 set): the stream begins at the programmed
  // start line with the programmed geometry, mode and correction.
  void start(const ChipSnapshot& chip);
  void stop();
  bool running() const;

  // Copies the next n bytes of the stream into dst and returns how many it delivered:
  // n while the carriage is before the programmed end line, fewer once the scan has run
  // past it (the chip then has nothing more to send).
  uint32_t read(uint8_t* dst, uint32_t n);

  // Bytes of one line of the current stream as the registers describe it.
  uint32_t lineBytes() const;
  // Stream line index (from 0) of the next line the engine will produce.
  uint32_t linesProduced() const;
  // Motor position (600 dpi lines, in the green row's frame) at which stream line k of the
  // current transfer is captured, and the programmed end line past which the stream ends.
  int64_t motorLineOf(uint32_t streamLine) const;
  int64_t endLine() const;

  Optics& optics();
  const Optics& optics() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vscan
