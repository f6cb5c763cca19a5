// Host stand-in: the still-image service's records and its two COM interfaces in their C
// layout (an object whose first member points at a table of functions, each taking the
// object first). The tables list the methods in the service's order; the host virtual
// scanner fills them, the driver calls through them.
#pragma once

#include "win_types.h"

#define STI_MAX_INTERNAL_NAME_LENGTH 128
#define STI_VERSION_REAL 0x00000002
#define STI_DEVICE_CREATE_STATUS 0x00000001
#define STI_DEVICE_CREATE_DATA 0x00000002
#define StiDeviceTypeDefault 0
#define StiDeviceTypeScanner 1
#define StiDeviceTypeDigitalCamera 2
#define GET_STIDEVICE_TYPE(dwDevType) HIWORD(dwDevType)
#define GET_STIDEVICE_SUBTYPE(dwDevType) LOWORD(dwDevType)

typedef DWORD STI_DEVICE_TYPE;
typedef DWORD STI_RAW_CONTROL_CODE;

struct STI_DEV_CAPS {
  DWORD dwGeneric;
};

struct STI_DEVICE_INFORMATIONW {
  DWORD dwSize;
  STI_DEVICE_TYPE DeviceType;
  WCHAR szDeviceInternalName[STI_MAX_INTERNAL_NAME_LENGTH];
  STI_DEV_CAPS DeviceCapabilities;
  DWORD dwHardwareConfiguration;
  LPWSTR pszVendorDescription;
  LPWSTR pszDeviceDescription;
  LPWSTR pszPortName;
  LPWSTR pszPropProvider;
  LPWSTR pszLocalName;
};
typedef STI_DEVICE_INFORMATIONW* PSTI_DEVICE_INFORMATIONW;

struct IStiDevice;
struct IStillImageW;
typedef IStiDevice* PSTIDEVICE;
typedef IStillImageW* PSTIW;
typedef void* LPUNKNOWN;

struct IStiDeviceVtbl {
  HRESULT (*QueryInterface)(IStiDevice* self, REFIID riid, LPVOID* object);
  ULONG (*AddRef)(IStiDevice* self);
  ULONG (*Release)(IStiDevice* self);
  HRESULT (*Initialize)(IStiDevice* self, HINSTANCE instance, LPCWSTR name, DWORD version, DWORD mode);
  HRESULT (*GetCapabilities)(IStiDevice* self, void* caps);
  HRESULT (*GetStatus)(IStiDevice* self, void* status);
  HRESULT (*DeviceReset)(IStiDevice* self);
  HRESULT (*Diagnostic)(IStiDevice* self, void* buffer);
  HRESULT (*Escape)(IStiDevice* self, STI_RAW_CONTROL_CODE code, LPVOID inData, DWORD inSize,
                    LPVOID outData, DWORD outSize, LPDWORD actualOut);
  HRESULT (*GetLastError)(IStiDevice* self, LPDWORD lastError);
  HRESULT (*LockDevice)(IStiDevice* self, DWORD timeoutMs);
  HRESULT (*UnLockDevice)(IStiDevice* self);
  HRESULT (*RawReadData)(IStiDevice* self, LPVOID buffer, LPDWORD bytes, LPOVERLAPPED overlapped);
  HRESULT (*RawWriteData)(IStiDevice* self, LPVOID buffer, DWORD bytes, LPOVERLAPPED overlapped);
  HRESULT (*RawReadCommand)(IStiDevice* self, LPVOID buffer, LPDWORD bytes, LPOVERLAPPED overlapped);
  HRESULT (*RawWriteCommand)(IStiDevice* self, LPVOID buffer, DWORD bytes, LPOVERLAPPED overlapped);
};

struct IStiDevice {
  const IStiDeviceVtbl* lpVtbl;
};

struct IStillImageWVtbl {
  HRESULT (*QueryInterface)(IStillImageW* self, REFIID riid, LPVOID* object);
  ULONG (*AddRef)(IStillImageW* self);
  ULONG (*Release)(IStillImageW* self);
  HRESULT (*Initialize)(IStillImageW* self, HINSTANCE instance, DWORD version);
  HRESULT (*GetDeviceList)(IStillImageW* self, DWORD type, DWORD flags, DWORD* count, LPVOID* buffer);
  HRESULT (*GetDeviceInfo)(IStillImageW* self, LPWSTR name, LPVOID* buffer);
  HRESULT (*CreateDevice)(IStillImageW* self, LPWSTR name, DWORD mode, PSTIDEVICE* device, LPUNKNOWN outer);
};

struct IStillImageW {
  const IStillImageWVtbl* lpVtbl;
};

// The factory exported by the service library as "StiCreateInstance".
typedef HRESULT (*StiCreateInstanceProc)(HINSTANCE instance, DWORD version, PSTIW* stillImage, LPUNKNOWN outer);
