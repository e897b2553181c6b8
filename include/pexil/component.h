// IComponent: the five slots every component has, in this order. Code that
// does not know a component's type uses these slots only; a component type's
// own interface derives from IComponent and adds its operations after them.
#ifndef PEXIL_COMPONENT_H
#define PEXIL_COMPONENT_H

#include <pexil/config.h>

#include <stdint.h>

namespace pexil {

// Component IDs every module knows.
constexpr uint32_t kFactoryComponentID = 361;        // the ComponentFactory
constexpr uint32_t kConfigurationComponentID = 991;  // asked for the configured root path
// Creator IDs recorded with each live component.
constexpr uint32_t kCreatorFactory = 361;  // the factory created it for a caller
constexpr uint32_t kCreatorDirect = 0;     // a module asked the factory module directly

class IComponent {
public:
    virtual uint32_t GetComponentID() = 0;       // slot 0
    virtual int GetVersion() = 0;                // slot 1
    virtual void Release(int force) = 0;         // slot 2: 0 ordinary, non-zero forced
    virtual int GetFreeMapFlag() = 0;            // slot 3
    virtual void SetFreeMapFlag(int value) = 0;  // slot 4

protected:
    // Components are destroyed only through Release, never through this interface.
    ~IComponent() = default;
};

}  // namespace pexil

#endif
