// The factory in this process, through Brelnor.dll's own exports.
#include "modules/test_interfaces.h"
#include "platform/debug_capture.h"
#include "support/loaded_module.h"
#include "support/native_path.h"
#include "support/temp_directory.h"

#include <pexil/component_ptr.h>
#include <pexil/factory.h>
#include <pexil/platform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace pexil::testing {

// The factory's 15 slots as a module built elsewhere declares them: apart from
// the project's headers, with plain argument types. Calling each on the real
// factory and checking its effect proves the slot order, not just the names.
// (External linkage: in an unnamed namespace the compiler may conclude that
// nothing implements it and replace the calls.)
class FactorySlots {
public:
    virtual uint32_t Slot0() = 0;                    // GetComponentID
    virtual int Slot1() = 0;                         // GetVersion
    virtual void Slot2(int) = 0;                     // Release
    virtual int Slot3() = 0;                         // GetFreeMapFlag
    virtual void Slot4(int) = 0;                     // SetFreeMapFlag
    virtual void* Slot5(uint32_t, const char*) = 0;  // CreateComponentByID
    virtual void Slot6(const char*, uint32_t, uint32_t*, uint32_t*, void**) = 0;  // GetLogSettings
    virtual void Slot7(void*) = 0;                     // RegisterGlobalComponent
    virtual void Slot8() = 0;                          // ReleaseGlobalComponents
    virtual int Slot9(void*) = 0;                      // UnloadDllIfIdle
    virtual uint32_t Slot10(void*) = 0;                // ScheduleDllUnload
    virtual void Slot11(const char*) = 0;              // SetRootPath
    virtual int Slot12(char*) = 0;                     // GetRootPath
    virtual void Slot13() = 0;                         // Shutdown
    virtual void Slot14(const char*, char*, int) = 0;  // GetRegistryPath

protected:
    ~FactorySlots() = default;
};

namespace {

class Factory : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, module_.handle());
        factory_ = static_cast<IComponentFactory*>(module_.CreateComponent(361, 0));
        ASSERT_NE(nullptr, factory_);
    }
    void TearDown() override {
        if (factory_ != nullptr) factory_->Release(1);
    }
    LoadedModule module_{"Brelnor.dll"};
    IComponentFactory* factory_ = nullptr;
};

TEST_F(Factory, IsOneInstanceWithTheFactorySlots) {
    EXPECT_EQ(361u, factory_->GetComponentID());
    EXPECT_EQ(1, factory_->GetVersion());
    EXPECT_EQ(factory_, module_.CreateComponent(361, 361));
    factory_->Release(0);  // force-only: ignored
    EXPECT_EQ(0, module_.PexilDllCanUnloadNow());
    uint32_t ids[2] = {0, 0};
    EXPECT_EQ(1, module_.GetComponentIDs(ids, 2));
    EXPECT_EQ(361u, ids[0]);
}

TEST_F(Factory, LogSettingsSkipOutputsTheCallerDidNotGive) {
    factory_->GetLogSettings(nullptr, 5, nullptr, nullptr, nullptr);
    uint32_t debug = 7;
    LogSink* sink = reinterpret_cast<LogSink*>(1);
    factory_->GetLogSettings(nullptr, 5, &debug, nullptr, &sink);
    EXPECT_EQ(0u, debug);  // the empty default registry's default
    EXPECT_EQ(nullptr, sink);
    uint32_t log = 9;
    factory_->GetLogSettings("never-named.ini", 5, nullptr, &log, nullptr);
    EXPECT_EQ(9u, log);
}

TEST_F(Factory, RootPathStartsAtTheHostDirectoryAndRefusesWhatDoesNotFit) {
    char root[kMaxPath];
    EXPECT_EQ(0, factory_->GetRootPath(nullptr));
    EXPECT_EQ(1, factory_->GetRootPath(root));
    EXPECT_STREQ(RecomputedHostDirectory(), root);

    factory_->SetRootPath(nullptr);
    factory_->SetRootPath("");
    factory_->SetRootPath(std::string(260, 'r').c_str());
    factory_->GetRootPath(root);
    EXPECT_STREQ(RecomputedHostDirectory(), root);
    const std::string fits(259, 'r');
    factory_->SetRootPath(fits.c_str());
    factory_->GetRootPath(root);
    EXPECT_EQ(fits, root);
}

