// Dynamic loading on Windows.
#include "platform/backend.h"

#include "platform/win32/windows_api.h"

namespace pexil::platform::backend {
namespace {

PexilModuleHandle FromModule(HMODULE module) {
    return reinterpret_cast<PexilModuleHandle>(module);
}
HMODULE ToModule(PexilModuleHandle module) {
    return reinterpret_cast<HMODULE>(module);
}

// The error of this thread's last failed load, and the path it was given.
thread_local DWORD t_loadFailure = 0;
thread_local char t_loadFailurePath[MAX_PATH] = "";

// The machine a PE file is built for (IMAGE_FILE_MACHINE_*), 0 when the file
// cannot be read or is no PE file.
WORD MachineOf(const char* path) {
    const HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    IMAGE_DOS_HEADER dos{};
    DWORD read = 0;
    WORD machine = 0;
    if (::ReadFile(file, &dos, sizeof(dos), &read, nullptr) && read == sizeof(dos) &&
        dos.e_magic == IMAGE_DOS_SIGNATURE && dos.e_lfanew > 0 &&
        ::SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER) {
        struct {
            DWORD signature;
            IMAGE_FILE_HEADER header;
        } pe{};
        if (::ReadFile(file, &pe, sizeof(pe), &read, nullptr) && read == sizeof(pe) &&
            pe.signature == IMAGE_NT_SIGNATURE) {
            machine = pe.header.Machine;
        }
    }
    ::CloseHandle(file);
    return machine;
}

// Appends text, cut to fit; the buffer stays terminated.
void Append(char* buffer, int size, int& length, const char* text) {
    while (*text != '\0' && length < size - 1)
        buffer[length++] = *text++;
    buffer[length] = '\0';
}

}  // namespace

PexilModuleHandle LoadLibrary(const char* path) {
    if (path == nullptr) return nullptr;
    HMODULE module = ::LoadLibraryA(path);
    if (module == nullptr) {
        t_loadFailure = ::GetLastError();
        lstrcpynA(t_loadFailurePath, path, MAX_PATH);
    }
    return FromModule(module);
}

// The system's message with its insert %1 filled with the module's path (the
// system leaves it, as in "Bad EXE format for %1"), then the error code, and
// for a module of the other width what that means.
int LoadFailureReason(char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    if (t_loadFailure == 0) return 0;
    char message[512] = "";
    SystemMessage(t_loadFailure, message, sizeof(message));
    int length = 0;
    for (const char* p = message; *p != '\0' && length < size - 1; ++p) {
        if (p[0] == '%' && p[1] == '1' && (p[2] < '0' || p[2] > '9')) {
            Append(buffer, size, length, t_loadFailurePath);
            ++p;
        } else {
            buffer[length++] = *p;
        }
    }
    buffer[length] = '\0';
    char code[32];
    wsprintfA(code, " (error %lu)", static_cast<unsigned long>(t_loadFailure));
    Append(buffer, size, length, code);
    if (t_loadFailure == ERROR_BAD_EXE_FORMAT) {
        const WORD machine = MachineOf(t_loadFailurePath);
        const bool wide = sizeof(void*) == 8;
        if (wide && machine == IMAGE_FILE_MACHINE_I386) {
            Append(buffer, size, length, ": a 32-bit module cannot be loaded by a 64-bit program");
        } else if (!wide &&
                   (machine == IMAGE_FILE_MACHINE_AMD64 || machine == IMAGE_FILE_MACHINE_ARM64)) {
            Append(buffer, size, length, ": a 64-bit module cannot be loaded by a 32-bit program");
        }
    }
    return length;
}

int GetModuleFileName(PexilModuleHandle module, char* buffer, int size) {
    if (module == nullptr || buffer == nullptr || size <= 0) return 0;
    DWORD length = ::GetModuleFileNameA(ToModule(module), buffer, static_cast<DWORD>(size));
    if (length >= static_cast<DWORD>(size)) length = static_cast<DWORD>(size - 1);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

void* GetProcAddress(PexilModuleHandle module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(ToModule(module), name));
}

int FreeLibrary(PexilModuleHandle module) {
    return ::FreeLibrary(ToModule(module)) ? 1 : 0;
}

PexilModuleHandle GetModuleHandle(const char* name) {
    if (name == nullptr) return nullptr;
    return FromModule(::GetModuleHandleA(name));
}

PexilModuleHandle ModuleFromAddress(const void* address) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCSTR>(address), &module)) {
        return nullptr;
    }
    return FromModule(module);
}

}  // namespace pexil::platform::backend

namespace pexil::platform {

bool IsModuleLoaded(const char* path) {
    return path != nullptr && ::GetModuleHandleA(path) != nullptr;
}

}  // namespace pexil::platform
