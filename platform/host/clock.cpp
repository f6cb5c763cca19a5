// Host stand-in for the millisecond tick counter: a virtual clock that advances a fixed
// step on every reading, so polling loops with time-outs finish at once in real time.
#include "win_kernel.h"

namespace {
DWORD now = 1000;
DWORD step = 1;
}  // namespace

DWORD GetTickCount() {
  DWORD t = now;
  now += step;
  return t;
}

namespace host {
void SetTickCount(DWORD t) { now = t; }
void SetTickStep(DWORD s) { step = s; }
DWORD PeekTickCount() { return now; }
}  // namespace host
