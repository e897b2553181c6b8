// Four threads creating and releasing components of two modules through the
// factory (StressFactory.dll, a stand-in any thread may call: see
// stress_factory.cpp for why). Each component is released by one thread: the
// one that created it, or the main thread once the four have ended.
// The live-component counts must be exact; every idle notification must be
// made while the module's map is empty and with the module's locks held (no
// two at once); the threads' run must bring notifications, and the last
// release of each module, made alone, exactly one more; and nothing may be
// reported on the debug output (a release whose record has gone reports "To
// remove a component not exist").
//
// PEXIL_STRESS_OPERATIONS: creations and releases per thread (fewer under
// ThreadSanitizer). Also built under ThreadSanitizer (label "concurrency").
#include "platform/debug_capture.h"
#include "stress/stress_interfaces.h"
#include "support/loaded_module.h"

#include <pexil/factory.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#ifndef PEXIL_STRESS_OPERATIONS
#define PEXIL_STRESS_OPERATIONS 100000
#endif

namespace pexil::testing::stress {
namespace {

using platform::testing::DebugCapture;

constexpr int kThreads = 4;
constexpr int kOperations = PEXIL_STRESS_OPERATIONS;
constexpr size_t kMostHeld = 3;  // components a thread holds at once

// A small generator of the thread's own, so that each run makes the same choices.
class Choices {
public:
    explicit Choices(uint32_t seed) : state_(seed * 2654435761u + 1u) {}
    uint32_t Next(uint32_t bound) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_ % bound;
    }

private:
    uint32_t state_;
};

struct ThreadResult {
    uint64_t created[2] = {0, 0};  // per module: alpha, beta
    uint64_t released[2] = {0, 0};
    int failures = 0;
    std::vector<IComponent*> kept;  // still alive at the thread's end
};

// Watches both modules for the test's duration; the last watcher goes first.
class Watching {
public:
    Watching(IModuleObserver* alpha, IModuleObserver* beta) : alpha_(alpha), beta_(beta) {
        alphaWatching_ = alpha_->Watch() == 1;
        betaWatching_ = beta_->Watch() == 1;
    }
    ~Watching() {
        if (betaWatching_) {
            EXPECT_EQ(1, beta_->Unwatch());
        }
        if (alphaWatching_) {
            EXPECT_EQ(1, alpha_->Unwatch());
        }
    }
    bool ok() const { return alphaWatching_ && betaWatching_; }

private:
    IModuleObserver* alpha_;
    IModuleObserver* beta_;
    bool alphaWatching_ = false;
    bool betaWatching_ = false;
};

// Holds each thread until all have started, so that their work overlaps.
std::atomic<int> g_started{0};

void CreateAndRelease(IComponentFactory* factory, int thread, ThreadResult& result) {
    g_started.fetch_add(1);
    while (g_started.load() < kThreads)
        std::this_thread::yield();
    const uint32_t workers[2] = {kAlphaWorker, kBetaWorker};
    const std::string registry = "stress-" + std::to_string(thread) + ".ini";
    Choices choices(static_cast<uint32_t>(thread) + 1);
    std::vector<IComponent*>& held = result.kept;
    held.reserve(kMostHeld);
    // Each thread leans to one module, so that each module keeps emptying.
    const int own = thread % 2;
    for (int i = 0; i < kOperations; ++i) {
        if (held.empty() || (held.size() < kMostHeld && choices.Next(2) == 0)) {
            const int module = choices.Next(4) == 0 ? 1 - own : own;
            IComponent* component = factory->CreateComponentByID(workers[module], registry.c_str());
            if (component == nullptr || component->GetComponentID() != workers[module]) {
                ++result.failures;
                continue;
            }
            ++result.created[module];
            held.push_back(component);
        } else {
            const size_t index = choices.Next(static_cast<uint32_t>(held.size()));
            IComponent* component = held[index];
            held[index] = held.back();
            held.pop_back();
            ++result.released[component->GetComponentID() == kAlphaWorker ? 0 : 1];
            component->Release(0);
        }
    }
}

ObserverCounts CountsOf(IModuleObserver* observer) {
    ObserverCounts counts{};
    observer->Counts(&counts);
    return counts;
}

TEST(FactoryStress, FourThreadsKeepCountsExactAndNotifyOnlyWhileIdle) {
    LoadedModule factoryModule("StressFactory.dll");
    LoadedModule alpha("StressAlpha.dll");
    LoadedModule beta("StressBeta.dll");
    ASSERT_NE(nullptr, factoryModule.handle());
    ASSERT_NE(nullptr, alpha.handle());
    ASSERT_NE(nullptr, beta.handle());

    auto* factory = static_cast<IComponentFactory*>(
        factoryModule.CreateComponent(kFactoryComponentID, kCreatorDirect));
    auto* monitor = static_cast<IStressMonitor*>(factoryModule.CreateComponent(kMonitor, 0));
    auto* alphaObserver = static_cast<IModuleObserver*>(alpha.CreateComponent(kAlphaObserver, 0));
    auto* betaObserver = static_cast<IModuleObserver*>(beta.CreateComponent(kBetaObserver, 0));
    ASSERT_NE(nullptr, factory);
    ASSERT_NE(nullptr, monitor);
    ASSERT_NE(nullptr, alphaObserver);
    ASSERT_NE(nullptr, betaObserver);
    ASSERT_EQ(1, monitor->Attach(alpha.handle(), kAlphaWorker, kAlphaWorker, alphaObserver));
    ASSERT_EQ(1, monitor->Attach(beta.handle(), kBetaWorker, kBetaWorker, betaObserver));

    IModuleObserver* observers[2] = {alphaObserver, betaObserver};
    ThreadResult results[kThreads];
    ObserverCounts whileKept[2];  // after the threads, with their last components alive
    ObserverCounts atEnd[2];      // after those were released too
    std::string debugOutput;
    {
        // The debug output of the run alone, without the test's own reports.
        DebugCapture capture;
        Watching watching(alphaObserver, betaObserver);
        ASSERT_TRUE(watching.ok());
        std::vector<std::thread> threads;
        g_started = 0;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back(CreateAndRelease, factory, t, std::ref(results[t]));
        for (std::thread& thread : threads)
            thread.join();
        for (int m = 0; m < 2; ++m)
            whileKept[m] = CountsOf(observers[m]);
        // Released here, on one thread: each module empties once more.
        for (ThreadResult& result : results) {
            for (IComponent* component : result.kept)
                component->Release(0);
        }
        for (int m = 0; m < 2; ++m)
            atEnd[m] = CountsOf(observers[m]);
        debugOutput = capture.Text();
    }

    uint64_t created[2] = {0, 0};
    uint64_t kept[2] = {0, 0};
    for (const ThreadResult& result : results) {
        EXPECT_EQ(0, result.failures);
        for (int m = 0; m < 2; ++m) {
            created[m] += result.created[m];
            kept[m] += result.created[m] - result.released[m];
        }
    }
    for (int m = 0; m < 2; ++m) {
        // The components the threads still held were exactly the live ones.
        EXPECT_EQ(kept[m], whileKept[m].live) << "module " << m;
        EXPECT_EQ(created[m], whileKept[m].created) << "module " << m;
        EXPECT_EQ(created[m] - kept[m], whileKept[m].destroyed) << "module " << m;

        const ObserverCounts& counts = atEnd[m];
        EXPECT_EQ(0u, counts.live) << "module " << m;
        EXPECT_EQ(counts.created, counts.destroyed) << "module " << m;
        EXPECT_LE(1u, whileKept[m].notifications) << "module " << m;
        // Released on one thread, the module empties once more: one notification.
        EXPECT_EQ(whileKept[m].notifications + (kept[m] > 0 ? 1 : 0), counts.notifications)
            << "module " << m;
        EXPECT_EQ(0u, counts.notifiedWhileLive) << "module " << m;
        EXPECT_EQ(0u, counts.overlapping) << "module " << m;
        std::cout << (m == 0 ? "StressAlpha" : "StressBeta") << ": " << counts.created
                  << " created, " << counts.notifications << " idle notifications\n";
    }
    EXPECT_EQ("", debugOutput);
    EXPECT_EQ(0u, monitor->UnknownNotifications());
    EXPECT_EQ(1, alpha.PexilDllCanUnloadNow());
    EXPECT_EQ(1, beta.PexilDllCanUnloadNow());
    factory->Release(1);
    EXPECT_EQ(1, factoryModule.PexilDllCanUnloadNow());
}

}  // namespace
}  // namespace pexil::testing::stress
