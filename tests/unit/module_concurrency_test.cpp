// Several threads creating and releasing components of one module at once.
// Also built under ThreadSanitizer (label "concurrency").
#include "modules/test_interfaces.h"
#include "platform/debug_capture.h"
#include "support/loaded_module.h"
#include "support/temp_directory.h"

#include <pexil/factory.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace pexil::testing {
namespace {

// Runs the work on a thread of its own; a hang (a deadlock) ends the test
// program with a message, since its threads could not be joined.
template <class Work>
void WithinAMinute(const char* what, Work work) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::fprintf(stderr, "%s: deadlocked\n", what);
        std::_Exit(1);
    }
    done.get();
}

IModuleProbe* ProbeOf(LoadedModule& module) {
    return static_cast<IModuleProbe*>(module.CreateComponent(kModuleProbe, 0));
}

TEST(ModuleConcurrency, CreatingAndReleasingFromManyThreadsKeepsTheMapExact) {
    LoadedModule module("TestComponents.dll");
    ASSERT_NE(nullptr, module.handle());
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};

    // Components that stay alive throughout, one per thread.
    std::vector<IComponent*> kept(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            kept[t] = module.CreateComponent(kTestComponent, 361);
            for (int i = 0; i < kRounds; ++i) {
                IComponent* plain = module.CreateComponent(kPlainComponent, 361);
                IComponent* forced = module.CreateComponent(kTestComponent, 0);
                if (plain == nullptr || forced == nullptr) {
                    ++failures;
                    continue;
                }
                if (i % 3 == 0) {
                    // Left to the final PexilDllFreeMap: a component is released by
                    // one thread only.
                    plain->SetFreeMapFlag(1);
                } else {
                    plain->Release(0);
                }
                forced->Release(1);
            }
        });
    }
    std::thread reader([&] {
        while (!done.load()) {
            const int answer = module.PexilDllCanUnloadNow();
            if (answer != 0 && answer != 1) ++failures;
        }
    });
    for (std::thread& thread : threads)
        thread.join();
    done = true;
    reader.join();

    EXPECT_EQ(0, failures.load());
    module.PexilDllFreeMap();  // the flagged third of the plain components
    auto* probe = static_cast<IModuleProbe*>(module.CreateComponent(kModuleProbe, 0));
    ASSERT_NE(nullptr, probe);
    EXPECT_EQ(static_cast<uint32_t>(kThreads + 1), probe->LiveCount());
    probe->Release(0);
    for (IComponent* component : kept)
        component->Release(1);
    EXPECT_EQ(1, module.PexilDllCanUnloadNow());
}

// Components of two modules whose destructors release a component of the
// other module, released from two threads at once: destructors run outside
// their module's lock, so the two module locks never nest (under the lock, the
// two threads took them in opposite orders and deadlocked).
TEST(ModuleConcurrency, DestructorsReleasingAcrossModulesOnTwoThreadsDoNotDeadlock) {
    TempDirectory temp;
    const std::string copy = temp / "TestComponentsCopy.dll";
    std::filesystem::copy_file(BesideProgram("TestComponents.dll"), copy);
    LoadedModule first("TestComponents.dll");
    const PexilModuleHandle second = platform::LoadLibrary(copy.c_str());
    ASSERT_NE(nullptr, first.handle());
    ASSERT_NE(nullptr, second);
    auto createInSecond = reinterpret_cast<CreateComponentFunction>(
        platform::GetProcAddress(second, "CreateComponent"));
    // One component each that stays, so that no module becomes idle meanwhile.
    IComponent* kept[2] = {first.CreateComponent(kTestComponent, 361),
                           createInSecond(kTestComponent, 361)};
    auto loop = std::async(std::launch::async, [&] {
        for (int round = 0; round < 2000; ++round) {
            auto* inFirst = static_cast<IReleaser*>(first.CreateComponent(kReleaserComponent, 361));
            auto* inSecond = static_cast<IReleaser*>(createInSecond(kReleaserComponent, 361));
            inFirst->ReleaseAtItsEnd(createInSecond(kPlainComponent, 361));
            inSecond->ReleaseAtItsEnd(first.CreateComponent(kPlainComponent, 361));
            std::thread other([&] { inSecond->Release(1); });
            inFirst->Release(1);
            other.join();
        }
    });
    // A deadlock shows as a loop that never ends; its threads cannot be
    // joined, so the test program ends here.
    if (loop.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::fputs("the two releasing threads deadlocked\n", stderr);
        std::_Exit(1);
    }
    for (IComponent* component : kept)
        component->Release(1);
    EXPECT_EQ(1, first.PexilDllCanUnloadNow());
    platform::FreeLibrary(second);
}

