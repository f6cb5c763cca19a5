// Host stand-in for the update program's Windows calls: an in-memory registry under
// HKEY_CURRENT_USER, a list of top-level windows, the finder and file copy over the
// drive-root folder, recorded message boxes and string tables for loadable modules.
#include "win_user.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Window {
  std::string className;
  std::string title;
};

struct UserState {
  std::string modulePath = "C:\\Setup\\scanupdate.exe";
  std::string systemDirectory = "C:\\WINDOWS\\system32";
  std::map<std::string, std::map<std::string, RegistryValue>> registry;  // lower-case names
  std::map<uintptr_t, std::string> openKeys;                             // handle -> key
  uintptr_t nextKey = 0x1000;
  REGSAM lastAccess = 0;
  std::vector<Window> windows;
  std::set<uintptr_t> openFinds;
  uintptr_t nextFind = 0x2000;
  bool failCopy = false;
  std::vector<host::MessageBoxRecord> boxes;
  std::map<std::string, std::map<UINT, std::string>> strings;  // lower-case module name
  std::vector<std::string> calls;
};

UserState& State() {
  static UserState state;
  return state;
}

void Trace(const std::string& call) { State().calls.push_back(call); }

std::string Text(LPCSTR s) { return s == nullptr ? "(null)" : s; }

// Windows wildcards as the finder applies them to one name: '*' any run, '?' one character,
// no case. "*.*" matches every name, also those without a dot.
bool WildcardMatch(const char* pattern, const char* name) {
  if (std::strcmp(pattern, "*.*") == 0) return true;
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') {
    for (const char* n = name;; ++n) {
      if (WildcardMatch(pattern + 1, n)) return true;
      if (*n == '\0') return false;
    }
  }
  if (*name == '\0') return false;
  if (*pattern != '?' && std::tolower(static_cast<unsigned char>(*pattern)) !=
                             std::tolower(static_cast<unsigned char>(*name))) {
    return false;
  }
  return WildcardMatch(pattern + 1, name + 1);
}

}  // namespace

DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size) {
  Trace("GetModuleFileNameA");
  if (module != nullptr || path == nullptr || size == 0) return 0;
  const std::string& own = State().modulePath;
  if (own.size() < size) {
    std::memcpy(path, own.c_str(), own.size() + 1);
    return static_cast<DWORD>(own.size());
  }
  std::memcpy(path, own.data(), size);  // cut, and no room left for the terminating zero
  return size;
}

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  Trace("RegOpenKeyExA " + Text(subKey));
  UserState& s = State();
  s.lastAccess = access;
  if (result == nullptr) return ERROR_INVALID_HANDLE;
  *result = nullptr;
  if (key != HKEY_CURRENT_USER || subKey == nullptr) return ERROR_FILE_NOT_FOUND;
  std::string name = Lower(subKey);
  if (s.registry.find(name) == s.registry.end()) return ERROR_FILE_NOT_FOUND;
  uintptr_t handle = s.nextKey++;
  s.openKeys[handle] = name;
  *result = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
  Trace("RegQueryValueExA " + Text(name));
  UserState& s = State();
  auto open = s.openKeys.find(reinterpret_cast<uintptr_t>(key));
  if (open == s.openKeys.end()) return ERROR_INVALID_HANDLE;
  auto& values = s.registry[open->second];
  auto it = values.find(Lower(name == nullptr ? "" : name));
  if (it == values.end()) return ERROR_FILE_NOT_FOUND;
  const RegistryValue& value = it->second;
  if (type != nullptr) *type = value.type;
  DWORD bytes = static_cast<DWORD>(value.data.size());
  if (data == nullptr) {
    if (size != nullptr) *size = bytes;
    return ERROR_SUCCESS;
  }
  if (size == nullptr) return ERROR_INVALID_HANDLE;
  if (bytes > *size) {
    // The buffer's contents are undefined after this answer: leave it full of the value's
    // first bytes, with no terminating zero, so that nothing may use it.
    std::memcpy(data, value.data.data(), *size);
    *size = bytes;
    return ERROR_MORE_DATA;
  }
  if (bytes > 0) std::memcpy(data, value.data.data(), bytes);
  *size = bytes;
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  Trace("RegCloseKey");
  return State().openKeys.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS
                                                                   : ERROR_INVALID_HANDLE;
}

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
  Trace("FindFirstFileA " + Text(pattern));
  if (pattern == nullptr || found == nullptr) return INVALID_HANDLE_VALUE;
  std::string full = pattern;
  size_t cut = full.find_last_of("\\/");
  std::string folder = cut == std::string::npos ? std::string() : full.substr(0, cut + 1);
  std::string name = cut == std::string::npos ? full : full.substr(cut + 1);
  std::error_code ec;
  fs::path dir = host::HostPath(folder);
  if (!fs::is_directory(dir, ec)) return INVALID_HANDLE_VALUE;

  std::vector<std::string> entries;
  // Every folder but a drive's root lists "." and "..".
  bool root = folder.size() <= 3 && folder.find(':') != std::string::npos;
  if (!root) {
    entries.push_back(".");
    entries.push_back("..");
  }
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    entries.push_back(entry.path().filename().string());
  }
  for (const std::string& entry : entries) {
    if (!WildcardMatch(name.c_str(), entry.c_str()) || entry.size() >= MAX_PATH) continue;
    std::memset(found, 0, sizeof *found);
    fs::path p = dir / entry;
    found->dwFileAttributes =
        fs::is_directory(p, ec) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    std::memcpy(found->cFileName, entry.c_str(), entry.size() + 1);
    uintptr_t handle = State().nextFind++;
    State().openFinds.insert(handle);
    return reinterpret_cast<HANDLE>(handle);
  }
  return INVALID_HANDLE_VALUE;
}

