// Fixture for the scan request and scan reading tests: an open virtual scanner with the
// strip positions its power-on calibration finds, and requests built from a readable base.
#pragma once

#include "driver/calibration/calibration.h"
#include "driver/chip/chip.h"
#include "driver/pipeline/pipeline.h"
#include "tests/support/driver_fixture.h"

class ScanTest : public DriverTest {
 protected:
  // Opens the scanner and sets the positions that LD_DeviceInit finds on it (without running
  // the calibration, which these tests do not need).
  void OpenCalibrated(uint32_t rightEdgePixel = 5200) {
    ASSERT_EQ(LD_OpenScanner(), 1);
    ASSERT_EQ(LD_LampOn(), 1);
    calibrationPositions = {319, 233, 149, rightEdgePixel};
  }

  static ScanRequest Request(uint16_t mode, uint16_t resolution, uint32_t bytesPerLine) {
    return IdentityRequest(mode, resolution, bytesPerLine);
  }
  static ScanRequest Colour(uint16_t resolution, uint32_t pixels = 100) { return Request(kModeColour, resolution, 3 * pixels); }
};
