// Greeter.dll: the greeter, component 7101. It logs its greetings through the
// factory's shared log file and reports the configured root path it sees.
#include "interfaces/greeter.h"
#include "support/component_log.h"
#include "support/module_announcement.h"

#include <pexil/component_base.h>
#include <pexil/holder.h>
#include <pexil/module.h>

#include <cstdio>

namespace example {
namespace {

const ModuleAnnouncement g_announcement("Greeter.dll");

class Greeter : public pexil::ComponentBase<IGreeter, kGreeterID> {
public:
    Greeter() {
        char registryPath[260] = "";
        GetRegistryPath(nullptr, registryPath, sizeof(registryPath));
        log_.Open(registryPath, kGreeterID, "Greeter");
        log_.Write(kLogTrace, "created");
    }

    int Greet(const char* name, char* buffer, int size) override {
        const int length = std::snprintf(buffer, static_cast<size_t>(size), "Hello, %s!", name);
        if (length < 0 || length >= size) return -1;
        log_.Write(kLogTrace, "greeted %s", name);
        return length;
    }

    const char* RootPath() override { return pexil::QueryRootPath(); }

    void Shutdown() override {
        log_.Write(kLogTrace, "released");
        NoteComponentReleased();
    }

private:
    ComponentLog log_;
};

}  // namespace

PEXIL_REGISTER_CREATOR(kGreeterID, pexil::NewComponent<Greeter>);

}  // namespace example
