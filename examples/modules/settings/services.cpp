// The application-wide services of Settings.dll. Each is a single instance:
// the first request creates it and registers it with the factory as a global
// component; every later request gets the same one.
#include "interfaces/service.h"
#include "support/module_announcement.h"

#include <pexil/component_base.h>
#include <pexil/module.h>

#include <cstdio>

namespace example {
namespace {

const char* ServiceName(uint32_t id) {
    switch (id) {
        case kApplicationID:
            return "Application";
        case kSessionID:
            return "Session";
        case kPreferencesID:
            return "Preferences";
    }
    return "?";
}

template <uint32_t ID>
class Service : public pexil::ComponentBase<IService, ID> {
public:
    const char* Name() override { return ServiceName(ID); }
    void Shutdown() override {
        std::printf("   [Settings.dll] released %u %s\n", ID, Name());
        NoteComponentReleased();
    }
};

}  // namespace

PEXIL_REGISTER_CREATOR(kApplicationID, pexil::SingleInstance<Service<kApplicationID>>::Create);
PEXIL_REGISTER_CREATOR(kSessionID, pexil::SingleInstance<Service<kSessionID>>::Create);
PEXIL_REGISTER_CREATOR(kPreferencesID, pexil::SingleInstance<Service<kPreferencesID>>::Create);

}  // namespace example
