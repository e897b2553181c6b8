// Telling the factory that this module has no live component left, so that the
// factory can unload it. Called by RemoveLiveComponent under the module lock.
#ifndef PEXIL_MODULE_IDLE_NOTIFICATION_H
#define PEXIL_MODULE_IDLE_NOTIFICATION_H

#include "module/module_state.h"

namespace pexil::module {

// Runs under the module lock, as the idle notification always has: it acquires
// the factory (possibly loading the factory module) and calls its
// ScheduleDllUnload while this module's lock is held. So a component module's
// lock comes before every lock of the factory module.
void NotifyFactoryModuleIsIdle() PEXIL_REQUIRES(moduleLock);

}  // namespace pexil::module

#endif
