// What the torture test (torture_test.cpp) shares with its modules,
// TortureAlpha.dll and TortureBeta.dll (one source, two sets of IDs).
#ifndef PEXIL_TESTS_TORTURE_INTERFACES_H
#define PEXIL_TESTS_TORTURE_INTERFACES_H

#include <pexil/component.h>
#include <pexil/factory.h>

#include <stdint.h>

namespace pexil::testing::torture {

// A module's IDs are its base plus these.
constexpr uint32_t kPlain = 1;     // Release(0) deletes it; calls back in its constructor,
                                   // Shutdown and destructor
constexpr uint32_t kChain = 2;     // makes a chain of its own kind; released link by link
constexpr uint32_t kSingle = 3;    // a single instance; calls back as kPlain does
constexpr uint32_t kAligned = 4;   // over-aligned (alignas(64)), Release(0) deletes it
constexpr uint32_t kControl = 99;  // static, not recorded: counts and set-up
constexpr uint32_t kAlphaBase = 6100;
constexpr uint32_t kBetaBase = 6200;
constexpr uint32_t kKinds[] = {kPlain, kChain, kSingle, kAligned};
constexpr int kKindCount = 4;

// A small generator, the same in the driver and the modules, so that a seed
// replays each thread's choices.
struct Choices {
    uint64_t state;
    uint32_t Next(uint32_t bound) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<uint32_t>((state >> 11) % bound);
    }
};

// A driver thread's state, which the components' callbacks use: they run on
// the thread that creates or releases them, and draw from its generator.
struct ThreadScript {
    Choices choices;
    // The factory while this thread holds the factory role, null otherwise:
    // only then may a callback call the factory's slots.
    IComponentFactory* factory;
    const char* registry;  // the registry path the factory is asked with
    int depth;             // callbacks in progress on this thread
    int flagNext;          // 1: the next kPlain constructed gets free-map flag 1
    // The base of a module that keeps nothing alive this round (no single
    // instance, nothing left to PexilDllFreeMap), so that it keeps going idle
    // on the threads that release its components; 0 for none.
    uint32_t sparseBase;
    int chainRemaining;  // links a kChain constructor may still add
    int quiet;           // 1: callbacks do nothing (the final clean-up)
    int sleeps;          // destructors may sleep 1 ms
    uint64_t callbacks;  // callbacks that did something
};

// Per component kind: constructed and destroyed objects, counted atomically.
struct KindCounts {
    uint64_t constructed;
    uint64_t destroyed;
};

class ITortureControl : public IComponent {
public:
    // Where the callbacks find the calling thread's script (null: none).
    // Called once, before other threads use the module.
    virtual void SetScriptSource(ThreadScript* (*current)()) = 0;  // slot 5
    // The counts of kKinds[i] in counts[i].
    virtual void Counts(KindCounts* counts) = 0;  // slot 6
    // A KeepingFactoryHolder and a ReleasingFactoryHolder of this module, on
    // the factory's thread: 1 when both got the factory, 0 otherwise.
    virtual int UseHolders() = 0;  // slot 7

protected:
    ~ITortureControl() = default;
};

}  // namespace pexil::testing::torture

#endif
