// The POSIX backend's functions, collected into the system-call table by
// system_table.cpp. Private to src/platform/posix.
#ifndef PEXIL_PLATFORM_POSIX_BACKEND_H
#define PEXIL_PLATFORM_POSIX_BACKEND_H

#include "platform/platform.h"

#include <string>

namespace pexil::platform::posix {

// A path as the system takes it: the framework may write '\' as a separator,
// the system only knows '/'. Paths of ordinary length need no allocation.
class SystemPath {
public:
    explicit SystemPath(const char* path);
    SystemPath(const SystemPath&) = delete;
    SystemPath& operator=(const SystemPath&) = delete;
    const char* c_str() const { return text_; }
    std::string str() const { return text_; }

private:
    char buffer_[512];
    std::string long_;
    const char* text_;
};

void DebugOutput(const char* text);
void DebugBreak(const char* report);

int GetExecutablePath(char* buffer, int size);
int RunProcess(const ProcessOptions* options);

int Access(const char* path, int mode);
int CreateDirectory(const char* path);
Handle OpenFileForRead(const char* path);
uint32_t GetFileSize(Handle file);
int ReadFile(Handle file, void* buffer, uint32_t size, uint32_t* bytesRead);
int WriteFile(Handle file, const void* data, uint32_t size, uint32_t* bytesWritten);
void CloseFile(Handle file);
Handle OpenLogFile(const char* path);
int DeleteFile(const char* path);
Handle FindFirstFile(const char* pattern, FindData* data);
int FindNextFile(Handle search, FindData* data);
void FindClose(Handle search);

PexilModuleHandle LoadLibrary(const char* path);
void* GetProcAddress(PexilModuleHandle module, const char* name);
int FreeLibrary(PexilModuleHandle module);
PexilModuleHandle GetModuleHandle(const char* name);
PexilModuleHandle ModuleFromAddress(const void* address);

uint32_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                 char* buffer, uint32_t size, const char* file);

void LockInit(PexilLock* lock);
void LockDelete(PexilLock* lock);
void LockEnter(PexilLock* lock);
void LockLeave(PexilLock* lock);

uintptr_t SetTimer(uint32_t milliseconds, TimerProc proc);
int KillTimer(uintptr_t id);
int PumpMessages(uint32_t maxWaitMs);
void Sleep(uint32_t milliseconds);

int64_t CurrentTime();
int ToLocalTime(int64_t time, LocalTime* local);

void* Allocate(size_t size);
void Deallocate(void* memory);

}  // namespace pexil::platform::posix

#endif
