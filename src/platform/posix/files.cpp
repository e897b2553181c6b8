// Files and directories on POSIX, with the contracts of the Windows calls they
// stand for.
#include "platform/backend.h"
#include "platform/posix/system_path.h"
#include "platform/refusal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace pexil::platform::posix {

SystemPath::SystemPath(const char* path) {
    if (path == nullptr) path = "";
    const size_t length = std::strlen(path);
    char* target = buffer_;
    if (length >= sizeof(buffer_)) {
        long_.assign(path, length);
        target = long_.data();
    } else {
        std::memcpy(buffer_, path, length + 1);
    }
    for (size_t i = 0; i < length; ++i) {
        if (target[i] == '\\') target[i] = '/';
    }
    text_ = target;
}

}  // namespace pexil::platform::posix

namespace pexil::platform::backend {
using posix::SystemPath;
namespace {

// What a name turned out to hold, for a refusal's reason.
const char* KindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

void RefuseKind(mode_t mode) {
    char reason[96];
    if (S_ISLNK(mode)) {
        std::snprintf(reason, sizeof(reason), "it is a symbolic link, which is not followed");
    } else {
        std::snprintf(reason, sizeof(reason), "it is not a regular file but %s", KindOf(mode));
    }
    NoteRefusal(reason);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens a regular file without blocking: a FIFO, a device or a socket under
// the name is never opened where a look first can tell (a device may act on
// being opened), and is refused where the look came too early. With
// noFollow a link under the name is refused too (O_NOFOLLOW covers only the
// name's last part: the directories above it may be links). The descriptor
// blocks again once it is known to be a regular file; *info is its state.
int OpenRegularFile(const char* path, int flags, bool noFollow, struct stat* info) {
    struct stat seen;
    const int found = noFollow ? ::lstat(path, &seen) : ::stat(path, &seen);
    if (found == 0 && !S_ISREG(seen.st_mode)) {
        RefuseKind(seen.st_mode);
        errno = S_ISDIR(seen.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    const int fd = ::open(path, flags | O_CLOEXEC | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0), 0644);
    if (fd < 0) {
        // Something else took the name since the look: say what.
        const int error = errno;
        const bool odd = error == ENXIO || (noFollow && error == ELOOP);
        if (odd && (noFollow ? ::lstat(path, &seen) : ::stat(path, &seen)) == 0 &&
            !S_ISREG(seen.st_mode)) {
            RefuseKind(seen.st_mode);
        }
        errno = error;
        return -1;
    }
    if (::fstat(fd, info) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    if (!S_ISREG(info->st_mode)) {
        RefuseKind(info->st_mode);
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// A log file is written only when it is this process's own: a regular file
// with no other name, owned by the effective user. Anything else under the
// next second's name was put there by someone else, to be written into.
bool IsOwnLogFile(const struct stat& info) {
    char reason[160];
    if (info.st_nlink > 1) {
        std::snprintf(reason, sizeof(reason),
                      "it has %lu names (hard links), so it is not the log's own file",
                      static_cast<unsigned long>(info.st_nlink));
    } else if (info.st_uid != ::geteuid()) {
        std::snprintf(reason, sizeof(reason),
                      "it belongs to user %lu, not to this process's effective user %lu",
                      static_cast<unsigned long>(info.st_uid),
                      static_cast<unsigned long>(::geteuid()));
    } else {
        return true;
    }
    NoteRefusal(reason);
    errno = EPERM;
    return false;
}

// A deleter holds a file's lock exclusively for a moment: it is waited out
// this many times, one millisecond each.
constexpr int kLockAttempts = 20;
// A deleter that removed the name while the lock was waited for leaves the
// opened file nameless: the name is opened again, at most this many times.
constexpr int kOpenings = 3;

}  // namespace

int Access(const char* path, int mode) {
    ClearRefusal();
    if (path == nullptr) return -1;
    int how = F_OK;
    if (mode & 2) how |= W_OK;
    if (mode & 4) how |= R_OK;
    return ::access(SystemPath(path).c_str(), how) == 0 ? 0 : -1;
}

int CreateDirectory(const char* path) {
    ClearRefusal();
    if (path == nullptr || *path == '\0') return 0;
    // Never writable by others, whatever the umask: a log directory others
    // can write to lets them plant names there. A group may share it.
    return ::mkdir(SystemPath(path).c_str(), 0775) == 0 ? 1 : 0;
}

Handle OpenFileForRead(const char* path) {
    ClearRefusal();
    if (path == nullptr || *path == '\0') return kInvalidHandle;
    // CreateFileA refuses a directory; open() would accept it. A FIFO would
    // block the reader until someone writes into it.
    struct stat info;
    const int fd = OpenRegularFile(SystemPath(path).c_str(), O_RDONLY, false, &info);
    return fd >= 0 ? fd : kInvalidHandle;
}

uint32_t GetFileSize(Handle file) {
    struct stat info;
    if (file < 0 || ::fstat(static_cast<int>(file), &info) != 0) return UINT32_MAX;
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) >= UINT32_MAX) {
        return UINT32_MAX;
    }
    return static_cast<uint32_t>(info.st_size);
}

int ReadFile(Handle file, void* buffer, uint32_t size, uint32_t* bytesRead) {
    if (bytesRead != nullptr) *bytesRead = 0;
    if (file < 0 || (buffer == nullptr && size > 0)) return 0;
    uint32_t total = 0;
    while (total < size) {
        ssize_t n = ::read(static_cast<int>(file), static_cast<char*>(buffer) + total,
                           static_cast<size_t>(size - total));
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        if (n == 0) break;  // end of file: ReadFile succeeds with fewer bytes
        total += static_cast<uint32_t>(n);
    }
    if (bytesRead != nullptr) *bytesRead = total;
    return 1;
}

int WriteFile(Handle file, const void* data, uint32_t size, uint32_t* bytesWritten) {
    if (bytesWritten != nullptr) *bytesWritten = 0;
    if (file < 0 || (data == nullptr && size > 0)) return 0;
    uint32_t total = 0;
    while (total < size) {
        ssize_t n = ::write(static_cast<int>(file), static_cast<const char*>(data) + total,
                            static_cast<size_t>(size - total));
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        total += static_cast<uint32_t>(n);
    }
    if (bytesWritten != nullptr) *bytesWritten = total;
    return 1;
}

void CloseFile(Handle file) {
    if (file >= 0) ::close(static_cast<int>(file));
}

Handle OpenLogFile(const char* path, int* locked) {
    ClearRefusal();
    if (locked != nullptr) *locked = 0;
    if (path == nullptr || *path == '\0') return kInvalidHandle;
    const SystemPath systemPath(path);
    for (int opening = 0; opening < kOpenings; ++opening) {
        // O_APPEND: every write lands at the end, so another process that
        // opened the same file (two hosts started in the same second name it
        // alike) appends too, and a line written in one write is never split.
        // Created 0644: never writable by others, whatever the umask.
        // A file this call makes is its own, whoever the file system says
        // owns it (an NFS server may map root to nobody); one that was there
        // is checked.
        struct stat info;
        constexpr int kAppend = O_WRONLY | O_APPEND;
        bool made = true;
        int fd = OpenRegularFile(systemPath.c_str(), kAppend | O_CREAT | O_EXCL, true, &info);
        if (fd < 0 && errno == EEXIST) {
            made = false;
            fd = OpenRegularFile(systemPath.c_str(), kAppend, true, &info);
            if (fd < 0 && errno == ENOENT) continue;  // a deleter removed it meanwhile
        }
        if (fd < 0) return kInvalidHandle;
        if (!made && !IsOwnLogFile(info)) {
            ::close(fd);
            return kInvalidHandle;
        }
        // Windows lets nobody delete the file while it is open; a shared
        // advisory lock, which every writer holds and deleteFile must break,
        // does the same. A deleter holds the lock exclusively for a moment
        // only: it is waited out.
        bool haveLock = false;
        for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
            if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
                haveLock = true;
                break;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) break;  // no locks here
            System().sleep(1);
        }
        // A deleter that held the lock may have removed the name meanwhile,
        // and another host may have made a new file under it: the lines would
        // go into a file nobody sees. The name must still give this file.
        struct stat named;
        if (::lstat(systemPath.c_str(), &named) != 0 || !SameFile(named, info)) {
            ::close(fd);
            continue;
        }
        if (locked != nullptr) *locked = haveLock ? 1 : 0;
        return fd;
    }
    NoteRefusal("its name gave another file each time it was opened");
    return kInvalidHandle;
}

void LastErrorText(char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return;
    const int error = errno;
    if (RefusalText(buffer, size)) return;
    // The GNU strerror_r may hand back a static text instead of filling the buffer.
    const char* text = ::strerror_r(error, buffer, static_cast<size_t>(size));
    if (text != buffer) std::snprintf(buffer, static_cast<size_t>(size), "%s", text);
}

int DeleteFile(const char* path) {
    ClearRefusal();
    if (path == nullptr || *path == '\0') return 0;
    const SystemPath systemPath(path);
    // Only a regular file is deleted, and nothing is opened through a link:
    // the check for a writer's lock must not open a device a link names.
    struct stat seen;
    if (::lstat(systemPath.c_str(), &seen) != 0) return 0;
    if (!S_ISREG(seen.st_mode)) {
        RefuseKind(seen.st_mode);
        return 0;
    }
    const int fd = ::open(systemPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        struct stat info;
        // A file a writer holds (its shared lock) is in use: refuse, as Windows
        // does; and the name must still give the file that was checked.
        if (::fstat(fd, &info) != 0 || !SameFile(info, seen) ||
            ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::lstat(systemPath.c_str(), &seen) != 0 ||
            !SameFile(info, seen)) {
            ::close(fd);
            return 0;
        }
    } else if (errno != EACCES) {
        return 0;  // an unreadable file is deleted unchecked, as before; nothing else
    }
    const int removed = ::unlink(systemPath.c_str()) == 0 ? 1 : 0;
    if (fd >= 0) ::close(fd);
    return removed;
}

}  // namespace pexil::platform::backend
