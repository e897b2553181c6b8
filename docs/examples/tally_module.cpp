// Tally.dll: counters (5101), a new one for every request, and the one total
// (5102) of the process. Counters write to the factory's shared log file when
// the registry's masks say so.
#include "tally.h"

#include <pexil/component_base.h>
#include <pexil/factory.h>
#include <pexil/holder.h>
#include <pexil/module.h>
#include <pexil/platform.h>

#include <cstdarg>
#include <cstdio>

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
        Log(kLogTrace, "next %d", count_);
        return count_;
    }

    // Called once, by Release(1), before the counter is deleted.
    void Shutdown() override { Log(kLogTrace, "released after %d", count_); }

private:
    // Called from interface slots, so it allocates nothing and cannot throw:
    // no exception may leave a slot into the caller's module.
    void Log(uint32_t level, const char* format, ...) const {
        char line[256] = "[Counter] ";
        va_list args;
        va_start(args, format);
        const int length = std::vsnprintf(line + 10, sizeof(line) - 11, format, args);
        va_end(args);
        size_t end = 10 + static_cast<size_t>(length < 0 ? 0 : length);
        if (end > sizeof(line) - 2) end = sizeof(line) - 2;
        line[end] = '\n';
        line[end + 1] = '\0';
        if ((fileMask_ & level) != 0 && sink_ != nullptr) {
            // Holds the factory's log lock while it writes.
            PexilLogWrite(sink_->lock, sink_->file, line, static_cast<unsigned int>(end + 1));
        }
        if ((debugMask_ & level) != 0) std::fputs(line, stderr);
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