TEST_F(Factory, UnloadIfIdleAsksTheModuleFirst) {
    LoadedModule components("TestComponents.dll");
    EXPECT_EQ(1, factory_->UnloadDllIfIdle(components.handle()));
    IComponent* alive = components.CreateComponent(101, 0);
    EXPECT_EQ(0, factory_->UnloadDllIfIdle(components.handle()));
    LoadedModule plain(Native("plain/NoExports.dll"));
    EXPECT_EQ(0, factory_->UnloadDllIfIdle(plain.handle()));
    components.SetFactoryHandle(module_.handle());  // its idle notice reaches this factory
    alive->Release(0);
}

// The unload check (called here as a worker's unload timer would call it)
// while a creation runs in the module: the entry that creates keeps its
// loader reference, so the module stays loaded until the creation is done.
TEST_F(Factory, AModuleStaysLoadedWhileACreationRunsInIt) {
    TempDirectory temp;
    const std::string path = BesideProgram("TestComponents.dll");
    const std::string registry = temp.Write(
        "Blocking.ini", "[" + std::to_string(kBlockingCreator) + "]\nDLL=" + path + "\n[" +
                            std::to_string(kModuleProbe) + "]\nDLL=" + path + "\n");
    auto scenario = [&](int command, int argument) {
        auto* probe = static_cast<IModuleProbe*>(
            factory_->CreateComponentByID(kModuleProbe, registry.c_str()));
        const int answer = probe != nullptr ? probe->Scenario(command, argument) : -1;
        if (probe != nullptr) probe->Release(0);  // none alive while the check runs
        return answer;
    };
    ASSERT_EQ(1, scenario(kLetCreatorsGo, 0));
    IComponent* made = nullptr;
    std::atomic<bool> returned{false};
    std::thread creator([&] {
        made = factory_->CreateComponentByID(kBlockingCreator, registry.c_str());
        returned = true;
    });
    // A creation that never blocks (a wrong registry) must fail the test, not hang it.
    while (scenario(kCreatorsWaiting, 0) != 1 && !returned)
        std::this_thread::yield();
    if (returned) {
        creator.join();
        FAIL() << "the blocking creator was never reached";
    }
    const PexilModuleHandle module = platform::GetModuleHandle(path.c_str());
    ASSERT_NE(nullptr, module);
    EXPECT_EQ(1, factory_->UnloadDllIfIdle(module));  // idle: nothing recorded yet
    EXPECT_TRUE(platform::IsModuleLoaded(path.c_str()));
    EXPECT_EQ(1, scenario(kLetCreatorsGo, 1));
    creator.join();
    ASSERT_NE(nullptr, made);
    EXPECT_EQ(kPlainComponent, made->GetComponentID());
    made->Release(0);
}

// The log lock is handed to every module through the log sink, and anyone may
// hold it while creating or releasing components; a module going idle tells
// the factory while it holds its own module lock. So scheduling an unload must
// not wait for the log lock, or the two orders of locking would deadlock.
TEST_F(Factory, SchedulingAnUnloadDoesNotWaitForTheLogLock) {
    TempDirectory root;
    factory_->SetRootPath(root.str().c_str());
    const std::string registry = root.Write("Logged.ini", "[LogDefault]\nWriteToLogFile=E\n");
    EXPECT_EQ(nullptr, factory_->CreateComponentByID(12345, registry.c_str()));
    uint32_t debugMask = 0, fileMask = 0;
    LogSink* sink = nullptr;
    factory_->GetLogSettings(registry.c_str(), 12345, &debugMask, &fileMask, &sink);
    ASSERT_NE(nullptr, sink);
    ASSERT_NE(nullptr, sink->lock);

    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false, scheduled = false;
    std::thread logger([&] {
        PexilLockEnter(sink->lock);
        std::unique_lock<std::mutex> lock(mutex);
        holding = true;
        changed.notify_all();
        // Held until the schedule is done; the time limit only ends a deadlock.
        changed.wait_for(lock, std::chrono::seconds(20), [&] { return scheduled; });
        holding = false;
        lock.unlock();
        PexilLockLeave(sink->lock);
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return holding; });
    }
    LoadedModule components("TestComponents.dll");
    EXPECT_NE(0u, factory_->ScheduleDllUnload(components.handle()));
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_TRUE(holding) << "the schedule waited until the log lock was left";
        scheduled = true;
        changed.notify_all();
    }
    logger.join();
}

