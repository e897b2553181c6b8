// StressAlpha.dll and StressBeta.dll: a worker component for the threads to
// create and release, and the module's observer. The IDs come from the build
// (PEXIL_STRESS_WORKER and PEXIL_STRESS_OBSERVER).
//
// The observer counts transitions of the live-component map to empty where
// they happen: the map changes only while the module lock is held, so each
// time the lock's outermost region ends (through the system table's lockEnter
// and lockLeave, which every module lock passes; the lock is recursive, and
// the idle notification takes it again inside) the observer looks at the map
// and at the notifications made since the lock was taken. A region that
// emptied the map must carry exactly one notification; any other region none.
#include "module/live_components.h"
#include "platform/platform.h"
#include "stress/stress_interfaces.h"

#include <pexil/component_base.h>
#include <pexil/module.h>

#include <atomic>

namespace pexil::testing::stress {
namespace {

std::atomic<uint64_t> g_created{0};
std::atomic<uint64_t> g_destroyed{0};

class Worker : public ComponentBase<IComponent, PEXIL_STRESS_WORKER> {
public:
    Worker() {
        forceOnly_ = 0;  // an ordinary Release deletes it
        g_created.fetch_add(1, std::memory_order_relaxed);
    }
    ~Worker() override { g_destroyed.fetch_add(1, std::memory_order_relaxed); }
    void Shutdown() override {}
};

// Written only while the module lock is held (or before any other thread runs).
PexilLock* g_ownLock = nullptr;
void (*g_savedEnter)(PexilLock*) = nullptr;
void (*g_savedLeave)(PexilLock*) = nullptr;
unsigned g_depth = 0;  // of the lock's holder in its own lock
bool g_empty = true;
uint64_t g_pending = 0;  // notifications in the current lock region
uint64_t g_transitions = 0;
uint64_t g_notifications = 0;
uint64_t g_mismatches = 0;
uint64_t g_notifiedWhileLive = 0;

void RecordingEnter(PexilLock* lock) {
    g_ownLock = lock;
    g_savedEnter(lock);
}

void CountingEnter(PexilLock* lock) {
    g_savedEnter(lock);
    if (lock == g_ownLock) ++g_depth;
}

// Runs while the lock is still held, so the map cannot change underneath.
void Sample() {
    const bool empty = module::LiveComponentCount() == 0;
    const bool transition = !g_empty && empty;
    if (g_pending != (transition ? 1u : 0u)) ++g_mismatches;
    if (transition) ++g_transitions;
    g_pending = 0;
    g_empty = empty;
}

void ObservingLeave(PexilLock* lock) {
    if (lock == g_ownLock && --g_depth == 0) Sample();
    g_savedLeave(lock);
}

class Observer final : public IModuleObserver {
public:
    uint32_t GetComponentID() override { return PEXIL_STRESS_OBSERVER; }
    int GetVersion() override { return 1; }
    void Release(int) override {}  // static
    int GetFreeMapFlag() override { return 0; }
    void SetFreeMapFlag(int) override {}

    int Watch() override {
        // Its own record would keep the map from ever becoming empty.
        RemoveLiveComponent(this, 0);
        platform::SystemCalls& system = platform::System();
        g_savedEnter = system.lockEnter;
        system.lockEnter = RecordingEnter;
        EnterModuleLock();
        system.lockEnter = g_savedEnter;
        g_empty = module::LiveComponentCount() == 0;
        g_pending = 0;
        if (g_ownLock == nullptr) {
            LeaveModuleLock();
            return 0;
        }
        // Counted from here: this region is the holder's first level.
        g_depth = 1;
        system.lockEnter = CountingEnter;
        g_savedLeave = system.lockLeave;
        system.lockLeave = ObservingLeave;
        LeaveModuleLock();
        return 1;
    }
    int Unwatch() override {
        platform::SystemCalls& system = platform::System();
        // Watchers chain through one table on POSIX: the last one goes first.
        if (system.lockLeave != ObservingLeave || system.lockEnter != CountingEnter) return 0;
        system.lockLeave = g_savedLeave;
        system.lockEnter = g_savedEnter;
        return 1;
    }
    void Notified() override {
        // Called while the notifying thread holds this module's lock.
        ++g_notifications;
        ++g_pending;
        if (module::LiveComponentCount() != 0) ++g_notifiedWhileLive;
    }
    void Counts(ObserverCounts* counts) override {
        EnterModuleLock();
        counts->created = g_created.load(std::memory_order_relaxed);
        counts->destroyed = g_destroyed.load(std::memory_order_relaxed);
        counts->live = module::LiveComponentCount();
        counts->transitions = g_transitions;
        counts->notifications = g_notifications;
        counts->mismatches = g_mismatches;
        counts->notifiedWhileLive = g_notifiedWhileLive;
        LeaveModuleLock();
    }
};

Observer g_observer;

IComponent* TheObserver() {
    return &g_observer;
}

}  // namespace

PEXIL_REGISTER_CREATOR(PEXIL_STRESS_WORKER, NewComponent<Worker>);
PEXIL_REGISTER_CREATOR(PEXIL_STRESS_OBSERVER, TheObserver);

}  // namespace pexil::testing::stress
