// The pexil command, run as a separate process in a directory of its own, on
// real registry files, real modules and a real log directory.
#include "log/log_files.h"
#include "platform/platform.h"
#include "support/loaded_module.h"
#include "support/native_path.h"
#include "support/run_program.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <set>

namespace pexil::testing {
namespace fs = std::filesystem;
namespace {

#if defined(_WIN32)
const char* const kTool = "pexil.exe";
#else
const char* const kTool = "pexil";
#endif

struct ToolResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); !from.empty() && at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// A path as JSON writes it.
std::string J(const std::string& text) {
    return ReplaceAll(text, "\\", "\\\\");
}

class PexilTool : public ::testing::Test {
protected:
    // Runs pexil in the test's directory; its paths show as <dir>.
    ToolResult Run(const std::vector<std::string>& words) const {
        const ProgramResult run = RunProgram(BesideProgram(kTool), words, dir_.str(),
                                             outputs_ / "out.txt", outputs_ / "err.txt");
        ToolResult result;
        result.exitCode = run.exitCode;
        // The directory shows in text, and in JSON with its backslashes escaped.
        result.out = ReplaceAll(ReplaceAll(run.out, J(dir_.str()), "<dir>"), dir_.str(), "<dir>");
        result.err = ReplaceAll(run.err, dir_.str(), "<dir>");
#if defined(_WIN32)
        // Standard error is text for people: on Windows its lines end with CR LF.
        result.err = ReplaceAll(result.err, "\r\n", "\n");
#endif
        return result;
    }
    void Copy(const std::string& name, const std::string& as) const {
        fs::create_directories((dir_.path() / as).parent_path());
        fs::copy_file(BesideProgram(name), dir_.path() / as);
    }

