// The storage of the live-component map. It is defined in module_lifetime.cpp,
// next to the attach and detach handlers, so that it is constructed before the
// module attaches and destroyed after the leak report at detach.
#ifndef PEXIL_MODULE_LIVE_MAP_STORAGE_H
#define PEXIL_MODULE_LIVE_MAP_STORAGE_H

#include "module/live_components.h"
#include "module/module_state.h"

#include <atomic>
#include <map>

namespace pexil::module {

struct LiveRecord {
    ComponentRecord record;
    // Release has begun deleting the component: its destructors may be running
    // on another thread, so PexilDllFreeMap calls nothing on it.
    bool dying;
    // PexilDllFreeMap is releasing it: a walk nested in its Shutdown (a
    // component made there calling PexilDllFreeMap) passes it by.
    bool beingFreed;
};

struct LiveComponentMap {
    std::map<IComponent*, LiveRecord> records PEXIL_GUARDED_BY(moduleLock);
    // The deletions Release has begun and not yet ended, on any thread: each
    // lives on its Release's stack (no allocation, no limit).
    ComponentDeletion* deletions PEXIL_GUARDED_BY(moduleLock) = nullptr;
    // The count PexilDllCanUnloadNow reads without the lock. Records stay until
    // their component's memory is freed, so a module whose destructors still
    // run never counts as idle.
    std::atomic<uint32_t> count{0};
};

LiveComponentMap& LiveMap();

}  // namespace pexil::module

#endif