// A LogSink as another module reads it: the lock first, then the file, each
// as wide as a pointer.
struct SinkAsRead {
    void* lock;
    intptr_t file;
};
static_assert(sizeof(SinkAsRead) == sizeof(LogSink) && offsetof(LogSink, lock) == 0 &&
                  offsetof(LogSink, file) == sizeof(void*) && sizeof(LogSink) == 2 * sizeof(void*),
              "the LogSink other modules read");

// Records the order of forced releases.
std::vector<uint32_t> g_releaseOrder;
class Recorder final : public IComponent {
public:
    explicit Recorder(uint32_t id) : id_(id) {}
    uint32_t GetComponentID() override { return id_; }
    int GetVersion() override { return 1; }
    void Release(int force) override {
        if (force != 0) g_releaseOrder.push_back(id_);
    }
    int GetFreeMapFlag() override { return 0; }
    void SetFreeMapFlag(int) override {}

private:
    uint32_t id_;
};

TEST_F(Factory, EverySlotSitsWhereSeparatelyBuiltModulesCallIt) {
    auto* slots = reinterpret_cast<FactorySlots*>(static_cast<IComponent*>(factory_));
    EXPECT_EQ(361u, slots->Slot0());
    EXPECT_EQ(1, slots->Slot1());
    slots->Slot2(0);  // ignored: force-only
    EXPECT_EQ(factory_, module_.CreateComponent(361, 361));
    slots->Slot4(1);
    EXPECT_EQ(1, slots->Slot3());
    slots->Slot4(0);
    EXPECT_EQ(0, slots->Slot3());

    TempDirectory temp;
    const std::string registry =
        temp.Write("slots.ini", "[101]\nDLL=" + BesideProgram("TestComponents.dll") +
                                    "\nOutputDebugString=EW\nWriteToLogFile=T\n");
    slots->Slot11(temp.str().c_str());
    char root[kMaxPath] = "";
    EXPECT_EQ(1, slots->Slot12(root));
    EXPECT_EQ(temp.str(), root);
    auto* made = static_cast<IComponent*>(slots->Slot5(101, registry.c_str()));
    ASSERT_NE(nullptr, made);
    EXPECT_EQ(101u, made->GetComponentID());
    uint32_t debugMask = 0, fileMask = 0;
    void* sink = nullptr;
    slots->Slot6(registry.c_str(), 101, &debugMask, &fileMask, &sink);
    EXPECT_EQ(0x11u, debugMask);
    EXPECT_EQ(0x02u, fileMask);
    ASSERT_NE(nullptr, sink);
    const auto* read = static_cast<const SinkAsRead*>(sink);
    ASSERT_NE(nullptr, read->lock);
    ASSERT_NE(intptr_t{-1}, read->file);
    EXPECT_EQ(1, PexilLogWrite(static_cast<PexilLock*>(read->lock), read->file, "line\n", 5));

    // Every ID of the ordinal table, registered in a shuffled order, and two
    // others: the others first, in their order; then the table's IDs from the
    // highest ordinal down. A component replaced in its ordinal is not released,
    // and one of the others registered twice is released once.
    const std::vector<uint32_t> table = {3,   260, 377,  771,  336, 344, 1032, 975, 1033,
                                         985, 331, 1029, 1030, 213, 335, 871,  407, 212,
                                         408, 283, 343,  284,  945, 399, 991,  1185};
    std::vector<uint32_t> shuffled = table;
    std::mt19937 random(361);
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    std::vector<std::unique_ptr<Recorder>> recorders;
    auto registerOne = [&](uint32_t id) {
        recorders.push_back(std::make_unique<Recorder>(id));
        slots->Slot7(static_cast<IComponent*>(recorders.back().get()));
    };
    registerOne(8000);
    registerOne(213);  // replaced below: never released
    for (size_t i = 0; i < shuffled.size(); ++i) {
        registerOne(shuffled[i]);
        if (i == 10) registerOne(7999);
    }
    slots->Slot7(static_cast<IComponent*>(recorders.front().get()));  // 8000 again
    g_releaseOrder.clear();
    slots->Slot8();
    std::vector<uint32_t> expected = {8000, 7999};
    expected.insert(expected.end(), table.rbegin(), table.rend());
    EXPECT_EQ(expected, g_releaseOrder);

    // The module of the component made above: not idle while it lives.
    LoadedModule components("TestComponents.dll");
    EXPECT_EQ(0, slots->Slot9(components.handle()));
    made->Release(0);
    EXPECT_EQ(1, slots->Slot9(components.handle()));
    EXPECT_NE(0u, slots->Slot10(components.handle()));
    EXPECT_EQ(0u, slots->Slot10(components.handle()));  // the timer runs already

    char path[kMaxPath] = "unchanged";
    slots->Slot14("preferred.ini", path, kMaxPath);
    EXPECT_STREQ("preferred.ini", path);
    slots->Slot14(nullptr, path, kMaxPath);
    EXPECT_STREQ("", path);  // Brelnor.dll's own registry path: none was set

    // Shutdown: the log file closed. The forced release at the test's end does
    // not run it a second time.
    slots->Slot13();
    EXPECT_EQ(intptr_t{-1}, read->file);
}

