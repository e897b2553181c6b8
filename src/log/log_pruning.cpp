#include "log/log_files.h"
#include "support/format.h"
#include "support/path.h"

#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <string>

namespace pexil::log {
namespace {

// Allocation through the platform, so that a test can make it fail.
template <typename T>
struct PlatformAllocator {
    using value_type = T;
    PlatformAllocator() = default;
    template <typename U>
    PlatformAllocator(const PlatformAllocator<U>&) {}
    T* allocate(size_t count) {
        if (void* memory = platform::Allocate(count * sizeof(T))) return static_cast<T*>(memory);
        throw std::bad_alloc();
    }
    void deallocate(T* memory, size_t) { platform::Deallocate(memory); }
    template <typename U>
    bool operator==(const PlatformAllocator<U>&) const {
        return true;
    }
    template <typename U>
    bool operator!=(const PlatformAllocator<U>&) const {
        return false;
    }
};

// Last-write time to file name, newest first; one file per time.
using PruningList = std::map<uint64_t, std::string, std::greater<uint64_t>,
                             PlatformAllocator<std::pair<const uint64_t, std::string>>>;

// The context of a pruning walk: the directory walked and what it found.
struct PruningWalk {
    const char* directory;
    PruningList list;
};

// The entry's full path; false when it does not fit (cut, it names another file).
bool FullPathOf(const char* directory, const char* name, char* path) {
    return TryFormatString(nullptr, path, kMaxPath, 0, "%s%s", directory, name) != 0;
}

}  // namespace

LogEntryKind KindOfLogEntry(const char* directory, const platform::FindData& entry) {
    if ((entry.attributes & (platform::kAttributeReparsePoint | platform::kAttributeDevice)) != 0) {
        return LogEntryKind::NotRegularFile;
    }
    if ((entry.attributes & platform::kAttributeDirectory) != 0) return LogEntryKind::Directory;
    char extension[kMaxPath];
    if (!GetExtension(entry.name, extension, kMaxPath)) return LogEntryKind::OtherFile;
    if (std::strcmp(extension, ".log") != 0) return LogEntryKind::OtherFile;
    char path[kMaxPath];
    return FullPathOf(directory, entry.name, path) ? LogEntryKind::LogFile
                                                   : LogEntryKind::PathTooLong;
}

void LogDirectoryCallback::CollectLogFile(const platform::FindData& entry, void* context) {
    auto* walk = static_cast<PruningWalk*>(context);
    if (KindOfLogEntry(walk->directory, entry) != LogEntryKind::LogFile) return;
    walk->list.emplace(entry.lastWriteTime, entry.name);
}

void EnumerateDirectory(const char* directory, LogDirectoryCallback& callback, void* context) {
    // A cut pattern would search another directory.
    char pattern[kMaxPath];
    if (!TryFormatString(nullptr, pattern, kMaxPath, 0, "%s*", directory)) return;
    platform::FindData entry;
    std::memset(&entry, 0, sizeof(entry));
    const platform::Handle search = platform::FindFirstFile(pattern, &entry);
    if (search == platform::kInvalidHandle) return;
    // Closed also when the callback gives up on a failed allocation.
    struct SearchCloser {
        platform::Handle search;
        ~SearchCloser() { platform::FindClose(search); }
    } closer{search};
    do {
        callback.CollectLogFile(entry, context);
    } while (platform::FindNextFile(search, &entry) != 0);
}

void PruneLogFiles(const char* rootPath, LogDirectoryCallback& callback) {
    char directory[kMaxPath];
    if (!MakeLogDirectory(rootPath, directory, kMaxPath)) return;
    try {
        PruningWalk walk{directory, {}};
        EnumerateDirectory(directory, callback, &walk);
        int rank = 0;
        for (const auto& file : walk.list) {
            if (++rank <= kKeptLogFiles) continue;
            char path[kMaxPath];
            if (FullPathOf(directory, file.second.c_str(), path)) {
                platform::DeleteFile(path);  // a file in use stays
            }
        }
    } catch (const std::bad_alloc&) {
        // Without the whole list the newest files are not known: delete nothing.
    }
}

}  // namespace pexil::log
