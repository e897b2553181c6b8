// Files and directories on POSIX, with the contracts of the Windows calls they
// stand for.
#include "platform/backend.h"
#include "platform/posix/system_path.h"

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

int Access(const char* path, int mode) {
    if (path == nullptr) return -1;
    int how = F_OK;
    if (mode & 2) how |= W_OK;
    if (mode & 4) how |= R_OK;
    return ::access(SystemPath(path).c_str(), how) == 0 ? 0 : -1;
}

int CreateDirectory(const char* path) {
    if (path == nullptr || *path == '\0') return 0;
    return ::mkdir(SystemPath(path).c_str(), 0777) == 0 ? 1 : 0;
}

Handle OpenFileForRead(const char* path) {
    if (path == nullptr || *path == '\0') return kInvalidHandle;
    int fd = ::open(SystemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kInvalidHandle;
    // CreateFileA refuses a directory; open() would accept it.
    struct stat info;
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return kInvalidHandle;
    }
    return fd;
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

Handle OpenLogFile(const char* path) {
    if (path == nullptr || *path == '\0') return kInvalidHandle;
    // O_APPEND: every write lands at the end, so another process that opened
    // the same file (two hosts started in the same second name it alike)
    // appends too, and a line written in one write is never split.
    int fd = ::open(SystemPath(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return kInvalidHandle;
    // Windows lets nobody delete the file while it is open; a shared advisory
    // lock, which every writer holds and deleteFile must break, does the same.
    // A deleter holds the lock exclusively for a moment only: try again then.
    for (int attempt = 0; ::flock(fd, LOCK_SH | LOCK_NB) != 0; ++attempt) {
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        // Held for long, it is no deleter: write unprotected rather than not at all.
        if (attempt == 20) break;
        ::usleep(1000);
    }
    return fd;
}

void LastErrorText(char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return;
    const int error = errno;
    // The GNU strerror_r may hand back a static text instead of filling the buffer.
    const char* text = ::strerror_r(error, buffer, static_cast<size_t>(size));
    if (text != buffer) std::snprintf(buffer, static_cast<size_t>(size), "%s", text);
}

int DeleteFile(const char* path) {
    if (path == nullptr || *path == '\0') return 0;
    const SystemPath systemPath(path);
    int fd = ::open(systemPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        struct stat info;
        bool isDirectory = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
        // A file a writer holds (its shared lock) is in use: refuse, as Windows does.
        if (isDirectory || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return 0;
        }
    }
    int removed = ::unlink(systemPath.c_str()) == 0 ? 1 : 0;
    if (fd >= 0) ::close(fd);
    return removed;
}

}  // namespace pexil::platform::backend
