// StressAlpha.dll and StressBeta.dll: a worker component for the threads to
// create and release, and the module's observer. The IDs come from the build
// (PEXIL_STRESS_WORKER and PEXIL_STRESS_OBSERVER).
//
// The idle notification is made with every lock of the module held, and only
// while its live-component map is empty: the observer checks both where the
// factory hands the notification on (Notified), and counts the notifications.
// A notification made while the map holds records, or while another one is
// under way (so without the module's locks), is counted apart.
#include "module/live_components.h"
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

std::atomic<uint64_t> g_notifications{0};
std::atomic<uint64_t> g_notifiedWhileLive{0};
std::atomic<uint64_t> g_overlapping{0};
std::atomic<int> g_notifying{0};

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
        return 1;
    }
    int Unwatch() override { return 1; }
    void Notified() override {
        // Called while the notifying thread holds this module's locks.
        if (g_notifying.fetch_add(1) != 0) ++g_overlapping;
        ++g_notifications;
        if (module::LiveComponentCount() != 0) ++g_notifiedWhileLive;
        g_notifying.fetch_sub(1);
    }
    void Counts(ObserverCounts* counts) override {
        EnterModuleLock();
        counts->created = g_created.load(std::memory_order_relaxed);
        counts->destroyed = g_destroyed.load(std::memory_order_relaxed);
        counts->live = module::LiveComponentCount();
        counts->notifications = g_notifications.load();
        counts->notifiedWhileLive = g_notifiedWhileLive.load();
        counts->overlapping = g_overlapping.load();
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
