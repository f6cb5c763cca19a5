// What the virtual scanner's sti.dll exports beside the still-image factory: a small C
// interface through which a test program in the same process configures the scanner and
// looks at it (the hardware state, the protocol violations, the last correction table).
// Plain C types only: the test program and sti.dll each carry their own C++ runtime.
#pragma once

#include <cstdint>

struct VscanWinState {
  int32_t lampOn;
  int32_t locked;             // this process holds the device lock
  int32_t awake;              // the chip has seen its wake-up sequence
  int32_t transferRunning;
  int32_t openDeviceObjects;  // device objects created and not yet released
  int32_t serviceObjects;     // still-image service objects alive
  int32_t variant;
  uint32_t violations;        // protocol violations so far
  uint32_t factoryCalls;      // StiCreateInstance calls since the scanner was made
};

extern "C" {
// Replaces the scanner with a fresh one: hardware variant 1 or 2, and the document on the
// glass (a PNM file; null or empty: the built-in chart). 1 on success.
typedef int32_t (*VscanConfigureProc)(int32_t variant, const char* documentPath);
// Fills the state record; 1 on success.
typedef int32_t (*VscanGetStateProc)(VscanWinState* state);
// Copies the text of violation `index` (zero-terminated, cut to `size`); 1 if it exists.
typedef int32_t (*VscanGetViolationProc)(uint32_t index, char* text, uint32_t size);
// Copies the chip tone curves of the last correction table written to the scanner
// (red, green, blue, 4096 entries each); 1 if one was written, else 0.
typedef int32_t (*VscanGetCorrectionCurvesProc)(uint8_t* curves);
}
