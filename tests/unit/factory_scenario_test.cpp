// Brelnor.dll end to end: real host processes, each in its own host directory,
// with the real factory and real modules.
#include "platform/platform.h"
#include "support/native_path.h"
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pexil::testing {
namespace fs = std::filesystem;
namespace {

// The factory beside the host, found through Pexil.ini, with the test modules.
class FactoryScenario : public ::testing::Test {
protected:
    FactoryScenario() {
        scenario_.Copy("Brelnor.dll");
        scenario_.Copy("TestComponents.dll");
    }
    // Pexil.ini: the factory's own section, then the given lines.
    void WritePexilIni(const std::string& more) {
        scenario_.Write("Pexil.ini", "[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n" + more);
    }
    ScenarioResult Run(const std::vector<std::string>& commands, bool explained = false) {
        return scenario_.Run(commands, explained);
    }
    std::string Host(const std::string& relative) const { return scenario_.Path(Native(relative)); }

    // Files of a directory, by name.
    std::set<std::string> FilesIn(const std::string& directory) const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
    // A file (or directory) with a last-write time some hours ago.
    void Age(const std::string& path, int hoursAgo) const {
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(hoursAgo));
    }
    void OldLog(const std::string& directory, const std::string& name, int hoursAgo) const {
        const std::string path = scenario_.Write(Native(directory + "/" + name), "old\n");
        Age(path, hoursAgo);
    }

    Scenario scenario_;
};

TEST_F(FactoryScenario, TheDefaultRegistryComesFromPexilIniAfterItsRedirect) {
    scenario_.Write("Pexil.ini", "[Redirect]\nPath=" + Native("conf/real.ini") + "\n");
    scenario_.Write(Native("conf/real.ini"),
                    "[DefaultValue]\nDllPath=" + Native("../modules") +
                        "\n[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n"
                        "[100]\nDLL=TestComponents.dll\n[199]\nDLL=TestComponents.dll\n");
    fs::remove(scenario_.Path("Brelnor.dll"));
    fs::remove(scenario_.Path("TestComponents.dll"));
    scenario_.Copy("Brelnor.dll", Native("conf/Brelnor.dll"));
    scenario_.Copy("TestComponents.dll", Native("modules/TestComponents.dll"));
    const ScenarioResult result = Run({"fcreate 100 null", "fcreate 199 -", "probe-regpath #2",
                                       "release #1 1", "release #2 0", "shutdown"});
    EXPECT_EQ(
        "#1 = component\n#2 = component\nregpath: \"\"\nrelease #1 1\nrelease #2 0\nshutdown\n",
        result.output);
    EXPECT_EQ("", result.debug);
}

// A tab is a character, not a blank, where the factory reads a redirect: a
// quoted tab is a relative hop, to a file of that name beside the registry
// file (there is none).
TEST_F(FactoryScenario, AQuotedTabAsTheRedirectPathIsARelativeHop) {
    WritePexilIni("");
    scenario_.Write("plugins.ini", "[Redirect]\nPath=\"\t\"\n[100]\nDLL=TestComponents.dll\n");
    const ScenarioResult result = Run({"fcreate 100 plugins.ini", "shutdown"}, true);
    EXPECT_EQ("#1 = null\nshutdown\n", result.output);
    EXPECT_EQ("Pexil[Explain]: component 100: the registry file " + Host("\t") +
                  " could not be read (missing or unreadable), so it binds no component; the "
                  "factory does not read it again\n",
              result.debug);
}

TEST_F(FactoryScenario, EachSpellingOfARegistryPathIsItsOwnRegistryReadOnce) {
    WritePexilIni("[199]\nDLL=TestComponents.dll\n");
    scenario_.Write("plugins.ini", "[199]\nDLL=TestComponents.dll\n");
    const std::string absolute = scenario_.Path("plugins.ini");
    const ScenarioResult result =
        Run({"fcreate 199 plugins.ini", "probe-regpath #1",
             // The file changes; the registry of this spelling does not read it again.
             "write plugins.ini [199]\\nDLL=missing.dll\\n", "fcreate 199 plugins.ini",
             "probe-regpath #2",
             // Another spelling of the same file is another registry, read now.
             "fcreate 199 " + absolute,
             // So is the default registry's own file named explicitly.
             "fcreate 199 Pexil.ini", "probe-regpath #4", "release #1 0", "release #2 0",
             "release #4 0", "shutdown"});
    EXPECT_EQ(
        "#1 = component\nregpath: \"plugins.ini\"\n#2 = component\nregpath: \"plugins.ini\"\n"
        "#3 = null\n#4 = component\nregpath: \"Pexil.ini\"\nrelease #1 0\nrelease #2 0\n"
        "release #4 0\nshutdown\n",
        result.output);
    EXPECT_EQ(
        "[Pexil_Error] LoadLibrary Fail.\n[Pexil_Error] DLL Path:" + Host("missing.dll") + "\n",
        result.debug);
}

TEST_F(FactoryScenario, AMissingRegistryFileIsCachedEmpty) {
    WritePexilIni("");
    const ScenarioResult result = Run({
        "fcreate 100 absent.ini",
        "write absent.ini [100]\\nDLL=TestComponents.dll\\n",
        "fcreate 100 absent.ini",
        "shutdown",
    });
    EXPECT_EQ("#1 = null\n#2 = null\nshutdown\n", result.output);
    EXPECT_EQ("", result.debug);
}

// A relative registry path joined to the host directory does not fit in 259
// characters: cut to fit, it would name another file (which exists here). It
// reads nothing, as a missing file reads nothing; the locator's search for an
// ini file of that name fails the same way.
TEST_F(FactoryScenario, ARegistryPathTooLongToJoinWholeReadsNothing) {
    WritePexilIni("");
    const size_t host = scenario_.directory().str().size();
    const std::string relative = std::string(270 - host - 1, 'r');
    const std::string cut = relative.substr(0, 259 - host - 1);
    scenario_.Write(cut, "[100]\nDLL=TestComponents.dll\n");
    const ScenarioResult result =
        Run({"fcreate 100 " + relative, "resolve " + relative, "shutdown"});
    EXPECT_EQ("#1 = null\nresolve: (failed)\nshutdown\n", result.output);
    EXPECT_EQ("", result.debug);
}

// Replaces what changes from run to run: a log file's time stamp
// (YYYYmmdd_HHMMSS.log) and the pointers of the leak report.
std::string Steady(std::string text) {
    auto digits = [&](size_t at, size_t count) {
        for (size_t i = at; i < at + count; ++i) {
            if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
        }
        return true;
    };
    for (size_t at = text.find(".log"); at != std::string::npos; at = text.find(".log", at + 1)) {
        if (at >= 15 && digits(at - 15, 8) && text[at - 7] == '_' && digits(at - 6, 6)) {
            text.replace(at - 15, 15, "<stamp>");
            at -= 15;
        }
    }
    const std::string pointer = "Pointer:0x";
    for (size_t at = text.find(pointer); at != std::string::npos; at = text.find(pointer, at + 1)) {
        size_t end = at + pointer.size();
        while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end])))
            ++end;
        text.replace(at, end - at, "Pointer:<pointer>");
    }
    return text;
}

