#include "factory/global_components.h"

#include <algorithm>
#include <iterator>
#include <new>

namespace pexil {
namespace {

// The ordinal table: an ID's ordinal is its index. Released last to first:
// 1185 first, 3 last.
constexpr uint32_t kOrderedIDs[GlobalComponents::kOrdinals] = {
    3,   260, 377, 771, 336, 344, 1032, 975, 1033, 985, 331, 1029, 1030,
    213, 335, 871, 407, 212, 408, 283,  343, 284,  945, 399, 991,  1185};

// The ordinal of an ID, or -1 when the table does not hold it.
int OrdinalOf(uint32_t componentID) {
    const auto* const end = std::end(kOrderedIDs);
    const auto* const found = std::find(std::begin(kOrderedIDs), end, componentID);
    return found != end ? static_cast<int>(found - std::begin(kOrderedIDs)) : -1;
}

}  // namespace

void GlobalComponents::Register(IComponent* component) {
    if (component == nullptr) return;
    const int ordinal = OrdinalOf(component->GetComponentID());
    MutexLock guard(lock_);
    if (ordinal >= 0) {
        ordered_[ordinal] = component;
    } else if (std::find(others_.begin(), others_.end(), component) == others_.end()) {
        // Registered twice it would be released twice, the second time after it
        // was deleted.
        try {
            others_.push_back(component);
        } catch (const std::bad_alloc&) {
            // No exception leaves the factory's interface.
        }
    }
}

void GlobalComponents::ReleaseAll() {
    std::vector<IComponent*> others;
    std::array<IComponent*, kOrdinals> ordered;
    {
        // Taken out whole, then released without the lock.
        MutexLock guard(lock_);
        others.swap(others_);
        ordered = ordered_;
        ordered_.fill(nullptr);
    }
    for (IComponent* component : others)
        component->Release(1);
    for (int ordinal = kOrdinals - 1; ordinal >= 0; --ordinal) {
        if (ordered[ordinal] != nullptr) ordered[ordinal]->Release(1);
    }
}

}  // namespace pexil
