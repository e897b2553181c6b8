// A host: finds the factory, uses the components of Tally.dll, pumps messages
// so that the factory can unload the idle module, and shuts the factory down.
#include "tally.h"

#include <pexil/component_ptr.h>
#include <pexil/factory.h>
#include <pexil/holder.h>
#include <pexil/platform.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Standard output is flushed at every line: on Windows each module has a C
// runtime of its own, and the module's lines must not overtake the host's.
void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Runs this thread's timers until one has run (at most about five seconds).
int PumpUntilATimerRan() {
    int ran = 0;
    for (int round = 0; round < 50 && ran == 0; ++round)
        ran = PexilPumpMessages(100);
    return ran;
}

bool UseComponents(std::string* logDirectory) {
    // Finds Brelnor.dll through Pexil.ini beside this program.
    pexil::ReleasingFactoryHolder holder;
    if (holder.component == nullptr) {
        Say("no factory: is Brelnor.dll where Pexil.ini says?");
        return false;
    }
    auto* factory = static_cast<pexil::IComponentFactory*>(holder.component);
    Say("found the factory, component " + std::to_string(holder.component->GetComponentID()));
    char root[260] = "";
    factory->GetRootPath(root);
    *logDirectory = (std::filesystem::path(root) / "PexilLog").string();

    // From the default registry (Pexil.ini; or name a registry file). Each
    // pointer owns its counter and releases it (Release(1)) when it is reset
    // or ends; Create says on the debug output why a pointer stays empty.
    pexil::ComponentPtr<tally::ICounter> first =
        pexil::Create<tally::ICounter>(factory, tally::kCounterID);
    pexil::ComponentPtr<tally::ICounter> second =
        pexil::Create<tally::ICounter>(factory, tally::kCounterID);
    if (!first || !second) {
        Say("no counter: is Tally.dll where Pexil.ini says?");
        return false;
    }
    const int a = first->Next();
    const int b = first->Next();
    Say("first counter: " + std::to_string(a) + ", " + std::to_string(b));
    Say("second counter: " + std::to_string(second->Next()));

    // A single instance belongs to the factory's global list, which releases
    // it: it is not given to a ComponentPtr.
    auto* total =
        static_cast<tally::ITotal*>(factory->CreateComponentByID(tally::kTotalID, nullptr));
    auto* same = factory->CreateComponentByID(tally::kTotalID, nullptr);
    if (total == nullptr) return false;
    total->Add(2);
    total->Add(3);
    Say("total: " + std::to_string(total->Value()) +
        (same == total ? ", one instance" : ", two instances"));

    first.reset();
    second.reset();
    factory->ReleaseGlobalComponents();
    Say("released the counters and the global components");

    // Tally.dll has no live component left; the factory checks it 100 ms later
    // from a timer of this thread, which runs while messages are pumped.
    const int ran = PumpUntilATimerRan();
    Say(ran > 0 ? "pumped messages: the factory's unload check ran" : "no timer ran");
    return ran > 0;
    // The holder's Release(0) leaves the factory alive.
}

void ShutDownFactory() {
    // A forced release of the factory: it closes its log file and prunes the
    // log directory. The keeping holder's component is the factory itself.
    pexil::KeepingFactoryHolder holder;
    if (holder.component != nullptr) holder.component->Release(1);
    Say("shut the factory down");
}

void ShowLogFiles(const std::string& directory) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        if (entry.path().extension() != ".log") continue;
        Say("the log file holds:");
        std::ifstream in(entry.path());
        for (std::string line; std::getline(in, line);)
            Say("  " + line);
    }
}

}  // namespace

int main() {
    std::string logDirectory;
    const bool ok = UseComponents(&logDirectory);
    ShutDownFactory();
    if (ok) ShowLogFiles(logDirectory);
    return ok ? 0 : 1;
}