// The outcomes the framework's own messages leave silent or terse, run without
// and with PEXIL_EXPLAIN=1: without it the debug output is exactly the
// framework's messages; with it, "Pexil[Explain]: " lines say why, beside them.
TEST_F(FactoryScenario, TheExplainingTraceSaysWhyOnlyWhenAskedTo) {
    WritePexilIni("[100]\nDLL=missing.dll\n[102]\nOutputDebugString=E\n");
    scenario_.Write("plugins.ini", "[101]\nDLL=TestComponents.dll\n");  // no [361]
    scenario_.Write("other.ini", "[5]\nDLL=x.dll\n");
    scenario_.Write("PexilLog", "a file where the log directory belongs\n");
    const std::vector<std::string> commands = {
        "fcreate 4711",                   // no section, no DefaultDll
        "fcreate 100",                    // the DLL does not load
        "fcreate 102",                    // a section without DLL=
        "fcreate 100 absent.ini",         // a registry file that cannot be read
        "logsettings unknown.ini 5 0 1",  // the log file cannot be created
        "fcreate 101 plugins.ini",        // created; the module's holders find no [361]
        "release #5 0",
        "locate other.ini",         // an ini file without [361]
        "fcreate 101 plugins.ini",  // left alive: the leak report at the end
        "shutdown",
    };
    const std::string output =
        "#1 = null\n#2 = null\n#3 = null\n#4 = null\n"
        "logsettings: debug 0x00 log 0x01 sink yes file none\n"
        "#5 = component\nrelease #5 0\nlocate: null\n#6 = component\nshutdown\n";
    const std::string loadFail = "[Pexil_Error] LoadLibrary Fail.\n[Pexil_Error] DLL Path:";
    const std::string locateFail = "[Pexil_Error] Load Brelnor.dll Fail.\n";
    const std::string leakReport =
        "Pexil[Error]:=================================================================\n"
        "Pexil[Error]:Found leak Pexil components. Count:1\n"
        "Pexil[Error]:ComponentID:0x00000065 CreatorID:0x00000169 Pointer:<pointer>\n"
        "Pexil[Error]:=================================================================\n";

    const ScenarioResult plain = Run(commands);
    EXPECT_EQ(output, plain.output);
    EXPECT_EQ(loadFail + Host("missing.dll") + "\n" + loadFail + Host("") + "\n" + locateFail +
                  leakReport,
              Steady(plain.debug));

    // What the loader and the file system say here, in their own words.
    char loaderSays[512] = "";
    EXPECT_EQ(nullptr, platform::LoadLibrary(Host("missing.dll").c_str()));
    platform::LoadFailureReason(loaderSays, sizeof(loaderSays));
    char openSays[256] = "";
    EXPECT_EQ(platform::kInvalidHandle, platform::OpenLogFile(Host("PexilLog/x.log").c_str()));
    platform::LastErrorText(openSays, sizeof(openSays));

    const std::string explain = "Pexil[Explain]: ";
    const ScenarioResult explained = Run(commands, true);
    EXPECT_EQ(output, explained.output);
    EXPECT_EQ(explain + "component 4711: " + Host("Pexil.ini") +
                  " has no section [4711] and no DefaultDll: add a [4711] section with "
                  "DLL=<its module>\n" +
                  loadFail + Host("missing.dll") + "\n" + explain +
                  "component 100: the loader says: " + loaderSays + "\n" + loadFail + Host("") +
                  "\n" + explain + "component 102: its section in " + Host("Pexil.ini") +
                  " has no DLL= line, so no DLL is named\n" + explain +
                  "component 100: the registry file " + Host("absent.ini") +
                  " could not be read (missing or unreadable), so it binds no component; the "
                  "factory does not read it again\n" +
                  explain + "no log file: " + Host("PexilLog/<stamp>.log") +
                  " could not be opened: " + openSays +
                  "; the next request that asks for the log file tries again\n" + explain +
                  "component 361: " + Host("plugins.ini") +
                  " has no section [361] and no DefaultDll: add a [361] section with "
                  "DLL=<its module>\n" +
                  explain +
                  "the factory gives no component 361 for the registry \"plugins.ini\": that "
                  "registry must bind 361 to the factory, in a [361] section with DLL=Brelnor.dll "
                  "that no later line starts anew or binds elsewhere; until it does, this "
                  "module's holders get no factory, so it gets no log settings and is never "
                  "unloaded\n" +
                  locateFail + explain + Host("other.ini") +
                  " has no [361] section with a DLL= line: add [361] and DLL=Brelnor.dll\n" +
                  leakReport + explain +
                  "leaked component 101, created by 361 (the factory, for a caller), lives in " +
                  Host("TestComponents.dll") + ": it was never released\n",
              Steady(explained.debug));
}

