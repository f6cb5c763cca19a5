// The Lumetra 5170C driver's exported interface: what a scanning application, the
// lumetra-scan front end and the tests include. Every export uses the Windows API calling
// convention (the callee removes the arguments) and returns a 32-bit integer: 1 success,
// 0 failure (the port reads return the byte or -1); the reason for a failed LD_ call is
// read afterwards with LD_GetScannerStatus.
//
// Typical use: LD_OpenScanner, LD_LampOn, LD_DeviceInit, LD_GetScannerAbility (any time),
// then per scan LD_SetScanParameter, LD_ReadScan as often as lines are wanted,
// LD_ResetScanner; finally LD_CloseScanner.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/common/export.h"
#include "driver/transport/transport_exports.h"

// LD_GetScannerStatus codes.
enum : int32_t {
  kStatusNoError = 0,
  kStatusNotOpen = 1,      // no device open, or opening it failed
  kStatusOutOfMemory = 2,
  kStatusTransferFailed = 5,
};

// Capability record filled by LD_GetScannerAbility: 544 bytes in the 32-bit interface,
// little-endian. Only the texts and their terminating zeros are written into the text
// fields, and byte 515 is never written: the rest keeps what the caller left there.
//
// In a 64-bit build resolutionList is a natural 8-byte pointer at offset 520; the fields
// after it move 4 bytes up (maxWidth 528, widthAux 532, maxLength 536, lengthAux 540,
// trailingValue 544) and the record is 552 bytes with its tail padding.
struct ScannerAbility {
  uint16_t headerCode;        // 0: 3
  char deviceName[128];       // 2
  char deviceType[128];       // 130
  char versionText[128];      // 258
  char releaseDate[128];      // 386
  uint8_t featureMask;        // 514: 7
  uint8_t notWritten;         // 515
  uint16_t maxResolution;     // 516: 600 dpi
  uint16_t resolutionCount;   // 518: 22
  const uint16_t* resolutionList;  // 520: the library's list, 75..600 in steps of 25
  uint32_t maxWidth;          // 524: 2550 (1/300 inch)
  uint32_t widthAux;          // 528: 10
  uint32_t maxLength;         // 532: 3510 (1/300 inch)
  uint32_t lengthAux;         // 536: 20
  uint32_t trailingValue;     // 540: 0
};

// Scan description given to LD_SetScanParameter. Window in 1/300 inch. The layout holds
// no pointer and is the same in every build; the library reads bytes 0 to 864 only (the
// record's size with its tail padding is 868).
struct ScanRequest {
  uint32_t left;              // 0: at most 2550
  uint32_t top;               // 4: at most 3510
  uint32_t width;             // 8: at most 2550; the line width comes from bytesPerLine
  uint32_t length;            // 12: at most 3510; the application reads what it wants
  uint32_t bytesPerLine;      // 16
  uint16_t mode;              // 20: 1 colour, 2 grey, 3 line art
  uint16_t resolution;        // 22: 100..600 dpi
  uint8_t toneCurves[3][256]; // 24, 280, 536
  uint8_t reservedBlock[64];  // 792: carried along, never interpreted
  uint8_t colourChannel;      // 856: 1 red, 3 blue, else green (grey: at most 3)
  uint8_t gap[3];             // 857
  uint32_t colourOrder;       // 860: 1 red-green-blue, 0 blue-green-red
  uint8_t transferOption;     // 864: 1 selects transfer control 0x18, else 0xA8
};

