// lumetra-scan: scans with the Lumetra 5170C from the command line. On Linux it drives the
// virtual scanner through the linked driver; on Windows it loads Vo5170s.dll from its own
// folder and drives the real one.
#include <string>
#include <vector>

#include <csignal>

#include "tools/lumetra_scan.h"
#include "tools/scan_session.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <cstdio>
#else
#include "tools/virtual_device.h"
#endif

namespace {

// Ctrl-C ends the scan between batches of lines, so the scanner is still reset and
// closed and a half-written file removed.
void OnInterrupt(int) { lumetra::RequestCancel(); }

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  lumetra::RunEnvironment env;
  std::signal(SIGINT, OnInterrupt);
#if defined(_WIN32)
  // Image data is binary: no newline translation on standard output.
  _setmode(_fileno(stdout), _O_BINARY);
#else
  // A reader that goes away (| head) shows as a failed write, not a silent death that
  // leaves the scanner open.
  std::signal(SIGPIPE, SIG_IGN);
  lumetra::UseVirtualScanner(&env);
#endif
  return lumetra::RunLumetraScan(args, env);
}
