// The factory in this process, through Brelnor.dll's own exports.
#include "support/loaded_module.h"
#include "support/native_path.h"
#include "support/temp_directory.h"

#include <pexil/factory.h>
#include <pexil/platform.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace pexil::testing {
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

}  // namespace
}  // namespace pexil::testing
