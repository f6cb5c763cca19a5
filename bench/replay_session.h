// A scan for the benchmarks: set up on the virtual scanner through the driver's own entry
// points (open, lamp, power-on calibration, scan request with its shading passes and
// priming), then fed from memory, so that the timed reads measure the driver and not the
// scanner model.
//
// How the stream is held in memory: once the scan is set up, the next chunks of the
// virtual scanner's stream are read with the driver's own bulk read and kept. The open
// connection's device is then swapped for a replay device that answers the bulk set-up
// packet and serves each raw read with the next kept chunk, round and round. The chunks
// after the kept ones repeat the first ones, so lines no longer line up with the document
// after the first lap; the decoder and the assembly do the same work whatever the sample
// values are. Before the scan is reset the virtual scanner's device is put back, so the
// stop, the reset and the close reach the model as in any other run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/interface/ld_api.h"
#include "platform/win32.h"
#include "vscan/vscan.h"

namespace bench {

// The replay device: an IStiDevice in its C layout, the object's first member the table.
struct ReplayDevice {
  IStiDevice device;           // must stay first: the driver holds &device
  const uint8_t* chunks = nullptr;
  size_t chunkCount = 0;
  size_t chunkBytes = 0;
  uint64_t reads = 0;          // raw reads served
  uint64_t announced = 0;      // bulk set-up packets accepted
  uint64_t unexpected = 0;     // calls that a scan read should never make
  uint64_t copyNanos = 0;      // time spent filling the driver's buffer (the bus stand-in)
  bool timeCopies = false;
};

class ReplaySession {
 public:
  explicit ReplaySession(int variant = 1);
  ~ReplaySession();
  ReplaySession(const ReplaySession&) = delete;
  ReplaySession& operator=(const ReplaySession&) = delete;

  // Open, lamp and power-on calibration on the virtual scanner; false with error() set.
  bool Open();
  // LD_SetScanParameter, then the next recordChunks chunks of the scanner's stream kept and
  // the replay device put in its place. False with error() set.
  bool Start(const ScanRequest& request, size_t recordChunks = 16);
  // The virtual scanner's device back, then LD_ResetScanner.
  void Stop();

  ReplayDevice& replay() { return replay_; }
  const std::string& error() const { return error_; }
  vscan::VirtualScanner& scanner() { return *scanner_; }

 private:
  std::unique_ptr<vscan::VirtualScanner> scanner_;
  std::vector<uint8_t> recording_;
  ReplayDevice replay_;
  IStiDevice* realDevice_ = nullptr;
  bool open_ = false;
  std::string error_;
};

// A request for the widest window the sensor takes at this mode and resolution (or the
// given pixel count), identity tone curves, colour in red-green-blue order.
ScanRequest WideRequest(uint16_t mode, uint16_t resolution, uint32_t pixels = 0);
// Bytes of one finished line of a request.
uint32_t OutputLineBytes(const ScanRequest& request);

// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds();

// The one session of a benchmark program, opened on first use and kept for the program's
// life; null, with the reason in *error, when its set-up on the virtual scanner failed.
ReplaySession* SharedSession(std::string* error);

}  // namespace bench
