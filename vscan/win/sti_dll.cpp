// The virtual scanner as a Windows still-image library: sti.dll exporting the service
// factory "StiCreateInstance" (and "StiCreateInstanceW"), so that Vo5170s.dll, loading
// "sti.dll" by name, finds the virtual Lumetra 5170C instead of the system's service. Put
// beside a program and preferred over the system's copy (WINEDLLOVERRIDES="sti=n,b").
//
// The scanner is made on the first factory call (or by VscanConfigure) and lives until
// the library is unloaded, like the hardware behind a service that stays up: a program
// that keeps this library loaded sees one scanner across the driver's opens and closes.
// The Windows headers come through the platform header, which asks for the C layout of the
// COM interfaces before anything includes them.
#include "platform/win32.h"

#include <cstring>
#include <memory>
#include <string>

#include "vscan/scanner.h"
#include "vscan/vscan.h"
#include "vscan/win/sti_hooks.h"

namespace {

// Uninstalled before it goes, when the library is unloaded or the process ends.
struct ScannerHolder {
  std::unique_ptr<vscan::VirtualScanner> scanner;
  ~ScannerHolder() {
    if (scanner) vscan::Uninstall();
  }
};
ScannerHolder holder;
std::unique_ptr<vscan::VirtualScanner>& scanner = holder.scanner;
uint32_t factoryCalls = 0;

vscan::VirtualScanner& Scanner() {
  if (!scanner) {
    scanner = std::make_unique<vscan::VirtualScanner>(vscan::Config{});
    vscan::Install(scanner.get());
  }
  return *scanner;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

HRESULT WINAPI VscanStiCreateInstance(HINSTANCE instance, DWORD version, IStillImageW** stillImage,
                                      LPUNKNOWN outer) {
  Scanner();
  ++factoryCalls;
  return vscan::StiFactory(instance, version, stillImage, outer);
}

int32_t VscanConfigure(int32_t variant, const char* documentPath) {
  if (variant != 1 && variant != 2) return 0;
  vscan::Config config;
  config.variant = variant;
  if (documentPath) config.documentPath = documentPath;
  if (scanner) vscan::Uninstall();
  scanner = std::make_unique<vscan::VirtualScanner>(config);
  vscan::Install(scanner.get());
  factoryCalls = 0;
  return 1;
}

int32_t VscanGetState(VscanWinState* state) {
  if (!state) return 0;
  vscan::VirtualScanner& s = Scanner();
  state->lampOn = s.lampOn();
  state->locked = s.locked();
  state->awake = s.awake();
  state->transferRunning = s.transferRunning();
  state->openDeviceObjects = s.openDeviceObjects();
  state->serviceObjects = s.serviceObjects();
  state->variant = s.config().variant;
  state->violations = static_cast<uint32_t>(s.violations().size());
  state->factoryCalls = factoryCalls;
  return 1;
}

int32_t VscanGetViolation(uint32_t index, char* text, uint32_t size) {
  const auto& all = Scanner().violations();
  if (index >= all.size()) return 0;
  if (text && size > 0) {
    size_t n = all[index].size() < size - 1 ? all[index].size() : size - 1;
    std::memcpy(text, all[index].data(), n);
    text[n] = '\0';
  }
  return 1;
}

int32_t VscanGetCorrectionCurves(uint8_t* curves) {
  const auto& table = Scanner().correctionTable();
  if (!table.valid) return 0;
  if (curves) std::memcpy(curves, table.curves, sizeof table.curves);
  return 1;
}

}  // extern "C"
