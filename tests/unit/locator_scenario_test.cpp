// The factory locator in real host processes, with real ini files and real
// loading: the host directory is each scenario's own.
#include "support/native_path.h"
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace pexil::testing {
namespace {

const char* const kLoadFail = "[Pexil_Error] Load Brelnor.dll Fail.\n";
// The stand-in factory's report of a forced release, which ends a scenario
// that located it (the locator never releases what it finds).
const char* const kFactoryReleased = "[TestFactory] Release(1)\n[TestFactory] Shutdown()\n";

// A scenario with the stand-in factory available to copy where a test wants it.
class LocatorScenario : public ::testing::Test {
protected:
    void PlaceFactory(const std::string& relative) {
        scenario_.Copy(Native("test-factory/Brelnor.dll"), Native(relative));
    }
    ScenarioResult Run(const std::vector<std::string>& commands) { return scenario_.Run(commands); }
    Scenario scenario_;
};

TEST_F(LocatorScenario, IniArgumentFormsResolveAgainstTheHostDirectory) {
    const std::string absolute = scenario_.Path("elsewhere.ini");
    const ScenarioResult result =
        Run({"resolve", "resolve -", "resolve " + Native("cfg/x.ini"), "resolve " + absolute});
    EXPECT_EQ(Native("resolve: <host>/Pexil.ini\nresolve: <host>/Pexil.ini\n"
                     "resolve: <host>/cfg/x.ini\nresolve: <host>/elsewhere.ini\n"),
              result.output);
    EXPECT_EQ("", result.debug);
}

TEST_F(LocatorScenario, AbsoluteThenRelativeRedirectEndsTheChain) {
    scenario_.Write("Pexil.ini", "[Redirect]\nPath=" + scenario_.Path(Native("k/y.ini")) + "\n");
    scenario_.Write(Native("k/y.ini"), "[Redirect]\nPath=z.ini\n[361]\nDLL=wrong.dll\n");
    // The last file's own [Redirect] is not read.
    scenario_.Write(Native("k/z.ini"), "[Redirect]\nPath=" + scenario_.Path("other.ini") +
                                           "\n[361]\nDLL=" + Native("f/Brelnor.dll") +
                                           "\nNotUseDefaultDllPath=1\n");
    PlaceFactory("k/f/Brelnor.dll");
    const ScenarioResult result = Run({"resolve", "dllpath", "locate", "release #1 1"});
    EXPECT_EQ(Native("resolve: <host>/k/z.ini\ndllpath: <host>/k/f/Brelnor.dll\n") +
                  "locate: component 361 as #1\nrelease #1 1\n",
              result.output);
    EXPECT_EQ(kFactoryReleased, result.debug);
}

TEST_F(LocatorScenario, BlankRedirectIsNoRedirect) {
    scenario_.Write("Pexil.ini", "[Redirect]\nPath= \t \n[361]\nDLL=Brelnor.dll\n");
    PlaceFactory("Brelnor.dll");
    const ScenarioResult result = Run({"resolve", "locate", "release #1 1"});
    EXPECT_EQ(Native("resolve: <host>/Pexil.ini\n") + "locate: component 361 as #1\nrelease #1 1\n",
              result.output);
    EXPECT_EQ(kFactoryReleased, result.debug);
}

#if !defined(_WIN32)
// A host whose executable's path does not fit in 259 characters: cut, the
// path would name a parent directory, where a Pexil.ini and a factory lie.
// The host directory is unknown instead, and nothing beside it is read. And a
// FIFO where Pexil.ini belongs reads as missing, at once.
TEST_F(LocatorScenario, AHostWhosePathDoesNotFitReadsNoFileBesideACutPath) {
    scenario_.Write("Pexil.ini", "[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n");
    PlaceFactory("Brelnor.dll");
    const std::string deep = std::string(250, 'd');
    ASSERT_GT(scenario_.Path(deep).size() + 1 + std::strlen(Scenario::kHost), 259u);
    scenario_.Copy(Scenario::kHost, deep + "/" + Scenario::kHost);
    auto run = [&](bool explained) {
        if (explained) platform::testing::SetEnvironmentVariable("PEXIL_EXPLAIN", "1");
        const ProgramResult result =
            RunProgram(scenario_.Path(deep + "/" + Scenario::kHost), {"locate"}, scenario_.Path(""),
                       scenario_.Path("out.txt"), scenario_.Path("err.txt"));
        if (explained) platform::testing::SetEnvironmentVariable("PEXIL_EXPLAIN", nullptr);
        return result;
    };
    const ProgramResult plain = run(false);
    EXPECT_EQ("locate: null\n", plain.out);
    EXPECT_EQ(kLoadFail, plain.err);
    const ProgramResult explained = run(true);
    EXPECT_EQ(std::string("Pexil[Explain]: the host's executable path is longer than 259 "
                          "characters, so the host directory is unknown: nothing beside the host "
                          "(Pexil.ini, PexilLog) is read or made\n") +
                  kLoadFail +
                  "Pexil[Explain]: no ini file was read for \"Pexil.ini\": its path, or that of "
                  "a file its [Redirect] names, does not fit in 259 characters, or the redirects "
                  "loop\n",
              explained.err);

    std::filesystem::remove(scenario_.Path("Pexil.ini"));
    ASSERT_EQ(0, ::mkfifo(scenario_.Path("Pexil.ini").c_str(), 0666));
    const ScenarioResult fifo = scenario_.Run({"locate"}, true);
    EXPECT_EQ("locate: null\n", fifo.output);
    EXPECT_EQ(kLoadFail + std::string("Pexil[Explain]: the ini file ") +
                  scenario_.Path("Pexil.ini") +
                  " cannot be read: it is not a regular file but a FIFO; it reads as missing\n",
              fifo.debug);
}
#endif

#if defined(_WIN32)
// A host in a directory whose name the ANSI code page cannot write (C:\日本):
// GetModuleFileNameA gives '?' for those characters, the path names nothing,
// and the trace says why. The host is started by a relative name from inside
// that directory, since no ANSI path reaches it.
TEST_F(LocatorScenario, AHostInADirectoryTheCodePageCannotWriteIsExplained) {
    const std::filesystem::path unicode =
        scenario_.directory().path() / std::filesystem::u8path("\xe6\x97\xa5\xe6\x9c\xac");
    std::filesystem::create_directory(unicode);
    std::filesystem::copy_file(BesideProgram(Scenario::kHost), unicode / Scenario::kHost);
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(unicode);
    platform::testing::SetEnvironmentVariable("PEXIL_EXPLAIN", "1");
    const char* const arguments[] = {"locate", nullptr};
    const std::string out = scenario_.Path("out.txt");
    const std::string err = scenario_.Path("err.txt");
    const platform::ProcessOptions options{Scenario::kHost, arguments, nullptr, out.c_str(),
                                           err.c_str()};
    const int exitCode = platform::RunProcess(&options);
    platform::testing::SetEnvironmentVariable("PEXIL_EXPLAIN", nullptr);
    std::filesystem::current_path(before);
    EXPECT_EQ(0, exitCode);
    EXPECT_EQ("locate: null\n", ReadFileBytes(out));
    const std::string lossy = scenario_.Path("??");
    const std::string cannotWrite =
        " holds '?' where the ANSI code page could not represent a character of a name: the "
        "framework's ANSI calls cannot reach that file; use a directory whose name the code page "
        "can write (plain ASCII always can)\n";
    EXPECT_EQ("Pexil[Explain]: the host's executable path " + lossy + "\\" + Scenario::kHost +
                  cannotWrite + kLoadFail + "Pexil[Explain]: no ini file at " + lossy +
                  "\\Pexil.ini: put a Pexil.ini beside the host whose [361] section names the "
                  "factory (DLL=Brelnor.dll)\nPexil[Explain]: the ini file " +
                  lossy + "\\Pexil.ini" + cannotWrite,
              ReadFileBytes(err));
}
#endif

TEST_F(LocatorScenario, RedirectLoopsEndAsAFailedSearch) {
    const std::string a = scenario_.Path("a.ini");
    const std::string pexil = scenario_.Path("Pexil.ini");
    scenario_.Write("Pexil.ini", "[Redirect]\nPath=" + a + "\n");
    scenario_.Write("a.ini", "[Redirect]\nPath=" + pexil + "\n");
    scenario_.Write("self.ini", "[Redirect]\nPath=" + scenario_.Path("self.ini") + "\n");
    PlaceFactory("Brelnor.dll");
    const ScenarioResult result = Run({"locate", "locate self.ini"});
    EXPECT_EQ("locate: null\nlocate: null\n", result.output);
    EXPECT_EQ("[Pexil_Error] Redirect loop: " + a + " redirects to " + pexil +
                  ", which the chain has already passed.\n" + kLoadFail +
                  "[Pexil_Error] Redirect loop: " + scenario_.Path("self.ini") + " redirects to " +
                  scenario_.Path("self.ini") + ", which the chain has already passed.\n" +
                  kLoadFail,
              result.debug);
}

TEST_F(LocatorScenario, AbsoluteDllNameWinsWhateverElseIsSet) {
    const std::string dll = scenario_.Path(Native("f/Brelnor.dll"));
    scenario_.Write("Pexil.ini", "[361]\nDLL=  " + dll +
                                     " \t\nNotUseDefaultDllPath=1\n[DefaultValue]\nDllPath=bin\n");
    PlaceFactory("f/Brelnor.dll");
    const ScenarioResult result = Run({"dllpath", "locate", "release #1 1"});
    EXPECT_EQ("dllpath: " + Native("<host>/f/Brelnor.dll\n") +
                  "locate: component 361 as #1\nrelease #1 1\n",
              result.output);
    EXPECT_EQ(kFactoryReleased, result.debug);
}

TEST_F(LocatorScenario, DllPathRules) {
    const std::string lib = scenario_.Path("lib");
    struct Rule {
        std::string ini;
        std::string path;
    } rules[] = {
        // Beside the ini file when the flag's first character is 1, whatever DllPath says.
        {"[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n[DefaultValue]\nDllPath=bin\n",
         Native("<host>/Brelnor.dll")},
        {"[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=10\n[DefaultValue]\nDllPath=bin\n",
         Native("<host>/Brelnor.dll")},
        // Otherwise in the default DLL directory, relative to the ini file.
        {"[361]\nDLL=Brelnor.dll\n[DefaultValue]\nDllPath=bin\n", Native("<host>/bin/Brelnor.dll")},
        {"[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=0\n[DefaultValue]\nDllPath=bin\n",
         Native("<host>/bin/Brelnor.dll")},
        {"[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=yes\n[DefaultValue]\nDllPath=bin\n",
         Native("<host>/bin/Brelnor.dll")},
        {"[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1111111111\n[DefaultValue]\nDllPath=bin\n",
         Native("<host>/bin/Brelnor.dll")},
        {"[361]\nDLL=Brelnor.dll\n[DefaultValue]\nDllPath=" + lib + "\n",
         Native("<host>/lib/Brelnor.dll")},
        // A separator is added even after one.
        {"[361]\nDLL=Brelnor.dll\n[DefaultValue]\nDllPath=" + lib + Native("/") + "\n",
         Native("<host>/lib//Brelnor.dll")},
        {"[361]\nDLL=Brelnor.dll\n", Native("<host>/Brelnor.dll")},
        // No ini file at all: the ini file's directory and a separator.
        {"", Native("<host>/")},
    };
    for (const Rule& rule : rules) {
        if (rule.ini.empty()) {
            std::filesystem::remove(scenario_.Path("Pexil.ini"));
        } else {
            scenario_.Write("Pexil.ini", rule.ini);
        }
        EXPECT_EQ("dllpath: " + rule.path + "\n", Run({"dllpath"}).output) << rule.ini;
    }
    // And the two-separator path really loads.
    scenario_.Write("Pexil.ini",
                    "[361]\nDLL=Brelnor.dll\n[DefaultValue]\nDllPath=" + lib + Native("/") + "\n");
    PlaceFactory("lib/Brelnor.dll");
    EXPECT_EQ("locate: component 361 as #1\nrelease #1 1\n",
              Run({"locate", "release #1 1"}).output);
}

TEST_F(LocatorScenario, FailuresGiveExactlyTheirMessages) {
    // No ini file, nothing to load.
    ScenarioResult result = Run({"locate"});
    EXPECT_EQ("locate: null\n", result.output);
    EXPECT_EQ(kLoadFail, result.debug);

    // A library without CreateComponent.
    scenario_.Copy(Native("plain/NoExports.dll"), "Brelnor.dll");
    scenario_.Write("Pexil.ini", "[361]\nDLL=Brelnor.dll\n");
    result = Run({"locate"});
    EXPECT_EQ(
        "[Pexil_Error] Can't find CreateComponent().\n"
        "[Pexil_Error] Create ComponentFactory in Brelnor.dll Fail\n",
        result.debug);

    // A module whose CreateComponent has no creator 361.
    scenario_.Copy("TestComponents.dll", "Brelnor.dll");
    result = Run({"locate"});
    EXPECT_EQ(
        "Pexil[Error]: Can't find the factory method of Component\n"
        "Pexil[Error]: ComponentID=361 CreatorID=0"
        "[Pexil_Error] CreateComponent(ComponentId=361) return null.\n"
        "[Pexil_Error] Create ComponentFactory in Brelnor.dll Fail\n",
        result.debug);

    // An absolute DllPath of 250 characters: with the DLL name the path does
    // not fit, and the part that fitted is never loaded. Explained as too long.
    const std::string directory =
        scenario_.Path(std::string(249 - scenario_.directory().str().size(), 'd'));
    ASSERT_EQ(250u, directory.size());
    scenario_.Write("Pexil.ini",
                    "[361]\nDLL=Brelnor.dll\n[DefaultValue]\nDllPath=" + directory + "\n");
    result = scenario_.Run({"locate"}, true);
    EXPECT_EQ("locate: null\n", result.output);
    const std::string tooLong =
        std::string(kLoadFail) + "Pexil[Explain]: the factory DLL's path that " +
        scenario_.Path("Pexil.ini") + " names does not fit in 259 characters\n";
    EXPECT_EQ(tooLong, result.debug);

    // A relative DllPath of 160 characters and a DLL name of 100 do not fit
    // together; the directory that fitted, joined to the ini file's, would
    // fit, and is never loaded either.
    scenario_.Write("Pexil.ini", "[361]\nDLL=" + std::string(96, 'b') +
                                     ".dll\n[DefaultValue]\nDllPath=" + std::string(160, 'd') +
                                     "\n");
    result = scenario_.Run({"locate"}, true);
    EXPECT_EQ("locate: null\n", result.output);
    EXPECT_EQ(tooLong, result.debug);
}

TEST_F(LocatorScenario, FactoryHandleShortcutReadsNoIniFile) {
    // There is no Pexil.ini: only the handle can find the factory.
    PlaceFactory("Brelnor.dll");
    const ScenarioResult result =
        Run({"locate", "load Brelnor.dll", "sethandle Brelnor.dll", "locate", "release #1 1"});
    EXPECT_EQ("locate: null\nload Brelnor.dll: ok\nlocate: component 361 as #1\nrelease #1 1\n",
              result.output);
    EXPECT_EQ(std::string(kLoadFail) + kFactoryReleased, result.debug);
}

TEST_F(LocatorScenario, LoadedModuleShortcutReadsNoIniFile) {
    PlaceFactory("Brelnor.dll");
    scenario_.Write("Pexil.ini", "[361]\nDLL=missing.dll\n");  // would fail if read
    const ScenarioResult result =
        Run({"locate-loaded", "load Brelnor.dll", "locate-loaded", "release #1 1"});
    EXPECT_EQ(
        "locate-loaded: null\nload Brelnor.dll: ok\nlocate-loaded: component 361 as #1\n"
        "release #1 1\n",
        result.output);
    EXPECT_EQ(std::string(kLoadFail) + kFactoryReleased, result.debug);
}

}  // namespace
}  // namespace pexil::testing
