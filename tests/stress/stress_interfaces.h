// What the stress test shares with its modules: StressAlpha.dll and
// StressBeta.dll (one source, two sets of IDs) and StressFactory.dll, a
// stand-in for the factory that any thread may call.
#ifndef PEXIL_TESTS_STRESS_INTERFACES_H
#define PEXIL_TESTS_STRESS_INTERFACES_H

#include <pexil/component.h>
#include <pexil/config.h>

namespace pexil::testing::stress {

constexpr uint32_t kAlphaWorker = 5101;
constexpr uint32_t kAlphaObserver = 5199;
constexpr uint32_t kBetaWorker = 5201;
constexpr uint32_t kBetaObserver = 5299;
constexpr uint32_t kMonitor = 362;  // StressFactory.dll, beside the factory (361)

// What a module's observer has counted. Each count is kept under the module
// lock, where the live-component map changes.
struct ObserverCounts {
    uint64_t created;            // worker components constructed
    uint64_t destroyed;          // worker components destroyed
    uint64_t live;               // records in the live-component map
    uint64_t transitions;        // times the map went from records to none
    uint64_t notifications;      // idle notifications the factory received for the module
    uint64_t mismatches;         // lock regions where the two above did not agree
    uint64_t notifiedWhileLive;  // notifications while the map held records
};

// A module's observer: one static object per module, not a live component.
class IModuleObserver : public IComponent {
public:
    // Takes the observer's own record out of the map and starts watching the
    // module lock (every time it is left, the map's state is compared with the
    // notifications made while it was held). 0 when the lock was not found.
    virtual int Watch() = 0;  // slot 5
    // Stops watching; 0 when another watcher was installed after this one.
    virtual int Unwatch() = 0;                        // slot 6
    virtual void Notified() = 0;                      // slot 7: from the factory
    virtual void Counts(ObserverCounts* counts) = 0;  // slot 8

protected:
    ~IModuleObserver() = default;
};

// StressFactory.dll's own bookkeeping, beside the factory component.
class IStressMonitor : public IComponent {
public:
    // Routes the IDs firstID to lastID to the module, and its idle
    // notifications to the observer. Before any other thread uses the factory.
    virtual int Attach(PexilModuleHandle module, uint32_t firstID, uint32_t lastID,
                       IModuleObserver* observer) = 0;  // slot 5
    // Idle notifications for modules nobody attached.
    virtual uint64_t UnknownNotifications() = 0;  // slot 6

protected:
    ~IStressMonitor() = default;
};

}  // namespace pexil::testing::stress

#endif
