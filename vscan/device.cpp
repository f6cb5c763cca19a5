// The still-image device object of the virtual scanner: the exclusive lock, the escape call
// through which the USB scanner kernel driver carries bridge requests (its 16-byte input
// block decoded and checked), and the raw reads and writes of bulk data.
#include <cstdio>
#include <cstring>

#include "driver/transport/bridge_protocol.h"
#include "vscan/scanner.h"

namespace vscan {
namespace {

DeviceObject* Self(IStiDevice* self) { return reinterpret_cast<DeviceObject*>(self); }

HRESULT STDMETHODCALLTYPE QueryInterface(IStiDevice* self, REFIID riid, LPVOID* object) {
  if (object != nullptr) *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE AddRef(IStiDevice* self) { return ++Self(self)->refs; }

ULONG STDMETHODCALLTYPE Release(IStiDevice* self) {
  DeviceObject* object = Self(self);
  if (object->refs == 0) return 0;
  ULONG left = --object->refs;
  if (left == 0) {
    Scanner* s = object->scanner;
    if (s != nullptr) {
      if (s->lockOwner == object) {
        s->Violation("device object released while it holds the lock");
        s->lockOwner = nullptr;
      }
      s->devices.erase(object);
    } else {
      Adopted(object);
    }
    delete object;
  }
  return left;
}

HRESULT STDMETHODCALLTYPE Initialize(IStiDevice* self, HINSTANCE instance, LPCWSTR name, DWORD version,
                                     DWORD mode) {
  return S_OK;
}

HRESULT STDMETHODCALLTYPE DeviceReset(IStiDevice* self) { return S_OK; }

HRESULT STDMETHODCALLTYPE GetLastError(IStiDevice* self, LPDWORD lastError) {
  if (lastError != nullptr) *lastError = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE LockDevice(IStiDevice* self, DWORD timeoutMs) {
  DeviceObject* d = Self(self);
  Scanner* s = d->scanner;
  if (s == nullptr) return kErrNotConnected;
  if (s->CountAndFail(Op::Lock)) return E_FAIL;
  if (s->vanished) return kErrNotConnected;
  if (s->lockOwner == d) return S_OK;
  if (s->lockOwner != nullptr || s->LockHeldElsewhere(d->record)) {
    // The service waits out the time-out for the other holder, then gives up.
    s->virtualMicros += static_cast<uint64_t>(timeoutMs) * 1000;
    return kErrDeviceLocked;
  }
  s->lockOwner = d;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE UnLockDevice(IStiDevice* self) {
  DeviceObject* d = Self(self);
  Scanner* s = d->scanner;
  if (s == nullptr) return kErrNotConnected;
  if (s->CountAndFail(Op::Unlock)) return E_FAIL;
  if (s->vanished) return kErrNotConnected;
  if (s->lockOwner != d) return E_FAIL;
  s->lockOwner = nullptr;
  return S_OK;
}

bool IsReadRequest(uint32_t request) {
  return request == kReqEppDataRead || request == kReqSppStatusRead || request == kReqGpioRead;
}

bool IsKnownRequest(uint32_t request) { return request >= kReqBulkSetup && request <= kReqGpioWrite; }

// Checks shared by every call that reaches the bridge: a live, data-mode, locked device.
// Returns the failure to hand back, or S_OK.
HRESULT CheckAccess(DeviceObject* d, const char* what) {
  Scanner* s = d->scanner;
  if (d->mode != STI_DEVICE_CREATE_DATA) {
    s->Violation(std::string(what) + " on a status-only device object");
    return kErrWrongMode;
  }
  if (s->lockOwner != d) s->Violation(std::string(what) + " on a device that is not locked");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Escape(IStiDevice* self, STI_RAW_CONTROL_CODE code, LPVOID inData, DWORD inSize,
                                 LPVOID outData, DWORD outSize, LPDWORD actualOut) {
  DeviceObject* d = Self(self);
  Scanner* s = d->scanner;
  if (actualOut != nullptr) *actualOut = 0;
  if (s == nullptr) return kErrNotConnected;

  if (code != kEscapeRegisterRead && code != kEscapeRegisterWrite) {
    s->CountAndFail(Op::Escape);
    char text[64];
    std::snprintf(text, sizeof text, "escape with control code 0x%08X", static_cast<unsigned>(code));
    s->Violation(text);
    return E_INVALIDARG;
  }
  if (inData == nullptr || inSize != sizeof(EscapeBlock)) {
    s->CountAndFail(Op::Escape);
    s->Violation("escape input block of " + std::to_string(inSize) + " bytes");
    return E_INVALIDARG;
  }
  EscapeBlock block;
  std::memcpy(&block, inData, sizeof block);
  bool injected = s->CountAndFail(Op::Escape);
  if (block.request == kReqBulkSetup) injected = s->CountAndFail(Op::BulkSetup) || injected;

  bool read = code == kEscapeRegisterRead;
  char text[96];
  if (!IsKnownRequest(block.request)) {
    std::snprintf(text, sizeof text, "unknown bridge request 0x%X", static_cast<unsigned>(block.request));
    s->Violation(text);
    return E_INVALIDARG;
  }
  if (IsReadRequest(block.request) != read) {
    std::snprintf(text, sizeof text, "bridge request 0x%02X sent with the %s control code",
                  static_cast<unsigned>(block.request), read ? "read" : "write");
    s->Violation(text);
    return E_INVALIDARG;
  }
  uint32_t expected = block.request == kReqBulkSetup ? kBulkSetupPacketSize : 1;
  if (block.length != expected) {
    std::snprintf(text, sizeof text, "bridge request 0x%02X with %u data bytes, not %u",
                  static_cast<unsigned>(block.request), static_cast<unsigned>(block.length),
                  static_cast<unsigned>(expected));
    s->Violation(text);
    return E_INVALIDARG;
  }
  if (block.data == nullptr) {
    s->Violation("bridge request without a data pointer");
    return E_INVALIDARG;
  }
  if (read && (outData == nullptr || outSize < expected)) {
    s->Violation("bridge read without room for its answer");
    return E_INVALIDARG;
  }
  if (outData != block.data) s->Violation("escape output buffer is not the block's data buffer");

  HRESULT access = CheckAccess(d, "escape");
  if (access != S_OK) return access;
  if (s->vanished) return kErrNotConnected;

  TraceEntry entry{};
  entry.kind = TraceEntry::Request;
  entry.request = static_cast<uint8_t>(block.request);
  entry.write = !read;
  if (!read) {
    if (block.request == kReqBulkSetup) {
      std::memcpy(entry.packet, block.data, kBulkSetupPacketSize);
    } else {
      entry.byte = block.data[0];
    }
  }
  s->virtualMicros += 1000;
  if (injected) {
    entry.failed = true;
    s->trace.push_back(entry);
    return E_FAIL;
  }

  bool ok;
  if (read) {
    uint8_t answer[kBulkSetupPacketSize]{};
    ok = s->BridgeRead(static_cast<uint8_t>(block.request), answer, expected);
    if (ok && expected == 1 && s->counts[static_cast<int>(Op::Escape)] > s->corruptAnswerFrom) {
      answer[0] ^= s->corruptAnswerMask;
    }
    if (ok) {
      std::memcpy(outData, answer, expected);
      entry.byte = answer[0];
      if (actualOut != nullptr) *actualOut = expected;
    }
  } else {
    ok = s->BridgeWrite(static_cast<uint8_t>(block.request), block.data, expected);
  }
  entry.failed = !ok;
  s->trace.push_back(entry);
  return ok ? S_OK : E_FAIL;
}

// The platform's overlapped record, when one is given, must be all zero: the transfer is
// synchronous.
void CheckOverlapped(Scanner* s, LPOVERLAPPED overlapped) {
  if (overlapped == nullptr) return;
  if (overlapped->Internal != 0 || overlapped->InternalHigh != 0 || overlapped->Offset != 0 ||
      overlapped->OffsetHigh != 0 || overlapped->hEvent != nullptr) {
    s->Violation("raw transfer with an overlapped record that is not all zero");
  }
}

HRESULT STDMETHODCALLTYPE RawReadData(IStiDevice* self, LPVOID buffer, LPDWORD bytes, LPOVERLAPPED overlapped) {
  DeviceObject* d = Self(self);
  Scanner* s = d->scanner;
  if (s == nullptr) return kErrNotConnected;
  if (bytes == nullptr || (buffer == nullptr && *bytes != 0)) {
    s->CountAndFail(Op::RawRead);
    s->Violation("raw read without a buffer or a byte count");
    return E_INVALIDARG;
  }
  uint64_t number = s->counts[static_cast<int>(Op::RawRead)];
  bool injected = s->CountAndFail(Op::RawRead);
  HRESULT access = CheckAccess(d, "raw read");
  if (access != S_OK) return access;
  CheckOverlapped(s, overlapped);
  TraceEntry entry{};
  entry.kind = TraceEntry::BulkRead;
  entry.size = *bytes;
  if (injected || s->vanished) {
    entry.failed = true;
    s->trace.push_back(entry);
    s->DropAnnouncement();
    *bytes = 0;
    return injected ? E_FAIL : kErrNotConnected;
  }
  s->trace.push_back(entry);
  uint32_t asked = *bytes;
  uint32_t moved = asked;
  if (number >= s->shortReadFrom) {
    // The tail of the transfer never arrives: the buffer keeps what it held there.
    moved = asked > s->shortReadMissing ? asked - s->shortReadMissing : 0;
  }
  s->RawRead(static_cast<uint8_t*>(buffer), asked, moved);
  if (!s->readCorruptions.empty()) s->CorruptRead(static_cast<uint8_t*>(buffer), moved, number);
  *bytes = moved;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE RawWriteData(IStiDevice* self, LPVOID buffer, DWORD bytes, LPOVERLAPPED overlapped) {
  DeviceObject* d = Self(self);
  Scanner* s = d->scanner;
  if (s == nullptr) return kErrNotConnected;
  if (buffer == nullptr && bytes != 0) {
    s->CountAndFail(Op::RawWrite);
    s->Violation("raw write without a buffer");
    return E_INVALIDARG;
  }
  bool injected = s->CountAndFail(Op::RawWrite);
  HRESULT access = CheckAccess(d, "raw write");
  if (access != S_OK) return access;
  CheckOverlapped(s, overlapped);
  TraceEntry entry{};
  entry.kind = TraceEntry::BulkWrite;
  entry.size = bytes;
  if (injected || s->vanished) {
    entry.failed = true;
    s->trace.push_back(entry);
    s->DropAnnouncement();
    return injected ? E_FAIL : kErrNotConnected;
  }
  s->trace.push_back(entry);
  s->RawWrite(static_cast<const uint8_t*>(buffer), bytes);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE RawCommand(IStiDevice* self, LPVOID buffer, LPDWORD bytes, LPOVERLAPPED overlapped) {
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE RawWriteCommand(IStiDevice* self, LPVOID buffer, DWORD bytes, LPOVERLAPPED overlapped) {
  return E_NOTIMPL;
}

// The real table has more methods than the ones filled here; the rest stay null.
const IStiDeviceVtbl* DeviceTable() {
  static const IStiDeviceVtbl table = [] {
    struct IStiDeviceVtbl t;
    std::memset(&t, 0, sizeof t);
    t.QueryInterface = QueryInterface;
    t.AddRef = AddRef;
    t.Release = Release;
    t.Initialize = Initialize;
    t.DeviceReset = DeviceReset;
    t.Escape = Escape;
    t.GetLastError = GetLastError;
    t.LockDevice = LockDevice;
    t.UnLockDevice = UnLockDevice;
    t.RawReadData = RawReadData;
    t.RawWriteData = RawWriteData;
    t.RawReadCommand = RawCommand;
    t.RawWriteCommand = RawWriteCommand;
    return t;
  }();
  return &table;
}

}  // namespace

DeviceObject* NewDeviceObject(Scanner* scanner, DWORD mode, size_t record) {
  auto* object = new DeviceObject{DeviceTable(), scanner, 1, mode, record};
  scanner->devices.insert(object);
  return object;
}

bool Scanner::LockHeldElsewhere(size_t record) const {
  return lockHeldElsewhere || (record < config.devices.size() && config.devices[record].lockHeldElsewhere);
}

}  // namespace vscan
