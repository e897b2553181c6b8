// Dynamic loading on POSIX. A module handle is the value dlopen() returns,
// which glibc gives identically for every dlopen of one loaded object.
#include "platform/backend.h"
#include "platform/posix/system_path.h"

#include <dlfcn.h>

namespace pexil::platform::backend {
using posix::SystemPath;

PexilModuleHandle LoadLibrary(const char* path) {
    // dlopen("") would hand back the main program; LoadLibraryA("") fails.
    if (path == nullptr || *path == '\0') return nullptr;
    return ::dlopen(SystemPath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(PexilModuleHandle module, const char* name) {
    // dlsym(NULL) would search the whole process.
    if (module == nullptr || name == nullptr) return nullptr;
    return ::dlsym(module, name);
}

int FreeLibrary(PexilModuleHandle module) {
    if (module == nullptr) return 0;
    return ::dlclose(module) == 0 ? 1 : 0;
}

PexilModuleHandle GetModuleHandle(const char* name) {
    if (name == nullptr || *name == '\0') return nullptr;
    void* handle = ::dlopen(SystemPath(name).c_str(), RTLD_NOW | RTLD_NOLOAD);
    // GetModuleHandleA takes no reference.
    if (handle != nullptr) ::dlclose(handle);
    return handle;
}

PexilModuleHandle ModuleFromAddress(const void* address) {
    Dl_info info{};
    void* linkMap = nullptr;
    if (::dladdr1(address, &info, &linkMap, RTLD_DL_LINKMAP) == 0 || info.dli_fname == nullptr) {
        return nullptr;
    }
    void* handle = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
        ::dlclose(handle);  // no reference is kept
        return handle;
    }
    // The main program is not found by its path; dlopen(NULL) names it.
    void* main = ::dlopen(nullptr, RTLD_NOW);
    if (main != nullptr && main == linkMap) return main;
    return nullptr;
}

}  // namespace pexil::platform::backend

namespace pexil::platform {

bool IsModuleLoaded(const char* path) {
    if (path == nullptr || *path == '\0') return false;
    void* handle = ::dlopen(posix::SystemPath(path).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    ::dlclose(handle);
    return true;
}

}  // namespace pexil::platform
