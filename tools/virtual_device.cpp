// Bringing up the virtual scanner for one run of lumetra-scan.
#include "tools/virtual_device.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace lumetra {

namespace {

std::unique_ptr<vscan::VirtualScanner>& Current() {
  static std::unique_ptr<vscan::VirtualScanner> scanner;
  return scanner;
}

// The model reads PNG and PNM documents; anything else is refused here, where the
// message can name the file.
bool CheckDocument(const std::string& path, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot read the document '" + path + "': " + std::strerror(errno);
    return false;
  }
  unsigned char head[8] = {};
  size_t n = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  bool png = n == 8 && std::memcmp(head, kPng, 8) == 0;
  bool pnm = n >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6';
  if (!png && !pnm) {
    *error = "the document '" + path + "' is neither a PNG nor a PNM image";
    return false;
  }
  return true;
}

}  // namespace

void UseVirtualScanner(RunEnvironment* env, std::function<void(vscan::VirtualScanner&)> tweak) {
  env->attachDevice = [tweak](const Options& options, std::string* error) {
    if (!options.documentPath.empty() && !CheckDocument(options.documentPath, error)) return false;
    vscan::Config config;
    config.variant = options.variant;
    config.documentPath = options.documentPath;
    if (Current()) {
      vscan::Uninstall();
      Current().reset();
    }
    Current() = std::make_unique<vscan::VirtualScanner>(config);
    if (tweak) tweak(*Current());
    vscan::Install(Current().get());
    return true;
  };
  env->detachDevice = [] {
    if (!Current()) return;
    vscan::Uninstall();
    Current().reset();
  };
}

vscan::VirtualScanner* CurrentVirtualScanner() { return Current().get(); }

}  // namespace lumetra
