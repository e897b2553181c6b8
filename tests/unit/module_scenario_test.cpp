// The module layer seen from a real host process.
#include "support/scenario.h"

#include <gtest/gtest.h>

namespace pexil::testing {
namespace {

TEST(ModuleScenario, ComponentsStillAliveAtExitAreReportedAndFreedOnesAreNot) {
    Scenario scenario;
    scenario.Copy("TestComponents.dll");
    const ScenarioResult result = scenario.Run({
        "load TestComponents.dll",
        "create TestComponents.dll 101 361",
        "create TestComponents.dll 101 0",
        "create TestComponents.dll 555 361",
        "release #1 0",
        "canunload TestComponents.dll",
    });
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ(
        "load TestComponents.dll: ok\n#1 = component\n#2 = component\n#3 = null\n"
        "release #1 0\ncanunload TestComponents.dll: 0\n",
        result.output);
    // The unknown ID's two messages, then the leak report of the one left alive
    // when the process ended.
    const std::string separator = "Pexil[Error]:" + std::string(65, '=') + "\n";
    const std::string expectedStart =
        "Pexil[Error]: Can't find the factory method of Component\n"
        "Pexil[Error]: ComponentID=555 CreatorID=361" +
        separator + "Pexil[Error]:Found leak Pexil components. Count:1\n" +
        "Pexil[Error]:ComponentID:0x00000065 CreatorID:0x00000000 Pointer:0x";
    EXPECT_EQ(expectedStart, result.debug.substr(0, expectedStart.size()));
    EXPECT_EQ(separator, result.debug.substr(result.debug.size() - separator.size()));
}

TEST(ModuleScenario, AnIdleModuleReallyUnloadsAtItsLastFree) {
    Scenario scenario;
    scenario.Copy("TestComponents.dll");
    const ScenarioResult result = scenario.Run({
        "load TestComponents.dll",
        "load TestComponents.dll",
        "create TestComponents.dll 101 361",
        "flag #1 1",
        "freemap TestComponents.dll",
        "free TestComponents.dll",
        "loaded TestComponents.dll",
        "free TestComponents.dll",
        "loaded TestComponents.dll",
    });
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ(
        "load TestComponents.dll: ok\nload TestComponents.dll: ok\n#1 = component\n"
        "freemap TestComponents.dll\nfree TestComponents.dll\nTestComponents.dll loaded: yes\n"
        "free TestComponents.dll\nTestComponents.dll loaded: no\n",
        result.output);
    // The module went idle and looked for the factory to be unloaded by; there
    // is none here, so it is simply not scheduled.
    EXPECT_EQ("[Pexil_Error] Load Brelnor.dll Fail.\n", result.debug);
}

// Released twice: in the explaining mode the released component's memory is
// kept with a table of functions that names it, so the second Release ends
// the process with one line instead of corrupting the heap. (Without the
// mode a second Release is undefined; nothing is promised.)
TEST(ModuleScenario, ASecondReleaseInTheExplainingModeNamesTheComponentAndEndsTheProcess) {
    Scenario scenario;
    scenario.Copy("TestComponents.dll");
    const ScenarioResult result = scenario.Run(
        {
            "load TestComponents.dll",
            "create TestComponents.dll 101 361",
            "create TestComponents.dll 100 0",
            "release #1 0",
            "release #1 0",
            "canunload TestComponents.dll",
        },
        true);
    EXPECT_NE(0, result.exitCode);
    EXPECT_EQ("load TestComponents.dll: ok\n#1 = component\n#2 = component\nrelease #1 0\n",
              result.output.substr(0, result.output.find("release #1 0\n") + 13));
    // The component's own release reports nothing; the second one line.
    const std::string line = "Pexil[Error]: Component 0x";
    const size_t at = result.debug.find(line);
    ASSERT_NE(std::string::npos, at) << result.debug;
    EXPECT_NE(std::string::npos,
              result.debug.find(" (ComponentID=101 CreatorID=361) was called after its Release: "
                                "released twice, or used through a pointer kept past its "
                                "release. Ending the process.\n",
                                at))
        << result.debug;
    EXPECT_EQ(std::string::npos, result.output.find("canunload"));

    // Still named after another component's release: the quarantine keeps many.
    const ScenarioResult later = scenario.Run(
        {
            "load TestComponents.dll",
            "create TestComponents.dll 101 361",
            "create TestComponents.dll 101 0",
            "release #1 0",
            "release #2 0",
            "release #1 0",
        },
        true);
    EXPECT_NE(0, later.exitCode);
    EXPECT_EQ(
        "load TestComponents.dll: ok\n#1 = component\n#2 = component\nrelease #1 0\n"
        "release #2 0\n",
        later.output);
    EXPECT_NE(std::string::npos,
              later.debug.find(" (ComponentID=101 CreatorID=361) was called after its Release: "))
        << later.debug;

    // Named also when its interface is not its first base: the call arrives at
    // the interface pointer, not at the start of the memory.
    const ScenarioResult offset = scenario.Run(
        {
            "load TestComponents.dll",
            "create TestComponents.dll 116 361",
            "release #1 0",
            "release #1 0",
        },
        true);
    EXPECT_NE(0, offset.exitCode);
    EXPECT_NE(std::string::npos,
              offset.debug.find(" (ComponentID=116 CreatorID=361) was called after its Release: "
                                "released twice, or used through a pointer kept past its "
                                "release. Ending the process.\n"))
        << offset.debug;
}

}  // namespace
}  // namespace pexil::testing
