// The application-wide services of Settings.dll: one instance each per
// process, registered with the factory as global components and released
// together by ReleaseGlobalComponents.
#ifndef PEXIL_EXAMPLES_INTERFACES_SERVICE_H
#define PEXIL_EXAMPLES_INTERFACES_SERVICE_H

#include <pexil/component.h>

namespace example {

// 3 and 1185 are in the factory's table of ordered global components; 7001 is
// not, so it is released before them.
constexpr uint32_t kApplicationID = 3;
constexpr uint32_t kSessionID = 1185;
constexpr uint32_t kPreferencesID = 7001;

class IService : public pexil::IComponent {
public:
    virtual const char* Name() = 0;  // slot 5

protected:
    ~IService() = default;
};

}  // namespace example

#endif