// Refused scan requests and reads. Each returns 0 with status 0 (kStatusNoError), the
// status of a request that fails a range check, and changes nothing: no scan is started,
// and a scan that is running stays as it was and can still be read.
// - LD_SetScanParameter(null).
// - bytesPerLine that gives no pixel (colour below 3, grey or line art 0) or a line that a
//   decoded line slot cannot hold (more than 5300 pixels; in line art more than 5300 bytes).
// - A window that cannot be placed on the sensor: its span at 600 dpi (pixels x 600 /
//   resolution) wider than the usable 5280 pixels, a left edge (left x 2) beyond the
//   calibrated right edge, or no calibrated right edge at all (before LD_DeviceInit has
//   succeeded).
// - LD_ReadScan(null, any count), and LD_ReadScan with no scan set up: before any accepted
//   request, after one that failed, or after LD_ResetScanner or LD_CloseScanner ended the
//   scan. (With no device open it fails with status 1, as every entry point does.)
// A pending stop request (LD_StopScan) does not end a read: LD_ReadScan clears it and
// reads on; a scan is ended with LD_ResetScanner.
// An accepted LD_SetScanParameter while an earlier scan is still set up first ends that
// scan as LD_ResetScanner does (transfer stopped, its buffers released, device left open);
// so does LD_DeviceInit, whose calibration passes reprogram the chip. The ended scan can
// no longer be read.
//
// Failures reported rather than hidden:
// - LD_OpenScanner whose identification read of the chip fails: 0, status 1, nothing held.
// - LD_LampOn / LD_LampOff / LD_GetLampStatus whose register transfer was lost: 0, status 5;
//   LD_GetLampStatus then leaves the caller's integer as it was.
// - LD_DiagnosticTest whose write or read of the chip's RAM failed: 0, even when the RAM
//   still holds an earlier test's pattern.
// - LD_DeviceInit: 0 with status 2 when its work memory cannot be had, 5 when a transfer
//   fails, and 0 with status 0 when no calibration strip is found (lamp off, a lid or
//   document in the way, or a strip edge so low, past line 361 of the 400 captured, that
//   the later reads would run past the captured lines: it stops before reading them).
// - A device that vanishes: every later call that needs it returns 0 with status 5;
//   LD_ResetScanner and LD_CloseScanner still release everything and return 1.
// Calibration data that would divide by zero or overflow a register does not: a bright-band
// average of 0 takes the highest front-end gain (255), gains and offsets stop at the ends of
// their 8-bit registers, a pixel that reads darker in the light than in the dark is taken
// as dead (a low gain), one whose light and dark levels leave no span counts a span of 1,
// and correction words stop at gain 1023 and offset 63 instead of wrapping.
// Before LD_DeviceInit has succeeded there is no calibrated right edge: every scan request
// is refused as above (0, status 0).

LD_EXPORT int32_t LDAPI LD_OpenScanner(void);
LD_EXPORT int32_t LDAPI LD_CloseScanner(void);
LD_EXPORT int32_t LDAPI LD_GetScannerAbility(ScannerAbility* record);
LD_EXPORT int32_t LDAPI LD_ResetScanner(uint32_t unused);
LD_EXPORT int32_t LDAPI LD_DeviceInit(void);
LD_EXPORT int32_t LDAPI LD_SetScanParameter(const ScanRequest* request);
LD_EXPORT int32_t LDAPI LD_ReadScan(uint8_t* buffer, uint32_t lineCount);
LD_EXPORT int32_t LDAPI LD_StopScan(void);
LD_EXPORT int32_t LDAPI LD_GetScannerStatus(int32_t* status);
LD_EXPORT int32_t LDAPI LD_GetLampStatus(int32_t* lampOn);
LD_EXPORT int32_t LDAPI LD_LampOn(void);
LD_EXPORT int32_t LDAPI LD_LampOff(void);
LD_EXPORT int32_t LDAPI LD_DiagnosticTest(void);

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(ScannerAbility) == 544, "capability record is 544 bytes");
static_assert(offsetof(ScannerAbility, headerCode) == 0, "");
static_assert(offsetof(ScannerAbility, deviceName) == 2, "");
static_assert(offsetof(ScannerAbility, deviceType) == 130, "");
static_assert(offsetof(ScannerAbility, versionText) == 258, "");
static_assert(offsetof(ScannerAbility, releaseDate) == 386, "");
static_assert(offsetof(ScannerAbility, featureMask) == 514, "");
static_assert(offsetof(ScannerAbility, notWritten) == 515, "");
static_assert(offsetof(ScannerAbility, maxResolution) == 516, "");
static_assert(offsetof(ScannerAbility, resolutionCount) == 518, "");
static_assert(offsetof(ScannerAbility, resolutionList) == 520, "");
static_assert(offsetof(ScannerAbility, maxWidth) == 524, "");
static_assert(offsetof(ScannerAbility, widthAux) == 528, "");
static_assert(offsetof(ScannerAbility, maxLength) == 532, "");
static_assert(offsetof(ScannerAbility, lengthAux) == 536, "");
static_assert(offsetof(ScannerAbility, trailingValue) == 540, "");
#endif
static_assert(offsetof(ScanRequest, left) == 0, "");
static_assert(offsetof(ScanRequest, top) == 4, "");
static_assert(offsetof(ScanRequest, width) == 8, "");
static_assert(offsetof(ScanRequest, length) == 12, "");
static_assert(offsetof(ScanRequest, bytesPerLine) == 16, "");
static_assert(offsetof(ScanRequest, mode) == 20, "");
static_assert(offsetof(ScanRequest, resolution) == 22, "");
static_assert(offsetof(ScanRequest, toneCurves) == 24, "");
static_assert(offsetof(ScanRequest, reservedBlock) == 792, "");
static_assert(offsetof(ScanRequest, colourChannel) == 856, "");
static_assert(offsetof(ScanRequest, colourOrder) == 860, "");
static_assert(offsetof(ScanRequest, transferOption) == 864, "");
static_assert(sizeof(ScanRequest) == 868, "request record with tail padding");
