// Bringing up the virtual scanner for one run of lumetra-scan.
#include "tools/virtual_device.h"

#include <memory>

#include "vscan/document_image.h"

namespace lumetra {

namespace {

std::unique_ptr<vscan::VirtualScanner>& Current() {
  static std::unique_ptr<vscan::VirtualScanner> scanner;
  return scanner;
}

// The model falls back to its test chart when a document cannot be loaded; a scan of the
// chart in place of the document asked for would be a wrong result, so the document is
// loaded here first and a failure refused with the loader's reason.
bool CheckDocument(const std::string& path, std::string* error) {
  std::string why;
  if (vscan::LoadImageDocument(path, &why)) return true;
  *error = "cannot use the document '" + path + "' (PNG or PNM): " + why;
  return false;
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