// ComponentPtr owns with Release(1); Create refuses, with one line, what is not
// the component asked for.
TEST_F(Factory, ComponentPointersReleaseWhatTheyOwnAndCreateChecksTheID) {
    LoadedModule components("TestComponents.dll");
    auto* probe = static_cast<IModuleProbe*>(components.CreateComponent(kModuleProbe, 0));
    ASSERT_NE(nullptr, probe);
    probe->RegisterCreators(150, 1, 0);  // makes a component whose ID is 101
    TempDirectory temp;
    const std::string dll = BesideProgram("TestComponents.dll");
    const std::string registry =
        temp.Write("pointers.ini", "[100]\nDLL=" + dll + "\n[150]\nDLL=" + dll + "\n");
    const char* const path = registry.c_str();
    const uint32_t before = probe->LiveCount();

    {
        ComponentPtr<ITestComponent> first = Create<ITestComponent>(factory_, 100, path);
        ASSERT_TRUE(first);
        EXPECT_EQ(100u, first->GetComponentID());
        ComponentPtr<ITestComponent> second = std::move(first);
        EXPECT_FALSE(first);
        EXPECT_EQ(before + 1, probe->LiveCount());
        ComponentPtr<ITestComponent> third = Create<ITestComponent>(factory_, 100, path);
        EXPECT_EQ(before + 2, probe->LiveCount());
        second = std::move(third);  // the one owned before is released
        EXPECT_EQ(before + 1, probe->LiveCount());
        second.reset();
        EXPECT_EQ(before, probe->LiveCount());

        ComponentPtr<ITestComponent> kept = Create<ITestComponent>(factory_, 100, path);
        ITestComponent* raw = kept.release();
        EXPECT_FALSE(kept);
        EXPECT_EQ(before + 1, probe->LiveCount());
        kept.reset(raw);
        ComponentPtr<ITestComponent> scoped = Create<ITestComponent>(factory_, 100, path);
        EXPECT_EQ(before + 2, probe->LiveCount());
    }
    EXPECT_EQ(before, probe->LiveCount());

    platform::testing::DebugCapture capture;
    EXPECT_FALSE(Create<IComponent>(factory_, 150, path));
    EXPECT_EQ("Pexil[Error]: Create(150): the component created is 101; released\n",
              capture.Text());
    EXPECT_EQ(before, probe->LiveCount());
    EXPECT_FALSE(Create<IComponent>(nullptr, 100));
    const std::string none = "Pexil[Error]: Create(100): no factory to ask\n";
    EXPECT_EQ(none, capture.Text().substr(capture.Text().size() - none.size()));
    EXPECT_FALSE(Create<IComponent>(factory_, 999, path));
    const std::string failed = "Pexil[Error]: Create(999): the factory created no component\n";
    const std::string text = capture.Text();
    EXPECT_EQ(failed, text.substr(text.size() - failed.size()));
    probe->Release(1);
}

}  // namespace
}  // namespace pexil::testing
