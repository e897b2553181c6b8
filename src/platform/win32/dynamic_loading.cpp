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

}  // namespace

PexilModuleHandle LoadLibrary(const char* path) {
    if (path == nullptr) return nullptr;
    return FromModule(::LoadLibraryA(path));
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
