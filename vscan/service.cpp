// The still-image service object of the virtual scanner: the device list (one LocalAlloc'ed
// block of records with their strings behind them), device creation by internal name and
// mode, and the factory the service library exports. The COM glue is in the C layout so that
// the same code builds against the host stand-in and against the Windows headers.
#include <cstring>

#include "vscan/scanner.h"

namespace vscan {
namespace {

ServiceObject* Self(IStillImageW* self) { return reinterpret_cast<ServiceObject*>(self); }

HRESULT STDMETHODCALLTYPE QueryInterface(IStillImageW* self, REFIID riid, LPVOID* object) {
  if (object != nullptr) *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE AddRef(IStillImageW* self) { return ++Self(self)->refs; }

ULONG STDMETHODCALLTYPE Release(IStillImageW* self) {
  ServiceObject* object = Self(self);
  if (object->refs == 0) return 0;  // released once too often: nothing left to free
  ULONG left = --object->refs;
  if (left == 0) {
    if (object->scanner != nullptr) {
      object->scanner->services.erase(object);
    } else {
      Adopted(object);
    }
    delete object;
  }
  return left;
}

HRESULT STDMETHODCALLTYPE Initialize(IStillImageW* self, HINSTANCE instance, DWORD version) { return S_OK; }

size_t WideLength(const std::u16string& s) { return s.size() + 1; }

// Copies a string into the block as WCHARs and returns where it went.
LPWSTR PutString(uint8_t*& cursor, const std::u16string& s) {
  WCHAR* out = reinterpret_cast<WCHAR*>(cursor);
  for (size_t i = 0; i < s.size(); i++) out[i] = static_cast<WCHAR>(s[i]);
  out[s.size()] = 0;
  cursor += WideLength(s) * sizeof(WCHAR);
  return out;
}

const std::u16string kVendor = u"Vestrand-Okalar";

HRESULT STDMETHODCALLTYPE GetDeviceList(IStillImageW* self, DWORD type, DWORD flags, DWORD* count, LPVOID* buffer) {
  Scanner* s = Self(self)->scanner;
  if (count == nullptr || buffer == nullptr) return E_INVALIDARG;
  *count = 0;
  *buffer = nullptr;
  if (s == nullptr || s->config.deviceListFails) return E_FAIL;

  std::vector<const DeviceRecord*> listed;
  if (!s->vanished) {
    for (const DeviceRecord& d : s->config.devices) {
      if (type == 0 || HIWORD(d.deviceType) == type) listed.push_back(&d);
    }
  }
  if (s->config.deviceListEmptyBlock) {
    // Success with a count but no block: a caller must look at the pointer.
    *count = static_cast<DWORD>(listed.size());
    return S_OK;
  }

  size_t bytes = listed.size() * sizeof(STI_DEVICE_INFORMATIONW);
  for (const DeviceRecord* d : listed) {
    bytes += (WideLength(d->description) + WideLength(kVendor) + WideLength(d->internalName)) * sizeof(WCHAR);
  }
  auto* block = static_cast<uint8_t*>(LocalAlloc(LMEM_ZEROINIT, bytes == 0 ? 1 : bytes));
  if (block == nullptr) return E_OUTOFMEMORY;

  uint8_t* strings = block + listed.size() * sizeof(STI_DEVICE_INFORMATIONW);
  for (size_t i = 0; i < listed.size(); i++) {
    const DeviceRecord& d = *listed[i];
    auto* info = reinterpret_cast<STI_DEVICE_INFORMATIONW*>(block + i * sizeof(STI_DEVICE_INFORMATIONW));
    info->dwSize = sizeof(STI_DEVICE_INFORMATIONW);
    info->DeviceType = d.deviceType;
    size_t n = d.internalName.size();
    if (n > STI_MAX_INTERNAL_NAME_LENGTH - 1) n = STI_MAX_INTERNAL_NAME_LENGTH - 1;
    for (size_t k = 0; k < n; k++) info->szDeviceInternalName[k] = static_cast<WCHAR>(d.internalName[k]);
    info->szDeviceInternalName[n] = 0;
    info->pszVendorDescription = PutString(strings, kVendor);
    info->pszDeviceDescription = PutString(strings, d.description);
    info->pszPortName = PutString(strings, d.internalName);
  }
  *count = static_cast<DWORD>(listed.size());
  *buffer = block;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE GetDeviceInfo(IStillImageW* self, LPWSTR name, LPVOID* buffer) {
  if (buffer != nullptr) *buffer = nullptr;
  return E_NOTIMPL;
}

bool SameName(LPCWSTR name, const std::u16string& internalName) {
  size_t n = internalName.size();
  if (n > STI_MAX_INTERNAL_NAME_LENGTH - 1) n = STI_MAX_INTERNAL_NAME_LENGTH - 1;
  for (size_t i = 0; i < n; i++) {
    if (static_cast<char16_t>(name[i]) != internalName[i]) return false;
  }
  return name[n] == 0;
}

HRESULT STDMETHODCALLTYPE CreateDevice(IStillImageW* self, LPWSTR name, DWORD mode, PSTIDEVICE* device,
                                       LPUNKNOWN outer) {
  Scanner* s = Self(self)->scanner;
  if (device == nullptr) return E_INVALIDARG;
  *device = nullptr;
  if (s == nullptr) return E_FAIL;
  bool injected = s->CountAndFail(Op::CreateDevice);
  if (name == nullptr) return E_INVALIDARG;
  if (outer != nullptr) s->Violation("CreateDevice with an outer object");
  if (mode != STI_DEVICE_CREATE_STATUS && mode != STI_DEVICE_CREATE_DATA) {
    s->Violation("CreateDevice in mode " + std::to_string(mode));
    return E_INVALIDARG;
  }
  if (injected || s->vanished) return injected ? E_FAIL : kErrNotConnected;
  for (size_t i = 0; i < s->config.devices.size(); i++) {
    const DeviceRecord& d = s->config.devices[i];
    if (!SameName(name, d.internalName)) continue;
    if ((mode == STI_DEVICE_CREATE_STATUS && d.failStatusCreate) ||
        (mode == STI_DEVICE_CREATE_DATA && d.failDataCreate)) {
      return E_FAIL;
    }
    *device = reinterpret_cast<PSTIDEVICE>(NewDeviceObject(s, mode, i));
    return S_OK;
  }
  return kErrInvalidName;
}

// The real table has more methods than the ones filled here; the rest stay null.
const IStillImageWVtbl* ServiceTable() {
  static const IStillImageWVtbl table = [] {
    struct IStillImageWVtbl t;
    std::memset(&t, 0, sizeof t);
    t.QueryInterface = QueryInterface;
    t.AddRef = AddRef;
    t.Release = Release;
    t.Initialize = Initialize;
    t.GetDeviceList = GetDeviceList;
    t.GetDeviceInfo = GetDeviceInfo;
    t.CreateDevice = CreateDevice;
    return t;
  }();
  return &table;
}

std::set<void*>& Orphans() {
  static std::set<void*> orphans;
  return orphans;
}

}  // namespace

void Orphan(void* object) { Orphans().insert(object); }
bool Adopted(void* object) { return Orphans().erase(object) != 0; }

ServiceObject* NewServiceObject(Scanner* scanner) {
  auto* object = new ServiceObject{ServiceTable(), scanner, 1};
  scanner->services.insert(object);
  return object;
}

HRESULT WINAPI StiFactory(HINSTANCE instance, DWORD version, IStillImageW** stillImage, LPUNKNOWN outer) {
  if (stillImage == nullptr) return E_INVALIDARG;
  *stillImage = nullptr;
  VirtualScanner* installed = Installed();
  if (installed == nullptr) return E_FAIL;
  Scanner& s = installed->model();
  if (version != STI_VERSION_REAL) s.Violation("StiCreateInstance version " + std::to_string(version));
  if (outer != nullptr) s.Violation("StiCreateInstance with an outer object");
  if (s.config.factoryFails) return E_FAIL;
  *stillImage = reinterpret_cast<IStillImageW*>(NewServiceObject(&s));
  return S_OK;
}

}  // namespace vscan