// Two threads that ask for the factory at the same moment get the same one:
// the first construction happens once, and the record of the one factory
// survives (a second factory's destruction used to clear it).
TEST(ModuleConcurrency, TwoThreadsAskingForTheFactoryAtOnceGetTheSameOne) {
    LoadedModule brelnor("Brelnor.dll");
    ASSERT_NE(nullptr, brelnor.handle());
    for (int round = 0; round < 100; ++round) {
        std::atomic<int> ready{0};
        IComponent* got[2] = {nullptr, nullptr};
        auto ask = [&](int i) {
            ++ready;
            while (ready.load() < 2) {
            }
            got[i] = brelnor.CreateComponent(kFactoryComponentID, kCreatorDirect);
        };
        std::thread first(ask, 0);
        std::thread second(ask, 1);
        first.join();
        second.join();
        ASSERT_NE(nullptr, got[0]);
        ASSERT_EQ(got[0], got[1]) << "round " << round;
        // Asked once more, the record still names it.
        EXPECT_EQ(got[0], brelnor.CreateComponent(kFactoryComponentID, kCreatorDirect));
        got[0]->Release(1);
    }
}

// A single instance whose constructor creates a component of its module
// (taking the module lock), made on one thread while another runs
// PexilDllFreeMap (holding the module lock) and releases a component whose
// Shutdown asks for the same single instance. Both finish, and both get the
// one instance that was published.
TEST(ModuleConcurrency, ASingleInstanceMadeWhilePexilDllFreeMapAsksForItDoesNotDeadlock) {
    LoadedModule module("TestComponents.dll");
    ASSERT_NE(nullptr, module.handle());
    IModuleProbe* probe = ProbeOf(module);
    ASSERT_NE(nullptr, probe);
    IComponent* asker = module.CreateComponent(kAskingComponent, 0);
    ASSERT_NE(nullptr, asker);
    asker->SetFreeMapFlag(1);
    probe->Scenario(kArmSingleInstanceRace, 0);

    IComponent* made = nullptr;
    WithinAMinute("the single instance and PexilDllFreeMap", [&] {
        std::thread maker([&] { made = module.CreateComponent(kWaitingSingle, 0); });
        while (probe->Scenario(kSingleConstructing, 0) == 0)
            std::this_thread::yield();
        module.PexilDllFreeMap();  // releases the asker, whose Shutdown asks for it
        maker.join();
    });
    ASSERT_NE(nullptr, made);
    EXPECT_EQ(made, module.CreateComponent(kWaitingSingle, 0));
    // The discarded one left no record: the instance, the probe and nothing else.
    EXPECT_EQ(2u, probe->LiveCount());
    made->Release(1);
    probe->Release(0);
    EXPECT_EQ(1, module.PexilDllCanUnloadNow());
}

// PexilDllFreeMap calls nothing on a component whose destructor runs on
// another thread, and the module does not count as idle meanwhile.
TEST(ModuleConcurrency, PexilDllFreeMapPassesByAComponentBeingDeleted) {
    LoadedModule module("TestComponents.dll");
    ASSERT_NE(nullptr, module.handle());
    IModuleProbe* probe = ProbeOf(module);
    ASSERT_NE(nullptr, probe);
    IComponent* slow = module.CreateComponent(kSlowDestructor, 0);
    ASSERT_NE(nullptr, slow);
    probe->Scenario(kSetDestructorWait, 2);  // one destructor waits until told otherwise

    std::thread releaser([&] { slow->Release(0); });
    while (probe->Scenario(kDestructorsRunning, 0) != 1)
        std::this_thread::yield();
    EXPECT_EQ(0, module.PexilDllCanUnloadNow());
    module.PexilDllFreeMap();
    const int calls = probe->Scenario(kCallsIntoDying, 0);
    probe->Scenario(kSetDestructorWait, 0);  // lets the destructor end
    releaser.join();
    EXPECT_EQ(0, calls);
    EXPECT_EQ(1u, probe->LiveCount());
    probe->Release(0);
    EXPECT_EQ(1, module.PexilDllCanUnloadNow());
}

// A creator that hands out a component another thread is deleting (a single
// instance released at that moment) gets it refused: its record is the dying
// one's, and the component is gone as soon as its destructors end.
TEST(ModuleConcurrency, AComponentBeingDeletedIsNotHandedOutAgain) {
    LoadedModule module("TestComponents.dll");
    ASSERT_NE(nullptr, module.handle());
    IModuleProbe* probe = ProbeOf(module);
    ASSERT_NE(nullptr, probe);
    IComponent* slow = module.CreateComponent(kSlowDestructor, 0);
    ASSERT_NE(nullptr, slow);
    probe->Scenario(kSetDestructorWait, 2);  // the destructor waits until told otherwise
    std::thread releaser([&] { slow->Release(0); });
    while (probe->Scenario(kDestructorsRunning, 0) != 1)
        std::this_thread::yield();
    IComponent* again = nullptr;
    std::string debug;
    {
        platform::testing::DebugCapture capture;
        again = module.CreateComponent(kDyingHandout, 0);
        debug = capture.Text();
    }
    probe->Scenario(kSetDestructorWait, 0);
    releaser.join();
    EXPECT_EQ(nullptr, again);
    EXPECT_EQ(
        "Pexil[Error]: The component is being deleted; it is not returned.\n"
        "Pexil[Error]: ComponentID=114 CreatorID=0",
        debug);
    EXPECT_EQ(1u, probe->LiveCount());
    probe->Release(0);
}

