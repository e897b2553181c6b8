// How a module reaches the factory on its own behalf: telling it that the
// module is idle, and registering a single instance as a global component.
#include "module/idle_notification.h"

#include <pexil/module.h>

namespace pexil {

void module::NotifyFactoryModuleIsIdle() {}

void RegisterGlobalComponentWithFactory(IComponent*) {}

}  // namespace pexil
