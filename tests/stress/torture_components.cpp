// TortureAlpha.dll and TortureBeta.dll: the components of the torture test
// (torture_test.cpp). Their IDs are the module's base (PEXIL_TORTURE_BASE)
// plus the kinds of torture_interfaces.h.
//
// Constructors, Shutdown and destructors call back into their own module
// (create and release, a component left to PexilDllFreeMap, the single
// instance, PexilDllFreeMap itself) and, only on the thread that holds the
// factory role, into the factory (create and release, the single instance
// through the factory, holders, log settings and a log line). What each
// callback does is drawn from the calling thread's generator, so that a seed
// replays it.
#include "stress/torture_interfaces.h"

#include <pexil/component_base.h>
#include <pexil/holder.h>
#include <pexil/module.h>
#include <pexil/platform.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace pexil::testing::torture {
namespace {

constexpr uint32_t kBase = PEXIL_TORTURE_BASE;
// Alpha's components may create Beta's through the factory, never the other
// way round: a callback that runs under its module's lock (in PexilDllFreeMap)
// then takes the other module's lock in one order only.
constexpr uint32_t kOtherBase = kBase == kAlphaBase ? kBetaBase : kBase;

std::atomic<ThreadScript* (*)()> g_scriptSource{nullptr};
std::atomic<uint64_t> g_counts[kKindCount][2];

void Count(int kind, int which) {
    g_counts[kind][which].fetch_add(1, std::memory_order_relaxed);
}

ThreadScript* Script() {
    ThreadScript* (*source)() = g_scriptSource.load(std::memory_order_acquire);
    return source != nullptr ? source() : nullptr;
}

IComponent* Own(uint32_t kind) {
    return ::CreateComponent(kBase + kind, kCreatorDirect);
}

enum class Where { Constructor, Shutdown, Destructor };

// One callback: at most two nested on a thread. ownFlag is the calling
// component's free-map flag; keep, when given, receives a component the
// caller releases in its destructor.
void CallBack(Where where, int ownFlag, IComponent** keep) {
    ThreadScript* script = Script();
    if (script == nullptr || script->quiet != 0 || script->depth >= 2) return;
    ++script->depth;
    IComponentFactory* const factory = script->factory;
    // Nothing that outlives the callback in a sparse module.
    const bool sparse = script->sparseBase == kBase;
    bool acted = true;
    switch (script->choices.Next(24)) {
        case 0:
        case 1: {
            IComponent* made = Own(kPlain);
            if (made == nullptr) break;
            if (keep != nullptr && *keep == nullptr) {
                *keep = made;  // a nested release, in the destructor
            } else {
                made->Release(0);
            }
            break;
        }
        case 2:
            if (sparse) {
                acted = false;
            } else {
                Own(kSingle);  // handed out, never released by its asker
            }
            break;
        case 3:
            if (sparse) {
                acted = false;
            } else {
                // Left to PexilDllFreeMap: nobody holds it.
                script->flagNext = 1;
                Own(kPlain);
                script->flagNext = 0;
            }
            break;
        case 4:
            // Not from a component PexilDllFreeMap itself may release: its
            // Release would be entered again from its own Shutdown.
            if (ownFlag == 0) {
                ::PexilDllFreeMap();
            } else {
                acted = false;
            }
            break;
        case 5: {
            const int saved = script->chainRemaining;
            script->chainRemaining = 3;
            IComponent* chain = Own(kChain);
            script->chainRemaining = saved;
            if (chain != nullptr) chain->Release(0);
            break;
        }
        case 6:
            if (where == Where::Destructor && script->sleeps != 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } else {
                acted = false;
            }
            break;
        case 7:
        case 8: {
            const uint32_t id = kOtherBase + kKinds[script->choices.Next(kKindCount)];
            if (factory == nullptr ||
                (id == kOtherBase + kSingle && script->sparseBase == kOtherBase)) {
                acted = false;
            } else if (IComponent* made = factory->CreateComponentByID(id, script->registry)) {
                if (id != kOtherBase + kSingle) made->Release(0);
            }
            break;
        }
        case 9:
            if (factory == nullptr || sparse) {
                acted = false;
            } else {
                factory->CreateComponentByID(kBase + kSingle, script->registry);
            }
            break;
        case 10:
            if (factory == nullptr) {
                acted = false;
            } else {
                KeepingFactoryHolder keeping;
                ReleasingFactoryHolder releasing;
            }
            break;
        case 11:
            if (factory == nullptr) {
                acted = false;
            } else {
                uint32_t debugMask = 0;
                uint32_t fileMask = 0;
                LogSink* sink = nullptr;
                factory->GetLogSettings(script->registry, kBase + kPlain, &debugMask, &fileMask,
                                        &sink);
                if (sink != nullptr && sink->file != kNoLogFile) {
                    char line[64];
                    const int length = std::snprintf(line, sizeof(line), "callback in %u\n", kBase);
                    PexilLogWrite(sink->lock, sink->file, line, static_cast<unsigned>(length));
                }
            }
            break;
        default:
            acted = false;
            break;
    }
    if (acted) ++script->callbacks;
    --script->depth;
}

// Takes the free-map flag the creator asked for (before the component is
// recorded, so no other thread reads it while it is written).
int TakeFlag() {
    ThreadScript* script = Script();
    if (script == nullptr || script->flagNext == 0) return 0;
    script->flagNext = 0;
    return 1;
}

class Plain : public ComponentBase<IComponent, kBase + kPlain> {
public:
    Plain() {
        forceOnly_ = 0;
        freeMapFlag_ = TakeFlag();
        Count(0, 0);
        CallBack(Where::Constructor, freeMapFlag_, &child_);
    }
    ~Plain() override {
        CallBack(Where::Destructor, freeMapFlag_, nullptr);
        if (child_ != nullptr) child_->Release(0);
        Count(0, 1);
    }
    void Shutdown() override { CallBack(Where::Shutdown, freeMapFlag_, nullptr); }

private:
    IComponent* child_ = nullptr;
};

// A chain of links, each made by the one before it; released link by link,
// each release nested in the destructor of the link before.
class Chain : public ComponentBase<IComponent, kBase + kChain> {
public:
    Chain() {
        forceOnly_ = 0;
        Count(1, 0);
        ThreadScript* script = Script();
        if (script != nullptr && script->chainRemaining > 0) {
            --script->chainRemaining;
            next_ = Own(kChain);
        }
    }
    ~Chain() override {
        if (next_ != nullptr) next_->Release(0);
        Count(1, 1);
    }
    void Shutdown() override {}

private:
    IComponent* next_ = nullptr;
};

// The single instance: released only by the factory's ReleaseGlobalComponents
// (or discarded when another thread published one first).
class Single : public ComponentBase<IComponent, kBase + kSingle> {
public:
    Single() {
        Count(2, 0);
        CallBack(Where::Constructor, 0, &child_);
    }
    ~Single() override {
        CallBack(Where::Destructor, 0, nullptr);
        if (child_ != nullptr) child_->Release(0);
        Count(2, 1);
    }
    void Shutdown() override { CallBack(Where::Shutdown, 0, nullptr); }

private:
    IComponent* child_ = nullptr;
};

// Allocated by the aligned operator new; must be freed by the aligned delete.
class Aligned : public ComponentBase<IComponent, kBase + kAligned> {
public:
    Aligned() {
        forceOnly_ = 0;
        Count(3, 0);
        line_[0] = static_cast<char>(kBase);
    }
    ~Aligned() override { Count(3, 1); }
    void Shutdown() override {}

private:
    alignas(64) char line_[64];
};
static_assert(alignof(Aligned) == 64, "an over-aligned component");

class Control final : public ITortureControl {
public:
    uint32_t GetComponentID() override { return kBase + kControl; }
    int GetVersion() override { return 1; }
    void Release(int) override {}  // static
    int GetFreeMapFlag() override { return 0; }
    void SetFreeMapFlag(int) override {}

