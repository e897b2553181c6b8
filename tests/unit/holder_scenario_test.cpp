// Component holders, the configured root path and a module's idle
// notification, in real host processes with the stand-in factory.
#include "support/native_path.h"
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pexil::testing {
namespace {

const char* const kAskFactory = "[TestFactory] CreateComponentByID(361, \"\")\n";
const char* const kAskConfig = "[TestFactory] CreateComponentByID(991, null)\n";
const char* const kConfigCalls =
    "[TestConfig] OpenConfigKey(0x3ffffff4, \"pexil_rootpath\", 1, 0x3ffffff4)\n"
    "[TestConfig] QueryConfigValue(7, \"pexil_rootpath_data\", type 1, size 260)\n";
// Component 991 released: its module is then empty and schedules its unload.
const char* const kConfigReleased =
    "[TestConfig] released\n"
    "[TestFactory] CreateComponentByID(361, \"\")\n"
    "[TestFactory] ScheduleDllUnload(TestConfig.dll)\n";

class HolderScenario : public ::testing::Test {
protected:
    HolderScenario() {
        scenario_.Copy(Native("test-factory/Brelnor.dll"), "Brelnor.dll");
        scenario_.Write("Pexil.ini", "[361]\nDLL=Brelnor.dll\n");
    }
    // Commands that end a scenario cleanly: the factory is released, forced.
    static std::vector<std::string> Ending(std::vector<std::string> commands, int number) {
        commands.push_back("locate");
        commands.push_back("release #" + std::to_string(number) + " 1");
        return commands;
    }
    static std::string EndingDebug() {
        return "[TestFactory] Release(1)\n[TestFactory] Shutdown()\n";
    }
    Scenario scenario_;
};

TEST_F(HolderScenario, KeepingHolderFlagsAndKeepsReleasingHolderReleases) {
    const ScenarioResult result = scenario_.Run(Ending({"holder keeping", "holder releasing"}, 1));
    EXPECT_EQ(
        "holder keeping: component yes, factory yes, flag 1\n"
        "holder releasing: component yes, factory yes, flag 0\n"
        "locate: component 361 as #1\nrelease #1 1\n",
        result.output);
    EXPECT_EQ(std::string(kAskFactory) + kAskFactory + "[TestFactory] Release(0)\n" + EndingDebug(),
              result.debug);
}

TEST_F(HolderScenario, FreeMapOfTheFactoryModuleReachesWhatAKeepingHolderLeft) {
    const ScenarioResult result =
        scenario_.Run(Ending({"load Brelnor.dll", "holder keeping", "freemap Brelnor.dll"}, 1));
    // Release(0) reaches the factory, which ignores it (force-only): it stays.
    EXPECT_EQ(std::string(kAskFactory) + "[TestFactory] Release(0)\n" + EndingDebug(),
              result.debug);
}

TEST_F(HolderScenario, WithoutAFactoryHoldersHoldNothing) {
    std::filesystem::remove(scenario_.Path("Pexil.ini"));
    const ScenarioResult result = scenario_.Run({"holder keeping", "holder releasing"});
    EXPECT_EQ(
        "holder keeping: component no, factory no\nholder releasing: component no, factory no\n",
        result.output);
    EXPECT_EQ("[Pexil_Error] Load Brelnor.dll Fail.\n[Pexil_Error] Load Brelnor.dll Fail.\n",
              result.debug);
}

TEST_F(HolderScenario, RootPathHolderReleasesOnlyWhatItGot) {
    ScenarioResult result = scenario_.Run(Ending({"holder rootpath"}, 1));
    EXPECT_EQ(
        "holder rootpath: component no, factory yes\nlocate: component 361 as #1\n"
        "release #1 1\n",
        result.output);
    EXPECT_EQ(std::string(kAskConfig) + EndingDebug(), result.debug);

    scenario_.Copy("TestConfig.dll");
    result = scenario_.Run(Ending({"holder rootpath"}, 1));
    EXPECT_EQ(
        "holder rootpath: component yes, factory yes, flag 0\n"
        "locate: component 361 as #1\nrelease #1 1\n",
        result.output);
    EXPECT_EQ(std::string(kAskConfig) + kConfigReleased + EndingDebug(), result.debug);
}

TEST_F(HolderScenario, RootPathFallsBackToTheHostDirectoryAndIsCached) {
    const ScenarioResult result = scenario_.Run(Ending({"rootpath", "rootpath"}, 1));
    EXPECT_EQ("rootpath: <host>\nrootpath: <host>\nlocate: component 361 as #1\nrelease #1 1\n",
              result.output);
    EXPECT_EQ(std::string(kAskConfig) + EndingDebug(), result.debug);  // asked once
}

TEST_F(HolderScenario, RootPathFromTheConfigurationComponentIsCached) {
    scenario_.Copy("TestConfig.dll");
    const std::string root = Native("/srv/pexil root");
    scenario_.Write("TestConfig.ini", "[config]\nroot=" + root + "\n");
    const ScenarioResult result = scenario_.Run(Ending({"rootpath", "rootpath"}, 1));
    EXPECT_EQ("rootpath: " + root + "\nrootpath: " + root +
                  "\nlocate: component 361 as #1\nrelease #1 1\n",
              result.output);
    EXPECT_EQ(std::string(kAskConfig) + kConfigCalls + kConfigReleased + EndingDebug(),
              result.debug);
}

TEST_F(HolderScenario, RootPathFallsBackWhenEitherConfigurationCallFails) {
    scenario_.Copy("TestConfig.dll");
    scenario_.Write("TestConfig.ini", "[config]\nopen=0\nroot=unused\n");
    ScenarioResult result = scenario_.Run(Ending({"rootpath"}, 1));
    EXPECT_EQ("rootpath: <host>\n", result.output.substr(0, 17));
    EXPECT_EQ(std::string(kAskConfig) +
                  "[TestConfig] OpenConfigKey(0x3ffffff4, \"pexil_rootpath\", 1, 0x3ffffff4)\n" +
                  kConfigReleased + EndingDebug(),
              result.debug);

    scenario_.Write("TestConfig.ini", "[config]\nquery=0\nroot=unused\n");
    result = scenario_.Run(Ending({"rootpath"}, 1));
    EXPECT_EQ("rootpath: <host>\n", result.output.substr(0, 17));
    EXPECT_EQ(std::string(kAskConfig) + kConfigCalls + kConfigReleased + EndingDebug(),
              result.debug);
}

TEST_F(HolderScenario, AnEmptyConfiguredRootPathIsAskedForAgain) {
    scenario_.Copy("TestConfig.dll");
    scenario_.Write("TestConfig.ini", "[config]\nroot=\n");
    const ScenarioResult result = scenario_.Run(Ending({"rootpath", "rootpath"}, 1));
    EXPECT_EQ("rootpath: \nrootpath: \nlocate: component 361 as #1\nrelease #1 1\n", result.output);
    const std::string lookup = std::string(kAskConfig) + kConfigCalls + kConfigReleased;
    EXPECT_EQ(lookup + lookup + EndingDebug(), result.debug);
}

TEST_F(HolderScenario, LastReleaseOfAModuleSchedulesItsUnloadOnce) {
    scenario_.Copy("TestComponents.dll");
    const ScenarioResult result =
        scenario_.Run(Ending({"fcreate 101", "fcreate 101", "release #1 0", "release #2 0"}, 3));
    EXPECT_EQ(
        "#1 = component\n#2 = component\nrelease #1 0\nrelease #2 0\n"
        "locate: component 361 as #3\nrelease #3 1\n",
        result.output);
    const std::string create101 = std::string(kAskFactory) +
                                  "[TestFactory] CreateComponentByID(101, \"\")\n" +
                                  "[TestFactory] Release(0)\n";
    // The first release leaves a component alive: no notification. The second
    // empties the module, which asks the factory through a keeping holder.
    EXPECT_EQ(create101 + create101 + kAskFactory +
                  "[TestFactory] ScheduleDllUnload(TestComponents.dll)\n" + EndingDebug(),
              result.debug);
}

// Without any Pexil.ini: each form finds the factory by its own locator
// variant (the factory holders by the module's factory handle, the root-path
// holder by the loaded Brelnor.dll) and passes its own registry path.
TEST_F(HolderScenario, EachFormUsesItsOwnLocatorAndPassesItsOwnRegistryPath) {
    std::filesystem::remove(scenario_.Path("Pexil.ini"));
    const ScenarioResult result = scenario_.Run(
        Ending({"load Brelnor.dll", "setregistry my.ini", "holder rootpath", "holder keeping",
                "sethandle Brelnor.dll", "holder keeping", "holder releasing"},
               1));
    EXPECT_EQ(
        "load Brelnor.dll: ok\nholder rootpath: component no, factory yes\n"
        "holder keeping: component no, factory no\n"
        "holder keeping: component yes, factory yes, flag 1\n"
        "holder releasing: component yes, factory yes, flag 0\n"
        "locate: component 361 as #1\nrelease #1 1\n",
        result.output);
    EXPECT_EQ(
        "[TestFactory] CreateComponentByID(991, null)\n[Pexil_Error] Load Brelnor.dll Fail.\n"
        "[TestFactory] CreateComponentByID(361, \"my.ini\")\n"
        "[TestFactory] CreateComponentByID(361, \"my.ini\")\n[TestFactory] Release(0)\n" +
            EndingDebug(),
        result.debug);
}

TEST_F(HolderScenario, ReleasingTheFactoryItselfSendsNoNotification) {
    // The factory module's last component is the factory: no ScheduleDllUnload.
    const ScenarioResult result = scenario_.Run({"locate", "release #1 1"});
    EXPECT_EQ(EndingDebug(), result.debug);
}

TEST_F(HolderScenario, ASingleInstanceRegistersItselfAsAGlobalComponent) {
    scenario_.Copy("TestComponents.dll");
    const ScenarioResult result =
        scenario_.Run(Ending({"fcreate 105", "fcreate 105", "release #1 1"}, 3));
    EXPECT_EQ(
        "#1 = component\n#2 = component\nrelease #1 1\nlocate: component 361 as #3\n"
        "release #3 1\n",
        result.output);
    const std::string ask105 =
        std::string(kAskFactory) + "[TestFactory] CreateComponentByID(105, \"\")\n";
    // Made once and registered through a releasing holder; the second request
    // gets the same instance.
    EXPECT_EQ(ask105 + kAskFactory + "[TestFactory] RegisterGlobalComponent(105)\n" +
                  "[TestFactory] Release(0)\n[TestFactory] Release(0)\n" + ask105 +
                  "[TestFactory] Release(0)\n" + kAskFactory +
                  "[TestFactory] ScheduleDllUnload(TestComponents.dll)\n" + EndingDebug(),
              result.debug);
}

}  // namespace
}  // namespace pexil::testing
