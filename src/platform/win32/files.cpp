// Files and directories on Windows.
#include "platform/backend.h"

#include <io.h>
#include "platform/refusal.h"
#include "platform/win32/windows_api.h"

#include <cstdio>
#include <cstring>

namespace pexil::platform::backend {
namespace {

HANDLE ToHandle(Handle h) {
    return reinterpret_cast<HANDLE>(h);
}
Handle FromHandle(HANDLE h) {
    return reinterpret_cast<Handle>(h);
}

void CopyFindData(const WIN32_FIND_DATAA& from, FindData* to) {
    std::memset(to, 0, sizeof(*to));
    to->attributes = from.dwFileAttributes;
    to->lastWriteTime = (static_cast<uint64_t>(from.ftLastWriteTime.dwHighDateTime) << 32) |
                        from.ftLastWriteTime.dwLowDateTime;
    std::memcpy(to->name, from.cFileName, sizeof(to->name) - 1);
}

// Refuses what is not a file on disk: a pipe, a console or another device
// (a read from a pipe blocks until its other end writes). Closes a refused handle.
bool KeepDiskFile(HANDLE file) {
    if (::GetFileType(file) == FILE_TYPE_DISK) return true;
    NoteRefusal("it is not a regular file but a pipe or a device");
    ::CloseHandle(file);
    ::SetLastError(ERROR_INVALID_FUNCTION);
    return false;
}

}  // namespace

int Access(const char* path, int mode) {
    ClearRefusal();
    if (path == nullptr) return -1;
    return ::_access(path, mode) == 0 ? 0 : -1;
}

int CreateDirectory(const char* path) {
    ClearRefusal();
    return ::CreateDirectoryA(path, nullptr) ? 1 : 0;
}

Handle OpenFileForRead(const char* path) {
    ClearRefusal();
    HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || !KeepDiskFile(file)) return kInvalidHandle;
    return FromHandle(file);
}

uint32_t GetFileSize(Handle file) {
    // GetFileSize without its high half gives a file of 4 GiB and more as its
    // size modulo 4 GiB: such a file would be read cut.
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(ToHandle(file), &size) || size.QuadPart < 0 ||
        size.QuadPart >= static_cast<LONGLONG>(UINT32_MAX)) {
        return UINT32_MAX;
    }
    return static_cast<uint32_t>(size.QuadPart);
}

int ReadFile(Handle file, void* buffer, uint32_t size, uint32_t* bytesRead) {
    DWORD got = 0;
    BOOL ok = ::ReadFile(ToHandle(file), buffer, size, &got, nullptr);
    if (bytesRead != nullptr) *bytesRead = got;
    return ok ? 1 : 0;
}

int WriteFile(Handle file, const void* data, uint32_t size, uint32_t* bytesWritten) {
    DWORD put = 0;
    BOOL ok = ::WriteFile(ToHandle(file), data, size, &put, nullptr);
    if (bytesWritten != nullptr) *bytesWritten = put;
    return ok ? 1 : 0;
}

void CloseFile(Handle file) {
    if (file != kInvalidHandle) ::CloseHandle(ToHandle(file));
}

Handle OpenLogFile(const char* path, int* locked) {
    ClearRefusal();
    if (locked != nullptr) *locked = 0;
    // Append-only access (the write rights without FILE_WRITE_DATA): every
    // write lands at the end of the file, also when another process (two hosts
    // started in the same second name it alike) appends to it at the same
    // time. Others may read and append; nobody may delete it while it is open.
    // The reparse point itself, never its target: a link planted under the
    // name is refused, not written through.
    constexpr DWORD kAppendOnly = (FILE_GENERIC_WRITE & ~FILE_WRITE_DATA) | FILE_READ_ATTRIBUTES;
    HANDLE file = ::CreateFileA(path, kAppendOnly, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE || !KeepDiskFile(file)) return kInvalidHandle;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file, &info)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(file);
        ::SetLastError(error);
        return kInvalidHandle;
    }
    char reason[96] = "";
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        std::snprintf(reason, sizeof(reason),
                      "it is a reparse point (a link), which is not followed");
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        std::snprintf(reason, sizeof(reason), "it is not a regular file but a directory");
    } else if (info.nNumberOfLinks > 1) {
        std::snprintf(reason, sizeof(reason),
                      "it has %lu names (hard links), so it is not the log's own file",
                      static_cast<unsigned long>(info.nNumberOfLinks));
    }
    if (reason[0] != '\0') {
        NoteRefusal(reason);
        ::CloseHandle(file);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return kInvalidHandle;
    }
    if (locked != nullptr) *locked = 1;  // the share mode protects it while it is open
    return FromHandle(file);
}

int DeleteFile(const char* path) {
    ClearRefusal();
    return ::DeleteFileA(path) ? 1 : 0;
}

Handle FindFirstFile(const char* pattern, FindData* data) {
    ClearRefusal();
    WIN32_FIND_DATAA found;
    std::memset(&found, 0, sizeof(found));
    HANDLE search = ::FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return kInvalidHandle;
    CopyFindData(found, data);
    return FromHandle(search);
}

int FindNextFile(Handle search, FindData* data) {
    WIN32_FIND_DATAA found;
    std::memset(&found, 0, sizeof(found));
    if (!::FindNextFileA(ToHandle(search), &found)) return 0;
    CopyFindData(found, data);
    return 1;
}

void FindClose(Handle search) {
    if (search != kInvalidHandle) ::FindClose(ToHandle(search));
}

uint32_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                 char* buffer, uint32_t size, const char* file) {
    return ::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, file);
}

}  // namespace pexil::platform::backend