// Components handed to PexilDllFreeMap by their free-map flag on three
// threads, freed by PexilDllFreeMap on a fourth: what a thread did with its
// component before it set the flag happens before the walk releases it
// (under ThreadSanitizer a flag without that order shows as a race with the
// destructor). Their interface is not at the start of their allocation, so
// each free finds its deletion through the other shards.
TEST(ModuleConcurrency, ComponentsFlaggedOnThreeThreadsAreFreedByPexilDllFreeMapOnAFourth) {
    LoadedModule module("TestComponents.dll");
    ASSERT_NE(nullptr, module.handle());
    IModuleProbe* probe = ProbeOf(module);
    ASSERT_NE(nullptr, probe);
    platform::testing::DebugCapture capture;
    std::atomic<int> producing{3};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                auto* component =
                    static_cast<ITestComponent*>(module.CreateComponent(kOffsetComponent, 0));
                if (component == nullptr) continue;
                component->AddOwned(1, 0, "handed");  // read by its Shutdown on the walk
                component->SetFreeMapFlag(1);
            }
            --producing;
        });
    }
    threads.emplace_back([&] {
        while (producing.load() != 0)
            module.PexilDllFreeMap();
    });
    for (std::thread& thread : threads)
        thread.join();
    module.PexilDllFreeMap();
    EXPECT_EQ(1u, probe->LiveCount());  // the probe
    EXPECT_EQ("", capture.Text());      // no record missed, none left
    probe->Release(0);
}

// More destructors at once than the 32 deletions the module once noted in a
// fixed table (the rest then ran under the module lock, one at a time): here
// all 40 run together, outside the lock.
TEST(ModuleConcurrency, FortyDestructorsRunAtOnceOutsideTheModuleLock) {
    LoadedModule module("TestComponents.dll");
    ASSERT_NE(nullptr, module.handle());
    IModuleProbe* probe = ProbeOf(module);
    ASSERT_NE(nullptr, probe);
    constexpr int kDestructors = 40;
    probe->Scenario(kSetDestructorWait, kDestructors);
    std::vector<IComponent*> components;
    for (int i = 0; i < kDestructors; ++i)
        components.push_back(module.CreateComponent(kSlowDestructor, 0));
    WithinAMinute("forty destructors", [&] {
        // Each destructor waits until all are running (20 s at most).
        std::vector<std::thread> releasers;
        for (IComponent* component : components)
            releasers.emplace_back([component] { component->Release(0); });
        for (std::thread& releaser : releasers)
            releaser.join();
    });
    EXPECT_EQ(kDestructors, probe->Scenario(kDestructorsRunning, 0));
    EXPECT_EQ(1u, probe->LiveCount());
    probe->Release(0);
}

// A module that goes idle on a worker thread asks the factory for 361 through
// its registry there (the idle notification), while the factory's thread
// creates through other entries of the same registry: both look up modules'
// exports in the registry at once. Under ThreadSanitizer an unguarded
// registry shows as a data race.
TEST(ModuleConcurrency, IdleNoticesOnWorkersAndCreationsOnTheFactorysThreadShareARegistry) {
    LoadedModule brelnor("Brelnor.dll");
    ASSERT_NE(nullptr, brelnor.handle());
    auto* factory = static_cast<IComponentFactory*>(brelnor.CreateComponent(361, 0));
    ASSERT_NE(nullptr, factory);
    TempDirectory temp;
    const std::string text = "[361]\nDLL=" + BesideProgram("Brelnor.dll") +
                             "\n[101]\nDLL=" + BesideProgram("TestComponents.dll") +
                             "\n[991]\nDLL=" + BesideProgram("TestConfig.dll") +
                             "\n[3]\nDLL=" + BesideProgram("TestGlobals.dll") +
                             "\n[7]\nDLL=" + BesideProgram("StressAlpha.dll") + "\n";
    platform::testing::DebugCapture quiet;
    for (int round = 0; round < 40; ++round) {
        // A registry of its own each round: each looks its modules up anew.
        const std::string registry = temp.Write("round" + std::to_string(round) + ".ini", text);
        IComponent* plain = factory->CreateComponentByID(101, registry.c_str());
        ASSERT_NE(nullptr, plain) << "round " << round;
        std::atomic<int> ready{0};
        std::thread worker([&] {
            ++ready;
            while (ready.load() < 2) {
            }
            plain->Release(0);  // TestComponents.dll goes idle here
        });
        ++ready;
        while (ready.load() < 2) {
        }
        for (uint32_t id : {991u, 3u, 7u}) {
            IComponent* other = factory->CreateComponentByID(id, registry.c_str());
            if (other != nullptr) other->Release(1);
        }
        worker.join();
    }
    factory->Release(1);
}

}  // namespace
}  // namespace pexil::testing
