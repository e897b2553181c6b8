// Module-wide state of the entry layer, private to the module code.
#ifndef PEXIL_MODULE_MODULE_STATE_H
#define PEXIL_MODULE_MODULE_STATE_H

#include <pexil/module.h>

namespace pexil::module {

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
