// How a module reaches the factory on its own behalf: telling it that the
// module is idle, and registering a single instance as a global component.
#include "module/idle_notification.h"

#include <pexil/factory.h>
#include <pexil/holder.h>
#include <pexil/module.h>

namespace pexil {

void module::NotifyFactoryModuleIsIdle() {
    // The keeping holder leaves the factory alive; without a factory the module
    // is simply not scheduled for unloading. Called under the module lock from
    // Release: nothing may unwind through it.
    try {
        KeepingFactoryHolder holder;
        if (holder.component == nullptr) return;
        static_cast<IComponentFactory*>(holder.component)->ScheduleDllUnload(ModuleHandle());
    } catch (...) {
        // Not scheduled: the module stays loaded.
    }
}

void RegisterGlobalComponentWithFactory(IComponent* component) {
    ReleasingFactoryHolder holder;
    if (holder.component == nullptr) return;
    static_cast<IComponentFactory*>(holder.component)->RegisterGlobalComponent(component);
}

}  // namespace pexil
