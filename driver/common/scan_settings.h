// The library's own copy of an accepted scan request, in its units (positions in 1/600
// inch), read by scan set-up and by the reading of lines. One process-wide record, owned
// by the driver interface, all zero at load.
#pragma once

#include <cstdint>

struct ScanSettings {
  uint32_t windowLeft;       // left x 2
  uint32_t windowTop;        // top x 2
  uint32_t pixelsPerLine;    // pixels of one line at scanResolution
  uint32_t scanEndLine;      // always 7100
  uint16_t mode;             // 1 colour, 2 grey, 3 line art
  uint16_t scanResolution;   // the resolution the chip samples a line at
  uint16_t resolution;       // the requested resolution
  uint32_t outputLineBytes;  // bytes of one finished line
  uint8_t toneCurves[3][256];
  uint8_t reservedBlock[64];
  uint8_t colourChannel;
  uint32_t colourOrder;
  uint8_t transferOption;
};

enum : uint16_t {
  kModeColour = 1,
  kModeGrey = 2,
  kModeLineArt = 3,
};

// 600 dpi lines from the scan origin to the end of every scan.
constexpr uint32_t kScanEndLine = 7100;
