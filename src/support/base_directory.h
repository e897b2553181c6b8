// Path functions that resolve a relative path against a base directory. Each
// is written once and takes the base as a parameter: the framework's users
// differ only in their base directory (the host directory, cached or
// recomputed, or the configured root path), in the path style, and in how many
// characters JoinToHostDirectory keeps.
#ifndef PEXIL_SUPPORT_BASE_DIRECTORY_H
#define PEXIL_SUPPORT_BASE_DIRECTORY_H

#include "support/path.h"

namespace pexil {

struct PathBase {
    // The directory relative paths are resolved against (a 260-byte buffer).
    const char* (*directory)();
    PathStyle style;
    // When set, JoinToHostDirectory keeps at most size - 2 characters instead
    // of size - 1 (the locator's factory-handle variant).
    bool keepsOneLess;
    // When set, the directory is computed anew into the resolver's own buffer
    // instead of read through directory(): no buffer is shared, so threads
    // may resolve against it at once (the factory's base).
    int (*computeDirectory)(char* buffer, int size) = nullptr;
};

// The host directory: the executable's full path cut at its last separator
// (Windows style: the last '\'), the separator removed; the whole path when it
// has none. Written into the buffer; 0 and an empty buffer when the path
// cannot be read or does not fit the buffer whole (size - 1 characters, at
// most 259): the host directory is then unknown.
int ComputeHostDirectory(char* buffer, int size, PathStyle style = PathStyle::Native);

// Host directories kept in module-wide 260-byte buffers:
// filled once on first use (a failed query is retried on the next call) ...
const char* CachedHostDirectory();
// ... the same in a buffer of its own, for the loaded-module locator ...
const char* OwnCachedHostDirectory();
// ... and recomputed into its buffer at every call (for tests and tools on
// one thread; the factory's base computes into the caller's buffer).
const char* RecomputedHostDirectory();

// The bases of the framework's users with a host-directory base, native style.
extern const PathBase kLocatorBase;        // cached; join keeps size - 2
extern const PathBase kLoadedLocatorBase;  // own cache; join keeps size - 1
extern const PathBase kFactoryBase;        // recomputed at each use; join keeps size - 1

// "<base><sep><name>" cut to fit (not refused); the last byte is always a
// terminator. 0 for a null name or buffer or size < 2. *whole (when given)
// tells whether the whole join fitted: a cut path may name another file, so
// callers that read or load it must not use one that was cut. A join to an
// empty base directory (an unknown host directory) is never whole.
int JoinToHostDirectory(const PathBase& base, const char* name, char* buffer, int size,
                        int* whole = nullptr);

// A relative (or null) path joined to the base; an absolute one copied if it
// fits. 0 for null, or an absolute path that does not fit. *whole as above.
int ToAbsolutePath(const PathBase& base, const char* path, char* buffer, int size,
                   int* whole = nullptr);

// The directory part of the path made absolute: everything before its last
// separator ('\' or '/', whichever comes later). 0 when there is no separator,
// the only one is in first place, or the part does not fit.
//   D:\A\PexilLog\ -> D:\A\PexilLog; D:\a/b/f.log -> D:\a/b; D:x -> 0
int GetDirectoryPart(const PathBase& base, const char* path, char* buffer, int size);

// 1 when the path, made absolute whole, exists.
int PathExists(const PathBase& base, const char* path);

// 1 when the directory exists or was created (one level only); else 0.
int CreateDirectoryIfMissing(const PathBase& base, const char* directory);

// Creates the directory a path lies in; a path ending with a separator names
// its own directory. 0 for null, empty or invalid paths and on failure.
int EnsureDirectoryFor(const PathBase& base, const char* path);

}  // namespace pexil

#endif
