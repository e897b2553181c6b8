// The configuration component (component 991), asked by every module for the
// configured root path: the directory against which a component registry
// resolves the relative paths in its file. No module of the framework provides
// it; a system without it works on the host directory.
//
// The framework calls only OpenConfigKey (slot 8) and QueryConfigValue (slot
// 11), with these arguments:
//   OpenConfigKey(0x3ffffff4, "pexil_rootpath", 1, 0x3ffffff4, &key)
//   QueryConfigValue(key, "pexil_rootpath_data", &type /* 1 */, buffer, &size /* 260 */)
// Each returns non-zero on success; QueryConfigValue then has written a
// terminated string of at most 260 bytes. The other slots are the
// implementation's own.
#ifndef PEXIL_CONFIGURATION_H
#define PEXIL_CONFIGURATION_H

#include <pexil/component.h>

namespace pexil {

constexpr uint32_t kConfigRoot = 0x3ffffff4;
constexpr uint32_t kConfigTypeString = 1;

class IConfiguration : public IComponent {
public:
    virtual int CloseConfigKey(uint32_t key) = 0;  // slot 5
    virtual int SetConfigValue(uint32_t key, const char* valueName, uint32_t type, const char* data,
                               uint32_t size) = 0;                           // slot 6
    virtual int DeleteConfigValue(uint32_t key, const char* valueName) = 0;  // slot 7
    virtual int OpenConfigKey(uint32_t root, const char* name, uint32_t options, uint32_t access,
                              uint32_t* key) = 0;                                     // slot 8
    virtual int CreateConfigKey(uint32_t root, const char* name, uint32_t* key) = 0;  // slot 9
    virtual int FlushConfigKey(uint32_t key) = 0;                                     // slot 10
    virtual int QueryConfigValue(uint32_t key, const char* valueName, uint32_t* type, char* buffer,
                                 uint32_t* size) = 0;  // slot 11

protected:
    ~IConfiguration() = default;
};

}  // namespace pexil

#endif
