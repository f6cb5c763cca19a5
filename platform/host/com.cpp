// Host stand-in for COM initialisation: only the per-thread balance matters to the driver,
// which must undo every CoInitialize it makes.
#include "win_kernel.h"

namespace {
thread_local int balance = 0;
thread_local int initCalls = 0;
}  // namespace

HRESULT CoInitialize(LPVOID) {
  ++initCalls;
  // The first initialisation on a thread answers S_OK, later ones S_FALSE, as on Windows.
  return balance++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() { --balance; }

namespace host {
int ComBalance() { return balance; }
int ComInitCalls() { return initCalls; }
void ResetCom() { balance = 0; initCalls = 0; }
}  // namespace host
