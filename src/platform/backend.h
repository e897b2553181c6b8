// The backend: one function per entry of the system-call table, with the
// contract platform.h states for that entry. Each build compiles exactly one
// backend (posix/ or win32/); system_table.cpp collects its functions into the
// table. Private to src/platform.
#ifndef PEXIL_PLATFORM_BACKEND_H
#define PEXIL_PLATFORM_BACKEND_H

#include "platform/platform.h"

namespace pexil::platform::backend {

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
Handle OpenLogFile(const char* path, int* locked);
int DeleteFile(const char* path);
void LastErrorText(char* buffer, int size);
Handle FindFirstFile(const char* pattern, FindData* data);
int FindNextFile(Handle search, FindData* data);
void FindClose(Handle search);

PexilModuleHandle LoadLibrary(const char* path);
void* GetProcAddress(PexilModuleHandle module, const char* name);
int FreeLibrary(PexilModuleHandle module);
PexilModuleHandle GetModuleHandle(const char* name);
PexilModuleHandle ModuleFromAddress(const void* address);
int GetModuleFileName(PexilModuleHandle module, char* buffer, int size);
int LoadFailureReason(char* buffer, int size);

uint32_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                 char* buffer, uint32_t size, const char* file);

void LockInit(PexilLock* lock);
void LockDelete(PexilLock* lock);
void LockEnter(PexilLock* lock);
void LockLeave(PexilLock* lock);

uintptr_t SetTimer(uint32_t milliseconds, TimerProc proc);
int KillTimer(uintptr_t id);
int TimerRunning(uintptr_t id);
int PumpMessages(uint32_t maxWaitMs);
void Sleep(uint32_t milliseconds);
int MonotonicClock(uint64_t* nanoseconds);

int64_t CurrentTime();
int ToLocalTime(int64_t time, LocalTime* local);

void* Allocate(size_t size);
void Deallocate(void* memory);

}  // namespace pexil::platform::backend

#endif
