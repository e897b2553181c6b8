#include "factory/global_components.h"

#include <algorithm>

namespace pexil {
namespace {

// Released last to first: 1185 first, 3 last.
constexpr uint32_t kOrderedIDs[] = {3,   260, 377,  771,  336, 344, 1032, 975, 1033,
                                    985, 331, 1029, 1030, 213, 335, 871,  407, 212,
                                    408, 283, 343,  284,  945, 399, 991,  1185};

}  // namespace

GlobalComponents::GlobalComponents() {
    for (uint32_t id : kOrderedIDs) {
        const int ordinal = static_cast<int>(ordinals_.size());
        ordinals_.emplace(id, ordinal);
    }
}

int GlobalComponents::OrdinalOf(uint32_t componentID) const {
    auto it = ordinals_.find(componentID);
    return it != ordinals_.end() ? it->second : -1;
}

void GlobalComponents::Register(IComponent* component) {
    if (component == nullptr) return;
    const int ordinal = OrdinalOf(component->GetComponentID());
    if (ordinal >= 0) {
        ordered_[ordinal] = component;
    } else if (std::find(others_.begin(), others_.end(), component) == others_.end()) {
        // Registered twice it would be released twice, the second time after it
        // was deleted.
        others_.push_back(component);
    }
}

void GlobalComponents::ReleaseAll() {
    std::vector<IComponent*> others;
    others.swap(others_);
    std::map<int, IComponent*> ordered;
    ordered.swap(ordered_);
    for (IComponent* component : others)
        component->Release(1);
    for (auto it = ordered.rbegin(); it != ordered.rend(); ++it)
        it->second->Release(1);
}

}  // namespace pexil
