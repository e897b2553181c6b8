#include "support/base_directory.h"

#include "platform/platform.h"
#include "support/bounded_string.h"
#include "support/debug_print.h"
#include "support/format.h"
#include "support/windows_mistakes.h"

#include <atomic>
#include <cstring>

namespace pexil {
namespace {

// A host directory filled on first use. Readers never see it half-written:
// the buffer is published by the state, and until then a caller computes its
// own copy into the buffer that the winner fills.
class HostDirectoryCache {
public:
    const char* Get() {
        if (state_.load(std::memory_order_acquire) == kReady) return buffer_;
        char computed[kMaxPath];
        if (!ComputeHostDirectory(computed, kMaxPath) || computed[0] == '\0') {
            return "";  // left empty: the next call queries again
        }
        int expected = kEmpty;
        if (state_.compare_exchange_strong(expected, kFilling, std::memory_order_acq_rel)) {
            kBoundedStrings.Copy(buffer_, kMaxPath, computed);
            state_.store(kReady, std::memory_order_release);
            return buffer_;
        }
        while (state_.load(std::memory_order_acquire) != kReady) {
        }
        return buffer_;
    }

private:
    static constexpr int kEmpty = 0, kFilling = 1, kReady = 2;
    std::atomic<int> state_{kEmpty};
    char buffer_[kMaxPath] = {};
};

// This module has said once that its host directory is unknown.
std::atomic<bool> g_cutPathExplained{false};
// ... and that its path holds a character the code page could not represent.
std::atomic<bool> g_unrepresentableExplained{false};

HostDirectoryCache g_moduleHostDirectory;
HostDirectoryCache g_loadedLocatorHostDirectory;
char g_recomputedHostDirectory[kMaxPath];

}  // namespace

int ComputeHostDirectory(char* buffer, int size, PathStyle style) {
    if (buffer == nullptr || size <= 0) return 0;
    // Asked for one character more than the buffer keeps: a path that fills
    // that is cut, and the directory of a cut path is another directory (a
    // parent of the host's, whose Pexil.ini would be read).
    const int limit = size < kMaxPath ? size : kMaxPath;
    char path[kMaxPath + 1];
    const int length = platform::GetExecutablePath(path, limit + 1);
    if (length <= 0 || length >= limit) {
        if (length >= limit && !g_cutPathExplained.exchange(true)) {
            Explain(
                "the host's executable path is longer than %d characters, so the host "
                "directory is unknown: nothing beside the host (Pexil.ini, PexilLog) is read "
                "or made\n",
                limit - 1);
        }
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, path, static_cast<size_t>(length) + 1);
    if (Explaining() && HasUnrepresentableCharacter(path) &&
        !g_unrepresentableExplained.exchange(true)) {
        ExplainUnrepresentable("the host's executable path", path);
    }
    char* cut = ResolveStyle(style) == PathStyle::Windows ? std::strrchr(buffer, '\\')
                                                          : std::strrchr(buffer, '/');
    if (cut != nullptr) *cut = '\0';
    return 1;
}

const char* CachedHostDirectory() {
    return g_moduleHostDirectory.Get();
}
const char* OwnCachedHostDirectory() {
    return g_loadedLocatorHostDirectory.Get();
}
const char* RecomputedHostDirectory() {
    ComputeHostDirectory(g_recomputedHostDirectory, kMaxPath);
    return g_recomputedHostDirectory;
}

namespace {

int ComputeNativeHostDirectory(char* buffer, int size) {
    return ComputeHostDirectory(buffer, size);
}

}  // namespace

const PathBase kLocatorBase = {CachedHostDirectory, PathStyle::Native, true};
const PathBase kLoadedLocatorBase = {OwnCachedHostDirectory, PathStyle::Native, false};
const PathBase kFactoryBase = {RecomputedHostDirectory, PathStyle::Native, false,
                               ComputeNativeHostDirectory};

int JoinToHostDirectory(const PathBase& base, const char* name, char* buffer, int size,
                        int* whole) {
    if (whole != nullptr) *whole = 0;
    if (name == nullptr || buffer == nullptr || size < 2) return 0;
    char computed[kMaxPath];
    const char* directory = computed;
    if (base.computeDirectory == nullptr) {
        directory = base.directory();
    } else if (!base.computeDirectory(computed, kMaxPath)) {
        computed[0] = '\0';
    }
    const char* format = Separator(base.style) == '\\' ? "%s\\%s" : "%s/%s";
    const int formatSize = base.keepsOneLess ? size - 1 : size;
    const int written = FormatStringN(buffer, formatSize, size - 1, format, directory, name);
    buffer[size - 1] = '\0';
    // Joined to an unknown (empty) directory, a name would lie at the root.
    if (whole != nullptr) *whole = written >= 0 && directory[0] != '\0' ? 1 : 0;
    return 1;
}

int ToAbsolutePath(const PathBase& base, const char* path, char* buffer, int size, int* whole) {
    if (path == nullptr || !IsAbsolutePath(path, base.style)) {
        return JoinToHostDirectory(base, path, buffer, size, whole);
    }
    const int copied = CopyIfFits(buffer, size, path);
    if (whole != nullptr) *whole = copied;
    return copied;
}

int GetDirectoryPart(const PathBase& base, const char* path, char* buffer, int size) {
    char absolute[kMaxPath];
    int whole = 0;
    if (!ToAbsolutePath(base, path, absolute, kMaxPath, &whole) || whole == 0) return 0;
    const int separator = LastOfEitherSeparator(absolute);
    const int length = separator < 0 ? 0 : separator;
    if (buffer == nullptr || length == 0 || length >= size) return 0;
    kBoundedStrings.CopyN(buffer, size, absolute, length);
    buffer[length] = '\0';
    return 1;
}

int PathExists(const PathBase& base, const char* path) {
    char absolute[kMaxPath];
    int whole = 0;
    if (!ToAbsolutePath(base, path, absolute, kMaxPath, &whole) || whole == 0) return 0;
    return platform::Access(absolute, 0) == 0 ? 1 : 0;
}

int CreateDirectoryIfMissing(const PathBase& base, const char* directory) {
    if (PathExists(base, directory)) return 1;
    char absolute[kMaxPath];
    int whole = 0;
    if (!ToAbsolutePath(base, directory, absolute, kMaxPath, &whole) || whole == 0) return 0;
    return platform::CreateDirectory(absolute) != 0 ? 1 : 0;
}

int EnsureDirectoryFor(const PathBase& base, const char* path) {
    if (path == nullptr || path[0] == '\0') return 0;
    if (!HasValidPathChars(path)) return 0;
    char directory[kMaxPath];
    if (!GetDirectoryPart(base, path, directory, kMaxPath)) return 0;
    return CreateDirectoryIfMissing(base, directory);
}

}  // namespace pexil