BOOL FindClose(HANDLE search) {
  Trace("FindClose");
  return State().openFinds.erase(reinterpret_cast<uintptr_t>(search)) ? TRUE : FALSE;
}

UINT GetSystemDirectoryA(LPSTR path, UINT size) {
  Trace("GetSystemDirectoryA");
  const std::string& dir = State().systemDirectory;
  if (dir.empty()) return 0;
  // Too small a buffer is left alone; the answer is the size it would need.
  if (path == nullptr || dir.size() + 1 > size) return static_cast<UINT>(dir.size() + 1);
  std::memcpy(path, dir.c_str(), dir.size() + 1);
  return static_cast<UINT>(dir.size());
}

HWND FindWindowA(LPCSTR className, LPCSTR title) {
  Trace("FindWindowA " + Text(className) + " | " + Text(title));
  const auto& windows = State().windows;
  for (size_t i = 0; i < windows.size(); ++i) {
    bool classMatches =
        className == nullptr || Lower(className) == Lower(windows[i].className);
    bool titleMatches = title == nullptr || windows[i].title == title;
    if (classMatches && titleMatches) return reinterpret_cast<HWND>(0x3000 + i);
  }
  return nullptr;
}

BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) {
  Trace("CopyFileA " + Text(from) + " -> " + Text(to));
  if (from == nullptr || to == nullptr || State().failCopy) return FALSE;
  std::error_code ec;
  fs::path source = host::HostPath(from);
  fs::path target = host::HostPath(to);
  if (!fs::is_regular_file(source, ec)) return FALSE;
  if (failIfExists && fs::exists(target, ec)) return FALSE;
  fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
  return ec ? FALSE : TRUE;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  Trace("MessageBoxA " + Text(caption));
  State().boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
  return IDOK;
}

int LoadStringA(HINSTANCE module, UINT id, LPSTR text, int size) {
  Trace("LoadStringA " + std::to_string(id));
  if (module == nullptr || text == nullptr || size <= 0) return 0;
  for (const auto& [name, table] : State().strings) {
    if (GetModuleHandleA(name.c_str()) != module) continue;
    auto it = table.find(id);
    if (it == table.end()) return 0;
    size_t n = std::min(it->second.size(), static_cast<size_t>(size - 1));
    std::memcpy(text, it->second.data(), n);
    text[n] = '\0';
    return static_cast<int>(n);
  }
  return 0;
}

namespace host {

void ResetUserState() { State() = UserState{}; }

void SetModulePath(const std::string& path) { State().modulePath = path; }

void SetRegistryValue(const std::string& key, const std::string& name, DWORD type,
                      const std::vector<BYTE>& data) {
  State().registry[Lower(key)][Lower(name)] = RegistryValue{type, data};
}

void SetRegistryString(const std::string& key, const std::string& name, const std::string& value) {
  std::vector<BYTE> data(value.begin(), value.end());
  data.push_back(0);
  SetRegistryValue(key, name, REG_SZ, data);
}

void CreateRegistryKey(const std::string& key) { State().registry[Lower(key)]; }

void DeleteRegistryKey(const std::string& key) { State().registry.erase(Lower(key)); }

int OpenRegistryKeys() { return static_cast<int>(State().openKeys.size()); }

REGSAM LastRegistryAccess() { return State().lastAccess; }

void AddWindow(const std::string& className, const std::string& title) {
  State().windows.push_back({className, title});
}

void SetSystemDirectory(const std::string& path) { State().systemDirectory = path; }

std::string HostPath(const std::string& windowsPath) {
  std::string rest = windowsPath;
  if (rest.size() >= 2 && rest[1] == ':') rest = rest.substr(2);
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
  return DriveRoot() + "/" + rest;
}

void FailCopyFile(bool fail) { State().failCopy = fail; }

int OpenFindHandles() { return static_cast<int>(State().openFinds.size()); }

const std::vector<MessageBoxRecord>& MessageBoxes() { return State().boxes; }

void SetModuleStrings(const std::string& module, const std::map<UINT, std::string>& strings) {
  State().strings[Lower(module)] = strings;
}

const std::vector<std::string>& UserCalls() { return State().calls; }

}  // namespace host
