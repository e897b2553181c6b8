// Dynamic loading on POSIX. A module handle is the value dlopen() returns,
// which glibc gives identically for every dlopen of one loaded object.
#include "platform/backend.h"
#include "platform/posix/system_path.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace pexil::platform::backend {
using posix::SystemPath;
namespace {

// The reason of this thread's last failed load, as dlerror() gave it. Plain
// characters: nothing to destroy when the thread ends.
thread_local char t_loadFailure[512];

void NoteLoadFailure(const char* reason) {
    std::snprintf(t_loadFailure, sizeof(t_loadFailure), "%s", reason != nullptr ? reason : "");
}

// True when a loaded object has exactly this name: dlopen then finds it by the
// name alone and opens no file (its RTLD_NOLOAD opens the file to compare).
bool LoadedUnderName(const char* name) {
    struct Search {
        const char* name;
        bool found;
    } search{name, false};
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto* wanted = static_cast<Search*>(data);
            if (info->dlpi_name == nullptr || std::strcmp(info->dlpi_name, wanted->name) != 0)
                return 0;
            wanted->found = true;
            return 1;
        },
        &search);
    return search.found;
}

}  // namespace

PexilModuleHandle LoadLibrary(const char* path) {
    // dlopen("") would hand back the main program; LoadLibraryA("") fails.
    if (path == nullptr || *path == '\0') {
        NoteLoadFailure("no file name given");
        return nullptr;
    }
    const SystemPath file(path);
    // The loader opens a file without asking what it is: a FIFO would block
    // it, a device might act on being opened. A path the loader searches for
    // (no '/') is left to it; a directory fails in the loader's own words. A
    // module loaded under this name already is not looked at again: that
    // would cost a system call at every load of a loaded module (each
    // holder's load of Brelnor.dll). Should it be unloaded on another thread
    // meanwhile, the loader opens its file unchecked; replacing a module's
    // file already takes the rights to plant any code there.
    struct stat info;
    if (std::strchr(file.c_str(), '/') != nullptr && !LoadedUnderName(file.c_str()) &&
        ::stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
        std::snprintf(t_loadFailure, sizeof(t_loadFailure),
                      "%s: not a regular file (a FIFO, a socket or a device): not loaded",
                      file.c_str());
        return nullptr;
    }
    ::dlerror();  // no earlier error answers for this load
    void* module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) NoteLoadFailure(::dlerror());
    return module;
}

int LoadFailureReason(char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    std::snprintf(buffer, static_cast<size_t>(size), "%s", t_loadFailure);
    return static_cast<int>(std::strlen(buffer));
}

int GetModuleFileName(PexilModuleHandle module, char* buffer, int size) {
    if (module == nullptr || buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    link_map* map = nullptr;
    if (::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return 0;
    // The main program's entry has no name: its file is the executable.
    if (map->l_name == nullptr || map->l_name[0] == '\0') return GetExecutablePath(buffer, size);
    std::snprintf(buffer, static_cast<size_t>(size), "%s", map->l_name);
    return static_cast<int>(std::strlen(buffer));
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
