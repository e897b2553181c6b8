// Tally.dll: counters (5101), a new one for every request, and the one total
// (5102) of the process. Counters write to the factory's shared log file when
// the registry's masks say so.
#include "tally.h"

#include <pexil/component_base.h>
#include <pexil/factory.h>
#include <pexil/holder.h>
#include <pexil/module.h>
#include <pexil/platform.h>

#include <cstdio>
#include <string>

namespace tally {
namespace {

// The trace level: mask letter T (E is 0x01, V 0x04, D 0x08, W 0x10, C 0x20).
constexpr uint32_t kLogTrace = 0x02;

// Says when the module is loaded and unloaded (its static initialisation and
// destruction).
struct Announcement {
    Announcement() { Say("[Tally.dll] loaded\n"); }
    ~Announcement() { Say("[Tally.dll] unloaded\n"); }
    static void Say(const char* text) {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
};
const Announcement g_announcement;

class Counter : public pexil::ComponentBase<ICounter, kCounterID> {
public:
    Counter() {
        // The registry this counter was created from ("" for the default one)
        // holds its log masks.
        char registryPath[260] = "";
        GetRegistryPath(nullptr, registryPath, sizeof(registryPath));
        pexil::ReleasingFactoryHolder holder;
        if (holder.component != nullptr) {
            static_cast<pexil::IComponentFactory*>(holder.component)
                ->GetLogSettings(registryPath, kCounterID, &debugMask_, &fileMask_, &sink_);
        }
        Log(kLogTrace, "created");
    }

    int Next() override {
        ++count_;
        Log(kLogTrace, "next " + std::to_string(count_));
        return count_;
    }

    // Called once, by Release(1), before the counter is deleted.
    void Shutdown() override { Log(kLogTrace, "released after " + std::to_string(count_)); }

private:
    void Log(uint32_t level, const std::string& text) const {
        const std::string line = "[Counter] " + text + "\n";
        if ((fileMask_ & level) != 0 && sink_ != nullptr) {
            // Holds the factory's log lock while it writes.
            PexilLogWrite(sink_->lock, sink_->file, line.c_str(),
                          static_cast<unsigned int>(line.size()));
        }
        if ((debugMask_ & level) != 0) std::fputs(line.c_str(), stderr);
    }

    int count_ = 0;
    uint32_t debugMask_ = 0;
    uint32_t fileMask_ = 0;
    pexil::LogSink* sink_ = nullptr;  // the factory's; null while the file mask is 0
};

class Total : public pexil::ComponentBase<ITotal, kTotalID> {
public:
    int Add(int amount) override { return value_ += amount; }
    int Value() override { return value_; }
    void Shutdown() override {}

private:
    int value_ = 0;
};

}  // namespace

PEXIL_REGISTER_CREATOR(kCounterID, pexil::NewComponent<Counter>);
// One instance, registered with the factory as a global component.
PEXIL_REGISTER_CREATOR(kTotalID, pexil::SingleInstance<Total>::Create);

}  // namespace tally
