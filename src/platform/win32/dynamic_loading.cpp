// Dynamic loading on Windows.
#include "platform/backend.h"

#include "platform/win32/windows_api.h"

namespace pexil::platform::backend {
namespace {

PexilModuleHandle FromModule(HMODULE module) {
    return reinterpret_cast<PexilModuleHandle>(module);
}
HMODULE ToModule(PexilModuleHandle module) {
    return reinterpret_cast<HMODULE>(module);
}

// The error of this thread's last failed load.
thread_local DWORD t_loadFailure = 0;

}  // namespace

PexilModuleHandle LoadLibrary(const char* path) {
    if (path == nullptr) return nullptr;
    HMODULE module = ::LoadLibraryA(path);
    if (module == nullptr) t_loadFailure = ::GetLastError();
    return FromModule(module);
}

int LoadFailureReason(char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    if (t_loadFailure == 0) return 0;
    return SystemMessage(t_loadFailure, buffer, size);
}

int GetModuleFileName(PexilModuleHandle module, char* buffer, int size) {
    if (module == nullptr || buffer == nullptr || size <= 0) return 0;
    DWORD length = ::GetModuleFileNameA(ToModule(module), buffer, static_cast<DWORD>(size));
    if (length >= static_cast<DWORD>(size)) length = static_cast<DWORD>(size - 1);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

void* GetProcAddress(PexilModuleHandle module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(ToModule(module), name));
}

int FreeLibrary(PexilModuleHandle module) {
    return ::FreeLibrary(ToModule(module)) ? 1 : 0;
}

PexilModuleHandle GetModuleHandle(const char* name) {
    if (name == nullptr) return nullptr;
    return FromModule(::GetModuleHandleA(name));
}

PexilModuleHandle ModuleFromAddress(const void* address) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCSTR>(address), &module)) {
        return nullptr;
    }
    return FromModule(module);
}

}  // namespace pexil::platform::backend

namespace pexil::platform {

bool IsModuleLoaded(const char* path) {
    return path != nullptr && ::GetModuleHandleA(path) != nullptr;
}

}  // namespace pexil::platform
