// Telling the factory that this module has no live component left, so that the
// factory can unload it. Called by RemoveLiveComponent under the module lock.
#ifndef PEXIL_MODULE_IDLE_NOTIFICATION_H
#define PEXIL_MODULE_IDLE_NOTIFICATION_H

namespace pexil::module {

void NotifyFactoryModuleIsIdle();

}  // namespace pexil::module

#endif
