// Clock.dll: the clock, component 7201. It is listed in plugins.ini, so its
// log masks come from that registry, not from the default one.
#include "interfaces/clock.h"
#include "support/component_log.h"
#include "support/module_announcement.h"

#include <pexil/component_base.h>
#include <pexil/module.h>

#include <ctime>

namespace example {
namespace {

const ModuleAnnouncement g_announcement("Clock.dll");

class Clock : public pexil::ComponentBase<IClock, kClockID> {
public:
    Clock() {
        char registryPath[260] = "";
        GetRegistryPath(nullptr, registryPath, sizeof(registryPath));
        log_.Open(registryPath, kClockID, "Clock");
        log_.Write(kLogTrace, "created from %s", registryPath);
    }

    void Now(char* buffer, int size) override {
        const std::time_t now = std::time(nullptr);
        if (size <= 0) return;
        buffer[0] = '\0';
        if (const std::tm* local = std::localtime(&now)) {
            std::strftime(buffer, static_cast<size_t>(size), "%H:%M:%S", local);
        }
        log_.Write(kLogTrace, "it is %s", buffer);
    }

    void Shutdown() override {
        log_.Write(kLogTrace, "released");
        NoteComponentReleased();
    }

private:
    ComponentLog log_;
};

}  // namespace

PEXIL_REGISTER_CREATOR(kClockID, pexil::NewComponent<Clock>);

}  // namespace example
