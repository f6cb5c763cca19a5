// Control requests to the USB-to-parallel bridge: each one is a still-image Escape that
// carries a request number and a few bytes to or from one of the bridge's parallel-port
// registers or GPIO pins. BridgeRead and BridgeWrite are the only callers of Escape.
#include <cstring>

#include "driver/transport/transport.h"

uint8_t sppControlCache = 0;

namespace {

int32_t SendEscape(DWORD code, uint8_t request, uint8_t length, uint8_t* data) {
  if (!ConnectionHeld()) return 0;
  EscapeBlock block;
  std::memset(&block, 0, sizeof(block));
  block.request = request;
  block.length = length;
  block.data = data;
  block.reserved = 0;
  DWORD returned = 0;
  IStiDevice* device = deviceConnection.scannerDevice;
  HRESULT hr = device->lpVtbl->Escape(device, code, &block, sizeof(block), data, length, &returned);
  return SUCCEEDED(hr) ? 1 : 0;
}

int32_t WritePort(uint8_t request, uint32_t value) {
  uint8_t byte = static_cast<uint8_t>(value);
  return BridgeWrite(request, 1, &byte);
}

int32_t ReadPort(uint8_t request) {
  uint8_t byte = 0;
  if (!BridgeRead(request, 1, &byte)) return -1;
  return byte;
}

}  // namespace

int32_t BridgeRead(uint8_t request, uint8_t length, uint8_t* data) {
  return SendEscape(kEscapeRegisterRead, request, length, data);
}

int32_t BridgeWrite(uint8_t request, uint8_t length, uint8_t* data) {
  return SendEscape(kEscapeRegisterWrite, request, length, data);
}

LD_EXPORT int32_t LDAPI GLWriteSPPDataPort(uint32_t value) { return WritePort(kReqSppDataWrite, value); }

LD_EXPORT int32_t LDAPI GLWriteSPPControlPort(uint32_t value) {
  // The bridge cannot report its control port back, so the last value sent stands for it,
  // whether or not the request got through.
  sppControlCache = static_cast<uint8_t>(value);
  return WritePort(kReqSppControlWrite, value);
}

LD_EXPORT int32_t LDAPI GLWriteEPPAddressPort(uint32_t value) { return WritePort(kReqEppAddressWrite, value); }
LD_EXPORT int32_t LDAPI GLWriteEPPDataPort(uint32_t value) { return WritePort(kReqEppDataWrite, value); }
LD_EXPORT int32_t LDAPI GLGpioOE(uint32_t value) { return WritePort(kReqGpioOutputEnable, value); }
LD_EXPORT int32_t LDAPI GLGpioWrite(uint32_t value) { return WritePort(kReqGpioWrite, value); }
LD_EXPORT int32_t LDAPI GLReadSPPStatusPort(void) { return ReadPort(kReqSppStatusRead); }
LD_EXPORT int32_t LDAPI GLReadEPPDataPort(void) { return ReadPort(kReqEppDataRead); }
LD_EXPORT int32_t LDAPI GLGpioRead(void) { return ReadPort(kReqGpioRead); }
LD_EXPORT int32_t LDAPI GLReadSPPControlPort(void) { return sppControlCache; }