// What the trace adds where the factory's messages name no cause: the line
// that emptied [361] for the factory's own lookup (which every holder makes)
// while the factory search still finds it; the IDs a module registers when
// asked for another; on Linux, a DLL name that differs only in case.
TEST_F(FactoryScenario, TheTraceNamesTheLineTheIDsAndTheCase) {
    WritePexilIni("[7001]\nDLL=TestComponents.dll\n[100]\nDLL=testcomponents.dll\n");
    scenario_.Write(
        "rebound.ini",
        "[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n[100]\nDLL=TestComponents.dll\n"
        "; [361] above must stay first\n");
    const std::string explain = "Pexil[Explain]: ";
    std::vector<std::string> commands = {"fcreate 7001", "setregistry rebound.ini",
                                         "holder releasing", "setregistry -", "shutdown"};
    std::string output = "#1 = null\nholder releasing: component no, factory yes\nshutdown\n";
    std::string debug =
        "Pexil[Error]: Can't find the factory method of Component\n"
        "Pexil[Error]: ComponentID=7001 CreatorID=361" +
        explain + "component 7001: " + Host("TestComponents.dll") +
        " registers 100, 101, 102, 103, 104, 105, 106, 107 and 9 more, not 7001\n"
        "[Pexil_Error] CreateComponent(ComponentId=7001) return null.\n"
        "[Pexil_Error] LoadLibrary Fail.\n[Pexil_Error] DLL Path:" +
        Host("") + "\n" + explain + "component 361: its section in " + Host("rebound.ini") +
        " has no DLL= line, so no DLL is named\n" + explain + "component 361: line 6 of " +
        Host("rebound.ini") +
        " (\"; [361] above must stay first\") starts its section anew (a line that holds a "
        "header is a header, whatever stands before its '[': registry files have no comments), "
        "and that section, which has no DLL= line, replaces the one of line 1 as a whole; so "
        "the holders that ask this registry for the factory get none\n" +
        explain +
        "the factory gives no component 361 for the registry \"rebound.ini\": that registry "
        "must bind 361 to the factory, in a [361] section with DLL=Brelnor.dll that no later "
        "line starts anew or binds elsewhere; until it does, this module's holders get no "
        "factory, so it gets no log settings and is never unloaded\n";
#if !defined(_WIN32)
    commands.insert(commands.begin() + 1, "fcreate 100");
    output = "#1 = null\n#2 = null\nholder releasing: component no, factory yes\nshutdown\n";
    char loaderSays[512] = "";
    EXPECT_EQ(nullptr, platform::LoadLibrary(Host("testcomponents.dll").c_str()));
    platform::LoadFailureReason(loaderSays, sizeof(loaderSays));
    debug.insert(
        debug.find("[Pexil_Error] LoadLibrary Fail."),
        "[Pexil_Error] LoadLibrary Fail.\n[Pexil_Error] DLL Path:" + Host("testcomponents.dll") +
            "\n" + explain + "component 100: the loader says: " + loaderSays + "\n" + explain +
            Host("testcomponents.dll") + " does not exist, but " + Host("TestComponents.dll") +
            " does: file names are case-sensitive on this system\n");
#endif
    const ScenarioResult result = Run(commands, true);
    EXPECT_EQ(output, result.output);
    EXPECT_EQ(debug, result.debug);
}

