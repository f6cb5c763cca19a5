// The framework's file finder over FindFirstFileA / FindClose.
#include "updater/framework/file_finder.h"

FileFinder::~FileFinder() { Close(); }

bool FileFinder::FindFile(const char* pattern) {
  Close();
  if (pattern == nullptr) return false;
  search_ = FindFirstFileA(pattern, &found_);
  return search_ != INVALID_HANDLE_VALUE;
}

const char* FileFinder::FileName() const {
  return search_ == INVALID_HANDLE_VALUE ? "" : found_.cFileName;
}

void FileFinder::Close() {
  if (search_ == INVALID_HANDLE_VALUE) return;
  FindClose(search_);
  search_ = INVALID_HANDLE_VALUE;
}
