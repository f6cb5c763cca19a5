// The update run: own directory, the scanning application's installation (registry value
// and an existing directory), the system directory, the running-application probe, then
// the copy of vo5170s.dll. Every path lives in a 128-byte buffer; one that does not fit,
// with the name appended to it, is refused like any other failed check, never cut.
#include "updater/update_run.h"

#include <cstring>

#include "updater/framework/file_finder.h"
#include "updater/framework/resource_strings.h"

namespace {

constexpr DWORD kPathBytes = 128;
typedef char PathBuffer[kPathBytes];

constexpr char kAppKey[] = "Software\\Vestrand-Okalar\\QDK\\VO Clearframe LT";
constexpr char kProgramDirValue[] = "ProgramDir";
constexpr char kSearchAll[] = "*.*";
constexpr char kAppWindowClass[] = "VOClearframeWindow";
constexpr char kAppWindowTitle[] = "VO Clearframe LT";
constexpr char kDriverFile[] = "vo5170s.dll";            // beside scanupdate.exe
constexpr char kSystemDriverFile[] = "\\vo5170s.dll";    // after the system directory
constexpr char kTextModule[] = "uitext.dll";
constexpr char kFailureCaption[] = "Error";
constexpr char kResultCaption[] = "Update";

// String identifiers in the localisation library.
constexpr UINT kTextRefused = 26;
constexpr UINT kTextCopied = 3;
constexpr UINT kTextCopyFailed = 101;
constexpr int kTextBytes = 1024;

// Cuts `path` just after its last backslash; false when it has none.
bool CutAfterLastBackslash(char* path) {
  char* last = std::strrchr(path, '\\');
  if (last == nullptr) return false;
  last[1] = '\0';
  return true;
}

// Appends `tail` to the terminated path in `path`; false, leaving it as it was, when the
// result and its terminating zero would not fit.
bool AppendPath(PathBuffer& path, const char* tail) {
  size_t used = std::strlen(path);
  size_t extra = std::strlen(tail);
  if (used + extra >= kPathBytes) return false;
  std::memcpy(path + used, tail, extra + 1);
  return true;
}

// A registry string may have been stored without its terminating zero, and the registry
// hands back exactly the bytes stored. Terminate it within the buffer, or refuse it when it
// fills the whole buffer with no zero in it.
bool TerminateValue(PathBuffer& value, DWORD bytes) {
  if (bytes > kPathBytes) return false;
  if (std::memchr(value, '\0', bytes) != nullptr) return true;
  if (bytes == kPathBytes) return false;
  value[bytes] = '\0';
  return true;
}

void ShowMessage(UINT textId, const char* caption, UINT type) {
  char text[kTextBytes];
  LoadResourceString(textId, text, sizeof text);
  MessageBoxA(nullptr, text, caption, type);
}

// The checks and the copy; false when a check fails (nothing copied, no message shown yet).
bool CheckAndCopy() {
  // The program's own directory, with its trailing backslash. A path that fills the
  // buffer may have been cut and left without its terminating zero.
  PathBuffer ownPath = {};
  DWORD ownLength = GetModuleFileNameA(nullptr, ownPath, kPathBytes);
  if (ownLength == 0 || ownLength >= kPathBytes) return false;
  ownPath[ownLength] = '\0';
  if (!CutAfterLastBackslash(ownPath)) return false;

  // The scanning application's directory, from its installation's registry value; the
  // value's type is not examined.
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kAppKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  PathBuffer programDir = {};
  DWORD valueBytes = kPathBytes;
  LSTATUS read = RegQueryValueExA(key, kProgramDirValue, nullptr, nullptr,
                                  reinterpret_cast<LPBYTE>(programDir), &valueBytes);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS || !TerminateValue(programDir, valueBytes)) return false;
  // "C:\App\" stays as it is; "C:\App\Clearframe.exe" and "C:\App" lose their last part.
  if (!CutAfterLastBackslash(programDir)) return false;

  // The directory must exist and be listable.
  PathBuffer pattern = {};
  std::memcpy(pattern, programDir, std::strlen(programDir) + 1);
  if (!AppendPath(pattern, kSearchAll)) return false;
  FileFinder finder;
  bool installed = finder.FindFile(pattern);
  finder.Close();
  if (!installed) return false;

  // A failed call would leave an empty directory, and the copy would go to the root of
  // the current drive: refuse instead.
  PathBuffer systemDir = {};
  UINT systemLength = GetSystemDirectoryA(systemDir, kPathBytes);
  if (systemLength == 0 || systemLength >= kPathBytes) return false;

  // The running application holds the library open: leave it alone.
  if (FindWindowA(kAppWindowClass, kAppWindowTitle) != nullptr) return false;

  if (!AppendPath(ownPath, kDriverFile) || !AppendPath(systemDir, kSystemDriverFile)) {
    return false;
  }
  BOOL copied = CopyFileA(ownPath, systemDir, FALSE);
  ShowMessage(copied ? kTextCopied : kTextCopyFailed, kResultCaption, MB_OK);
  return true;
}

}  // namespace

void LoadTextModule() { SetResourceModule(LoadLibraryA(kTextModule)); }

void RunUpdate(INT_PTR dialogResult) {
  if (dialogResult != IDOK) return;
  if (!CheckAndCopy()) ShowMessage(kTextRefused, kFailureCaption, MB_ICONWARNING | MB_OK);
}

void ResetUpdaterState() { ResetResourceStringsState(); }
