// The Windows calls the update program's run makes, in their ANSI form: the SDK on Windows,
// the host stand-ins (in-memory registry and windows, recorded message boxes) elsewhere.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/host/win_kernel.h"
#include "platform/host/win_types.h"
#include "platform/host/win_user.h"
#endif
