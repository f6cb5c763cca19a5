// Host stand-in: the Windows kernel calls the driver makes (modules, COM initialisation,
// local and moveable global memory, the tick counter, old-style file reading), and the
// hooks through which tests steer and inspect them. Written from what the driver expects
// of each call; the behaviour on the real system is the reference.
#pragma once

#include <string>
#include <vector>

#include "win_types.h"

HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
HMODULE GetModuleHandleA(LPCSTR name);

HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL block);

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL handle);
HGLOBAL GlobalHandle(LPCVOID pointer);
BOOL GlobalUnlock(HGLOBAL handle);
HGLOBAL GlobalFree(HGLOBAL handle);

DWORD GetTickCount();

HFILE _lopen(LPCSTR path, int mode);
UINT _lread(HFILE file, LPVOID buffer, UINT bytes);
HFILE _lclose(HFILE file);

namespace host {

// --- modules: an in-process table standing in for the loader ------------------------
struct ModuleExport {
  const char* name;
  FARPROC address;
};
// Registers (or replaces) a loadable module under a case-insensitive name.
void RegisterModule(const std::string& name, const std::vector<ModuleExport>& exports);
void UnregisterModule(const std::string& name);
int ModuleLoadCount(const std::string& name);    // successful LoadLibraryA calls so far
int ModuleUnloadCount(const std::string& name);  // FreeLibrary calls so far
int ModuleReferences(const std::string& name);   // loads not yet matched by a FreeLibrary
void ResetModuleCounts();

// --- COM initialisation, counted per thread -----------------------------------------
int ComBalance();        // CoInitialize minus CoUninitialize on this thread
int ComInitCalls();      // CoInitialize calls on this thread
void ResetCom();

// --- memory ------------------------------------------------------------------------
// Global blocks count from 1 for every GlobalAlloc since the last reset. A failing
// allocation returns null and is still counted.
void FailGlobalAllocNumber(uint64_t n);       // the n-th GlobalAlloc from now (1 = next)
void FailGlobalAllocOfSize(SIZE_T bytes);     // every GlobalAlloc of exactly this size
void FailEveryGlobalAllocFrom(uint64_t n);    // the n-th and every later one
void ClearMemoryFaults();
uint64_t GlobalAllocCalls();                  // since the last ResetMemoryCounters
size_t LiveGlobalBlocks();
size_t LiveGlobalBytes();
size_t LockedGlobalBlocks();                  // blocks whose lock count is above 0
size_t LiveLocalBlocks();
size_t PeakGlobalBytes();
void ResetMemoryCounters();                   // counters only; live blocks stay live
// Freed blocks of 64 KB and more kept (poisoned under AddressSanitizer) and handed out
// again by the next GlobalAlloc of the same size, instead of fresh pages each time: for
// the fuzzer, where large blocks come and go thousands of times a second. Off by default;
// turning it off releases what is kept.
void KeepFreedGlobalBlocks(bool keep);

// --- clock -------------------------------------------------------------------------
// GetTickCount returns the virtual clock, then advances it by the step (default 1 ms),
// so that any polling loop sees time pass without real waiting.
void SetTickCount(DWORD now);
void SetTickStep(DWORD millisecondsPerCall);
DWORD PeekTickCount();

// --- files -------------------------------------------------------------------------
// A path "C:\NAME" (either slash, any drive letter) opens NAME in this folder.
void SetDriveRoot(const std::string& folder);
std::string DriveRoot();
int OpenFileCount();

}  // namespace host
