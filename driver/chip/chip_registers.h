// The controller chip's register map, shared by the driver and the virtual scanner. Chip
// registers are 8 bits wide, numbered in decimal; a 16-bit value goes to a register pair,
// low byte first.
#pragma once

#include <cstdint>

constexpr uint8_t kRegOptions = 1;      // 0x04 12-bit samples, 0x08/0x80 correction on
constexpr uint8_t kRegTransfer = 2;     // 0x04 bulk port reaches chip RAM; 0x08 data flow; 0x10/0x20/0x80
constexpr uint8_t kRegStatus = 3;       // 0x01 lamp, 0x02 variant, 0x04/0x10 transfer, 0x08 ready
constexpr uint8_t kRegMode = 5;
constexpr uint8_t kRegMotor = 6;        // 0x01 full steps
constexpr uint8_t kRegLinePeriodLo = 8;
constexpr uint8_t kRegLinePeriodHi = 9;
constexpr uint8_t kRegStepPeriodLo = 10;
constexpr uint8_t kRegStepPeriodHi = 11;
constexpr uint8_t kRegResolutionLo = 12;
constexpr uint8_t kRegResolutionHi = 13;  // 3 bits
constexpr uint8_t kRegPixelStartLo = 14;
constexpr uint8_t kRegPixelStartHi = 15;
constexpr uint8_t kRegPixelEndLo = 16;
constexpr uint8_t kRegPixelEndHi = 17;
constexpr uint8_t kRegLineBytesLo = 18;
constexpr uint8_t kRegLineBytesHi = 19;
constexpr uint8_t kRegBlockLines = 20;
constexpr uint8_t kRegLineArtLow = 21;   // line-art threshold pair
constexpr uint8_t kRegLineArtHigh = 22;
constexpr uint8_t kRegStartLineLo = 23;
constexpr uint8_t kRegStartLineHi = 24;  // 6 bits
constexpr uint8_t kRegStartLine2Lo = 25;
constexpr uint8_t kRegStartLine2Hi = 26;
constexpr uint8_t kRegEndLineLo = 27;
constexpr uint8_t kRegEndLineHi = 28;
constexpr uint8_t kRegFixed29 = 29;
constexpr uint8_t kRegRampPeriod = 30;
constexpr uint8_t kRegRampB = 31;
constexpr uint8_t kRegBulkPort = 36;
constexpr uint8_t kRegAfeIndex = 37;
constexpr uint8_t kRegAfeData = 38;
constexpr uint8_t kRegVariant39 = 39;    // 39..42: constants by hardware variant
constexpr uint8_t kRegRampA = 43;
constexpr uint8_t kRegFixed44 = 44;
constexpr uint8_t kRegFixed45 = 45;

// Register 1 bits.
constexpr uint8_t kOptTwelveBit = 0x04;
constexpr uint8_t kOptCorrectionA = 0x08;
constexpr uint8_t kOptCorrectionB = 0x80;
// Register 2 bits.
constexpr uint8_t kXferRamAccess = 0x04;
constexpr uint8_t kXferRun = 0x08;
constexpr uint8_t kXferBit4 = 0x10;
constexpr uint8_t kXferBit5 = 0x20;
constexpr uint8_t kXferBit7 = 0x80;
// Register 3 bits.
constexpr uint8_t kStatusLamp = 0x01;
constexpr uint8_t kStatusVariant2 = 0x02;
constexpr uint8_t kStatusXferA = 0x04;
constexpr uint8_t kStatusReady = 0x08;
constexpr uint8_t kStatusXferB = 0x10;
// Register 6 bits.
constexpr uint8_t kMotorFullStep = 0x01;

// Analogue front end registers, reached through registers 37 (index) and 38 (data).
constexpr uint8_t kAfeOffsetRed = 0x20;  // +1 green, +2 blue
constexpr uint8_t kAfeGainRed = 0x28;    // +1 green, +2 blue

// Control-port values of the register protocol.
constexpr uint8_t kSppControlIdle = 0x14;
constexpr uint8_t kSppControlRead = 0x34;  // bit 5: data direction, chip to host

// Sensor geometry.
constexpr uint32_t kSensorPixels = 5300;
constexpr uint32_t kCalibrationLineBytes = 23850;  // 5300 x 3 samples of 12 bits
