// The factory in this process, through Brelnor.dll's own exports.
#include "support/loaded_module.h"
#include "support/native_path.h"

#include <pexil/factory.h>

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace pexil::testing
