// ComponentHolder: how a module acquires a component from the factory. A holder
// is a local object: construction finds the factory (through the module's
// factory handle, or "Pexil.ini" beside the host executable and its
// redirections), asks it for the component and marks the component's free-map
// flag; the releasing forms release the component when they go out of scope.
//
//   pexil::ReleasingFactoryHolder holder;        // component 361, the factory
//   if (holder.component != nullptr) {
//       auto* factory = static_cast<pexil::IComponentFactory*>(holder.component);
//       ...
//   }
#ifndef PEXIL_HOLDER_H
#define PEXIL_HOLDER_H

#include <pexil/component.h>

namespace pexil {

class ComponentHolder {
public:
    ComponentHolder(const ComponentHolder&) = delete;
    ComponentHolder& operator=(const ComponentHolder&) = delete;
    virtual ~ComponentHolder() = default;

    IComponent* component = nullptr;  // what was obtained, or null when anything failed
    IComponent* factory = nullptr;    // the factory the locator returned; never released

protected:
    // FactoryHandle: the factory-handle locator, with this module's registry
    // path (copied whole at construction) as the ini argument and the registry
    // path. LoadedModule: the loaded-module locator, with neither.
    enum class Locator { FactoryHandle, LoadedModule };
    ComponentHolder(uint32_t componentID, Locator locator, int freeMapFlag);
    void ReleaseComponent();
};

// Component 361 for this module's registry path, free-map flag 1; never released
// by the holder (the factory module's PexilDllFreeMap reaches it).
class KeepingFactoryHolder : public ComponentHolder {
public:
    KeepingFactoryHolder();
};

// Component 361 for this module's registry path, free-map flag 0; Release(0) at
// the holder's end.
class ReleasingFactoryHolder : public ComponentHolder {
public:
    ReleasingFactoryHolder();
    ~ReleasingFactoryHolder() override;
};

// Component 991, found through the factory module already loaded in the process
// (or "Pexil.ini"), for the default registry; Release(0) at the holder's end.
class RootPathHolder : public ComponentHolder {
public:
    RootPathHolder();
    ~RootPathHolder() override;
};

// The configured root path: what component 991 says, else the host directory.
// Cached once found.
const char* QueryRootPath();

}  // namespace pexil

#endif
