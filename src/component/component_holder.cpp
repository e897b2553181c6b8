#include "component/factory_locator.h"
#include "support/debug_print.h"
#include "support/path.h"

#include <pexil/factory.h>
#include <pexil/holder.h>
#include <pexil/module.h>

namespace pexil {

ComponentHolder::ComponentHolder(uint32_t componentID, Locator locator, int freeMapFlag) {
    // The module's registry path, copied whole: the factory may set it anew
    // on another thread meanwhile (SetDLLRegistry at each creation).
    char modulePath[kMaxPath];
    const char* iniArgument = nullptr;
    const char* registryPath = nullptr;
    if (locator == Locator::FactoryHandle) {
        CopyModuleRegistryPath(modulePath);
        iniArgument = modulePath;
        registryPath = modulePath;
    }
    // Every construction runs the whole search again: nothing is cached.
    factory =
        locator::LocateFactory(locator == Locator::FactoryHandle ? locator::Variant::FactoryHandle
                                                                 : locator::Variant::LoadedModule,
                               iniArgument);
    if (factory == nullptr) return;
    component =
        static_cast<IComponentFactory*>(factory)->CreateComponentByID(componentID, registryPath);
    if (component != nullptr) {
        component->SetFreeMapFlag(freeMapFlag);
    } else if (componentID == kFactoryComponentID) {
        // The factory was found, but the registry the module was created
        // from does not bind 361 to it: the module's holders all come back
        // empty. (The factory's own trace names the registry's lines.)
        Explain(
            "the factory gives no component 361 for the registry \"%s\"%s: that registry must "
            "bind 361 to the factory, in a [361] section with DLL=Brelnor.dll that no later "
            "line starts anew or binds elsewhere; until it does, this module's holders get no "
            "factory, so it gets no log settings and is never unloaded\n",
            registryPath != nullptr ? registryPath : "",
            registryPath == nullptr || registryPath[0] == '\0' ? " (Pexil.ini)" : "");
    }
}

void ComponentHolder::ReleaseComponent() {
    if (component != nullptr) component->Release(0);
    component = nullptr;
}

// The module's registry path is handed on also when empty.
KeepingFactoryHolder::KeepingFactoryHolder()
    : ComponentHolder(kFactoryComponentID, Locator::FactoryHandle, 1) {}

ReleasingFactoryHolder::ReleasingFactoryHolder()
    : ComponentHolder(kFactoryComponentID, Locator::FactoryHandle, 0) {}

ReleasingFactoryHolder::~ReleasingFactoryHolder() {
    ReleaseComponent();
}

RootPathHolder::RootPathHolder()
    : ComponentHolder(kConfigurationComponentID, Locator::LoadedModule, 0) {}

RootPathHolder::~RootPathHolder() {
    ReleaseComponent();
}

}  // namespace pexil
