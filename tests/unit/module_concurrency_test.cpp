// Several threads creating and releasing components of one module at once.
// Also built under ThreadSanitizer (label "concurrency").
#include "modules/test_interfaces.h"
#include "support/loaded_module.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>
#include <vector>

namespace pexil::testing {
namespace {

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

}  // namespace
}  // namespace pexil::testing
