// The transport family of exports: open and close the scanner directly, talk to the
// USB-to-parallel bridge's ports and move bulk data. Exported under decorated names
// ("_FindScanner@12" and so on) for diagnostic tools; the driver calls them too.
#pragma once

#include <cstdint>

#include "driver/common/export.h"

LD_EXPORT int32_t LDAPI FindScanner(uint32_t unused1, uint32_t unused2, int32_t* found);
LD_EXPORT int32_t LDAPI GeneCloseHandle(void);

LD_EXPORT int32_t LDAPI GLWriteSPPDataPort(uint32_t value);
LD_EXPORT int32_t LDAPI GLWriteSPPControlPort(uint32_t value);
LD_EXPORT int32_t LDAPI GLWriteEPPAddressPort(uint32_t value);
LD_EXPORT int32_t LDAPI GLWriteEPPDataPort(uint32_t value);
LD_EXPORT int32_t LDAPI GLGpioOE(uint32_t value);
LD_EXPORT int32_t LDAPI GLGpioWrite(uint32_t value);
LD_EXPORT int32_t LDAPI GLReadSPPStatusPort(void);
LD_EXPORT int32_t LDAPI GLReadEPPDataPort(void);
LD_EXPORT int32_t LDAPI GLGpioRead(void);
LD_EXPORT int32_t LDAPI GLReadSPPControlPort(void);

LD_EXPORT int32_t LDAPI UsbReadScanner(uint8_t* buffer, uint32_t length, uint32_t value);
LD_EXPORT int32_t LDAPI UsbWriteScanner(uint8_t* buffer, uint32_t length, uint32_t value);
LD_EXPORT int32_t LDAPI UsbWriteScannerFw(uint8_t* buffer, uint32_t length);
LD_EXPORT int32_t LDAPI UsbWriteScannerAD(uint8_t* buffer, uint32_t length);
LD_EXPORT int32_t LDAPI UsbReadScannerLines(uint8_t* buffer, uint32_t lineSize, uint32_t lineCount,
                                            uint32_t value);
LD_EXPORT int32_t LDAPI UsbReadScannerFast(uint8_t* buffer, uint32_t length, uint32_t value);
