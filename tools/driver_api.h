// The driver's LD_ entry points as lumetra-scan calls them: a table of function pointers.
// On the host it holds the statically linked driver; on Windows it is filled from
// Vo5170s.dll beside the program, so the same front end drives the real scanner.
#pragma once

#include <string>

#include "driver/interface/ld_api.h"

namespace lumetra {

struct DriverApi {
  decltype(&LD_OpenScanner) openScanner = nullptr;
  decltype(&LD_CloseScanner) closeScanner = nullptr;
  decltype(&LD_GetScannerAbility) getScannerAbility = nullptr;
  decltype(&LD_ResetScanner) resetScanner = nullptr;
  decltype(&LD_DeviceInit) deviceInit = nullptr;
  decltype(&LD_SetScanParameter) setScanParameter = nullptr;
  decltype(&LD_ReadScan) readScan = nullptr;
  decltype(&LD_GetScannerStatus) getScannerStatus = nullptr;
  decltype(&LD_LampOn) lampOn = nullptr;
};

// The driver this build talks to. On the host: the linked library, always available.
// On Windows: Vo5170s.dll from the program's own folder, loaded on the first call; null
// with the reason in *error when it cannot be loaded or lacks an entry point.
const DriverApi* SystemDriver(std::string* error);

}  // namespace lumetra
