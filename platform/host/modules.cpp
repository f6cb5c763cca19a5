// Host stand-in for the module loader: LoadLibraryA finds a module in an in-process table
// that tests (and the virtual scanner) fill; GetProcAddress resolves its exports by name.
#include <algorithm>
#include <cctype>
#include <map>

#include "win_kernel.h"

namespace {

struct Module {
  std::vector<host::ModuleExport> exports;
  int loads = 0;
  int unloads = 0;
  int references = 0;
  int id = 0;
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::map<std::string, Module>& Table() {
  static std::map<std::string, Module> table;
  return table;
}

// Handles are small tagged integers, never dereferenced: 0x10000 + module id.
int NextId() {
  static int next = 1;
  return next++;
}

Module* FromHandle(HMODULE handle) {
  for (auto& [name, module] : Table()) {
    if (reinterpret_cast<uintptr_t>(handle) == 0x10000u + static_cast<uintptr_t>(module.id)) return &module;
  }
  return nullptr;
}

char exeModuleTag;

}  // namespace

HMODULE LoadLibraryA(LPCSTR name) {
  if (name == nullptr) return nullptr;
  auto it = Table().find(Lower(name));
  if (it == Table().end() || it->second.id == 0) return nullptr;
  it->second.loads++;
  it->second.references++;
  return reinterpret_cast<HMODULE>(0x10000u + static_cast<uintptr_t>(it->second.id));
}

FARPROC GetProcAddress(HMODULE handle, LPCSTR name) {
  Module* module = FromHandle(handle);
  if (module == nullptr || name == nullptr) return nullptr;
  for (const auto& e : module->exports) {
    if (std::string(e.name) == name) return e.address;
  }
  return nullptr;
}

BOOL FreeLibrary(HMODULE handle) {
  Module* module = FromHandle(handle);
  if (module == nullptr || module->references <= 0) return FALSE;
  module->references--;
  module->unloads++;
  return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR name) {
  if (name == nullptr) return reinterpret_cast<HMODULE>(&exeModuleTag);
  auto it = Table().find(Lower(name));
  if (it == Table().end() || it->second.references <= 0) return nullptr;
  return reinterpret_cast<HMODULE>(0x10000u + static_cast<uintptr_t>(it->second.id));
}

namespace host {

void RegisterModule(const std::string& name, const std::vector<ModuleExport>& exports) {
  Module& module = Table()[Lower(name)];
  module.exports = exports;
  if (module.id == 0) module.id = NextId();
}

void UnregisterModule(const std::string& name) {
  auto it = Table().find(Lower(name));
  if (it == Table().end()) return;
  // Keep the counters so that a test can still read them; the module can no longer load.
  it->second.exports.clear();
  it->second.id = 0;
}

int ModuleLoadCount(const std::string& name) {
  auto it = Table().find(Lower(name));
  return it == Table().end() ? 0 : it->second.loads;
}

int ModuleUnloadCount(const std::string& name) {
  auto it = Table().find(Lower(name));
  return it == Table().end() ? 0 : it->second.unloads;
}

int ModuleReferences(const std::string& name) {
  auto it = Table().find(Lower(name));
  return it == Table().end() ? 0 : it->second.references;
}

void ResetModuleCounts() {
  for (auto& [name, module] : Table()) {
    module.loads = module.unloads = module.references = 0;
  }
}

}  // namespace host
