// Basic types and calling conventions shared by hosts, component modules and
// the factory. Nothing here includes an operating-system header.
#ifndef PEXIL_CONFIG_H
#define PEXIL_CONFIG_H

#include <stdint.h>

#if defined(_WIN32)
// The exports use the caller-cleans convention on every Windows target.
#define PEXIL_CDECL __cdecl
// Timer procedures are called by the system with its own convention.
#define PEXIL_CALLBACK __stdcall
// Module handles are HMODULE values; declared here without <windows.h>.
struct HINSTANCE__;
typedef struct HINSTANCE__* PexilModuleHandle;
#else
#define PEXIL_CDECL
#define PEXIL_CALLBACK
// A module handle is the value dlopen() returns for the module: every dlopen of
// one loaded object gives the same value.
typedef void* PexilModuleHandle;
#endif

// Symbols a module exports. On Windows the export table comes from a .def file
// (names and ordinals); on ELF the seven entry points are given protected
// visibility, so that a module's own calls bind to its own copy.
#if defined(_WIN32)
#define PEXIL_MODULE_EXPORT
#else
#define PEXIL_MODULE_EXPORT __attribute__((visibility("protected")))
#endif

// The platform library's own API: a shared library on POSIX (one per process),
// a static library on Windows.
#if defined(_WIN32)
#define PEXIL_PLATFORM_API
#else
#define PEXIL_PLATFORM_API __attribute__((visibility("default")))
#endif

#endif
