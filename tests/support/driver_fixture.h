// Shared fixture of the driver tests: a fresh library state, a virtual scanner installed
// as the still-image service, and the checks every correct run must pass (no protocol
// violation, no memory block left live, the service library unloaded, COM balanced).
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "driver/interface/device_state.h"
#include "driver/interface/ld_api.h"
#include "platform/win32.h"
#include "vscan/vscan.h"

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Override to give the scanner another configuration; called from SetUp.
  virtual vscan::Config ScannerConfig() { return vscan::Config{}; }

  // Replaces the installed scanner with one of this configuration.
  void Reinstall(const vscan::Config& config);

  vscan::VirtualScanner& scanner() { return *scanner_; }

  // Closes the device if it is open, then checks that nothing is left: no live global
  // block, no still-image module loaded, COM balanced.
  void ExpectNothingHeld();
  void ExpectNoViolations();

  // Set false in a test that provokes protocol violations on purpose.
  bool checkViolations_ = true;

 private:
  std::unique_ptr<vscan::VirtualScanner> scanner_;
};

// 0..255 status as the application reads it.
int32_t ReadStatus();

// A scan request with identity tone curves and red-green-blue order, 100 x 100 (1/300 inch)
// at the top left corner of the glass; tests move and size the window as they need.
ScanRequest IdentityRequest(uint16_t mode, uint16_t resolution, uint32_t bytesPerLine);

// Back to a freshly loaded library on a fresh host: driver state, memory faults and
// counters, COM, module counts, and the virtual clock at 1000 ms stepping 1 ms a read.
void ResetDriverAndHost();
