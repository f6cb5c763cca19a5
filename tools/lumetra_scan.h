// lumetra-scan as a function: arguments in, exit status out, with the streams and the
// device it uses handed in, so that the program, its tests and the demo share one path.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tools/driver_api.h"
#include "tools/scan_options.h"

namespace lumetra {

struct RunEnvironment {
  FILE* imageOut = stdout;  // image data when no -o is given, and nothing else
  FILE* infoOut = stdout;   // --help, --version, --list-devices (no image is made then)
  FILE* messages = stderr;  // errors, warnings, progress

  // The driver; null: the system's (SystemDriver).
  const DriverApi* driver = nullptr;

  // Brings the scanner up before the driver opens it and takes it away afterwards; the
  // Linux build puts the virtual scanner here (configured by --document and --variant).
  // Without it those two options are refused. attach returns false with a one-line
  // reason when the options name a device that cannot be had (a usage error).
  std::function<bool(const Options&, std::string* error)> attachDevice;
  std::function<void()> detachDevice;
};

int RunLumetraScan(const std::vector<std::string>& args, const RunEnvironment& env);

}  // namespace lumetra
