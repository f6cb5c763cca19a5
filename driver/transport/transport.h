// Device transport: the still-image connection and the bridge's control requests and
// bulk transfers. Chip control and everything above reach the scanner only through here.
#pragma once

#include <cstdint>

#include "driver/transport/bridge_protocol.h"
#include "driver/transport/transport_exports.h"
#include "platform/win32.h"

typedef HRESULT(WINAPI* StiFactoryProc)(HINSTANCE instance, DWORD version, IStillImageW** stillImage,
                                         LPUNKNOWN outer);

// The still-image connection, from FindScanner to GeneCloseHandle.
struct DeviceConnection {
  HMODULE stiModule;
  StiFactoryProc stiFactory;
  IStillImageW* stillImage;
  IStiDevice* scannerDevice;
};
extern DeviceConnection deviceConnection;
// 1 while a FindScanner connection is held (until GeneCloseHandle).
int32_t ConnectionHeld();

// One bridge request through the device's Escape call: 1 success, 0 failure.
int32_t BridgeRead(uint8_t request, uint8_t length, uint8_t* data);
int32_t BridgeWrite(uint8_t request, uint8_t length, uint8_t* data);

// The last byte written to the bridge's SPP control port (never read from the device).
extern uint8_t sppControlCache;

// Back to the state at load (tests only: a fresh library in the same process).
void ResetTransportState();
