// From the command line's window in millimetres to the driver's scan request, and from
// the lines the driver delivers to the rows of the image file.
#pragma once

#include <cstdint>

#include "driver/interface/ld_api.h"
#include "tools/scan_options.h"

namespace lumetra {

struct ScanPlan {
  ScanRequest request{};    // what goes to LD_SetScanParameter
  uint32_t pixels = 0;      // image width
  uint32_t lines = 0;       // image height: lines read from the driver
  uint32_t lineBytes = 0;   // bytes of one line as LD_ReadScan delivers it
  uint32_t rowBytes = 0;    // bytes of one image row (line art: (pixels + 7) / 8)
};

ScanPlan PlanScan(const Options& options);

// One delivered line (plan.lineBytes) into one image row (plan.rowBytes). Colour comes
// red, green, blue and grey one byte a pixel, both as the image wants them; line art
// 1 = black, first pixel in bit 0x80. A line-art line carries a few pixels more than the
// image is wide; they are cut off and the row's padding bits cleared.
void ConvertLine(const ScanPlan& plan, const uint8_t* line, uint8_t* row);

}  // namespace lumetra
