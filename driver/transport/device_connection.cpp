// The still-image connection: find the Lumetra 5170C among the service's devices by its
// description, open it in data mode and take the service's exclusive lock, and give it all
// back again. Every later bridge request and bulk transfer goes through the device object
// kept here.
#include "driver/transport/transport.h"

DeviceConnection deviceConnection = {nullptr, nullptr, nullptr, nullptr};

namespace {

// 1 from a successful FindScanner until GeneCloseHandle. The connection's fields keep their
// last values after a close, so they cannot tell by themselves whether a device is held.
int32_t connectionHeld = 0;

// The description the service reports for the scanner: "Vestrand-Okalar Lumetra 5170C",
// 29 UTF-16 code units and a terminating zero.
const WCHAR kScannerDescription[] = {'V', 'e', 's', 't', 'r', 'a', 'n', 'd', '-', 'O', 'k', 'a', 'l', 'a', 'r',
                                     ' ', 'L', 'u', 'm', 'e', 't', 'r', 'a', ' ', '5', '1', '7', '0', 'C', 0};
static_assert(sizeof(kScannerDescription) == 60, "description is 30 UTF-16 code units");

constexpr DWORD kStiVersion = 2;
constexpr DWORD kCreateStatusOnly = 1;
constexpr DWORD kCreateData = 2;
constexpr DWORD kLockTimeoutMs = 200;
constexpr WORD kClassScanner = 1;
constexpr WORD kSubTypeLumetra = 1;
constexpr int kInternalNameChars = 128;

// Exact match: same code units, same length, case-sensitive.
bool IsLumetraDescription(const WCHAR* text) {
  if (text == nullptr) return false;
  int i = 0;
  for (; kScannerDescription[i] != 0; ++i) {
    if (text[i] != kScannerDescription[i]) return false;
  }
  return text[i] == 0;
}

// Undoes what a failed search took, the interfaces before the library that implements them.
int32_t AbandonSearch(IStiDevice* device, LPVOID recordBlock) {
  if (recordBlock != nullptr) LocalFree(recordBlock);
  if (device != nullptr) device->lpVtbl->Release(device);
  if (deviceConnection.stillImage != nullptr) {
    deviceConnection.stillImage->lpVtbl->Release(deviceConnection.stillImage);
  }
  deviceConnection.scannerDevice = nullptr;
  deviceConnection.stillImage = nullptr;
  if (deviceConnection.stiModule != nullptr) FreeLibrary(deviceConnection.stiModule);
  CoUninitialize();
  return 0;
}

}  // namespace

int32_t ConnectionHeld() { return connectionHeld; }

LD_EXPORT int32_t LDAPI FindScanner(uint32_t unused1, uint32_t unused2, int32_t* found) {
  // A second search while the scanner is held would otherwise leak the held interfaces and
  // fail on the lock this very process keeps.
  if (connectionHeld) GeneCloseHandle();

  CoInitialize(nullptr);
  deviceConnection.stiModule = LoadLibraryA("sti.dll");
  deviceConnection.stiFactory = nullptr;
  deviceConnection.stillImage = nullptr;
  deviceConnection.scannerDevice = nullptr;
  if (deviceConnection.stiModule == nullptr) {
    CoUninitialize();
    return 0;
  }
  // Through the generic function pointer type: the export's real signature is the factory's.
  FARPROC factory = GetProcAddress(deviceConnection.stiModule, "StiCreateInstance");
  deviceConnection.stiFactory = reinterpret_cast<StiFactoryProc>(reinterpret_cast<void (*)()>(factory));
  if (deviceConnection.stiFactory == nullptr) return AbandonSearch(nullptr, nullptr);

  HRESULT hr = deviceConnection.stiFactory(GetModuleHandleA(nullptr), kStiVersion, &deviceConnection.stillImage,
                                           nullptr);
  if (FAILED(hr)) deviceConnection.stillImage = nullptr;
  if (deviceConnection.stillImage == nullptr) return AbandonSearch(nullptr, nullptr);

  IStillImageW* service = deviceConnection.stillImage;
  DWORD recordCount = 0;
  LPVOID recordBlock = nullptr;
  hr = service->lpVtbl->GetDeviceList(service, 0, 0, &recordCount, &recordBlock);
  if (FAILED(hr) || recordBlock == nullptr) return AbandonSearch(nullptr, recordBlock);

  const BYTE* record = static_cast<const BYTE*>(recordBlock);
  for (DWORD n = 0; n < recordCount; ++n) {
    const STI_DEVICE_INFORMATIONW* info = reinterpret_cast<const STI_DEVICE_INFORMATIONW*>(record);
    const BYTE* next = record + info->dwSize;
    if (HIWORD(info->DeviceType) != kClassScanner || !IsLumetraDescription(info->pszDeviceDescription) ||
        LOWORD(info->DeviceType) != kSubTypeLumetra) {
      record = next;
      continue;
    }
    WCHAR name[kInternalNameChars];
    int i = 0;
    for (; i < kInternalNameChars - 1 && info->szDeviceInternalName[i] != 0; ++i) {
      name[i] = info->szDeviceInternalName[i];
    }
    name[i] = 0;

    // A status-only object first: it answers whether the service can reach the device
    // at all without claiming it.
    IStiDevice* probe = nullptr;
    hr = service->lpVtbl->CreateDevice(service, name, kCreateStatusOnly, &probe, nullptr);
    if (FAILED(hr) || probe == nullptr) {
      record = next;
      continue;
    }
    probe->lpVtbl->Release(probe);

    IStiDevice* device = nullptr;
    hr = service->lpVtbl->CreateDevice(service, name, kCreateData, &device, nullptr);
    if (FAILED(hr)) device = nullptr;
    if (device == nullptr) return AbandonSearch(nullptr, recordBlock);
    // Another process holding the scanner for longer than this gives up the whole search.
    if (FAILED(device->lpVtbl->LockDevice(device, kLockTimeoutMs))) return AbandonSearch(device, recordBlock);

    deviceConnection.scannerDevice = device;
    connectionHeld = 1;
    if (found != nullptr) *found = 1;
    LocalFree(recordBlock);
    return 1;
  }
  return AbandonSearch(nullptr, recordBlock);
}

LD_EXPORT int32_t LDAPI GeneCloseHandle(void) {
  if (!connectionHeld) return 0;
  IStiDevice* device = deviceConnection.scannerDevice;
  HRESULT hr = device->lpVtbl->UnLockDevice(device);
  // Released even when the unlock fails: the library that implements them goes next, and a
  // device object left alive would keep the scanner claimed for the life of the process.
  device->lpVtbl->Release(device);
  deviceConnection.stillImage->lpVtbl->Release(deviceConnection.stillImage);
  FreeLibrary(deviceConnection.stiModule);
  CoUninitialize();
  connectionHeld = 0;
  return SUCCEEDED(hr) ? 1 : 0;
}

void ResetTransportState() {
  // Forgets a connection without calling into it: its objects may be gone with the scanner.
  deviceConnection = DeviceConnection{nullptr, nullptr, nullptr, nullptr};
  connectionHeld = 0;
  sppControlCache = 0;
}
