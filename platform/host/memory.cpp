// Host stand-in for local and moveable global memory. Global blocks live in a handle
// table (handle distinct from the data pointer, as for moveable memory on Windows), with
// lock counts, live-block accounting for leak checks and injectable allocation failures.
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "win_kernel.h"

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

namespace {

struct Block {
  void* data = nullptr;
  SIZE_T size = 0;
  UINT flags = 0;
  int locks = 0;
};

struct State {
  std::map<uintptr_t, Block> blocks;        // by handle value
  std::map<uintptr_t, uintptr_t> byPointer;  // data pointer -> handle value
  std::set<uintptr_t> localBlocks;
  uintptr_t nextHandle = 0x7e000010;
  uint64_t calls = 0;
  uint64_t failNumber = 0;      // absolute call number to fail, 0 = none
  uint64_t failFrom = 0;        // fail this call number and every later one, 0 = none
  std::set<SIZE_T> failSizes;
  size_t liveBytes = 0;
  size_t peakBytes = 0;
  // Freed large blocks kept for the next allocation of the same size (KeepFreedGlobalBlocks).
  bool keepFreed = false;
  // Never destroyed, so that what is kept at exit still counts as reachable.
  std::multimap<SIZE_T, void*>& kept = *new std::multimap<SIZE_T, void*>;
  size_t keptBytes = 0;
};

// Only blocks this large are kept, and no more than this much in all.
constexpr SIZE_T kKeepFromBytes = 64 * 1024;
constexpr size_t kKeepAtMostBytes = 64u * 1024 * 1024;

void* TakeData(State& s, SIZE_T bytes) {
  auto it = s.kept.find(bytes);
  if (it == s.kept.end()) return std::malloc(bytes == 0 ? 1 : bytes);
  void* data = it->second;
  s.kept.erase(it);
  s.keptBytes -= bytes;
  ASAN_UNPOISON_MEMORY_REGION(data, bytes);
  return data;
}

void GiveBackData(State& s, void* data, SIZE_T bytes) {
  if (!s.keepFreed || bytes < kKeepFromBytes || s.keptBytes + bytes > kKeepAtMostBytes) {
    std::free(data);
    return;
  }
  // Poisoned while kept: a use after GlobalFree is still reported under AddressSanitizer.
  ASAN_POISON_MEMORY_REGION(data, bytes);
  s.kept.emplace(bytes, data);
  s.keptBytes += bytes;
}

State& S() {
  static State s;
  return s;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  State& s = S();
  uint64_t call = ++s.calls;
  if ((s.failNumber != 0 && call == s.failNumber) || (s.failFrom != 0 && call >= s.failFrom) ||
      s.failSizes.count(bytes) != 0) {
    return nullptr;
  }
  void* data = TakeData(s, bytes);
  if (data == nullptr) return nullptr;
  if (flags & GMEM_ZEROINIT) {
    std::memset(data, 0, bytes);
  } else {
    // Uninitialised memory on Windows holds whatever was there; make that visible.
    std::memset(data, 0xCD, bytes);
  }
  uintptr_t handle;
  if (flags & GMEM_MOVEABLE) {
    handle = s.nextHandle;
    s.nextHandle += 16;
  } else {
    handle = reinterpret_cast<uintptr_t>(data);
  }
  s.blocks[handle] = Block{data, bytes, flags, 0};
  s.byPointer[reinterpret_cast<uintptr_t>(data)] = handle;
  s.liveBytes += bytes;
  if (s.liveBytes > s.peakBytes) s.peakBytes = s.liveBytes;
  return reinterpret_cast<HGLOBAL>(handle);
}

LPVOID GlobalLock(HGLOBAL handle) {
  auto it = S().blocks.find(reinterpret_cast<uintptr_t>(handle));
  if (it == S().blocks.end()) return nullptr;
  it->second.locks++;
  return it->second.data;
}

HGLOBAL GlobalHandle(LPCVOID pointer) {
  auto it = S().byPointer.find(reinterpret_cast<uintptr_t>(pointer));
  if (it == S().byPointer.end()) return nullptr;
  return reinterpret_cast<HGLOBAL>(it->second);
}

BOOL GlobalUnlock(HGLOBAL handle) {
  auto it = S().blocks.find(reinterpret_cast<uintptr_t>(handle));
  if (it == S().blocks.end() || it->second.locks <= 0) return FALSE;
  it->second.locks--;
  return it->second.locks > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
  State& s = S();
  auto it = s.blocks.find(reinterpret_cast<uintptr_t>(handle));
  if (it == s.blocks.end()) return handle;  // failure: the handle is returned
  s.byPointer.erase(reinterpret_cast<uintptr_t>(it->second.data));
  s.liveBytes -= it->second.size;
  GiveBackData(s, it->second.data, it->second.size);
  s.blocks.erase(it);
  return nullptr;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  void* data = std::malloc(bytes == 0 ? 1 : bytes);
  if (data == nullptr) return nullptr;
  if (flags & LMEM_ZEROINIT) std::memset(data, 0, bytes);
  S().localBlocks.insert(reinterpret_cast<uintptr_t>(data));
  return data;
}

HLOCAL LocalFree(HLOCAL block) {
  if (block == nullptr) return nullptr;
  auto it = S().localBlocks.find(reinterpret_cast<uintptr_t>(block));
  if (it == S().localBlocks.end()) return block;
  S().localBlocks.erase(it);
  std::free(block);
  return nullptr;
}

namespace host {

void FailGlobalAllocNumber(uint64_t n) { S().failNumber = n == 0 ? 0 : S().calls + n; }
void FailGlobalAllocOfSize(SIZE_T bytes) { S().failSizes.insert(bytes); }
void FailEveryGlobalAllocFrom(uint64_t n) { S().failFrom = n == 0 ? 0 : S().calls + n; }
void ClearMemoryFaults() {
  S().failNumber = 0;
  S().failFrom = 0;
  S().failSizes.clear();
}
uint64_t GlobalAllocCalls() { return S().calls; }
size_t LiveGlobalBlocks() { return S().blocks.size(); }
size_t LiveGlobalBytes() { return S().liveBytes; }
size_t LockedGlobalBlocks() {
  size_t n = 0;
  for (const auto& [h, b] : S().blocks) n += b.locks > 0 ? 1 : 0;
  return n;
}
size_t LiveLocalBlocks() { return S().localBlocks.size(); }
size_t PeakGlobalBytes() { return S().peakBytes; }
void KeepFreedGlobalBlocks(bool keep) {
  State& s = S();
  s.keepFreed = keep;
  if (keep) return;
  for (auto& [bytes, data] : s.kept) {
    ASAN_UNPOISON_MEMORY_REGION(data, bytes);
    std::free(data);
  }
  s.kept.clear();
  s.keptBytes = 0;
}
void ResetMemoryCounters() {
  // Fault numbers are relative to the call count, so keep them meaningful across a reset.
  State& s = S();
  if (s.failNumber) s.failNumber -= s.calls;
  if (s.failFrom) s.failFrom -= s.calls;
  s.calls = 0;
  s.peakBytes = s.liveBytes;
}

}  // namespace host