    void SetScriptSource(ThreadScript* (*current)()) override {
        // Not a live component: the module's map holds the torture's alone.
        RemoveLiveComponent(this, 0);
        g_scriptSource.store(current, std::memory_order_release);
    }
    void Counts(KindCounts* counts) override {
        for (int kind = 0; kind < kKindCount; ++kind) {
            counts[kind].constructed = g_counts[kind][0].load(std::memory_order_relaxed);
            counts[kind].destroyed = g_counts[kind][1].load(std::memory_order_relaxed);
        }
    }
    int UseHolders() override {
        KeepingFactoryHolder keeping;
        ReleasingFactoryHolder releasing;
        return keeping.component != nullptr && releasing.component != nullptr ? 1 : 0;
    }
};

Control g_control;

IComponent* TheControl() {
    return &g_control;
}

}  // namespace

PEXIL_REGISTER_CREATOR(kBase + kPlain, NewComponent<Plain>);
PEXIL_REGISTER_CREATOR(kBase + kChain, NewComponent<Chain>);
PEXIL_REGISTER_CREATOR(kBase + kSingle, SingleInstance<Single>::Create);
PEXIL_REGISTER_CREATOR(kBase + kAligned, NewComponent<Aligned>);
PEXIL_REGISTER_CREATOR(kBase + kControl, TheControl);

}  // namespace pexil::testing::torture
