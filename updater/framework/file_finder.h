// The framework's file finder: a search for a name pattern, open from a successful
// FindFile until Close (or the finder's end).
#pragma once

#include "updater/update_calls.h"

class FileFinder {
 public:
  FileFinder() = default;
  ~FileFinder();
  FileFinder(const FileFinder&) = delete;
  FileFinder& operator=(const FileFinder&) = delete;

  // Starts a search for `pattern` (a folder and a name pattern, e.g. "C:\Dir\*.*"); true
  // when at least one entry matches. A search still open is closed first.
  bool FindFile(const char* pattern);
  // Name of the entry found; empty when no search is open.
  const char* FileName() const;
  void Close();

 private:
  HANDLE search_ = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA found_{};
};