// The local time stamps of the seconds from one moment to another.
std::set<std::string> StampsBetween(std::time_t from, std::time_t to) {
    std::set<std::string> stamps;
    for (std::time_t t = from; t <= to; ++t) {
        char stamp[32];
        std::strftime(stamp, sizeof(stamp), "%Y%m%d_%H%M%S", std::localtime(&t));
        stamps.insert(std::string(stamp) + ".log");
    }
    return stamps;
}

#if !defined(_WIN32)
// In a set-user-ID host the environment belongs to whoever started it:
// PEXIL_EXPLAIN is not read there (secure_getenv), so nobody can make the host
// write paths and loader messages to them.
TEST_F(FactoryScenario, ASetUserIDHostReadsNoExplainingVariable) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can make a program set-user-ID to another user";
    if (platform::GetEnvironmentVariable("PEXIL_TEST_EMULATOR") != nullptr) {
        GTEST_SKIP() << "an emulator runs the host as its caller: the set-user-ID bit is not used";
    }
#if defined(__SANITIZE_ADDRESS__)
    // It cannot read its options there either: the default build runs this test.
    GTEST_SKIP() << "LeakSanitizer stops a set-user-ID process";
#endif
    WritePexilIni("");
    const ScenarioResult plain = Run({"fcreate 4711", "shutdown"}, true);
    EXPECT_NE(std::string::npos, plain.debug.find("Pexil[Explain]: component 4711: "))
        << plain.debug;
    const std::string host = scenario_.Path(Scenario::kHost);
    ASSERT_EQ(0, ::chown(host.c_str(), 65534, 65534));
    ASSERT_EQ(0, ::chmod(host.c_str(), 04755));
    const ScenarioResult setUserID = Run({"fcreate 4711", "shutdown"}, true);
    EXPECT_EQ("#1 = null\nshutdown\n", setUserID.output);
    EXPECT_EQ("", setUserID.debug);
}
#endif

