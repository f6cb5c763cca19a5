// Binding of the driver table: the linked driver on the host, the DLL on Windows.
#include "tools/driver_api.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace lumetra {

#if defined(_WIN32)

namespace {

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* slot, std::string* error) {
  FARPROC address = GetProcAddress(module, name);
  if (!address) {
    if (error) *error = std::string("Vo5170s.dll has no entry point ") + name;
    return false;
  }
  *slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
  return true;
}

// The folder of this program, with its trailing separator: the driver ships beside it,
// and loading it by full path keeps an older copy in the system folder out of play.
std::string ProgramFolder() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  std::string folder(path, n);
  size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

}  // namespace

const DriverApi* SystemDriver(std::string* error) {
  static DriverApi api;
  static bool loaded = false;
  static std::string loadError;
  if (loaded) return &api;
  if (!loadError.empty()) {
    if (error) *error = loadError;
    return nullptr;
  }
  std::string path = ProgramFolder() + "Vo5170s.dll";
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    loadError = "cannot load the driver " + path + " (Windows error " +
                std::to_string(GetLastError()) + ")";
    if (error) *error = loadError;
    return nullptr;
  }
  DriverApi table;
  bool ok = Resolve(module, "LD_OpenScanner", &table.openScanner, &loadError) &&
            Resolve(module, "LD_CloseScanner", &table.closeScanner, &loadError) &&
            Resolve(module, "LD_GetScannerAbility", &table.getScannerAbility, &loadError) &&
            Resolve(module, "LD_ResetScanner", &table.resetScanner, &loadError) &&
            Resolve(module, "LD_DeviceInit", &table.deviceInit, &loadError) &&
            Resolve(module, "LD_SetScanParameter", &table.setScanParameter, &loadError) &&
            Resolve(module, "LD_ReadScan", &table.readScan, &loadError) &&
            Resolve(module, "LD_GetScannerStatus", &table.getScannerStatus, &loadError) &&
            Resolve(module, "LD_LampOn", &table.lampOn, &loadError);
  if (!ok) {
    FreeLibrary(module);
    if (error) *error = loadError;
    return nullptr;
  }
  // The module stays loaded for the life of the process.
  api = table;
  loaded = true;
  return &api;
}

#else

const DriverApi* SystemDriver(std::string*) {
  static const DriverApi api = {
      &LD_OpenScanner,      &LD_CloseScanner, &LD_GetScannerAbility,
      &LD_ResetScanner,     &LD_DeviceInit,   &LD_SetScanParameter,
      &LD_ReadScan,         &LD_GetScannerStatus, &LD_LampOn,
  };
  return &api;
}

#endif

}  // namespace lumetra