    TempDirectory dir_;
    TempDirectory outputs_;
};

const char* const kDocsExample =
    "; Pexil.ini beside the host.\n"
    "[Redirect]\nPath=\n\n"
    "[DefaultValue]\nDllPath=Components\nDefaultDll=Base.dll\n\n"
    "[LogDefault]\nOutputDebugString=EW\nWriteToLogFile=\n\n"
    "[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n\n"
    "[42]\nDLL = Sub Dir\\X.dll\nOutputDebugString=ew\nWriteToLogFile=E\n\n"
    "[991]\nDLL=Config.dll\n";

TEST_F(PexilTool, InspectShowsTheRegistryAsTheFactoryReadsIt) {
    dir_.Write("Pexil.ini", kDocsExample);
    dir_.Write(Native("Components/Base.dll"), "");
    dir_.Write("Brelnor.dll", "");
    const std::string x = Native("<dir>/Components/Sub Dir") + "\\X.dll";

    const ToolResult text = Run({"inspect", "Pexil.ini", "--lint"});
    EXPECT_EQ(Native("registry file: <dir>/Pexil.ini\n"
                     "default DLL directory: <dir>/Components\n"
                     "default DLL: <dir>/Components/Base.dll (exists)\n") +
                  "default masks: debug output EW, log file none\n"
                  "component 42 (line 17)\n"
                  "  DLL: Sub Dir\\X.dll\n"
                  "  loads: " +
                  x +
                  " (missing)\n"
                  "  masks: debug output EW, log file E\n"
                  "component 361 (line 13)\n"
                  "  DLL: Brelnor.dll, beside the registry file\n" +
                  Native("  loads: <dir>/Brelnor.dll (exists)\n") +
                  "  masks: debug output EW, log file none (the defaults)\n"
                  "component 991 (line 22)\n"
                  "  DLL: Config.dll\n" +
                  Native("  loads: <dir>/Components/Config.dll (missing)\n") +
                  "  masks: debug output EW, log file none (the defaults)\n"
                  "lint: 0 findings, 3 notes\n"
                  "  line 1: note: a comment (no '=' and no '['): ignored\n"
                  "  line 2: note: [Redirect] is read by the factory search, not by the registry "
                  "parser: the section before continues\n"
                  "  line 3: note: Path under [Redirect] is read by the factory search, not by "
                  "the registry parser\n",
              text.out);
    EXPECT_EQ("", text.err);
    EXPECT_EQ(0, text.exitCode);  // notes are no findings

    dir_.Write(Native("sub/Pexil.ini"), "[Redirect]\nPath=../Pexil.ini\n");
    const ToolResult json = Run({"inspect", "--json", Native("sub/Pexil.ini")});
    EXPECT_EQ(
        "{\n"
        "  \"file\": \"" +
            J(Native("<dir>/sub/Pexil.ini")) + "\",\n" +
            "  \"redirect\": {\n"
            "    \"path\": \"../Pexil.ini\",\n"
            "    \"target\": \"" +
            J(Native("<dir>/sub/")) + "../Pexil.ini\"\n" +
            "  },\n"
            "  \"defaultDllDirectory\": \"" +
            J(Native("<dir>/sub")) + "\",\n" +
            "  \"defaultDll\": null,\n"
            "  \"defaultMasks\": {\n"
            "    \"debugOutput\": {\n"
            "      \"value\": 0,\n"
            "      \"letters\": \"none\"\n"
            "    },\n"
            "    \"logFile\": {\n"
            "      \"value\": 0,\n"
            "      \"letters\": \"none\"\n"
            "    }\n"
            "  },\n"
            "  \"components\": []\n"
            "}\n",
        json.out);
    EXPECT_EQ(0, json.exitCode);

    const ToolResult entries = Run({"inspect", "Pexil.ini", "--json"});
    const std::string entry42 =
        "    {\n"
        "      \"id\": 42,\n"
        "      \"line\": 17,\n"
        "      \"dll\": \"Sub Dir\\\\X.dll\",\n"
        "      \"besideRegistry\": false,\n"
        "      \"path\": \"" +
        J(x) + "\",\n" +
        "      \"exists\": false,\n"
        "      \"tooLong\": false,\n"
        "      \"ownMasks\": true,\n"
        "      \"masks\": {\n"
        "        \"debugOutput\": {\n"
        "          \"value\": 17,\n"
        "          \"letters\": \"EW\"\n"
        "        },\n"
        "        \"logFile\": {\n"
        "          \"value\": 1,\n"
        "          \"letters\": \"E\"\n"
        "        }\n"
        "      }\n"
        "    },\n";
    EXPECT_NE(std::string::npos, entries.out.find(entry42)) << entries.out;
    EXPECT_NE(std::string::npos,
              entries.out.find("  \"defaultDll\": {\n    \"path\": \"" +
                               J(Native("<dir>/Components/Base.dll")) +
                               "\",\n    \"exists\": true,\n    \"tooLong\": false\n  },\n"))
        << entries.out;
}

TEST_F(PexilTool, LintReportsEveryKindOfIgnoredLine) {
    dir_.Write("r.ini", std::string("\xef\xbb\xbf") +
                            "DllPath=x\n"                   // 1
                            "; a comment\n"                 // 2
                            "hello there\n"                 // 3
                            "[LogDefault]\r\n"              // 4
                            "OutputDebugString=EW\r\r\n\n"  // 5
                            "[12]\n"                        // 8
                            "DLL=A.dll\n"                   // 9
                            "dlll=B.dll\n"                  // 10
                            "= x\n"                         // 11
                            "  \t = y\n"                    // 12
                            "Notes=" +
                            std::string(300, 'v') +
                            "\n"                  // 13
                            "[abc]\n"             // 14
                            "[0]\n"               // 15
                            "[]\n"                // 16
                            "[99999999999]\n"     // 17
                            "no close [\n"        // 18
                            "] before [\n"        // 19
                            "[13]\n"              // 20
                            "[12]\n"              // 21
                            "DLL=C.dll\n"         // 22
                            "[DefaultValue]\n"    // 23
                            "WriteToLogFile=E\n"  // 24
                            "# dll = x.dll\n"     // 25
                            "; [14]\n"            // 26
                            "DefaultDll=" +
                            std::string(250, 'd') +  // 27
                            "\nx" + std::string(1, '\0') +
                            "y=1\n"   // 28
                            "last");  // 29
    const ToolResult result = Run({"inspect", "r.ini", "--lint"});
    EXPECT_EQ(Native("registry file: <dir>/r.ini\n"
                     "default DLL directory: <dir>\n"
                     "default DLL: <dir>/") +
                  // Cut to 259 characters.
                  std::string(258 - dir_.str().size(), 'd') +
                  " (too long: never loaded)\n"
                  "default masks: debug output EW, log file none\n"
                  "component 12 (line 21)\n"
                  "  DLL: C.dll\n" +
                  Native("  loads: <dir>/C.dll (missing)\n") +
                  "  masks: debug output EW, log file none (the defaults)\n"
                  "component 13 (line 20)\n"
                  "  DLL: none: requests for it fail\n"
                  "  masks: debug output EW, log file none (the defaults)\n"
                  "component 14 (line 26)\n"
                  "  DLL: none: requests for it fail\n"
                  "  masks: debug output EW, log file none (the defaults)\n"
                  "lint: 21 findings, 2 notes\n"
                  "  line 1: unknown key \"\xef\xbb\xbf"
                  "DllPath\": ignored (the file's byte-order mark is part of this line)\n"
                  "  line 2: note: a comment (no '=' and no '['): ignored\n"
                  "  line 3: neither a key line (no '=') nor a header (no '['): ignored\n"
                  "  line 10: unknown key \"dlll\": ignored\n"
                  "  line 11: empty key: ignored\n"
                  "  line 12: empty key: ignored\n"
                  "  line 13: value of 300 characters (259 at most): ignored\n"
                  "  line 14: header \"[abc]\" starts no section (not a non-zero number): the "
                  "section before continues\n"
                  "  line 15: header \"[0]\" starts no section (not a non-zero number): the "
                  "section before continues\n"
                  "  line 16: header \"[]\" starts no section (nothing between '[' and ']'): the "
                  "section before continues\n"
                  "  line 17: header \"[99999999999]\" starts no section (a number outside the "
                  "signed 32-bit range): the section before continues\n"
                  "  line 18: header \"no close [\" starts no section (no ']'): the section "
                  "before continues\n"
                  "  line 19: header \"] before [\" starts no section (its ']' comes before its "
                  "'['): the section before continues\n"
                  "  line 20: component 13 has no DLL name: requests for it fail (a component "
                  "with a section never falls back to the default DLL)\n"
                  "  line 21: the section of component 12 replaces the one at line 8 as a whole\n"
                  "  line 24: WriteToLogFile under [DefaultValue] (masks belong to [LogDefault] "
                  "and component sections): ignored\n"
                  "  line 25: note: a comment with '=' (its key matches no keyword): ignored\n"
                  "  line 26: this comment is a header (there is no comment syntax): it starts "
                  "the section of component 14\n"
                  "  line 26: component 14 has no DLL name: requests for it fail (a component "
                  "with a section never falls back to the default DLL)\n"
                  "  line 27: the default DLL path would be longer than 259 characters: the "
                  "default DLL is never loaded\n"
                  "  line 28: a zero byte ends the line's text: the rest is ignored\n"
                  "  line 28: neither a key line (no '=') nor a header (no '['): ignored\n"
                  "  line 29: neither a key line (no '=') nor a header (no '['): ignored\n",
              result.out);
    EXPECT_EQ("", result.err);
    EXPECT_EQ(1, result.exitCode);

    const ToolResult json = Run({"inspect", "r.ini", "--lint", "--json"});
    EXPECT_NE(std::string::npos, json.out.find("  \"lint\": [\n"
                                               "    {\n"
                                               "      \"line\": 1,\n"
                                               "      \"kind\": \"unknown-key\",\n"))
        << json.out;
    EXPECT_NE(std::string::npos, json.out.find("      \"line\": 25,\n"
                                               "      \"kind\": \"comment\",\n"
                                               "      \"message\": \"a comment with '=' (its key "
                                               "matches no keyword): ignored\",\n"
                                               "      \"note\": true\n"))
        << json.out;
    EXPECT_EQ(1, json.exitCode);
}

// Where the parser's rules surprise, the lint follows them rather than guessing.
TEST_F(PexilTool, LintFollowsTheParserWhereItSurprises) {
    dir_.Write("q.ini",
               "DLL=early.dll\n"  // before any section: goes to the first one
               "[7]\nOutputDebugString=e\n"
               "[LogDefault]\n"
               "DLL=late.dll\n"             // still component 7's
               "[7]\n"                      // the same section goes on: nothing is replaced
               "NotUseDefaultDllPath=1x\n"  // only the first character counts
               "[DefaultValue]\nDllPath=" +
                   dir_.str() + Native("/abs") + "\n");
    const ToolResult result = Run({"inspect", "q.ini", "--lint"});
    EXPECT_EQ(Native("registry file: <dir>/q.ini\n"
                     "default DLL directory: <dir>/abs\n") +
                  "default DLL: none (components without a section fail)\n"
                  "default masks: debug output none, log file none\n"
                  "component 7 (line 2)\n"
                  "  DLL: late.dll, beside the registry file\n" +
                  Native("  loads: <dir>/late.dll (missing)\n") +
                  "  masks: debug output E, log file none\n"
                  "lint: no findings\n",
              result.out);
    EXPECT_EQ(0, result.exitCode);

    // With no component section at all, DLL lines go nowhere.
    dir_.Write("n.ini", "DLL=lost.dll\n");
    const ToolResult lost = Run({"inspect", "n.ini", "--lint"});
    EXPECT_EQ(Native("registry file: <dir>/n.ini\n"
                     "default DLL directory: <dir>\n") +
                  "default DLL: none (components without a section fail)\n"
                  "default masks: debug output none, log file none\n"
                  "lint: 1 finding, 0 notes\n"
                  "  line 1: DLL before any component section, and none follows: ignored\n",
              lost.out);
    EXPECT_EQ(1, lost.exitCode);

    const ToolResult missing = Run({"inspect", "nothing.ini"});
    EXPECT_EQ("", missing.out);
    EXPECT_EQ(Native("pexil inspect: cannot read <dir>/nothing.ini\n"), missing.err);
    EXPECT_EQ(3, missing.exitCode);
}

TEST_F(PexilTool, LocateFollowsTheRedirectChainToTheFactory) {
    dir_.Write("Pexil.ini", "[Redirect]\nPath=" + Native("system/Pexil.ini") + "\n");
    dir_.Write(Native("system/Pexil.ini"),
               "[Redirect]\nPath=ignored.ini\n[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n");
    Copy("Brelnor.dll", Native("system/Brelnor.dll"));
    const ToolResult result = Run({"locate"});
    EXPECT_EQ(Native("host directory: <dir>\n"
                     "ini file: <dir>/Pexil.ini\n"
                     "  [Redirect] Path=system/Pexil.ini: relative, the chain ends beside this "
                     "file\n"
                     "ini file: <dir>/system/Pexil.ini (its [Redirect] is not read)\n") +
                  "  [361] DLL=Brelnor.dll: relative\n"
                  "  [361] NotUseDefaultDllPath=1: the DLL lies beside the ini file\n" +
                  Native("factory DLL: <dir>/system/Brelnor.dll\n") +
                  "  exists: yes\n"
                  "  loads: yes\n"
                  "  exports CreateComponent: yes\n",
              result.out);
    EXPECT_EQ("", result.err);
    EXPECT_EQ(0, result.exitCode);

    // Another ini file, in another host directory, through an absolute redirect.
    dir_.Write(Native("host/app.ini"), "[Redirect]\nPath=" + dir_.str() + Native("/cfg/f.ini\n"));
    dir_.Write(Native("cfg/f.ini"),
               "[361]\nDLL= Brelnor.dll \n[DefaultValue]\nDllPath=" + Native("../system/") + "\n");
    const ToolResult json = Run({"locate", "--json", "app.ini", "--host", "host"});
    EXPECT_EQ(
        "{\n"
        "  \"hostDirectory\": \"" +
            J(Native("<dir>/host")) + "\",\n" +
            "  \"chain\": [\n"
            "    {\n"
            "      \"file\": \"" +
            J(Native("<dir>/host/app.ini")) + "\",\n" + "      \"redirect\": \"" +
            J(Native("<dir>/cfg/f.ini")) + "\",\n" +
            "      \"outcome\": \"absolute\"\n"
            "    },\n"
            "    {\n"
            "      \"file\": \"" +
            J(Native("<dir>/cfg/f.ini")) + "\",\n" +
            "      \"redirect\": \"\",\n"
            "      \"outcome\": \"none\"\n"
            "    }\n"
            "  ],\n"
            "  \"iniFile\": \"" +
            J(Native("<dir>/cfg/f.ini")) + "\",\n" +
            "  \"values\": [\n"
            "    {\n"
            "      \"section\": \"361\",\n"
            "      \"key\": \"DLL\",\n"
            "      \"value\": \"Brelnor.dll\",\n"
            "      \"meaning\": \"relative\"\n"
            "    },\n"
            "    {\n"
            "      \"section\": \"361\",\n"
            "      \"key\": \"NotUseDefaultDllPath\",\n"
            "      \"value\": \"0\",\n"
            "      \"meaning\": \"not 1\"\n"
            "    },\n"
            "    {\n"
            "      \"section\": \"DefaultValue\",\n"
            "      \"key\": \"DllPath\",\n"
            "      \"value\": \"" +
            J(Native("../system/")) + "\",\n" +
            "      \"meaning\": \"the DLL lies in this directory\"\n"
            "    }\n"
            "  ],\n"
            // The locator puts a separator after the directory whatever it ends with.
            "  \"dll\": \"" +
            J(Native("<dir>/cfg/../system//Brelnor.dll")) + "\",\n" +
            "  \"exists\": true,\n"
            "  \"loads\": true,\n"
            "  \"exportsCreateComponent\": true,\n"
            "  \"debugOutput\": []\n"
            "}\n",
        json.out);
    EXPECT_EQ(0, json.exitCode);
}

TEST_F(PexilTool, LocateSaysWhyNoFactoryIsFound) {
    const std::string pexilIni = dir_ / "Pexil.ini";
    const std::string other = dir_ / "other.ini";
    dir_.Write("Pexil.ini", "[Redirect]\nPath=" + other + "\n");
    dir_.Write("other.ini", "[Redirect]\nPath=" + pexilIni + "\n");
    const ToolResult loop = Run({"locate"});
    EXPECT_EQ(Native("host directory: <dir>\n"
                     "ini file: <dir>/Pexil.ini\n"
                     "  [Redirect] Path=<dir>/other.ini: absolute, the chain goes on there\n"
                     "ini file: <dir>/other.ini\n"
                     "  [Redirect] Path=<dir>/Pexil.ini: a file the chain has passed: the search "
                     "fails\n"
                     "debug output: [Pexil_Error] Redirect loop: <dir>/other.ini redirects to "
                     "<dir>/Pexil.ini, which the chain has already passed.\n"),
              loop.out);
    EXPECT_EQ(1, loop.exitCode);

    dir_.Write("missing.ini", "[361]\nDLL=Brelnor.dll\n");
    const ToolResult missing = Run({"locate", "missing.ini"});
    EXPECT_EQ(Native("host directory: <dir>\n"
                     "ini file: <dir>/missing.ini\n") +
                  "  [Redirect] Path=: no redirect\n"
                  "  [361] DLL=Brelnor.dll: relative\n"
                  "  [361] NotUseDefaultDllPath=0: not 1\n"
                  "  [DefaultValue] DllPath=: blank: not used\n" +
                  Native("factory DLL: <dir>/Brelnor.dll\n") + "  exists: no\n",
              missing.out);
    EXPECT_EQ(1, missing.exitCode);

    // A library without the entry points where the factory should be.
    Copy(Native("plain/NoExports.dll"), "Brelnor.dll");
    const ToolResult plain = Run({"locate", "missing.ini"});
    EXPECT_NE(std::string::npos,
              plain.out.find("  exists: yes\n  loads: yes\n  exports CreateComponent: no\n"))
        << plain.out;
    EXPECT_EQ(1, plain.exitCode);
}

TEST_F(PexilTool, ModuleListsEntryPointsAndComponentIDs) {
    Copy("TestComponents.dll", "TestComponents.dll");
    const ToolResult full = Run({"module", "TestComponents.dll"});
    EXPECT_EQ(Native("module: <dir>/TestComponents.dll\n") +
                  "exports:\n"
                  "  CreateComponent       yes\n"
                  "  SetDLLRegistry        yes\n"
                  "  PexilDllFreeMap       yes\n"
                  "  PexilDllCanUnloadNow  yes\n"
                  "  SetFactoryHandle      yes\n"
                  "  PexilSetDllSafe       yes\n"
                  "  GetComponentIDs       yes\n"
                  // In registration order, the one registered twice twice.
                  "component IDs (9): 100 101 102 103 104 104 105 106 199\n",
              full.out);
    EXPECT_EQ("", full.err);
    EXPECT_EQ(0, full.exitCode);

    Copy(Native("plain/MinimalModule.dll"), "MinimalModule.dll");
    const ToolResult minimal = Run({"module", "MinimalModule.dll", "--json"});
    EXPECT_EQ(
        "{\n"
        "  \"module\": \"" +
            J(Native("<dir>/MinimalModule.dll")) + "\",\n" +
            "  \"exports\": {\n"
            "    \"CreateComponent\": true,\n"
            "    \"SetDLLRegistry\": false,\n"
            "    \"PexilDllFreeMap\": false,\n"
            "    \"PexilDllCanUnloadNow\": false,\n"
            "    \"SetFactoryHandle\": false,\n"
            "    \"PexilSetDllSafe\": false,\n"
            "    \"GetComponentIDs\": false\n"
            "  },\n"
            "  \"componentIDs\": null,\n"
            "  \"debugOutput\": []\n"
            "}\n",
        minimal.out);
    // What the module prints as it loads goes to standard error, not into the JSON.
    EXPECT_EQ("MinimalModule.dll loaded\n", minimal.err);
    EXPECT_EQ(1, minimal.exitCode);

    dir_.Write("text.dll", "not a library");
    const ToolResult bad = Run({"module", "text.dll"});
    EXPECT_EQ("", bad.out);
    EXPECT_EQ(Native("pexil module: cannot load <dir>/text.dll\n"), bad.err);
    EXPECT_EQ(3, bad.exitCode);
}

TEST_F(PexilTool, IniPrintsTheValueAsTheReaderReturnsIt) {
    dir_.Write("v.ini", "[Sec]\nKey = \"quoted value\" \nOther=abcdef\n");
    EXPECT_EQ("quoted value\n", Run({"ini", "v.ini", "sec", "KEY"}).out);
    EXPECT_EQ("abc\n", Run({"ini", "v.ini", "Sec", "Other", "--size", "4"}).out);
    EXPECT_EQ("\n", Run({"ini", "v.ini", "Sec", "Other", "--size", "0"}).out);
    EXPECT_EQ("fallback\n", Run({"ini", "v.ini", "Sec", "None", "--default", "fallback"}).out);
    EXPECT_EQ("fallback\n", Run({"ini", "no.ini", "Sec", "Key", "--default", "fallback"}).out);
    const ToolResult json = Run({"ini", "--json", "v.ini", "Sec", "Other", "--size", "3"});
    EXPECT_EQ("{\n  \"value\": \"ab\",\n  \"length\": 2\n}\n", json.out);
    EXPECT_EQ(0, json.exitCode);
}

// A file time for a UTC instant: the file clock's epoch lies a whole number of
// seconds from the system clock's, which two readings close together give.
fs::file_time_type FileTime(int64_t secondsSince1970) {
    using namespace std::chrono;
    const auto file = fs::file_time_type::clock::now().time_since_epoch();
    const auto system = system_clock::now().time_since_epoch();
    const int64_t offset = static_cast<int64_t>(
        std::llround(duration<double>(file).count() - duration<double>(system).count()));
    return fs::file_time_type(
        duration_cast<fs::file_time_type::duration>(seconds(secondsSince1970 + offset)));
}

TEST_F(PexilTool, LogsMarksWhatTheNextPruningDeletes) {
    // 2026-01-01T10:00:00Z and one day more for each file after it.
    const int64_t first = 1767261600;
    std::vector<std::string> names;
    for (int day = 1; day <= 7; ++day) {
        names.push_back("2026010" + std::to_string(day) + "_100000.log");
        const std::string path = dir_.Write(Native("PexilLog/" + names.back()), "x");
        fs::last_write_time(path, FileTime(first + (day - 1) * 86400));
    }
    // Same time as the newest: pruning lists whichever the walk meets first.
    fs::last_write_time(dir_.Write(Native("PexilLog/twin.log"), "x"), FileTime(first + 6 * 86400));
    dir_.Write(Native("PexilLog/notes.LOG"), "x");
    dir_.Write(Native("PexilLog/a.log.bak"), "x");
    fs::create_directories(dir_.path() / "PexilLog" / "sub.log");

    const ToolResult result = Run({"logs"});
    auto expected = [](const std::string& listed, const std::string& skipped) {
        return Native("log directory: <dir>/PexilLog/\n") +
               "  keep    2026-01-07T10:00:00.0000000Z  " + listed +
               "\n  skip    2026-01-07T10:00:00.0000000Z  " + skipped + " (same time as " + listed +
               ": pruning does not list it)\n"
               "  keep    2026-01-06T10:00:00.0000000Z  20260106_100000.log\n"
               "  keep    2026-01-05T10:00:00.0000000Z  20260105_100000.log\n"
               "  keep    2026-01-04T10:00:00.0000000Z  20260104_100000.log\n"
               "  keep    2026-01-03T10:00:00.0000000Z  20260103_100000.log\n"
               "  delete  2026-01-02T10:00:00.0000000Z  20260102_100000.log\n"
               "  delete  2026-01-01T10:00:00.0000000Z  20260101_100000.log\n"
               "not log files:\n"
               "  a.log.bak (extension is not exactly \".log\")\n"
               "  notes.LOG (extension is not exactly \".log\")\n"
               "  sub.log (a directory)\n";
    };
    const bool twinListed = result.out == expected("twin.log", "20260107_100000.log");
    if (!twinListed) {
        EXPECT_EQ(expected("20260107_100000.log", "twin.log"), result.out);
    }
    EXPECT_EQ(0, result.exitCode);

    // The factory's pruning deletes exactly the files marked so.
    log::LogDirectoryCallback callback;
    log::PruneLogFiles(dir_.str().c_str(), callback);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir_.path() / "PexilLog"))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(
        (std::set<std::string>{"20260103_100000.log", "20260104_100000.log", "20260105_100000.log",
                               "20260106_100000.log", "20260107_100000.log", "twin.log",
                               "a.log.bak", "notes.LOG", "sub.log"}),
        left);

    const ToolResult none = Run({"logs", "elsewhere", "--json"});
    EXPECT_EQ("{\n  \"directory\": \"" + J(Native("<dir>/elsewhere/PexilLog/")) +
                  "\",\n  \"exists\": false,\n  \"kept\": 5,\n  \"files\": [],\n"
                  "  \"others\": []\n}\n",
              none.out);
}

