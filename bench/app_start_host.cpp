// app_start_host: one start and stop of the application of the start figure,
// run in a fresh process, so that nothing is loaded when it begins.
//
//   app_start_host factory   in the generated host directory: the factory found
//                            through Pexil.ini, 400 components from 40 modules
//                            over three registries, then all released and every
//                            module unloaded by the factory's timer, pumped
//   app_start_host hand      the same modules loaded by hand (dlopen, dlsym,
//                            CreateComponent), released, dlclosed, and the
//                            same 100 ms wait once
//
// Writes "name nanoseconds" lines on standard output (app_start.h).
#include "app_start.h"

#include "platform/platform.h"
#include "support/base_directory.h"

#include <pexil/factory.h>
#include <pexil/holder.h>
#include <pexil/module.h>
#include <pexil/platform.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace pexil::bench {
namespace {

using Clock = std::chrono::steady_clock;

double NanosecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::nano>(to - from).count();
}

std::string ModulePath(int module) {
    char name[64];
    std::snprintf(name, sizeof(name), "/modules/AppModule%02d.dll", module);
    return std::string(RecomputedHostDirectory()) + name;
}

const char* RegistryOf(uint32_t index) {
    const uint32_t slot = index % 10;
    return slot < 4 ? nullptr : slot < 7 ? "plugins.ini" : "extras.ini";
}

int Fail(const char* what) {
    std::fprintf(stderr, "app_start_host: %s\n", what);
    return 1;
}

bool AllCreated(const std::vector<IComponent*>& components) {
    for (IComponent* component : components) {
        if (component == nullptr) return false;
    }
    return true;
}

void ReleaseAll(const std::vector<IComponent*>& components) {
    for (IComponent* component : components)
        component->Release(1);
}

void Print(const char* name, double nanoseconds) {
    std::printf("%s %.0f\n", name, nanoseconds);
}

int RunFactory() {
    std::vector<IComponent*> components(kAppComponents, nullptr);
    const Clock::time_point start = Clock::now();
    ReleasingFactoryHolder holder;
    auto* factory = static_cast<IComponentFactory*>(holder.component);
    if (factory == nullptr) return Fail("no factory");
    const Clock::time_point located = Clock::now();
    // A request for an ID no registry binds reads a registry and nothing more.
    for (const char* registry : {"plugins.ini", "extras.ini"}) {
        if (factory->CreateComponentByID(1, registry) != nullptr) return Fail("ID 1 exists");
    }
    const Clock::time_point registriesRead = Clock::now();
    for (uint32_t i = 0; i < kAppComponents; i += 10) {
        components[i] = factory->CreateComponentByID(kFirstAppID + i, RegistryOf(i));
    }
    const Clock::time_point modulesLoaded = Clock::now();
    for (uint32_t i = 0; i < kAppComponents; ++i) {
        if (i % 10 != 0)
            components[i] = factory->CreateComponentByID(kFirstAppID + i, RegistryOf(i));
    }
    const Clock::time_point created = Clock::now();
    if (!AllCreated(components)) return Fail("a component was not created");

    // Every module's last release schedules it; the one timer's pass frees
    // them all.
    const Clock::time_point stopping = Clock::now();
    ReleaseAll(components);
    while (PexilPumpMessages(1000) == 0) {
    }
    const Clock::time_point stopped = Clock::now();
    for (int m = 0; m < kAppModules; ++m) {
        if (platform::IsModuleLoaded(ModulePath(m).c_str())) return Fail("a module stayed loaded");
    }

    Print("factoryStart", NanosecondsBetween(start, created));
    Print("factoryLocate", NanosecondsBetween(start, located));
    Print("factoryRegistries", NanosecondsBetween(located, registriesRead));
    Print("factoryModules", NanosecondsBetween(registriesRead, modulesLoaded));
    Print("factoryCreating", NanosecondsBetween(modulesLoaded, created));
    Print("factoryTeardown", NanosecondsBetween(stopping, stopped));
    return 0;
}

// As a host ends, once its own holder is gone: the factory itself released,
// so that nothing is reported as leaked when Brelnor.dll is unloaded at exit.
void ShutDownFactory() {
    KeepingFactoryHolder factoryItself;
    if (factoryItself.component != nullptr) factoryItself.component->Release(1);
}

int RunHand() {
    std::vector<PexilModuleHandle> modules(kAppModules, nullptr);
    std::vector<IComponent*> components(kAppComponents, nullptr);
    const Clock::time_point start = Clock::now();
    for (int m = 0; m < kAppModules; ++m) {
        modules[m] = platform::LoadLibrary(ModulePath(m).c_str());
        auto create = reinterpret_cast<CreateComponentFunction>(
            platform::GetProcAddress(modules[m], "CreateComponent"));
        if (create == nullptr) return Fail("a module did not load");
        for (uint32_t k = 0; k < 10; ++k) {
            const uint32_t i = static_cast<uint32_t>(m) * 10 + k;
            components[i] = create(kFirstAppID + i, kCreatorDirect);
        }
    }
    const Clock::time_point created = Clock::now();
    if (!AllCreated(components)) return Fail("a component was not created");

    const Clock::time_point stopping = Clock::now();
    ReleaseAll(components);
    for (PexilModuleHandle module : modules)
        platform::FreeLibrary(module);
    platform::Sleep(100);
    const Clock::time_point stopped = Clock::now();

    Print("handStart", NanosecondsBetween(start, created));
    Print("handTeardown", NanosecondsBetween(stopping, stopped));
    return 0;
}

}  // namespace
}  // namespace pexil::bench

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "factory") {
        const int status = pexil::bench::RunFactory();
        pexil::bench::ShutDownFactory();
        return status;
    }
    if (mode == "hand") return pexil::bench::RunHand();
    return pexil::bench::Fail("usage: app_start_host factory|hand");
}
