// The global components: single-instance components registered with the
// factory at their creation and released together, forced, in a fixed order:
// first those whose IDs the ordinal table does not hold, in registration
// order; then the others from the highest ordinal down to ordinal 0.
#ifndef PEXIL_FACTORY_GLOBAL_COMPONENTS_H
#define PEXIL_FACTORY_GLOBAL_COMPONENTS_H

#include "platform/mutex.h"

#include <pexil/component.h>

#include <array>
#include <vector>

namespace pexil {

// Registration comes from whichever thread makes a single instance (a module's
// exports may be called from any thread), so the lists have a lock of their
// own: a leaf, never held while a component is called.
class GlobalComponents {
public:
    // The number of IDs the ordinal table holds.
    static constexpr int kOrdinals = 26;

    // Stores the component under its ID's ordinal (replacing an earlier one
    // there), or appends it to the others. Null is ignored, and so is a second
    // registration of a component already among the others. Without memory to
    // append it, a component among the others stays unregistered.
    void Register(IComponent* component) PEXIL_EXCLUDES(lock_);

    // Release(1) on every registered component in the fixed order. The lists
    // are emptied first, so a second call releases nothing twice.
    void ReleaseAll() PEXIL_EXCLUDES(lock_);

private:
    Mutex lock_;
    // By ordinal; null where none.
    std::array<IComponent*, kOrdinals> ordered_ PEXIL_GUARDED_BY(lock_) = {};
    std::vector<IComponent*> others_ PEXIL_GUARDED_BY(lock_);
};

}  // namespace pexil

#endif
