// Module-wide state of the entry layer, private to the module code.
#ifndef PEXIL_MODULE_MODULE_STATE_H
#define PEXIL_MODULE_MODULE_STATE_H

#include "platform/recursive_lock.h"

#include <pexil/module.h>

namespace pexil::module {

// The module lock: the creator table's writes and the registry path; the idle
// notification runs under it. Recursive for its owning thread. The
// live-component map has locks of its own, one per shard (live_map_storage.h),
// which come before it. Of two modules' locks, a component module's are taken
// before the factory module's (the idle notification), never the other way
// round (docs/concurrency.md).
extern RecursiveLock moduleLock;

// Takes and leaves the module lock, initialising it first if needed.
void EnterLock() PEXIL_ACQUIRE(moduleLock);
void LeaveLock() PEXIL_RELEASE(moduleLock);

// Initialises the module lock if it is not yet; the first initialisation sets
// the DLL-safe flag to 1.
void InitModuleLock();
// 1 while the module lock is initialised.
int ModuleLockInitialised();
// Deletes the module lock (at detach).
void DeleteModuleLock();

void SetModuleHandle(PexilModuleHandle handle);
void SetFactoryHandle(PexilModuleHandle handle);
void SetDllSafe(int flag);
// Stores the path when it is shorter than 260 characters, else the empty string.
void SetRegistryPath(const char* path);
// Copies up to capacity IDs of the creator table; returns the number of creators.
uint32_t CopyComponentIDs(uint32_t* ids, uint32_t capacity);

}  // namespace pexil::module

#endif
