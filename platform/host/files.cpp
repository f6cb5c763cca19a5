// Host stand-in for old-style file reading: a path "C:\NAME" opens NAME inside a folder
// chosen by the test, standing in for the root of drive C.
#include <cstdio>
#include <map>

#include "win_kernel.h"

namespace {

std::string& Root() {
  static std::string root = ".";
  return root;
}

std::map<int, std::FILE*>& Files() {
  static std::map<int, std::FILE*> files;
  return files;
}

int nextFile = 3;

std::string MapPath(const std::string& path) {
  std::string rest = path;
  if (rest.size() >= 2 && rest[1] == ':') rest = rest.substr(2);
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
  return Root() + "/" + rest;
}

}  // namespace

HFILE _lopen(LPCSTR path, int mode) {
  if (path == nullptr || mode != OF_READ) return HFILE_ERROR;
  std::FILE* f = std::fopen(MapPath(path).c_str(), "rb");
  if (f == nullptr) return HFILE_ERROR;
  int id = nextFile++;
  Files()[id] = f;
  return id;
}

UINT _lread(HFILE file, LPVOID buffer, UINT bytes) {
  auto it = Files().find(file);
  if (it == Files().end()) return static_cast<UINT>(HFILE_ERROR);
  return static_cast<UINT>(std::fread(buffer, 1, bytes, it->second));
}

HFILE _lclose(HFILE file) {
  auto it = Files().find(file);
  if (it == Files().end()) return HFILE_ERROR;
  std::fclose(it->second);
  Files().erase(it);
  return 0;
}

namespace host {
void SetDriveRoot(const std::string& folder) { Root() = folder; }
std::string DriveRoot() { return Root(); }
int OpenFileCount() { return static_cast<int>(Files().size()); }
}  // namespace host
