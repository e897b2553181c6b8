// <windows.h> without the character-set macros that would rename the
// backend's own functions (LoadLibrary -> LoadLibraryA, ...). The backend calls
// the narrow functions by their explicit names.
#ifndef PEXIL_PLATFORM_WIN32_WINDOWS_API_H
#define PEXIL_PLATFORM_WIN32_WINDOWS_API_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef LoadLibrary
#undef GetModuleHandle
#undef CreateDirectory
#undef DeleteFile
#undef FindFirstFile
#undef FindNextFile
#undef GetPrivateProfileString
#undef GetModuleFileName
#undef GetEnvironmentVariable
#undef SetEnvironmentVariable

namespace pexil::platform::backend {

// The system's message for an error code, without its line end, cut to
// size - 1; its length. (debug_and_process.cpp)
int SystemMessage(unsigned long error, char* buffer, int size);

}  // namespace pexil::platform::backend

#endif