TEST_F(FactoryScenario, LogSettingsAndOneSharedLogFile) {
    WritePexilIni(
        "[LogDefault]\nOutputDebugString=E\nWriteToLogFile=\n"
        "[100]\nDLL=TestComponents.dll\nOutputDebugString=TV\nWriteToLogFile=W\n");
    const std::time_t before = std::time(nullptr);
    const ScenarioResult result = Run({
        "logsettings - 77 0 0",      // defaults: no log file
        "logsettings null 100 0 0",  // the entry's masks: the file is opened
        "logwrite first line",
        "logsettings unknown.ini 5 3 4",  // unknown path: the caller's masks stay
        "logwrite second line",
        "shutdown",
    });
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(
        "logsettings: debug 0x01 log 0x00 sink no file none\n"
        "logsettings: debug 0x06 log 0x10 sink yes file open\n"
        "logwrite: ok\n"
        "logsettings: debug 0x03 log 0x04 sink yes file open\n"
        "logwrite: ok\nshutdown\n",
        result.output);
    EXPECT_EQ("", result.debug);
    const std::set<std::string> files = FilesIn(scenario_.Path("PexilLog"));
    ASSERT_EQ(1u, files.size());
    const std::set<std::string> stamps = StampsBetween(before, after);
    EXPECT_TRUE(stamps.count(*files.begin()) == 1) << *files.begin();
    std::ifstream log(Host("PexilLog/" + *files.begin()), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_EQ("first line\nsecond line\n", text);
}

TEST_F(FactoryScenario, AMissingRootPathGivesASinkWithoutAFile) {
    WritePexilIni("[100]\nDLL=TestComponents.dll\nWriteToLogFile=E\n");
    const ScenarioResult result =
        Run({"setroot " + Host("missing/deeper"), "getroot", "logsettings - 100 0 0",
             "logsettings - 100 0 0", "logwrite lost", "shutdown"});
    EXPECT_EQ("root: " + Native("<host>/missing/deeper") +
                  "\nlogsettings: debug 0x00 log 0x01 sink yes file none\n"
                  "logsettings: debug 0x00 log 0x01 sink yes file none\n"
                  "logwrite: failed\nshutdown\n",
              result.output);
    EXPECT_FALSE(fs::exists(Host("missing")));
    EXPECT_FALSE(fs::exists(Host("PexilLog")));
}

TEST_F(FactoryScenario, TheRootPathDecidesWhereTheLogLiesAndWhatIsPruned) {
    WritePexilIni("[100]\nDLL=TestComponents.dll\nWriteToLogFile=E\n");
    for (int i = 1; i <= 7; ++i) {
        OldLog("elsewhere/PexilLog", "old" + std::to_string(i) + ".log", 10 * i);
        OldLog("PexilLog", "host" + std::to_string(i) + ".log", 10 * i);
    }
    const ScenarioResult result = Run(
        {"setroot " + Host("elsewhere"), "logsettings - 100 0 0", "logwrite moved", "shutdown"});
    EXPECT_EQ("logsettings: debug 0x00 log 0x01 sink yes file open\nlogwrite: ok\nshutdown\n",
              result.output);
    // The new file and the four newest old ones remain under the new root.
    std::set<std::string> remaining = FilesIn(Host("elsewhere/PexilLog"));
    ASSERT_EQ(5u, remaining.size());
    for (const char* name : {"old1.log", "old2.log", "old3.log", "old4.log"}) {
        EXPECT_EQ(1u, remaining.count(name)) << name;
    }
    // The host directory's log directory is not touched.
    EXPECT_EQ(7u, FilesIn(Host("PexilLog")).size());
}

TEST_F(FactoryScenario, PruningKeepsTheFiveNewestLogFilesAndNothingElseIsTouched) {
    WritePexilIni("");
    const char* names[] = {"g.log", "f.log", "e.log", "d.log", "c.log", "b.log", "a.log"};
    for (int i = 0; i < 7; ++i)
        OldLog("PexilLog", names[i], 10 * (i + 1));
    OldLog("PexilLog", "same-time.log", 60);
    fs::last_write_time(Host("PexilLog/same-time.log"),
                        fs::last_write_time(Host("PexilLog/b.log")));
    for (const char* other : {"x.LOG", "y.txt", "z", "20081203_142501.log.bak"}) {
        OldLog("PexilLog", other, 500);
    }
    // The newest entry of all, but a directory: it must not take a file's place.
    fs::create_directory(Host("PexilLog/old.log"));

    const ScenarioResult result = Run({"shutdown"});
    EXPECT_EQ("shutdown\n", result.output);
    const std::set<std::string> remaining = FilesIn(Host("PexilLog"));
    for (const char* kept : {"g.log", "f.log", "e.log", "d.log", "c.log", "x.LOG", "y.txt", "z",
                             "20081203_142501.log.bak", "old.log"}) {
        EXPECT_EQ(1u, remaining.count(kept)) << kept;
    }
    EXPECT_EQ(0u, remaining.count("a.log"));
    // Of two files with one time only the one listed first takes part (and, being
    // among the oldest, is deleted); the other is neither counted nor deleted.
    EXPECT_EQ(1u, remaining.count("b.log") + remaining.count("same-time.log"));
    EXPECT_EQ(11u, remaining.size());
}

TEST_F(FactoryScenario, GlobalComponentsAreReleasedInTheirFixedOrder) {
    scenario_.Copy("TestGlobals.dll");
    WritePexilIni(
        "[3]\nDLL=TestGlobals.dll\n[1185]\nDLL=TestGlobals.dll\n[991]\nDLL=TestGlobals.dll\n"
        "[7001]\nDLL=TestGlobals.dll\n[7002]\nDLL=TestGlobals.dll\n");
    const ScenarioResult result = Run({"fcreate 3", "fcreate 7001", "fcreate 1185", "fcreate 991",
                                       "fcreate 7002", "globals", "pumpuntil TestGlobals.dll 3000",
                                       // A second call releases nothing: those components are gone.
                                       "globals", "shutdown"});
    EXPECT_EQ(
        "#1 = component\n#2 = component\n#3 = component\n#4 = component\n#5 = component\n"
        "globals released\nTestGlobals.dll unloaded: yes\n"
        "not before 100 ms after the last release: yes\nglobals released\nshutdown\n",
        result.output);
    // Outside the table first, in registration order; then the highest ordinal down.
    EXPECT_EQ(
        "[TestGlobals] released 7001\n[TestGlobals] released 7002\n"
        "[TestGlobals] released 1185\n[TestGlobals] released 991\n[TestGlobals] released 3\n",
        result.debug);
}

TEST_F(FactoryScenario, AnIdleModuleIsFreedOnlyAfterTheDelayAndOnlyWhileTheHostPumps) {
    WritePexilIni("[100]\nDLL=TestComponents.dll\n");
    const ScenarioResult result =
        Run({"fcreate 100", "release #1 1", "sleep 300", "loaded TestComponents.dll",
             "pumpuntil TestComponents.dll 5000", "shutdown"});
    EXPECT_EQ(
        "#1 = component\nrelease #1 1\nTestComponents.dll loaded: yes\n"
        "TestComponents.dll unloaded: yes\nnot before 100 ms after the last release: yes\n"
        "shutdown\n",
        result.output);
    EXPECT_EQ("", result.debug);
}

// However soon the host pumps after the last release, at least 100 ms pass
// before the module is unloaded, and the unload follows while the host pumps;
// the same at the timer's next start.
TEST_F(FactoryScenario, TheUnloadFollowsTheLastReleaseByAtLeastTheDelay) {
    WritePexilIni("[100]\nDLL=TestComponents.dll\n");
    const ScenarioResult result =
        Run({"fcreate 100", "release #1 1", "pumpuntil TestComponents.dll 5000", "fcreate 100",
             "release #2 1", "pumpuntil TestComponents.dll 5000", "shutdown"});
    const std::string unloaded =
        "TestComponents.dll unloaded: yes\nnot before 100 ms after the last release: yes\n";
    EXPECT_EQ("#1 = component\nrelease #1 1\n" + unloaded + "#2 = component\nrelease #2 1\n" +
                  unloaded + "shutdown\n",
              result.output);
    EXPECT_EQ("", result.debug);
}

// The module is freed through the registry that loaded it, and that registry
// loads it again at the next request.
TEST_F(FactoryScenario, AModuleOfANamedRegistryIsFreedThroughItAndLoadedAgain) {
    WritePexilIni("");
    scenario_.Write("plugins.ini", "[361]\nDLL=Brelnor.dll\n[100]\nDLL=TestComponents.dll\n");
    const ScenarioResult result =
        Run({"fcreate 100 plugins.ini", "release #1 1", "pumpuntil TestComponents.dll 5000",
             "fcreate 100 plugins.ini", "loaded TestComponents.dll", "release #2 1", "shutdown"});
    EXPECT_EQ(
        "#1 = component\nrelease #1 1\nTestComponents.dll unloaded: yes\n"
        "not before 100 ms after the last release: yes\n#2 = component\n"
        "TestComponents.dll loaded: yes\nrelease #2 1\nshutdown\n",
        result.output);
    EXPECT_EQ("", result.debug);
}

TEST_F(FactoryScenario, AModuleHeldByTwoEntriesIsFreedThroughBoth) {
    WritePexilIni("[100]\nDLL=TestComponents.dll\n[101]\nDLL=TestComponents.dll\n");
    const ScenarioResult result = Run({"fcreate 100", "fcreate 101", "release #1 1", "release #2 0",
                                       "pumpuntil TestComponents.dll 5000", "shutdown"});
    EXPECT_EQ(
        "#1 = component\n#2 = component\nrelease #1 1\nrelease #2 0\n"
        "TestComponents.dll unloaded: yes\nnot before 100 ms after the last release: yes\n"
        "shutdown\n",
        result.output);
}

TEST_F(FactoryScenario, TheDefaultDllIsNeverFreed) {
    WritePexilIni("[DefaultValue]\nDllPath=" + scenario_.directory().str() +
                  "\nDefaultDll=TestComponents.dll\n");
    const ScenarioResult result =
        Run({"fcreate 100", "release #1 1", "pump 500", "loaded TestComponents.dll",
             "load TestComponents.dll", "unloadidle TestComponents.dll", "shutdown"});
    EXPECT_EQ(
        "#1 = component\nrelease #1 1\npump 500: 1 timer events\n"
        "TestComponents.dll loaded: yes\nload TestComponents.dll: ok\n"
        "unloadidle TestComponents.dll: 1\nshutdown\n",
        result.output);
}

class UnloadProbeScenario : public FactoryScenario {
protected:
    UnloadProbeScenario() {
        scenario_.Copy(Native("plain/UnloadProbe.dll"), "UnloadProbe.dll");
        WritePexilIni("[400]\nDLL=UnloadProbe.dll\n");
    }
};

TEST_F(UnloadProbeScenario, ScheduledTwiceCheckedOnceAndANoIsNotAskedAgain) {
    const ScenarioResult result =
        Run({"load UnloadProbe.dll", "fcreate 400", "probe-answer UnloadProbe.dll 0",
             "schedule UnloadProbe.dll", "schedule UnloadProbe.dll", "pump 400",
             "pump 300",  // not asked again: the timer has stopped
             "probe-answer UnloadProbe.dll 1", "schedule UnloadProbe.dll", "pump 400",
             // The registry gave back its reference: the host's own is the last.
             "free UnloadProbe.dll", "loaded UnloadProbe.dll", "shutdown"});
    EXPECT_EQ(
        "load UnloadProbe.dll: ok\n#1 = component\nschedule UnloadProbe.dll: timer started\n"
        "schedule UnloadProbe.dll: no new timer\npump 400: 1 timer events\n"
        "pump 300: 0 timer events\nschedule UnloadProbe.dll: timer started\n"
        "pump 400: 1 timer events\nfree UnloadProbe.dll\nUnloadProbe.dll loaded: no\nshutdown\n",
        result.output);
    EXPECT_EQ(
        "[UnloadProbe] PexilDllCanUnloadNow -> 0\n[UnloadProbe] PexilDllCanUnloadNow -> 1\n"
        "[UnloadProbe] unloaded\n",
        result.debug);
}

// A thread's timer ends with the thread. The next schedule finds it gone and
// starts a timer of its own, which checks both pending modules (unloading used
// to stop for good: the ID stayed set and no timer ever fired again).
TEST_F(UnloadProbeScenario, ATimerWhoseThreadEndedIsReplacedByTheNextSchedule) {
    scenario_.Copy(Native("plain/UnloadProbe.dll"), "SecondProbe.dll");
    const ScenarioResult result =
        Run({"load UnloadProbe.dll", "load SecondProbe.dll", "probe-answer UnloadProbe.dll 0",
             "probe-answer SecondProbe.dll 0", "schedule-thread UnloadProbe.dll",
             "schedule SecondProbe.dll", "pump 400", "shutdown"});
    EXPECT_EQ(
        "load UnloadProbe.dll: ok\nload SecondProbe.dll: ok\n"
        "schedule UnloadProbe.dll on a thread that ended: timer started\n"
        "schedule SecondProbe.dll: timer started\npump 400: 1 timer events\nshutdown\n",
        result.output);
    EXPECT_EQ(
        "[UnloadProbe] PexilDllCanUnloadNow -> 0\n[UnloadProbe] PexilDllCanUnloadNow -> 0\n"
        "[UnloadProbe] unloaded\n[UnloadProbe] unloaded\n",
        result.debug);
}

TEST_F(UnloadProbeScenario, ShutdownDropsPendingUnloadsAndStopsTheTimer) {
    const ScenarioResult result =
        Run({"load UnloadProbe.dll", "fcreate 400", "schedule UnloadProbe.dll", "shutdown",
             "pump 400", "loaded UnloadProbe.dll"});
    EXPECT_EQ(
        "load UnloadProbe.dll: ok\n#1 = component\nschedule UnloadProbe.dll: timer started\n"
        "shutdown\npump 400: 0 timer events\nUnloadProbe.dll loaded: yes\n",
        result.output);
    // Never asked; unloaded only when the process ends.
    EXPECT_EQ("[UnloadProbe] unloaded\n", result.debug);
}

// Once Shutdown has begun the timer does nothing: modules that go idle after
// it (here the host called the slot alone, so the factory stays) are neither
// asked nor freed, however long the host pumps.
TEST_F(UnloadProbeScenario, AfterShutdownHasBegunTheTimerNeitherAsksNorFrees) {
    WritePexilIni("[400]\nDLL=UnloadProbe.dll\n[100]\nDLL=TestComponents.dll\n");
    const ScenarioResult result =
        Run({"load UnloadProbe.dll", "fcreate 400", "fcreate 100", "fshutdown",
             // Asked before any other module went idle: no timer may be running.
             "schedule UnloadProbe.dll", "release #2 1", "pumpuntil TestComponents.dll 1000",
             // The registry keeps its reference: the host's own is not the last.
             "free UnloadProbe.dll", "loaded UnloadProbe.dll", "shutdown"});
    EXPECT_EQ(
        "load UnloadProbe.dll: ok\n#1 = component\n#2 = component\nfactory shut down\n"
        "schedule UnloadProbe.dll: no new timer\nrelease #2 1\n"
        "TestComponents.dll unloaded: no\nfree UnloadProbe.dll\nUnloadProbe.dll loaded: yes\n"
        "shutdown\n",
        result.output);
    // Never asked; unloaded only when the process ends.
    EXPECT_EQ("[UnloadProbe] unloaded\n", result.debug);
}

TEST_F(FactoryScenario, ARequestAfterTheFactorysForcedReleaseBuildsANewFactory) {
    WritePexilIni("[101]\nDLL=TestComponents.dll\n");
    const ScenarioResult result =
        Run({"fcreate 101", "shutdown", "fcreate 101", "release #1 0", "release #2 0", "shutdown"});
    EXPECT_EQ("#1 = component\nshutdown\n#2 = component\nrelease #1 0\nrelease #2 0\nshutdown\n",
              result.output);
    EXPECT_EQ("", result.debug);
}

}  // namespace
}  // namespace pexil::testing
