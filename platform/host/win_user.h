// Host stand-in: the Windows calls the update program makes besides the loader (its own
// module path, the registry, the file finder, the system directory, the window lookup, the
// file copy, message boxes and string loading), with an in-memory registry and window
// list, "C:\" paths inside the drive-root folder, recorded message boxes and a call trace.
// Written from what the update program expects of each call; where the real calls differ
// between Windows versions, the less forgiving behaviour is the one modelled.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "win_kernel.h"
#include "win_types.h"

struct HWND__;
typedef HWND__* HWND;
struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef LONG LSTATUS;
typedef intptr_t INT_PTR;

#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_READ 0x20019
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MORE_DATA 234L

#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080

#define IDOK 1
#define IDCANCEL 2
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ICONHAND 0x00000010u
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040u
#define MB_TYPEMASK 0x0000000Fu
#define MB_ICONMASK 0x000000F0u

// The parts of the finder's record that the update program can see.
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  CHAR cFileName[MAX_PATH];
};
typedef WIN32_FIND_DATAA* LPWIN32_FIND_DATAA;

DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size);
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size);
LSTATUS RegCloseKey(HKEY key);
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found);
BOOL FindClose(HANDLE search);
UINT GetSystemDirectoryA(LPSTR path, UINT size);
HWND FindWindowA(LPCSTR className, LPCSTR title);
BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
int LoadStringA(HINSTANCE module, UINT id, LPSTR text, int size);

namespace host {

// Back to an empty registry, no windows, no strings, no recorded calls, the default module
// path "C:\Setup\scanupdate.exe" and system directory "C:\WINDOWS\system32".
void ResetUserState();

// --- own module path: what GetModuleFileNameA(nullptr) reports ----------------------
// A path that does not fit is cut to the buffer's size with no terminating zero, as the
// older systems do, and the call returns the buffer's size.
void SetModulePath(const std::string& path);

// --- registry (HKEY_CURRENT_USER only; key paths are case-insensitive) ----------------
void SetRegistryValue(const std::string& key, const std::string& name, DWORD type,
                      const std::vector<BYTE>& data);
// A string value stored with its terminating zero.
void SetRegistryString(const std::string& key, const std::string& name, const std::string& value);
void CreateRegistryKey(const std::string& key);
void DeleteRegistryKey(const std::string& key);
int OpenRegistryKeys();   // opened and not yet closed
REGSAM LastRegistryAccess();

// --- windows: top-level windows that FindWindowA can see ------------------------------
void AddWindow(const std::string& className, const std::string& title);

// --- system directory: what GetSystemDirectoryA reports; empty makes the call fail ---
void SetSystemDirectory(const std::string& path);

// --- file copy ----------------------------------------------------------------------
// Maps a "C:\..." path to the file inside the drive-root folder.
std::string HostPath(const std::string& windowsPath);
void FailCopyFile(bool fail);  // CopyFileA reports failure and copies nothing
int OpenFindHandles();         // FindFirstFileA searches not yet closed

// --- message boxes, recorded in order; every box answers IDOK ---------------------------
struct MessageBoxRecord {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
};
const std::vector<MessageBoxRecord>& MessageBoxes();

// --- string tables of loadable modules (by module name, as for RegisterModule) ------
// LoadStringA finds the table of the module whose handle it is given; the program's own
// module (a null handle) has none.
void SetModuleStrings(const std::string& module, const std::map<UINT, std::string>& strings);

// --- trace: every stand-in call above, in order: its name, then for some calls the
// argument that matters ("RegOpenKeyExA <key>", "RegQueryValueExA <name>",
// "FindFirstFileA <pattern>", "FindWindowA <class> | <title>", "CopyFileA <from> -> <to>",
// "MessageBoxA <caption>", "LoadStringA <id>").
const std::vector<std::string>& UserCalls();

}  // namespace host
