#include "settings/configuration.h"

#include "support/module_announcement.h"

#include <pexil/factory.h>
#include <pexil/holder.h>
#include <pexil/module.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace example {
namespace {

// No exception may leave an interface slot: it would unwind into the caller's
// module, past code that expects none. A slot that allocates (every std::map
// and std::string operation may) answers 0, "failed", when memory runs out.
template <typename Body>
int Guarded(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return 0;
    }
}

}  // namespace

Configuration::Configuration() {
    // The example keeps its data in data/ under the factory's root path, which
    // is the host directory unless the host moved it.
    char root[260] = "";
    pexil::ReleasingFactoryHolder holder;
    if (holder.component != nullptr &&
        static_cast<pexil::IComponentFactory*>(holder.component)->GetRootPath(root) != 0 &&
        root[0] != '\0') {
        keys_["pexil_rootpath"]["pexil_rootpath_data"] = std::string(root) + "/data";
    }
}

Configuration::Values* Configuration::ValuesOf(uint32_t key) {
    if (key == 0 || key > handles_.size()) return nullptr;
    auto it = keys_.find(handles_[key - 1]);
    return it != keys_.end() ? &it->second : nullptr;
}

uint32_t Configuration::HandleFor(const std::string& name) {
    for (size_t i = 0; i < handles_.size(); ++i) {
        if (handles_[i] == name) return static_cast<uint32_t>(i + 1);
    }
    handles_.push_back(name);
    return static_cast<uint32_t>(handles_.size());
}

// Handles stay valid while the component lives: there is nothing to close.
int Configuration::CloseConfigKey(uint32_t key) {
    return ValuesOf(key) != nullptr ? 1 : 0;
}

int Configuration::SetConfigValue(uint32_t key, const char* valueName, uint32_t type,
                                  const char* data, uint32_t size) {
    return Guarded([&] {
        Values* values = ValuesOf(key);
        if (values == nullptr || valueName == nullptr || data == nullptr) return 0;
        if (type != pexil::kConfigTypeString) return 0;  // strings only
        (*values)[valueName] = std::string(data, std::find(data, data + size, '\0'));
        return 1;
    });
}

int Configuration::DeleteConfigValue(uint32_t key, const char* valueName) {
    return Guarded([&] {
        Values* values = ValuesOf(key);
        return values != nullptr && valueName != nullptr && values->erase(valueName) != 0 ? 1 : 0;
    });
}

int Configuration::OpenConfigKey(uint32_t root, const char* name, uint32_t, uint32_t,
                                 uint32_t* key) {
    return Guarded([&] {
        if (root != pexil::kConfigRoot || name == nullptr || key == nullptr) return 0;
        if (keys_.count(name) == 0) return 0;
        *key = HandleFor(name);
        return 1;
    });
}

int Configuration::CreateConfigKey(uint32_t root, const char* name, uint32_t* key) {
    return Guarded([&] {
        if (root != pexil::kConfigRoot || name == nullptr || key == nullptr) return 0;
        keys_[name];
        *key = HandleFor(name);
        return 1;
    });
}

// Kept in memory only: nothing to write back.
int Configuration::FlushConfigKey(uint32_t key) {
    return ValuesOf(key) != nullptr ? 1 : 0;
}

int Configuration::QueryConfigValue(uint32_t key, const char* valueName, uint32_t* type,
                                    char* buffer, uint32_t* size) {
    return Guarded([&] {
        Values* values = ValuesOf(key);
        if (values == nullptr || valueName == nullptr || size == nullptr) return 0;
        auto it = values->find(valueName);
        if (it == values->end()) return 0;
        const std::string& data = it->second;
        // Too small a buffer is told the size it needs.
        if (buffer == nullptr || data.size() + 1 > *size) {
            *size = static_cast<uint32_t>(data.size() + 1);
            return 0;
        }
        std::memcpy(buffer, data.c_str(), data.size() + 1);
        *size = static_cast<uint32_t>(data.size() + 1);
        if (type != nullptr) *type = pexil::kConfigTypeString;
        // Said aloud, so that the narration shows each module asking.
        std::printf("   [Settings.dll] 991 answers %s = %s\n", valueName, data.c_str());
        return 1;
    });
}

void Configuration::Shutdown() {
    std::printf("   [Settings.dll] released %u Configuration\n", GetComponentID());
    NoteComponentReleased();
}

// One configuration per process.
PEXIL_REGISTER_CREATOR(pexil::kConfigurationComponentID,
                       pexil::SingleInstance<Configuration>::Create);

}  // namespace example
