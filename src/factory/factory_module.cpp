// Brelnor.dll offers exactly one component: the ComponentFactory, 361, one
// instance per process (made again if the one instance has been destroyed).
#include "factory/component_factory.h"

#include <pexil/module.h>

namespace pexil {

PEXIL_REGISTER_CREATOR(kFactoryComponentID, SingleInstance<ComponentFactory>::Create);

}  // namespace pexil
