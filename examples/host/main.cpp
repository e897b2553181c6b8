// The example host. It finds the factory through Pexil.ini, asks it for
// components from two registries, and shows the configured root path, the
// shared log file, idle modules being unloaded, the global components, the
// factory's shutdown and, at exit, the report on a component never released.
//
// The narration goes to standard output. The modules announce their own
// loading and unloading there too, and the framework's debug output goes to
// standard error.
#include "host/log_directory.h"
#include "host/narration.h"
#include "host/timer_pump.h"
#include "interfaces/clock.h"
#include "interfaces/greeter.h"
#include "interfaces/service.h"

#include <pexil/factory.h>
#include <pexil/holder.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace example {
namespace {

namespace fs = std::filesystem;

constexpr int kOldLogFiles = 7;
// The factory checks an idle module 100 ms after it was told; pumping longer
// than that shows the unloading.
constexpr unsigned int kPumpMs = 250;
constexpr const char* kPluginRegistry = "plugins.ini";

struct Demo {
    pexil::IComponentFactory* factory = nullptr;
    fs::path logDirectory;
    std::vector<std::string> oldLogFiles;
    IGreeter* greeter = nullptr;
    IClock* clock = nullptr;
};

bool Fail(const char* what) {
    std::printf("   FAILED: %s\n", what);
    return false;
}

void ShowLogSettings(pexil::IComponentFactory* factory, const char* registryPath, uint32_t id) {
    uint32_t debugMask = 0;
    uint32_t fileMask = 0;
    pexil::LogSink* sink = nullptr;
    factory->GetLogSettings(registryPath, id, &debugMask, &fileMask, &sink);
    std::printf("   its log masks in %s: debug output %s, log file %s\n",
                registryPath != nullptr ? registryPath : "the default registry",
                MaskLetters(debugMask).c_str(), MaskLetters(fileMask).c_str());
}

bool SeedLogDirectory(Demo& demo) {
    Step("Putting seven old log files into the factory's log directory");
    char root[260] = "";
    if (demo.factory->GetRootPath(root) == 0) return Fail("GetRootPath");
    demo.logDirectory = fs::path(root) / "PexilLog";
    demo.oldLogFiles = SeedOldLogFiles(demo.logDirectory, kOldLogFiles);
    std::printf("   %s (each an hour newer than the one before):\n",
                demo.logDirectory.string().c_str());
    SayEach(demo.oldLogFiles);
    return static_cast<int>(demo.oldLogFiles.size()) == kOldLogFiles ||
           Fail("could not make the old log files");
}

bool ShowRootPath() {
    Step("Asking for the configured root path: QueryRootPath() asks component 991");
    std::printf("   QueryRootPath() in the host: %s\n", pexil::QueryRootPath());
    return true;
}

bool CreateGreeter(Demo& demo) {
    Step("Creating a greeter (7101) from the default registry");
    demo.greeter = static_cast<IGreeter*>(demo.factory->CreateComponentByID(kGreeterID, nullptr));
    if (demo.greeter == nullptr) return Fail("no component 7101");
    char reply[64];
    if (demo.greeter->Greet("world", reply, sizeof(reply)) < 0) return Fail("Greet");
    std::printf("   component %u says \"%s\"\n", demo.greeter->GetComponentID(), reply);
    std::printf("   QueryRootPath() in Greeter.dll: %s\n", demo.greeter->RootPath());
    ShowLogSettings(demo.factory, nullptr, kGreeterID);
    return true;
}

bool CreateClock(Demo& demo) {
    Step("Creating a clock (7201) from plugins.ini, a registry of its own");
    demo.clock = static_cast<IClock*>(demo.factory->CreateComponentByID(kClockID, kPluginRegistry));
    if (demo.clock == nullptr) return Fail("no component 7201");
    char now[16];
    demo.clock->Now(now, sizeof(now));
    std::printf("   component %u says it is %s\n", demo.clock->GetComponentID(), now);
    ShowLogSettings(demo.factory, kPluginRegistry, kClockID);
    return true;
}

bool ShowSharedLogFile(const Demo& demo) {
    Step("Reading the log file the factory opened for both components");
    pexil::LogSink* greeterSink = nullptr;
    pexil::LogSink* clockSink = nullptr;
    demo.factory->GetLogSettings(nullptr, kGreeterID, nullptr, nullptr, &greeterSink);
    demo.factory->GetLogSettings(kPluginRegistry, kClockID, nullptr, nullptr, &clockSink);
    std::printf("   GetLogSettings hands 7101 and 7201 the same LogSink: %s\n",
                greeterSink != nullptr && greeterSink == clockSink ? "yes" : "no");
    std::vector<std::string> newFiles;
    for (const std::string& name : ListLogFiles(demo.logDirectory)) {
        if (std::find(demo.oldLogFiles.begin(), demo.oldLogFiles.end(), name) ==
            demo.oldLogFiles.end()) {
            newFiles.push_back(name);
        }
    }
    if (newFiles.size() != 1) return Fail("expected one new log file");
    std::printf("   PexilLog/%s holds:\n", newFiles[0].c_str());
    SayEach(ReadLines(demo.logDirectory / newFiles[0]));
    return true;
}

bool ReleaseAndUnload(Demo& demo) {
    Step("Releasing the greeter and the clock, then pumping timers");
    // Components are force-only by default: Release(0) would be ignored.
    demo.greeter->Release(1);
    demo.clock->Release(1);
    demo.greeter = nullptr;
    demo.clock = nullptr;
    std::printf("   Greeter.dll and Clock.dll have no live component left; pumping for %u ms\n",
                kPumpMs);
    return PumpTimers(kPumpMs) > 0 || Fail("no timer ran");
}

bool ReleaseGlobals(const Demo& demo) {
    Step("Global components: the single-instance services of Settings.dll");
    const uint32_t ids[] = {kApplicationID, kPreferencesID, kSessionID};
    for (uint32_t id : ids) {
        auto* service = static_cast<IService*>(demo.factory->CreateComponentByID(id, nullptr));
        if (service == nullptr) return Fail("a service is missing");
        std::printf("   created %u %s\n", id, service->Name());
    }
    pexil::IComponent* first = demo.factory->CreateComponentByID(kPreferencesID, nullptr);
    pexil::IComponent* again = demo.factory->CreateComponentByID(kPreferencesID, nullptr);
    std::printf("   asking for 7001 twice more gives the same instance: %s\n",
                first != nullptr && first == again ? "yes" : "no");
    std::printf("   created, and so registered, in the order 991 (step 3), 3, 7001, 1185\n");
    std::printf("   ReleaseGlobalComponents() releases them:\n");
    demo.factory->ReleaseGlobalComponents();
    std::printf("   Settings.dll has no live component left; pumping for %u ms\n", kPumpMs);
    return PumpTimers(kPumpMs) > 0 || Fail("no timer ran");
}

bool ForgetGreeter(const Demo& demo) {
    Step("Creating another greeter and never releasing it");
    pexil::IComponent* forgotten = demo.factory->CreateComponentByID(kGreeterID, nullptr);
    if (forgotten == nullptr) return Fail("no component 7101");
    std::printf("   component %u at %p stays alive on purpose\n", forgotten->GetComponentID(),
                static_cast<void*>(forgotten));
    return true;
}

bool RunSteps(Demo& demo) {
    return SeedLogDirectory(demo) && ShowRootPath() && CreateGreeter(demo) && CreateClock(demo) &&
           ShowSharedLogFile(demo) && ReleaseAndUnload(demo) && ReleaseGlobals(demo) &&
           ForgetGreeter(demo);
}

void ShutDownFactory(const Demo& demo) {
    Step("Shutting the factory down: a forced release of component 361");
    const size_t before = ListLogFiles(demo.logDirectory).size();
    {
        // The keeping holder's component is the factory itself.
        pexil::KeepingFactoryHolder holder;
        if (holder.component == nullptr) {
            Fail("no factory");
            return;
        }
        holder.component->Release(1);
    }
    const std::vector<std::string> left = ListLogFiles(demo.logDirectory);
    std::printf("   Release(1) done; PexilLog held %d log files, now it holds %d:\n",
                static_cast<int>(before), static_cast<int>(left.size()));
    SayEach(left);
}

}  // namespace
}  // namespace example

int main() {
    using namespace example;
    BeginNarration();
    std::printf("Pexil example: a host, three component modules and the factory.\n");
    std::printf(
        "(Indented lines are standard output; lines at the left margin are debug\n"
        "output on standard error.)\n");

    Demo demo;
    bool ok = false;
    {
        Step("Finding the factory through Pexil.ini (its [Redirect] leads to system/Pexil.ini)");
        pexil::ReleasingFactoryHolder holder;
        if (holder.component == nullptr) {
            Fail("no factory: is Brelnor.dll beside the host, where system/Pexil.ini says?");
            return 1;
        }
        demo.factory = static_cast<pexil::IComponentFactory*>(holder.component);
        char root[260] = "";
        demo.factory->GetRootPath(root);
        std::printf("   found component %u (version %d); its root path (for log files) is %s\n",
                    holder.component->GetComponentID(), holder.component->GetVersion(), root);
        ok = RunSteps(demo);
        // The holder's Release(0) at the end of this block leaves the factory alive.
    }
    ShutDownFactory(demo);

    Step("Leaving main: modules still loaded report the components never released");
    return ok ? 0 : 1;
}
