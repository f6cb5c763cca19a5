#include "tests/support/driver_fixture.h"

void ResetDriverAndHost() {
  ResetDriverState();
  host::ClearMemoryFaults();
  host::ResetMemoryCounters();
  host::ResetCom();
  host::ResetModuleCounts();
  host::SetTickCount(1000);
  host::SetTickStep(1);
}

void DriverTest::SetUp() {
  ResetDriverAndHost();
  scanner_ = std::make_unique<vscan::VirtualScanner>(ScannerConfig());
  vscan::Install(scanner_.get());
}

void DriverTest::TearDown() {
  if (checkViolations_) ExpectNoViolations();
  ExpectNothingHeld();
  vscan::Uninstall();
  scanner_.reset();
  host::ClearMemoryFaults();
  ResetDriverState();
}

void DriverTest::Reinstall(const vscan::Config& config) {
  vscan::Uninstall();
  scanner_ = std::make_unique<vscan::VirtualScanner>(config);
  vscan::Install(scanner_.get());
}

void DriverTest::ExpectNothingHeld() {
  host::ClearMemoryFaults();
  if (deviceOpen) {
    LD_ResetScanner(0);
    LD_CloseScanner();
  }
  // Scan buffers go with LD_ResetScanner / LD_CloseScanner; the line buffer only with reset.
  EXPECT_EQ(host::LiveGlobalBlocks(), 0u) << "memory blocks left live";
  EXPECT_EQ(host::ModuleReferences("sti.dll"), 0) << "still-image library left loaded";
  EXPECT_EQ(host::ComBalance(), 0) << "COM initialisation not balanced";
}

void DriverTest::ExpectNoViolations() {
  const auto& v = scanner_->violations();
  EXPECT_TRUE(v.empty()) << "protocol violations: " << v.size() << (v.empty() ? "" : ", first: " + v.front());
}

int32_t ReadStatus() {
  int32_t status = -1;
  LD_GetScannerStatus(&status);
  return status;
}

ScanRequest IdentityRequest(uint16_t mode, uint16_t resolution, uint32_t bytesPerLine) {
  ScanRequest r{};
  r.width = 100;
  r.length = 100;
  r.bytesPerLine = bytesPerLine;
  r.mode = mode;
  r.resolution = resolution;
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) r.toneCurves[c][v] = static_cast<uint8_t>(v);
  }
  r.colourOrder = 1;
  return r;
}
