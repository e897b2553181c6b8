// TestConfig.dll: a configuration component 991 whose answers come from
// "TestConfig.ini" beside the host ([config] open, query, root), and which
// reports each call with its arguments on the debug output.
#include "platform/platform.h"
#include "support/base_directory.h"
#include "support/debug_print.h"

#include <pexil/component_base.h>
#include <pexil/configuration.h>
#include <pexil/module.h>

#include <cstring>
#include <string>

namespace pexil::testing {
namespace {

constexpr uint32_t kKey = 7;

std::string Setting(const char* key, const char* defaultValue) {
    const std::string file =
        std::string(RecomputedHostDirectory()) + Separator(PathStyle::Native) + "TestConfig.ini";
    char value[kMaxPath];
    platform::GetPrivateProfileString("config", key, defaultValue, value, kMaxPath, file.c_str());
    return value;
}

class TestConfiguration : public ComponentBase<IConfiguration, kConfigurationComponentID> {
public:
    TestConfiguration() { forceOnly_ = 0; }
    int CloseConfigKey(uint32_t) override { return 1; }
    int SetConfigValue(uint32_t, const char*, uint32_t, const char*, uint32_t) override {
        return 0;
    }
    int DeleteConfigValue(uint32_t, const char*) override { return 0; }
    int OpenConfigKey(uint32_t root, const char* name, uint32_t options, uint32_t access,
                      uint32_t* key) override {
        DebugPrintf(DebugChannel::ModuleEntry,
                    "[TestConfig] OpenConfigKey(0x%08x, \"%s\", %u, 0x%08x)\n", root, name, options,
                    access);
        if (Setting("open", "1") != "1") return 0;
        *key = kKey;
        return 1;
    }
    int CreateConfigKey(uint32_t, const char*, uint32_t*) override { return 0; }
    int FlushConfigKey(uint32_t) override { return 1; }
    int QueryConfigValue(uint32_t key, const char* valueName, uint32_t* type, char* buffer,
                         uint32_t* size) override {
        DebugPrintf(DebugChannel::ModuleEntry,
                    "[TestConfig] QueryConfigValue(%u, \"%s\", type %u, size %u)\n", key, valueName,
                    *type, *size);
        if (Setting("query", "1") != "1") return 0;
        const std::string root = Setting("root", "");
        std::memcpy(buffer, root.c_str(), root.size() + 1);
        return 1;
    }
    void Shutdown() override { DebugPrintf(DebugChannel::ModuleEntry, "[TestConfig] released\n"); }
};

}  // namespace

PEXIL_REGISTER_CREATOR(kConfigurationComponentID, NewComponent<TestConfiguration>);

}  // namespace pexil::testing
