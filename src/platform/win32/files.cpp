// Files and directories on Windows.
#include "platform/backend.h"

#include <io.h>
#include "platform/win32/windows_api.h"

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

}  // namespace

int Access(const char* path, int mode) {
    if (path == nullptr) return -1;
    return ::_access(path, mode) == 0 ? 0 : -1;
}

int CreateDirectory(const char* path) {
    return ::CreateDirectoryA(path, nullptr) ? 1 : 0;
}

Handle OpenFileForRead(const char* path) {
    return FromHandle(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

uint32_t GetFileSize(Handle file) {
    return ::GetFileSize(ToHandle(file), nullptr);
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

Handle OpenLogFile(const char* path) {
    // Append-only access (the write rights without FILE_WRITE_DATA): every
    // write lands at the end of the file, also when another process (two hosts
    // started in the same second name it alike) appends to it at the same
    // time. Others may read and append; nobody may delete it while it is open.
    constexpr DWORD kAppendOnly = FILE_GENERIC_WRITE & ~FILE_WRITE_DATA;
    return FromHandle(::CreateFileA(path, kAppendOnly, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, 0, nullptr));
}

int DeleteFile(const char* path) {
    return ::DeleteFileA(path) ? 1 : 0;
}

Handle FindFirstFile(const char* pattern, FindData* data) {
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
