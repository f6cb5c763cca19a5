// How the library's exports are declared: C names, the Windows API calling convention.
#pragma once

#ifdef __cplusplus
#define LD_EXPORT extern "C"
#else
#define LD_EXPORT
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define LDAPI __stdcall
#else
#define LDAPI
#endif