TEST_F(PexilTool, BadArgumentsGiveTheUsageAndStatus2) {
    const ToolResult help = Run({"--help"});
    EXPECT_EQ(0, help.exitCode);
    EXPECT_EQ(0u, help.out.find("usage: pexil COMMAND [ARGUMENTS] [--json]\n"));
    EXPECT_EQ("", help.err);

    const struct {
        std::vector<std::string> words;
        const char* message;
    } cases[] = {
        {{}, "no command"},
        {{"frobnicate"}, "unknown command frobnicate"},
        {{"inspect"}, "inspect: too few arguments"},
        {{"inspect", "a.ini", "b.ini"}, "inspect: unexpected argument b.ini"},
        {{"inspect", "a.ini", "--lnt"}, "inspect: unknown option --lnt"},
        {{"locate", "--host"}, "locate: --host needs a value"},
        {{"module", "a.dll", "--lint"}, "module: unknown option --lint"},
        {{"ini", "a.ini", "S"}, "ini: too few arguments"},
        {{"ini", "a.ini", "S", "K", "--size", "12k"},
         "ini: --size takes a number from 0 to 1048576"},
        {{"ini", "a.ini", "S", "K", "--size", "1", "--size", "2"}, "ini: --size given twice"},
        {{"logs", "a", "b"}, "logs: unexpected argument b"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words = c.words;
        const ToolResult result = Run(words);
        EXPECT_EQ(2, result.exitCode) << c.message;
        EXPECT_EQ("", result.out) << c.message;
        EXPECT_EQ(std::string("pexil: ") + c.message + "\n\n" + help.out, result.err);
    }
}

}  // namespace
}  // namespace pexil::testing
