// The library's load-time entry: loading and unloading do no work and always succeed;
// nothing touches the scanner until an entry point is called.
#if defined(_WIN32)
#include "platform/win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
