// The storage of the live-component map. It is defined in module_lifetime.cpp,
// next to the attach and detach handlers, so that it is constructed before the
// module attaches and destroyed after the leak report at detach.
#ifndef PEXIL_MODULE_LIVE_MAP_STORAGE_H
#define PEXIL_MODULE_LIVE_MAP_STORAGE_H

#include "module/live_components.h"

#include <atomic>
#include <map>

namespace pexil::module {

struct LiveComponentMap {
    std::map<IComponent*, ComponentRecord> records;
    // The count PexilDllCanUnloadNow reads without the lock.
    std::atomic<uint32_t> count{0};
};

LiveComponentMap& LiveMap();

}  // namespace pexil::module

#endif
