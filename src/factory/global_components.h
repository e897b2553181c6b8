// The global components: single-instance components registered with the
// factory at their creation and released together, forced, in a fixed order:
// first those whose IDs the ordinal table does not hold, in registration
// order; then the others from the highest ordinal down to ordinal 0.
#ifndef PEXIL_FACTORY_GLOBAL_COMPONENTS_H
#define PEXIL_FACTORY_GLOBAL_COMPONENTS_H

#include <pexil/component.h>

#include <array>
#include <vector>

namespace pexil {

class GlobalComponents {
public:
    // The number of IDs the ordinal table holds.
    static constexpr int kOrdinals = 26;

    // Stores the component under its ID's ordinal (replacing an earlier one
    // there), or appends it to the others. Null is ignored, and so is a second
    // registration of a component already among the others. Without memory to
    // append it, a component among the others stays unregistered.
    void Register(IComponent* component);

    // Release(1) on every registered component in the fixed order. The lists
    // are emptied first, so a second call releases nothing twice.
    void ReleaseAll();

private:
    std::array<IComponent*, kOrdinals> ordered_{};  // by ordinal; null where none
    std::vector<IComponent*> others_;
};

}  // namespace pexil

#endif
