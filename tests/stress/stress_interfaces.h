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

// What a module's observer has counted.
struct ObserverCounts {
    uint64_t created;            // worker components constructed
    uint64_t destroyed;          // worker components destroyed
    uint64_t live;               // records in the live-component map
    uint64_t notifications;      // idle notifications the factory received for the module
    uint64_t notifiedWhileLive;  // notifications while the map held records
    uint64_t overlapping;        // notifications made while another was under way
};

// A module's observer: one static object per module, not a live component.
class IModuleObserver : public IComponent {
public:
    // Takes the observer's own record out of the map, so that the map can
    // become empty.
    virtual int Watch() = 0;  // slot 5
    // Stops watching.
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
