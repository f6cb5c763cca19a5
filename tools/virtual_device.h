// The Linux build's scanner: the virtual Lumetra 5170C, installed as the still-image
// service before the driver opens it, with the document and hardware variant that
// --document and --variant choose.
#pragma once

#include <functional>

#include "tools/lumetra_scan.h"
#include "vscan/vscan.h"

namespace lumetra {

// Sets env's attach and detach to bring up a virtual scanner for each run. tweak, when
// given, sees the scanner before it is installed (tests use it to plant faults).
void UseVirtualScanner(RunEnvironment* env, std::function<void(vscan::VirtualScanner&)> tweak = {});

// The virtual scanner of the current run, null outside one.
vscan::VirtualScanner* CurrentVirtualScanner();

}  // namespace lumetra
