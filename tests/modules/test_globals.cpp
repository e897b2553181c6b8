// TestGlobals.dll: single-instance components that register themselves with
// the factory as global components and report their forced release.
#include "support/debug_print.h"

#include <pexil/component_base.h>
#include <pexil/module.h>

namespace pexil::testing {
namespace {

template <uint32_t ID>
class Global : public ComponentBase<IComponent, ID> {
public:
    void Shutdown() override {
        DebugPrintf(DebugChannel::ModuleEntry, "[TestGlobals] released %u\n", ID);
    }
};

}  // namespace

PEXIL_REGISTER_CREATOR(3, SingleInstance<Global<3>>::Create);
PEXIL_REGISTER_CREATOR(1185, SingleInstance<Global<1185>>::Create);
PEXIL_REGISTER_CREATOR(991, SingleInstance<Global<991>>::Create);
PEXIL_REGISTER_CREATOR(7001, SingleInstance<Global<7001>>::Create);
PEXIL_REGISTER_CREATOR(7002, SingleInstance<Global<7002>>::Create);

}  // namespace pexil::testing
