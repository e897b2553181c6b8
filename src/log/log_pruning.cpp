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

}  // namespace

LogEntryKind KindOfLogEntry(const platform::FindData& entry) {
    if ((entry.attributes & platform::kAttributeDirectory) != 0) return LogEntryKind::Directory;
    char extension[kMaxPath];
    if (!GetExtension(entry.name, extension, kMaxPath)) return LogEntryKind::OtherFile;
    return std::strcmp(extension, ".log") == 0 ? LogEntryKind::LogFile : LogEntryKind::OtherFile;
}

void LogDirectoryCallback::CollectLogFile(const platform::FindData& entry, void* context) {
    if (KindOfLogEntry(entry) != LogEntryKind::LogFile) return;
    static_cast<PruningList*>(context)->emplace(entry.lastWriteTime, entry.name);
}

void EnumerateDirectory(const char* directory, LogDirectoryCallback& callback, void* context) {
    char pattern[kMaxPath];
    FormatString(pattern, kMaxPath, "%s*", directory);
    platform::FindData entry;
    std::memset(&entry, 0, sizeof(entry));
    const platform::Handle search = platform::System().findFirstFile(pattern, &entry);
    if (search == platform::kInvalidHandle) return;
    // Closed also when the callback gives up on a failed allocation.
    struct SearchCloser {
        platform::Handle search;
        ~SearchCloser() { platform::System().findClose(search); }
    } closer{search};
    do {
        callback.CollectLogFile(entry, context);
    } while (platform::System().findNextFile(search, &entry) != 0);
}

void PruneLogFiles(const char* rootPath, LogDirectoryCallback& callback) {
    char directory[kMaxPath];
    MakeLogDirectory(rootPath, directory, kMaxPath);
    try {
        PruningList list;
        EnumerateDirectory(directory, callback, &list);
        int rank = 0;
        for (const auto& file : list) {
            if (++rank <= kKeptLogFiles) continue;
            char path[kMaxPath];
            FormatString(path, kMaxPath, "%s%s", directory, file.second.c_str());
            platform::System().deleteFile(path);  // a file in use stays
        }
    } catch (const std::bad_alloc&) {
        // Without the whole list the newest files are not known: delete nothing.
    }
}

}  // namespace pexil::log
