// The one include for the Windows API names the driver uses. On Windows it is the SDK
// (MinGW-w64 headers, with the still-image interfaces in their C layout so that the
// driver calls them through their vtables without any C++ classes of its own); on any
// other system it is this project's host stand-ins in platform/host/.
#pragma once

#if defined(_WIN32)
#ifndef CINTERFACE
#define CINTERFACE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <sti.h>
#else
#include "host/win_types.h"
#include "host/win_kernel.h"
#include "host/win_sti.h"
#endif
