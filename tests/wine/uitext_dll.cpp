// Test stand-in for the maker's localisation library: a DLL that holds only a string table.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
