// FindFirstFileA / FindNextFileA over a directory, for patterns of the form
// "<directory><name pattern>" where the name pattern may use '*' and '?'.
#include "platform/backend.h"
#include "platform/posix/system_path.h"
#include "platform/refusal.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cstring>
#include <new>

namespace pexil::platform::backend {
using posix::SystemPath;
namespace {

struct Search {
    DIR* directory;
    std::string namePattern;
};

// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDifference = 11644473600ULL;

bool NextMatch(Search* search, FindData* data) {
    while (dirent* entry = ::readdir(search->directory)) {
        if (::fnmatch(search->namePattern.c_str(), entry->d_name, 0) != 0) continue;
        if (std::strlen(entry->d_name) >= sizeof(data->name)) continue;
        // Handed back to a file call, a backslash in the name is a separator:
        // "d\x.log" would name x.log in d, which may be a link to elsewhere.
        // No Windows name holds one; such an entry is not reported.
        if (std::strchr(entry->d_name, '\\') != nullptr) continue;
        // The entry itself, as FindFirstFileA reports it: a link is no file
        // of its target's kind, and its target is never looked at.
        struct stat info;
        if (::fstatat(::dirfd(search->directory), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        std::memset(data, 0, sizeof(*data));
        if (S_ISLNK(info.st_mode)) {
            data->attributes = kAttributeReparsePoint;
        } else if (S_ISDIR(info.st_mode)) {
            data->attributes = kAttributeDirectory;
        } else if (S_ISREG(info.st_mode)) {
            data->attributes = kAttributeNormal;
        } else {
            data->attributes = kAttributeDevice;  // a FIFO, a socket or a device
        }
        data->lastWriteTime =
            (static_cast<uint64_t>(info.st_mtim.tv_sec) + kEpochDifference) * 10000000ULL +
            static_cast<uint64_t>(info.st_mtim.tv_nsec) / 100u;
        std::strcpy(data->name, entry->d_name);
        return true;
    }
    return false;
}

}  // namespace

Handle FindFirstFile(const char* pattern, FindData* data) {
    ClearRefusal();
    if (pattern == nullptr || data == nullptr) return kInvalidHandle;
    std::string path = SystemPath(pattern).str();
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string names = slash == std::string::npos ? path : path.substr(slash + 1);
    if (names.empty()) return kInvalidHandle;

    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return kInvalidHandle;
    auto* search = new (std::nothrow) Search{dir, names};
    if (search == nullptr) {
        ::closedir(dir);
        return kInvalidHandle;
    }
    if (!NextMatch(search, data)) {
        ::closedir(dir);
        delete search;
        return kInvalidHandle;
    }
    return reinterpret_cast<Handle>(search);
}

int FindNextFile(Handle handle, FindData* data) {
    if (handle == kInvalidHandle || handle == 0 || data == nullptr) return 0;
    return NextMatch(reinterpret_cast<Search*>(handle), data) ? 1 : 0;
}

void FindClose(Handle handle) {
    if (handle == kInvalidHandle || handle == 0) return;
    auto* search = reinterpret_cast<Search*>(handle);
    ::closedir(search->directory);
    delete search;
}

}  // namespace pexil::platform::backend
