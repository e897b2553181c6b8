// The configuration component (991) of Settings.dll: string values under named
// keys, kept in memory. Every module asks it for the configured root path
// (pexil::QueryRootPath), which it answers with the data directory beside the
// program.
#ifndef PEXIL_EXAMPLES_SETTINGS_CONFIGURATION_H
#define PEXIL_EXAMPLES_SETTINGS_CONFIGURATION_H

#include <pexil/component_base.h>
#include <pexil/configuration.h>

#include <map>
#include <string>
#include <vector>

namespace example {

class Configuration
    : public pexil::ComponentBase<pexil::IConfiguration, pexil::kConfigurationComponentID> {
public:
    Configuration();

    int CloseConfigKey(uint32_t key) override;
    int SetConfigValue(uint32_t key, const char* valueName, uint32_t type, const char* data,
                       uint32_t size) override;
    int DeleteConfigValue(uint32_t key, const char* valueName) override;
    int OpenConfigKey(uint32_t root, const char* name, uint32_t options, uint32_t access,
                      uint32_t* key) override;
    int CreateConfigKey(uint32_t root, const char* name, uint32_t* key) override;
    int FlushConfigKey(uint32_t key) override;
    int QueryConfigValue(uint32_t key, const char* valueName, uint32_t* type, char* buffer,
                         uint32_t* size) override;
    void Shutdown() override;

private:
    using Values = std::map<std::string, std::string>;
    // The values of the key a handle names; null for an unknown handle.
    Values* ValuesOf(uint32_t key);
    uint32_t HandleFor(const std::string& name);

    std::map<std::string, Values> keys_;
    std::vector<std::string> handles_;  // handle n names handles_[n - 1]
};

}  // namespace example

#endif
