// Out of memory: this program's operator new (support/replaced_new.h) is made
// to fail after a given number of allocations. No exception may leave the
// framework's entry points or interface slots, no lock may stay held and
// nothing may be half stored. The module code and the factory are built into
// this program.
#include "factory/component_factory.h"
#include "module/live_components.h"
#include "platform/debug_capture.h"
#include "platform/platform.h"
#include "support/base_directory.h"
#include "support/redirect_chain.h"
#include "support/replaced_new.h"
#include "support/temp_directory.h"

#include <pexil/component_base.h>
#include <pexil/configuration.h>
#include <pexil/module.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

namespace pexil {
namespace testing {
namespace {

constexpr uint32_t kCountedID = 7001;
constexpr uint32_t kThrowingID = 7002;
constexpr uint32_t kOverAlignedID = 7003;

std::atomic<int> g_alive{0};
std::atomic<IComponent*> g_lastMade{nullptr};

class Counted : public ComponentBase<IComponent, kCountedID> {
public:
    Counted() {
        ++g_alive;
        g_lastMade = this;
    }
    ~Counted() override { --g_alive; }
    void Shutdown() override {}
};

class OverAligned : public ComponentBase<IComponent, kOverAlignedID> {
public:
    OverAligned() { forceOnly_ = 0; }
    void Shutdown() override {}

private:
    [[maybe_unused]] alignas(64) char line_[64] = {};
};

IComponent* ThrowingCreator() {
    throw std::bad_alloc();
}

// The module lock can be taken by another thread: nothing left it held. The
// time limit only ends a test that would otherwise hang.
bool ModuleLockIsFree() {
    auto taken = std::async(std::launch::async, [] {
        EnterModuleLock();
        LeaveModuleLock();
    });
    return taken.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
}

}  // namespace

PEXIL_REGISTER_CREATOR(kFactoryComponentID, SingleInstance<ComponentFactory>::Create);
PEXIL_REGISTER_CREATOR(kCountedID, NewComponent<Counted>);
PEXIL_REGISTER_CREATOR(kThrowingID, ThrowingCreator);
PEXIL_REGISTER_CREATOR(kOverAlignedID, NewComponent<OverAligned>);

namespace {

using platform::testing::DebugCapture;

// Not out of memory, but this program's operators see which deallocation
// frees a block: an over-aligned component comes from the aligned operator
// new and must go back through the aligned operator delete.
TEST(ComponentMemory, AnOverAlignedComponentIsFreedByTheAlignedOperatorDelete) {
    const long mismatched = g_plainFreesOfAlignedBlocks.load();
    IComponent* component = ::CreateComponent(kOverAlignedID, 0);
    ASSERT_NE(nullptr, component);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(component) % 64);
    EXPECT_EQ(1, g_alignedBlocksLive.load());
    component->Release(0);
    EXPECT_EQ(0, g_alignedBlocksLive.load());
    EXPECT_EQ(mismatched, g_plainFreesOfAlignedBlocks.load());
    EXPECT_EQ(1, ::PexilDllCanUnloadNow());
}

TEST(OutOfMemory, CreateComponentReturnsNullAndKeepsNoRecordOrLock) {
    const std::string nullLines =
        "Pexil[Error]:CreateComponent method return NULL.\n"
        "Pexil[Error]: ComponentID=7002 CreatorID=0";
    {
        // A creator that throws made no component.
        DebugCapture capture;
        EXPECT_EQ(nullptr, ::CreateComponent(kThrowingID, 0));
        EXPECT_EQ(nullLines, capture.Text());
    }
    {
        // The component is made, its record is not.
        DebugCapture capture;
        IComponent* component = nullptr;
        {
            AllocationLimit limit(1);
            component = ::CreateComponent(kCountedID, 0);
        }
        EXPECT_EQ(nullptr, component);
        EXPECT_EQ(
            "Pexil[Error]: No memory to record the component; it is not returned.\n"
            "Pexil[Error]: ComponentID=7001 CreatorID=0",
            capture.Text());
    }
    EXPECT_EQ(1, ::PexilDllCanUnloadNow());
    EXPECT_TRUE(ModuleLockIsFree());
    // Not handed out, so never released: it stays as the price of no memory.
    EXPECT_EQ(1, g_alive.load());
    IComponent* const unrecorded = g_lastMade;

    // With memory again, creation and release work as before.
    IComponent* component = ::CreateComponent(kCountedID, 0);
    ASSERT_NE(nullptr, component);
    EXPECT_EQ(0, ::PexilDllCanUnloadNow());
    component->Release(1);
    EXPECT_EQ(1, ::PexilDllCanUnloadNow());
    EXPECT_EQ(1, g_alive.load());

    // The test frees the one it saw made (its release finds no record).
    DebugCapture capture;
    unrecorded->Release(1);
    EXPECT_EQ(0, g_alive.load());
    EXPECT_EQ(0u, capture.Text().find("Pexil[Error]: To remove a component not exist\n"));
}

TEST(OutOfMemory, TheFactoryCachesNoRegistryItCouldNotStoreWhole) {
    TempDirectory temp;
    const std::string file = temp.Write("plugins.ini", "[7001]\nDLL=nowhere.dll\n");
    auto* factory = static_cast<ComponentFactory*>(
        static_cast<IComponentFactory*>(::CreateComponent(kFactoryComponentID, 0)));
    ASSERT_NE(nullptr, factory);
    IComponentFactory* slots = factory;
    {
        DebugCapture capture;
        IComponent* component = reinterpret_cast<IComponent*>(1);
        {
            AllocationLimit limit(0);
            component = slots->CreateComponentByID(7001, file.c_str());
        }
        EXPECT_EQ(nullptr, component);
        EXPECT_EQ(0u, factory->cachedRegistryCount());
        EXPECT_EQ("", capture.Text());
    }
    {
        // With memory again the registry is read and kept; its one entry
        // names a DLL that is not there.
        DebugCapture capture;
        EXPECT_EQ(nullptr, slots->CreateComponentByID(7001, file.c_str()));
        EXPECT_EQ(1u, factory->cachedRegistryCount());
        EXPECT_NE(std::string::npos, capture.Text().find("nowhere.dll")) << capture.Text();
    }
    {
        // A module going idle cannot be recorded as pending: it is not.
        const auto module = reinterpret_cast<PexilModuleHandle>(static_cast<uintptr_t>(0x1000));
        uint32_t timer = 1;
        {
            AllocationLimit limit(0);
            timer = slots->ScheduleDllUnload(module);
        }
        EXPECT_EQ(0u, timer);
        EXPECT_EQ(0u, factory->pendingUnloadCount());
        EXPECT_EQ(0u, factory->timerId());
    }
    factory->Release(1);
}

TEST(OutOfMemory, ARedirectChainThatCannotRecordItsFilesEnds) {
    const std::string file(100, 'f');  // beyond any short-string buffer
    RedirectChain chain(DebugChannel::Binding);
    DebugCapture capture;
    {
        AllocationLimit limit(0);
        chain.Enter(file.c_str());
    }
    EXPECT_TRUE(chain.ClosesLoop(file.c_str(), "/elsewhere.ini"));
    EXPECT_EQ("[Pexil_Error] Redirect chain: out of memory at " + file + ".\n", capture.Text());
}

TEST(OutOfMemory, ARegistryIsStoredWholeOrNotAtAll) {
    TempDirectory temp;
    std::string text;
    for (int id = 1; id <= 20; ++id)
        text += "[" + std::to_string(id) + "]\nDLL=m" + std::to_string(id) + ".dll\n";
    const std::string file = temp.Write("many.ini", text);
    ComponentRegistry registry;
    {
        // No room for the entries (one block, made before the first is stored).
        AllocationLimit limit(0);
        EXPECT_EQ(1, registry.LoadFile("", file.c_str()));
    }
    EXPECT_EQ(nullptr, registry.FindEntry(1));
    EXPECT_EQ(nullptr, registry.FindEntry(20));

    ComponentRegistry whole;
    whole.LoadFile("", file.c_str());
    EXPECT_NE(nullptr, whole.FindEntry(1));
    EXPECT_NE(nullptr, whole.FindEntry(20));

    // No memory to keep the entry's DLL path at its first creation: the
    // creation fails as a load does, and the next one resolves the path.
    const std::string failed =
        "[Pexil_Error] LoadLibrary Fail.\n[Pexil_Error] DLL Path:" + (temp / "m1.dll") + "\n";
    DebugCapture capture;
    {
        AllocationLimit limit(0);
        EXPECT_EQ(nullptr, whole.CreateByID(1));
    }
    EXPECT_FALSE(whole.StateOf(*whole.FindEntry(1)).resolved);
    EXPECT_EQ(nullptr, whole.CreateByID(1));  // m1.dll is not there
    EXPECT_TRUE(whole.StateOf(*whole.FindEntry(1)).resolved);
    EXPECT_EQ(failed + failed, capture.Text());
}

int g_timerEvents = 0;
void PEXIL_CALLBACK CountEvent(void*, unsigned int, uintptr_t, unsigned long) {
    ++g_timerEvents;
}

// A thread timer and the pump allocate nothing: they used to push_back into
// a thread_local vector, whose failure left PexilPumpMessages by an exception.
TEST(OutOfMemory, ThreadTimersAndThePumpNeedNoMemory) {
    uintptr_t timer = 0;
    int killed = 0;
    g_timerEvents = 0;
    std::thread([&] {
        AllocationLimit none(0);
        timer = platform::SetTimer(10, CountEvent);
        for (int waited = 0; g_timerEvents == 0 && waited < 5000; waited += 50)
            PexilPumpMessages(50);
        killed = platform::KillTimer(timer);
    }).join();
    EXPECT_NE(0u, timer);
    EXPECT_GE(g_timerEvents, 1);
    EXPECT_EQ(1, killed);
}

#if !defined(_WIN32)
// The example's configuration component keeps the rule it shows module
// authors: its slots answer 0 when memory runs out, and nothing unwinds into
// the caller. (On ELF this program's operator new serves the modules it loads
// too; a Windows module carries its own.)
TEST(OutOfMemory, TheExampleModulesSlotsAnswerFailureInsteadOfThrowing) {
    DebugCapture quiet;  // the module finds no factory here, and says so
    const std::string path = std::string(RecomputedHostDirectory()) + "/Settings.dll";
    const PexilModuleHandle settings = platform::LoadLibrary(path.c_str());
    ASSERT_NE(nullptr, settings);
    auto create = reinterpret_cast<CreateComponentFunction>(
        platform::GetProcAddress(settings, "CreateComponent"));
    auto* configuration =
        static_cast<IConfiguration*>(create(kConfigurationComponentID, kCreatorDirect));
    ASSERT_NE(nullptr, configuration);
    uint32_t key = 0;
    ASSERT_EQ(1,
              configuration->CreateConfigKey(kConfigRoot, "a key long enough to allocate", &key));
    const std::string value(100, 'v');
    int set = -1, created = -1, queried = -1;
    {
        AllocationLimit none(0);
        set = configuration->SetConfigValue(key, "a value name long enough to allocate",
                                            kConfigTypeString, value.c_str(), 101);
        uint32_t other = 0;
        created = configuration->CreateConfigKey(kConfigRoot, "another key, allocated too", &other);
        char buffer[260];
        uint32_t size = sizeof(buffer);
        queried = configuration->QueryConfigValue(key, "a value name long enough to allocate",
                                                  nullptr, buffer, &size);
    }
    EXPECT_EQ(0, set);
    EXPECT_EQ(0, created);
    EXPECT_EQ(0, queried);
    configuration->Release(1);
    platform::FreeLibrary(settings);
}
#endif

}  // namespace
}  // namespace testing
}  // namespace pexil
