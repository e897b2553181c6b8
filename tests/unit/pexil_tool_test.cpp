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

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

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

// The text as Notepad saves it as "Unicode": UTF-16 LE after its byte-order
// mark, with CR LF line ends.
std::string Utf16(const std::string& text) {
    std::string bytes = "\xff\xfe";
    for (char c : ReplaceAll(text, "\n", "\r\n")) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

const char* const kUtf16Problem =
    "the file is UTF-16 LE text (it begins with that byte-order mark, as Notepad's \"Unicode\" "
    "writes): the registry parser reads bytes, so no line of it is understood and it binds no "
    "component; save it as ANSI or UTF-8";

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

// The registry file guide's example (docs/examples/registry-file.ini).
TEST_F(PexilTool, InspectShowsTheRegistryAsTheFactoryReadsIt) {
    Copy("registry-file.ini", "Pexil.ini");
    dir_.Write(Native("Components/Base.dll"), "");
    dir_.Write("Brelnor.dll", "");
    dir_.Write(Native("Components/Config.dll"), "");
    dir_.Write(Native("Components/Sub Dir/X.dll"), "");
    const std::string x = Native("<dir>/Components/Sub Dir") + "\\X.dll";

    const ToolResult text = Run({"inspect", "Pexil.ini", "--lint"});
    EXPECT_EQ(Native("registry file: <dir>/Pexil.ini\n"
                     "default DLL directory: <dir>/Components\n"
                     "default DLL: <dir>/Components/Base.dll (exists)\n") +
                  "default masks: debug output EW, log file none\n"
                  "component 42 (line 16)\n"
                  "  DLL: Sub Dir\\X.dll\n"
                  "  loads: " +
                  x +
                  " (exists)\n"
                  "  masks: debug output EW, log file E\n"
                  "component 361 (line 12)\n"
                  "  DLL: Brelnor.dll, beside the registry file\n" +
                  Native("  loads: <dir>/Brelnor.dll (exists)\n") +
                  "  masks: debug output EW, log file none (the defaults)\n"
                  "component 991 (line 21)\n"
                  "  DLL: Config.dll\n" +
                  Native("  loads: <dir>/Components/Config.dll (exists)\n") +
                  "  masks: debug output EW, log file none (the defaults)\n"
                  "lint: 0 findings, 2 notes\n"
                  "  line 1: note: [Redirect] is read by the factory search, not by the registry "
                  "parser: the section before continues\n"
                  "  line 2: note: Path under [Redirect] is read by the factory search, not by "
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
        "      \"line\": 16,\n"
        "      \"dll\": \"Sub Dir\\\\X.dll\",\n"
        "      \"besideRegistry\": false,\n"
        "      \"path\": \"" +
        J(x) + "\",\n" +
        "      \"exists\": true,\n"
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
                            "y=1\n"     // 28
                            "[63O1]\n"  // 29
                            "last");    // 30
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
                  "component 63 (line 29)\n"
                  "  DLL: none: requests for it fail\n"
                  "  masks: debug output EW, log file none (the defaults)\n"
                  "lint: 25 findings, 2 notes\n"
                  "  file: components have sections here but there is no [361] section: the "
                  "modules created from this registry ask it for the factory and get nothing, so "
                  "they get no log settings and are never unloaded; add [361] with "
                  "DLL=Brelnor.dll\n"
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
                  "  line 21: the section of component 12 replaces the one at line 8 as a whole\n" +
                  Native("  line 21: component 12: its DLL <dir>/C.dll does not exist\n") +
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
                  "  line 29: header \"[63O1]\" is read as component 63: \"O1\" after the number "
                  "is ignored\n"
                  "  line 29: component 63 has no DLL name: requests for it fail (a component "
                  "with a section never falls back to the default DLL)\n"
                  "  line 30: neither a key line (no '=') nor a header (no '['): ignored\n",
              result.out);
    EXPECT_EQ("", result.err);
    EXPECT_EQ(1, result.exitCode);

    const ToolResult json = Run({"inspect", "r.ini", "--lint", "--json"});
    EXPECT_NE(std::string::npos, json.out.find("  \"lint\": [\n"
                                               "    {\n"
                                               "      \"line\": null,\n"
                                               "      \"kind\": \"no-factory-entry\",\n"))
        << json.out;
    EXPECT_NE(std::string::npos, json.out.find("    {\n"
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

    // A registry as Notepad's "Unicode" saves it: every line ignored, and why.
    dir_.Write("u.ini", Utf16("[100]\nDLL=A.dll\n"));
    const ToolResult utf16 = Run({"inspect", "u.ini", "--lint"});
    EXPECT_NE(std::string::npos, utf16.out.find(std::string("  line 1: ") + kUtf16Problem + "\n"))
        << utf16.out;
    EXPECT_EQ(1, utf16.exitCode);

    // What breaks the factory search: a [Redirect] chain that ends nowhere,
    // that loops, whose last file has no [361]; a Pexil.ini without [361].
    dir_.Write(Native("a/Pexil.ini"), "[Redirect]\nPath=gone.ini\n");
    dir_.Write(Native("b/Pexil.ini"), "[Redirect]\nPath=" + dir_.str() + Native("/b/x.ini") + "\n");
    dir_.Write(Native("b/x.ini"), "[Redirect]\nPath=" + dir_.str() + Native("/b/Pexil.ini") + "\n");
    dir_.Write(Native("c/Pexil.ini"), "[Redirect]\nPath=real.ini\n");
    dir_.Write(Native("c/real.ini"), "[DefaultValue]\nDllPath=bin\n");
    dir_.Write(Native("d/Pexil.ini"), "[LogDefault]\nOutputDebugString=E\n");
    const struct {
        const char* file;
        std::string finding;
    } chains[] = {
        {"a/Pexil.ini", Native("  line 2: <dir>/a/Pexil.ini redirects to <dir>/a/gone.ini, which "
                               "does not exist: the factory search finds no factory DLL\n")},
        {"b/Pexil.ini", Native("  line 2: <dir>/b/x.ini redirects to <dir>/b/Pexil.ini, which the "
                               "chain has already passed: the factory search fails\n")},
        {"c/Pexil.ini", Native("  line 2: the last file of the [Redirect] chain, <dir>/c/real.ini, "
                               "has no [361] section: the factory search finds no factory DLL; "
                               "add [361] with DLL=Brelnor.dll there\n")},
        {"d/Pexil.ini",
         "  file: Pexil.ini has no [361] section: the factory search finds no "
         "factory DLL; add [361] with DLL=Brelnor.dll\n"},
    };
    for (const auto& chain : chains) {
        const ToolResult found = Run({"inspect", Native(chain.file), "--lint"});
        const size_t lint = found.out.find("lint: ");
        ASSERT_NE(std::string::npos, lint) << found.out;
        const std::string notes = chain.file[0] == 'd' ? "0 notes" : "2 notes";
        EXPECT_NE(std::string::npos, found.out.find("lint: 1 finding, " + notes + "\n", lint))
            << found.out;
        EXPECT_NE(std::string::npos, found.out.find(chain.finding, lint)) << found.out;
        EXPECT_EQ(1, found.exitCode) << chain.file;
    }
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
    dir_.Write("late.dll", "");
    const ToolResult result = Run({"inspect", "q.ini", "--lint"});
    EXPECT_EQ(Native("registry file: <dir>/q.ini\n"
                     "default DLL directory: <dir>/abs\n") +
                  "default DLL: none (components without a section fail)\n"
                  "default masks: debug output none, log file none\n"
                  "component 7 (line 2)\n"
                  "  DLL: late.dll, beside the registry file\n" +
                  Native("  loads: <dir>/late.dll (exists)\n") +
                  "  masks: debug output E, log file none\n"
                  "lint: 1 finding, 0 notes\n"
                  "  file: components have sections here but there is no [361] section: the "
                  "modules created from this registry ask it for the factory and get nothing, so "
                  "they get no log settings and are never unloaded; add [361] with "
                  "DLL=Brelnor.dll\n",
              result.out);
    EXPECT_EQ(1, result.exitCode);

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

#if !defined(_WIN32)
    // A FIFO reads as missing, at once, wherever a file is read.
    ASSERT_EQ(0, ::mkfifo((dir_ / "fifo.ini").c_str(), 0666));
    const ToolResult fifo = Run({"inspect", "fifo.ini"});
    EXPECT_EQ("pexil inspect: cannot read <dir>/fifo.ini: it is not a regular file but a FIFO\n",
              fifo.err);
    EXPECT_EQ(3, fifo.exitCode);
    EXPECT_EQ("fallback\n", Run({"ini", "fifo.ini", "s", "k", "--default", "fallback"}).out);
    dir_.Write("to-fifo.ini", "[Redirect]\nPath=fifo.ini\n[1]\nDLL=fifo.ini\n[361]\nDLL=x\n");
    const ToolResult lint = Run({"inspect", "to-fifo.ini", "--lint"});
    EXPECT_NE(std::string::npos,
              lint.out.find("  line 2: <dir>/to-fifo.ini redirects to <dir>/fifo.ini, which cannot "
                            "be read: it is not a regular file but a FIFO: the factory search "
                            "finds no factory DLL\n"))
        << lint.out;
    EXPECT_NE(std::string::npos,
              lint.out.find("  line 3: component 1: its DLL <dir>/fifo.ini cannot be read: it is "
                            "not a regular file but a FIFO\n"))
        << lint.out;
#endif
}

// pexil lint: without a file, every file a host here reads (its Pexil.ini and
// the redirect's target); the modules they name are loaded and asked for
// their IDs, unless --no-load.
TEST_F(PexilTool, LintChecksWhatAHostReadsAndTheModulesItNames) {
    dir_.Write("Pexil.ini", "[Redirect]\nPath=" + Native("system/Pexil.ini") + "\n");
    dir_.Write(Native("system/Pexil.ini"),
               "[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n"
               "[100]\nDLL=TestComponents.dll\n"
               "[7001]\nDLL=TestComponents.dll\n"
               "[5]\nDLL=NoExports.dll\n"
               "; [361] stays first\n");
    Copy("TestComponents.dll", Native("system/TestComponents.dll"));
    Copy(Native("plain/NoExports.dll"), Native("system/NoExports.dll"));
    const std::string chain =
        Native("registry file: <dir>/Pexil.ini\n") +
        "lint: 0 findings, 2 notes\n"
        "  line 1: note: [Redirect] is read by the factory search, not by the registry parser: "
        "the section before continues\n"
        "  line 2: note: Path under [Redirect] is read by the factory search, not by the "
        "registry parser\n" +
        Native("registry file: <dir>/system/Pexil.ini\n");
    const std::string rebound =
        "  line 10: this comment is a header (there is no comment syntax): it starts the section "
        "of component 361\n"
        "  line 10: the section of component 361 replaces the one at line 1 as a whole\n"
        "  line 10: component 361 has no DLL name: requests for it fail (a component with a "
        "section never falls back to the default DLL)\n"
        "  line 10: the factory search reads DLL=Brelnor.dll in [361], but the parser, through "
        "which every holder asks the factory for component 361, binds it otherwise: line 10 of " +
        Native("<dir>/system/Pexil.ini") +
        " (\"; [361] stays first\") starts its section anew (a line that holds a header is a "
        "header, whatever stands before its '[': registry files have no comments), and that "
        "section, which has no DLL= line, replaces the one of line 1 as a whole; so the holders "
        "that ask this registry for the factory get none\n";
    const ToolResult loaded = Run({"lint"});
    EXPECT_EQ(chain + "lint: 6 findings, 0 notes\n" +
                  Native("  line 6: component 7001: its DLL <dir>/system/TestComponents.dll") +
                  " registers 100, 101, 102, 103, 104, 105, 106, 107 and 9 more, not 7001: "
                  "requests for it get nothing\n" +
                  Native("  line 8: component 5: its DLL <dir>/system/NoExports.dll") +
                  " exports no CreateComponent: it is no module\n" + rebound,
              loaded.out);
    EXPECT_EQ(1, loaded.exitCode);
    const ToolResult unloaded = Run({"lint", "--no-load"});
    EXPECT_EQ(chain + "lint: 4 findings, 0 notes\n" + rebound, unloaded.out);
    EXPECT_EQ(1, unloaded.exitCode);
    // Rebound by a DLL= line: the finding stands at that line, not at the header.
    dir_.Write(Native("system/dll-rebound.ini"),
               "[361]\nDLL=Brelnor.dll\n[DefaultValue]\nDLL=TestComponents.dll\n");
    EXPECT_EQ(Native("registry file: <dir>/system/dll-rebound.ini\n") +
                  "lint: 1 finding, 0 notes\n"
                  "  line 4: the factory search reads DLL=Brelnor.dll in [361], but the parser, "
                  "through which every holder asks the factory for component 361, binds it "
                  "otherwise: line 4 of " +
                  Native("<dir>/system/dll-rebound.ini") +
                  " (\"DLL=TestComponents.dll\") binds it to TestComponents.dll (it stands under "
                  "the \"[DefaultValue]\" header of line 3, but a DLL= line belongs to the "
                  "component section above it); so the holders that ask this registry for the "
                  "factory get none\n",
              Run({"lint", Native("system/dll-rebound.ini"), "--no-load"}).out);

    // Named files, in JSON; one that cannot be read ends the command.
    dir_.Write("clean.ini", "[LogDefault]\nOutputDebugString=E\n");
    const ToolResult json = Run({"lint", "clean.ini", "Pexil.ini", "--json"});
    EXPECT_EQ("{\n  \"files\": [\n    {\n      \"file\": \"" + J(Native("<dir>/clean.ini")) +
                  "\",\n      \"lint\": []\n    },\n    {\n      \"file\": \"" +
                  J(Native("<dir>/Pexil.ini")) +
                  "\",\n      \"lint\": [\n        {\n          \"line\": 1,\n"
                  "          \"kind\": \"redirect\",\n",
              json.out.substr(0, json.out.find("          \"message\"")));
    EXPECT_EQ(0, json.exitCode);  // notes are no findings
    const ToolResult missing = Run({"lint", "clean.ini", "nothing.ini"});
    EXPECT_EQ(Native("pexil lint: cannot read <dir>/nothing.ini does not exist\n"), missing.err);
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
            "  \"notFound\": null,\n"
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
    const ToolResult none = Run({"locate"});
    EXPECT_EQ(Native("host directory: <dir>\nPexil.ini not found at <dir>/Pexil.ini\n"), none.out);
    EXPECT_EQ(1, none.exitCode);

    // Without a DLL name the path is the ini file's directory: no DLL there.
    // A missing name is no name cut for its length.
    dir_.Write("empty.ini", "[361]\nNotUseDefaultDllPath=1\n");
    const ToolResult directory = Run({"locate", "empty.ini"});
    EXPECT_NE(std::string::npos,
              directory.out.find("  [361] DLL=: relative\n"
                                 "  [361] NotUseDefaultDllPath=1: the DLL lies beside the ini "
                                 "file\n" +
                                 Native("factory DLL: <dir>/\n") + "  exists: no\n"))
        << directory.out;
    EXPECT_EQ(1, directory.exitCode);

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

    // Found by the search, but [361] started anew (emptied) for the factory's
    // own lookup: the holder's request through the same file gets nothing.
    Copy("Brelnor.dll", "Brelnor.dll");
    dir_.Write("rebound.ini", "[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n[5]\n[361]\n");
    const ToolResult rebound = Run({"locate", "rebound.ini"});
    EXPECT_NE(std::string::npos,
              rebound.out.find("  exports CreateComponent: yes\n"
                               "the holder's request for component 361: fails: " +
                               Native("<dir>/rebound.ini binds component 361 to no DLL: line 5 "
                                      "of <dir>/rebound.ini") +
                               " (\"[361]\") starts its section anew, and that section, which has "
                               "no DLL= line, replaces the one of line 1 as a whole; so the "
                               "module's holders ask this registry for the factory and get "
                               "nothing, so its components get no log settings and it is never "
                               "unloaded; bind [361] to the factory (DLL=Brelnor.dll) in one "
                               "section that no later line starts anew or binds elsewhere\n"))
        << rebound.out;
    EXPECT_EQ(1, rebound.exitCode);
    fs::remove(dir_.path() / "Brelnor.dll");

    // A library without the entry points where the factory should be.
    Copy(Native("plain/NoExports.dll"), "Brelnor.dll");
    const ToolResult plain = Run({"locate", "missing.ini"});
    EXPECT_NE(std::string::npos,
              plain.out.find("  exists: yes\n  loads: yes\n  exports CreateComponent: no\n"))
        << plain.out;
    EXPECT_EQ(1, plain.exitCode);

    // A module there, but one that gives no factory when the holder asks it for 361.
    fs::remove(dir_.path() / "Brelnor.dll");
    Copy("TestComponents.dll", "Brelnor.dll");
    const ToolResult module = Run({"locate", "missing.ini"});
    EXPECT_NE(std::string::npos,
              module.out.find("  exports CreateComponent: yes\n"
                              "the holder's request for component 361: fails: " +
                              Native("<dir>/Brelnor.dll") +
                              " gives no component 361 (CreateComponent(361) returns null), so "
                              "the host gets no factory: [361] must name the factory, "
                              "Brelnor.dll\n"))
        << module.out;
    EXPECT_EQ(1, module.exitCode);
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
                  "component IDs (18): 100 101 102 103 104 104 105 106 107 108 109 110 111 "
                  "112 114 115 116 199\n",
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
    // With the loader's own reason.
    char reason[512] = "";
    EXPECT_EQ(nullptr, platform::LoadLibrary((dir_ / "text.dll").c_str()));
    platform::LoadFailureReason(reason, sizeof(reason));
    EXPECT_EQ(Native("pexil module: cannot load <dir>/text.dll: ") +
                  ReplaceAll(reason, dir_.str(), "<dir>") + "\n",
              bad.err);
    EXPECT_EQ(3, bad.exitCode);
#if defined(_WIN32)
    // A module of the other width: why, in plain words.
    Copy("plain\\OtherWidth.dll", "OtherWidth.dll");
    const ToolResult wide = Run({"module", "OtherWidth.dll"});
    EXPECT_EQ(0u, wide.err.find("pexil module: cannot load <dir>\\OtherWidth.dll: ")) << wide.err;
    const std::string widths = sizeof(void*) == 8
                                   ? "a 32-bit module cannot be loaded by a 64-bit program\n"
                                   : "a 64-bit module cannot be loaded by a 32-bit program\n";
    EXPECT_NE(std::string::npos, wide.err.find(" (error 193): " + widths)) << wide.err;
    EXPECT_EQ(3, wide.exitCode);
#endif
}

TEST_F(PexilTool, IniPrintsTheValueAsTheReaderReturnsIt) {
    dir_.Write("v.ini", "[Sec]\nKey = \"quoted value\" \nOther=abcdef\n");
    EXPECT_EQ("quoted value\n", Run({"ini", "v.ini", "sec", "KEY"}).out);
    EXPECT_EQ("abc\n", Run({"ini", "v.ini", "Sec", "Other", "--size", "4"}).out);
    EXPECT_EQ("\n", Run({"ini", "v.ini", "Sec", "Other", "--size", "0"}).out);
    EXPECT_EQ("fallback\n", Run({"ini", "v.ini", "Sec", "None", "--default", "fallback"}).out);
    // A missing file gives the default, as a missing key does; the command
    // says the file does not exist.
    const ToolResult missing = Run({"ini", "no.ini", "Sec", "Key", "--default", "fallback"});
    EXPECT_EQ("fallback\n", missing.out);
    EXPECT_EQ(Native("pexil ini: <dir>/no.ini does not exist\n"), missing.err);
    EXPECT_EQ(1, missing.exitCode);
#if defined(_WIN32)
    // Under Wine a POSIX path, as a Linux shell passes one, names the Unix
    // file (drive Z: is the Unix root); it is not glued to the current
    // directory (C:\...\/tmp/...).
    if (platform::GetEnvironmentVariable("WINEPREFIX") != nullptr && fs::is_directory("Z:\\tmp")) {
        const std::string name = "pexil-ini-" + dir_.path().filename().string() + ".ini";
        const fs::path unixFile = fs::path("Z:\\tmp") / name;
        std::ofstream(unixFile, std::ios::binary) << "[Sec]\nKey=from /tmp\n";
        const ToolResult fromTmp = Run({"ini", "/tmp/" + name, "sec", "KEY"});
        fs::remove(unixFile);
        EXPECT_EQ("from /tmp\n", fromTmp.out);
        EXPECT_EQ("", fromTmp.err);
        EXPECT_EQ(0, fromTmp.exitCode);
    }
#endif
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

    // Where the factory cannot log: a root path that does not exist (it makes
    // only PexilLog itself), a PexilLog that is a file.
    const ToolResult none = Run({"logs", "elsewhere", "--json"});
    EXPECT_EQ("{\n  \"directory\": \"" + J(Native("<dir>/elsewhere/PexilLog/")) +
                  "\",\n  \"exists\": false,\n  \"problem\": \"the root path " +
                  J(Native("<dir>/elsewhere")) +
                  " does not exist: the factory makes only the last level, PexilLog, so it "
                  "cannot open a log file there\",\n  \"kept\": 5,\n  \"files\": [],\n"
                  "  \"others\": []\n}\n",
              none.out);
    EXPECT_EQ(1, none.exitCode);
    dir_.Write(Native("taken/PexilLog"), "a file");
    const ToolResult taken = Run({"logs", "taken"});
    EXPECT_EQ(Native("log directory: <dir>/taken/PexilLog/\n"
                     "  <dir>/taken/PexilLog is not a directory: the factory cannot open a log "
                     "file there\n"),
              taken.out);
    EXPECT_EQ(1, taken.exitCode);
    // A root that is a file, and one the factory cannot make PexilLog in.
    dir_.Write("plain-file", "a file");
    const ToolResult file = Run({"logs", "plain-file"});
    EXPECT_EQ(Native("log directory: <dir>/plain-file/PexilLog/\n"
                     "  the root path <dir>/plain-file is not a directory: the factory cannot "
                     "make PexilLog in it, so it cannot open a log file there\n"),
              file.out);
    EXPECT_EQ(1, file.exitCode);
    fs::create_directory(dir_.path() / "read-only");
    fs::permissions(dir_.path() / "read-only", fs::perms::owner_read | fs::perms::owner_exec);
    // The system's own reason; the superuser may write anywhere.
    if (platform::Access((dir_ / "read-only").c_str(), 2) != 0) {
        char reason[256] = "";
        platform::LastErrorText(reason, sizeof(reason));
        EXPECT_EQ(Native("log directory: <dir>/read-only/PexilLog/\n  <dir>/read-only/PexilLog "
                         "cannot be created: ") +
                      reason + "; the factory cannot open a log file there\n",
                  Run({"logs", "read-only"}).out);
    } else {
        EXPECT_EQ(Native("log directory: <dir>/read-only/PexilLog/ (missing: the factory makes "
                         "it at its first log file)\n"),
                  Run({"logs", "read-only"}).out);
    }
    fs::permissions(dir_.path() / "read-only", fs::perms::owner_all);
    fs::create_directory(dir_.path() / "fresh");
    const ToolResult fresh = Run({"logs", "fresh"});
    EXPECT_EQ(Native("log directory: <dir>/fresh/PexilLog/ (missing: the factory makes it at its "
                     "first log file)\n"),
              fresh.out);
    EXPECT_EQ(0, fresh.exitCode);

    // A root path of 300 characters, given or the current directory: its log
    // directory does not fit, and the command fails saying so.
    const std::string longRoot(300, 'r');
    const ToolResult tooLong = Run({"logs", longRoot});
    EXPECT_EQ("", tooLong.out);
    EXPECT_EQ("pexil logs: path too long: " + longRoot + "\n", tooLong.err);
    EXPECT_EQ(3, tooLong.exitCode);
#if !defined(_WIN32)  // Windows runs no program in a directory that long
    const fs::path deep =
        dir_.path() / std::string(100, 'a') / std::string(100, 'b') / std::string(100, 'c');
    fs::create_directories(deep);
    const ProgramResult inDeep = RunProgram(BesideProgram(kTool), {"logs"}, deep.string(),
                                            outputs_ / "out.txt", outputs_ / "err.txt");
    EXPECT_EQ("", inDeep.out);
    EXPECT_EQ(
        "pexil logs: the log directory under " + deep.string() + " is longer than 259 characters\n",
        inDeep.err);
    EXPECT_EQ(3, inDeep.exitCode);
#endif
}

// pexil why on broken host directories: each step fails once, with its one
// sentence of what to change; and one host where every step passes.
TEST_F(PexilTool, WhyStopsAtTheFirstStepThatFails) {
    const std::string good = "[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n";
    auto host = [&](const std::string& name, const std::string& pexilIni) {
        if (!pexilIni.empty()) dir_.Write(Native(name + "/Pexil.ini"), pexilIni);
        Copy("Brelnor.dll", Native(name + "/Brelnor.dll"));
        Copy("TestComponents.dll", Native(name + "/TestComponents.dll"));
    };
    host("ok", good + "[100]\nDLL=TestComponents.dll\n");
    const ToolResult passed = Run({"why", "100", "--dir", "ok"});
    EXPECT_EQ(Native("component 100 for a host in <dir>/ok\n"
                     "  ok    pexil-ini     <dir>/ok/Pexil.ini\n"
                     "  ok    redirect      <dir>/ok/Pexil.ini has no [Redirect]: the search reads "
                     "it\n"
                     "  ok    factory-dll   <dir>/ok/Brelnor.dll loads and exports "
                     "CreateComponent\n"
                     "  ok    registry      <dir>/ok/Pexil.ini, the default registry (Pexil.ini "
                     "after its redirects)\n"
                     "  ok    entry         section [100] of <dir>/ok/Pexil.ini: "
                     "DLL=TestComponents.dll\n"
                     "  ok    dll-file      <dir>/ok/TestComponents.dll\n"
                     "  ok    dll-load      <dir>/ok/TestComponents.dll loads\n"
                     "  ok    export        <dir>/ok/TestComponents.dll exports CreateComponent\n"
                     "  ok    create        component 100 created and released\n"
                     "  ok    factory-entry <dir>/ok/Pexil.ini names the factory in [361]\n"
                     "every step passed\n"),
              passed.out);
    EXPECT_EQ("", passed.err);
    EXPECT_EQ(0, passed.exitCode);
    const ToolResult json = Run({"why", "100", "--dir", "ok", "--json", "--no-create"});
    EXPECT_EQ(0u, json.out.find("{\n  \"id\": 100,\n  \"ok\": true,\n  \"failed_step\": null,\n"
                                "  \"steps\": [\n    {\n      \"step\": \"pexil-ini\",\n"
                                "      \"ok\": true,\n      \"detail\": \"" +
                                J(Native("<dir>/ok/Pexil.ini")) + "\"\n    },\n"))
        << json.out;
    // A step not taken is neither passed nor failed.
    EXPECT_NE(std::string::npos, json.out.find("      \"step\": \"create\",\n      \"ok\": null,\n"
                                               "      \"detail\": \"skipped (--no-create)\"\n"))
        << json.out;
    EXPECT_EQ(0, json.exitCode);
    const ToolResult notCreated = Run({"why", "100", "--dir", "ok", "--no-create"});
    EXPECT_NE(std::string::npos,
              notCreated.out.find("  skip  create        skipped (--no-create)\n"
                                  "  ok    factory-entry " +
                                  Native("<dir>/ok/Pexil.ini") +
                                  " names the factory in [361]\n"
                                  "every step taken passed; not taken: create\n"))
        << notCreated.out;
    EXPECT_EQ(0, notCreated.exitCode);
    // Through an absolute redirect: one redirect step, the hop; the file the
    // chain ends in is read without a step of its own.
    host("chained", "[Redirect]\nPath=" + dir_.str() + Native("/ok/Pexil.ini") + "\n");
    const ToolResult chained = Run({"why", "100", "--dir", "chained"});
    EXPECT_EQ(0u, chained.out.find(Native("component 100 for a host in <dir>/chained\n"
                                          "  ok    pexil-ini     <dir>/chained/Pexil.ini\n"
                                          "  ok    redirect      <dir>/chained/Pexil.ini "
                                          "redirects to <dir>/ok/Pexil.ini\n"
                                          "  ok    factory-dll   <dir>/ok/Brelnor.dll loads and "
                                          "exports CreateComponent\n")))
        << chained.out;

    host("no-ini", "");
    host("redirect", "[Redirect]\nPath=gone.ini\n");
    host("no-361", "[100]\nDLL=TestComponents.dll\n");
    host("missing", good + "[100]\nDLL=missing.dll\n");
    dir_.Write(Native("text/text.dll"), "not a library");
    host("text", good + "[100]\nDLL=text.dll\n");
    Copy(Native("plain/NoExports.dll"), Native("plain/NoExports.dll"));
    host("plain", good + "[100]\nDLL=" + Native("../plain/NoExports.dll") + "\n");
    host("null", good +
                     "[103]\nDLL=TestComponents.dll\n[7001]\nDLL=TestComponents.dll\n"
                     "[112]\nDLL=TestComponents.dll\n");
    dir_.Write(Native("ok/plugins.ini"), "[100]\nDLL=TestComponents.dll\n");
    // A registry whose redirects loop after a hop: the loop is the chain's last step.
    dir_.Write(Native("ok/loop1.ini"),
               "[Redirect]\nPath=" + dir_.str() + Native("/ok/loop2.ini\n"));
    dir_.Write(Native("ok/loop2.ini"),
               "[Redirect]\nPath=" + dir_.str() + Native("/ok/loop1.ini\n"));
    // [361] found by the factory search, and emptied or rebound for the
    // factory's own lookup, which every holder makes: a later line that holds
    // a header, a DLL= line under [DefaultValue] (still [361]'s).
    host("rebound", good + "[100]\nDLL=TestComponents.dll\n; [361] above must stay first\n");
    dir_.Write(Native("ok/rebound.ini"), good +
                                             "[DefaultValue]\nDLL=TestComponents.dll\n"
                                             "[100]\nDLL=TestComponents.dll\n");
    fs::create_directories(dir_.path() / "ok" / "conf.d");
    host("to-directory", "[Redirect]\nPath=" + dir_.str() + Native("/ok/conf.d") + "\n");
    // [361] naming a DLL that loads and exports CreateComponent but is no
    // factory: it gives no 361, or another class for it.
    host("not-factory", "[361]\nDLL=TestComponents.dll\n[100]\nDLL=TestComponents.dll\n");
    host("wrong-factory", "[361]\nDLL=MinimalModule.dll\n[100]\nDLL=TestComponents.dll\n");
    Copy(Native("plain/MinimalModule.dll"), Native("wrong-factory/MinimalModule.dll"));
    Copy(Native("plain/MinimalModule.dll"), Native("ok/MinimalModule.dll"));
    dir_.Write(Native("ok/wrong361.ini"), good +
                                              "[DefaultValue]\nDLL=MinimalModule.dll\n"
                                              "[100]\nDLL=TestComponents.dll\n");
    // A header of [361] right after its section continues it; its later DLL= rebinds.
    host("continued", good + "[361]\nDLL=gone.dll\n[100]\nDLL=TestComponents.dll\n");
    // A name that only begins as the file's does is no name in another case.
    host("prefix", good + "[100]\nDLL=TestComponents\n");
    char reason[512] = "";
    EXPECT_EQ(nullptr, platform::LoadLibrary((dir_ / Native("text/text.dll")).c_str()));
    platform::LoadFailureReason(reason, sizeof(reason));
    const std::string loader = ReplaceAll(reason, dir_.str(), "<dir>");
    // Pexil.ini as Notepad's "Unicode" saves it: the factory search reads it
    // (the profile reader decodes UTF-16), the registry parser does not.
    dir_.Write(Native("utf16/Pexil.ini"), Utf16(good + "[100]\nDLL=TestComponents.dll\n"));
    host("utf16", "");
#if defined(_WIN32)
    // A registry path with a '/' after its last backslash: a DLL beside the
    // registry is looked for at that backslash, in the host directory.
    host("mixed", good);
    fs::remove(dir_.path() / "mixed" / "TestComponents.dll");
    dir_.Write("conf2\\geo.ini", good + "[100]\nDLL=TestComponents.dll\nNotUseDefaultDllPath=1\n");
    Copy("TestComponents.dll", "conf2\\TestComponents.dll");
    // A module of the other width: the loader's reason, filled in and explained.
    host("wide", good + "[100]\nDLL=OtherWidth.dll\n");
    Copy("plain\\OtherWidth.dll", "wide\\OtherWidth.dll");
    const std::string otherWidth = dir_ / "wide\\OtherWidth.dll";
    EXPECT_EQ(nullptr, platform::LoadLibrary(otherWidth.c_str()));
    platform::LoadFailureReason(reason, sizeof(reason));
    const std::string wideReason = ReplaceAll(reason, dir_.str(), "<dir>");
    EXPECT_NE(std::string::npos, wideReason.find("<dir>\\wide\\OtherWidth.dll")) << wideReason;
    EXPECT_EQ(std::string::npos, wideReason.find("%1")) << wideReason;
    const std::string widths = sizeof(void*) == 8
                                   ? "a 32-bit module cannot be loaded by a 64-bit program"
                                   : "a 64-bit module cannot be loaded by a 32-bit program";
    EXPECT_NE(std::string::npos, wideReason.find(" (error 193): " + widths)) << wideReason;
#endif
    const struct {
        std::vector<std::string> words;
        const char* step;
        std::string detail;
    } broken[] = {
        {{"100", "--dir", "no-ini"},
         "pexil-ini",
         Native("Pexil.ini not found at <dir>/no-ini/Pexil.ini: put one beside the host, whose "
                "[361] section names the factory (DLL=Brelnor.dll)")},
        {{"100", "--dir", "redirect"},
         "redirect",
         Native("<dir>/redirect/Pexil.ini redirects to <dir>/redirect/gone.ini, which does not "
                "exist: create it or correct [Redirect] Path=gone.ini")},
        {{"100", "--dir", "no-361"},
         "factory-dll",
         Native("<dir>/no-361/Pexil.ini has no [361] section with a DLL= line: add [361] and "
                "DLL=Brelnor.dll")},
        {{"100", "--dir", "ok", "--registry", "absent.ini"},
         "registry",
         Native("the registry file <dir>/ok/absent.ini (named by \"absent.ini\") does not exist "
                "or cannot be read: the factory would use an empty registry; create it or "
                "correct the path")},
        {{"4711", "--dir", "ok"},
         "entry",
         Native("<dir>/ok/Pexil.ini has no section [4711] and no DefaultDll: add a [4711] section "
                "with DLL=<its module>")},
        {{"100", "--dir", "missing"},
         "dll-file",
         Native("<dir>/missing/missing.dll does not exist: build or copy the module there, or "
                "correct the DLL name in <dir>/missing/Pexil.ini")},
        {{"100", "--dir", "text"},
         "dll-load",
         Native("<dir>/text/text.dll does not load: ") + loader},
        {{"100", "--dir", "utf16"},
         "registry",
         Native("<dir>/utf16/Pexil.ini, the default registry (Pexil.ini after its redirects): ") +
             kUtf16Problem},
#if defined(_WIN32)
        {{"100", "--dir", "mixed", "--registry", "../conf2/geo.ini"},
         "dll-file",
         "<dir>\\mixed\\TestComponents.dll does not exist: build or copy the module there, or "
         "correct the DLL name in <dir>\\mixed\\../conf2/geo.ini; it is looked for beside the "
         "registry file, in <dir>\\mixed: the directory of <dir>\\mixed\\../conf2/geo.ini ends at "
         "its last backslash, and a '/' after it does not count; write the registry path with "
         "backslashes only"},
        {{"100", "--dir", "wide"},
         "dll-load",
         "<dir>\\wide\\OtherWidth.dll does not load: " + wideReason},
#endif
        {{"100", "--dir", "plain"},
         "export",
         Native("<dir>/plain/../plain/NoExports.dll exports no CreateComponent: build it with "
                "pexil_add_module, which exports the seven entry points")},
        {{"103", "--dir", "null"},
         "create",
         Native("CreateComponent(103, 361) gave null: the creator <dir>/null/TestComponents.dll "
                "has for 103 made nothing (it returned null or threw; see its messages)")},
        {{"7001", "--dir", "null"},
         "create",
         Native("CreateComponent(7001, 361) gave null: <dir>/null/TestComponents.dll registers "
                "100, 101, 102, 103, 104, 105, 106, 107 and 9 more, not 7001: bind 7001 to the "
                "module that registers it, or register a creator for it in this one")},
        {{"112", "--dir", "null"},
         "create",
         Native("CreateComponent(112, 361) gave component 100, not 112: the creator "
                "<dir>/null/TestComponents.dll has for 112 makes another class, and Create<T> "
                "releases such a component and gives nothing; correct the creator, or bind 112 "
                "to the module whose creator makes it")},
        {{"100", "--dir", "rebound"},
         "factory-entry",
         Native("<dir>/rebound/Pexil.ini binds component 361 to no DLL: line 6 of "
                "<dir>/rebound/Pexil.ini (\"; [361] above must stay first\") starts its section "
                "anew (a line that holds a header is a header, whatever stands before its '[': "
                "registry files have no comments), and that section, which has no DLL= line, "
                "replaces the one of line 1 as a whole; so every holder the host makes asks the "
                "factory for component 361 through this registry and gets none: the host gets no "
                "factory at all; bind [361] to the factory (DLL=Brelnor.dll) in one section that "
                "no later line starts anew or binds elsewhere")},
        {{"100", "--dir", "ok", "--registry", "rebound.ini"},
         "factory-entry",
         Native("<dir>/ok/rebound.ini binds component 361 to <dir>/ok/TestComponents.dll, which "
                "gives no component 361 (the factory DLL is <dir>/ok/Brelnor.dll): line 5 of "
                "<dir>/ok/rebound.ini (\"DLL=TestComponents.dll\") binds it to "
                "TestComponents.dll (it stands under the \"[DefaultValue]\" header of line 4, but "
                "a DLL= line belongs to the component section above it); so the module's holders "
                "ask this registry for the factory and get nothing, so its components get no log "
                "settings and it is never unloaded; bind [361] to the factory (DLL=Brelnor.dll) "
                "in one section that no later line starts anew or binds elsewhere")},
        {{"100", "--dir", "to-directory"},
         "redirect",
         Native("<dir>/to-directory/Pexil.ini redirects to <dir>/ok/conf.d, which is a "
                "directory, not a file: create it or correct [Redirect] Path=<dir>/ok/conf.d")},
        {{"100", "--dir", "ok", "--registry", "loop1.ini"},
         "registry",
         "\"loop1.ini\" reads no file: its [Redirect] chain loops; the factory would use an "
         "empty registry"},
        {{"100", "--dir", "ok", "--registry", "plugins.ini"},
         "factory-entry",
         Native("<dir>/ok/plugins.ini has no [361] section: the module's holders ask this "
                "registry for the factory and get nothing, so its components get no log "
                "settings and it is never unloaded; add [361] with DLL=Brelnor.dll")},
        {{"100", "--dir", "not-factory"},
         "factory-dll",
         Native("<dir>/not-factory/TestComponents.dll gives no component 361 "
                "(CreateComponent(361) returns null), so the host gets no factory: [361] must "
                "name the factory, Brelnor.dll")},
        {{"100", "--dir", "wrong-factory"},
         "factory-dll",
         Native("<dir>/wrong-factory/MinimalModule.dll gives component 300 when asked for 361, "
                "not the factory, and the host would call it as the factory: [361] must name "
                "the factory, Brelnor.dll")},
        {{"100", "--dir", "ok", "--registry", "wrong361.ini"},
         "factory-entry",
         Native("<dir>/ok/wrong361.ini binds component 361 to <dir>/ok/MinimalModule.dll, which "
                "gives no component 361 (the factory DLL is <dir>/ok/Brelnor.dll): line 5 of "
                "<dir>/ok/wrong361.ini (\"DLL=MinimalModule.dll\") binds it to MinimalModule.dll "
                "(it stands under the \"[DefaultValue]\" header of line 4, but a DLL= line "
                "belongs to the component section above it); so the module's holders ask this "
                "registry for the factory and get nothing, so its components get no log settings "
                "and it is never unloaded; bind [361] to the factory (DLL=Brelnor.dll) in one "
                "section that no later line starts anew or binds elsewhere")},
        {{"100", "--dir", "continued"},
         "factory-entry",
         Native("<dir>/continued/Pexil.ini binds component 361 to <dir>/continued/gone.dll, "
                "which does not exist: line 5 of <dir>/continued/Pexil.ini (\"DLL=gone.dll\") "
                "binds it to gone.dll; so every holder the host makes asks the factory for "
                "component 361 through this registry and gets none: the host gets no factory at "
                "all; bind [361] to the factory (DLL=Brelnor.dll) in one section that no later "
                "line starts anew or binds elsewhere")},
        {{"100", "--dir", "prefix"},
         "dll-file",
         Native("<dir>/prefix/TestComponents does not exist: build or copy the module there, or "
                "correct the DLL name in <dir>/prefix/Pexil.ini")},
    };
    for (const auto& c : broken) {
        std::vector<std::string> words = {"why"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        const ToolResult text = Run(words);
        EXPECT_EQ(1, text.exitCode) << c.step;
        std::string failLine = std::string("  FAIL  ") + c.step;
        failLine.resize(22, ' ');
        EXPECT_NE(std::string::npos, text.out.find(failLine + c.detail + "\n")) << text.out;
        const std::string last = std::string("\nfails at the step ") + c.step + "\n";
        EXPECT_EQ(text.out.size() - last.size(), text.out.rfind(last)) << text.out;
        words.push_back("--json");
        const ToolResult json = Run(words);
        EXPECT_NE(std::string::npos,
                  json.out.find(std::string("  \"ok\": false,\n  \"failed_step\": \"") + c.step +
                                "\",\n"))
            << json.out;
        // The failed step is the last one listed (with what its module wrote).
        const std::string failed = std::string("      \"step\": \"") + c.step +
                                   "\",\n      \"ok\": false,\n      \"detail\": \"" +
                                   ReplaceAll(J(c.detail), "\"", "\\\"") + "\"";
        const size_t at = json.out.find(failed);
        EXPECT_NE(std::string::npos, at) << json.out;
        EXPECT_TRUE(
            at != std::string::npos &&
            (json.out.compare(at + failed.size(), std::string::npos, "\n    }\n  ]\n}\n") == 0 ||
             json.out.find(",\n      \"debugOutput\": [", at + failed.size()) ==
                 at + failed.size()))
            << json.out;
        EXPECT_EQ(1, json.exitCode) << c.step;
    }
#if !defined(_WIN32)
    // The module's own messages of the step (on Windows they go to the
    // system's debug channel of the module's own platform code).
    EXPECT_NE(
        std::string::npos,
        Run({"why", "7001", "--dir", "null"})
            .out.find("\n        debug output: Pexil[Error]: Can't find the factory method of "
                      "Component\n        debug output: Pexil[Error]: ComponentID=7001 "
                      "CreatorID=361\nfails at the step create\n"));
    // A name that differs only in case names another file here.
    host("case", good + "[100]\nDLL=testcomponents.dll\n");
    EXPECT_NE(std::string::npos,
              Run({"why", "100", "--dir", "case"})
                  .out.find("  FAIL  dll-file      <dir>/case/testcomponents.dll does not exist "
                            "(but <dir>/case/TestComponents.dll exists: file names are "
                            "case-sensitive on this system): build or copy the module there, or "
                            "correct the DLL name in <dir>/case/Pexil.ini\n"));
#endif
}

// A module's constructors run when it is loaded: with --no-load, why and
// locate read the export tables from the files (ELF or PE) and load nothing.
// MinimalModule.dll says so when it is loaded.
TEST_F(PexilTool, NoLoadReadsExportTablesAndRunsNoModuleCode) {
    dir_.Write(Native("nl/Pexil.ini"),
               "[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n"
               "[100]\nDLL=MinimalModule.dll\n[101]\nDLL=NoExports.dll\n"
               "[102]\nDLL=text.dll\n");
    Copy("Brelnor.dll", Native("nl/Brelnor.dll"));
    Copy(Native("plain/MinimalModule.dll"), Native("nl/MinimalModule.dll"));
    Copy(Native("plain/NoExports.dll"), Native("nl/NoExports.dll"));
    dir_.Write(Native("nl/text.dll"), "not a library");

    const ToolResult loaded = Run({"why", "100", "--dir", "nl"});
    EXPECT_EQ("MinimalModule.dll loaded\n", loaded.err);  // what --no-load must prevent
    const ToolResult unloaded = Run({"why", "100", "--dir", "nl", "--no-load"});
    EXPECT_EQ(
        Native("component 100 for a host in <dir>/nl\n"
               "  ok    pexil-ini     <dir>/nl/Pexil.ini\n"
               "  ok    redirect      <dir>/nl/Pexil.ini has no [Redirect]: the search reads "
               "it\n"
               "  ok    factory-dll   <dir>/nl/Brelnor.dll exports CreateComponent (read from "
               "the file; not loaded: --no-load)\n"
               "  ok    registry      <dir>/nl/Pexil.ini, the default registry (Pexil.ini "
               "after its redirects)\n"
               "  ok    entry         section [100] of <dir>/nl/Pexil.ini: "
               "DLL=MinimalModule.dll\n"
               "  ok    dll-file      <dir>/nl/MinimalModule.dll\n"
               "  skip  dll-load      skipped (--no-load)\n"
               "  ok    export        <dir>/nl/MinimalModule.dll exports CreateComponent "
               "(read from the file)\n"
               "  skip  create        skipped (--no-load)\n"
               "  ok    factory-entry <dir>/nl/Pexil.ini names the factory in [361]\n"
               "every step taken passed; not taken: dll-load, create\n"),
        unloaded.out);
    EXPECT_EQ("", unloaded.err);
    EXPECT_EQ(0, unloaded.exitCode);

    const struct {
        const char* id;
        std::string detail;
    } failing[] = {
        {"101", Native("<dir>/nl/NoExports.dll") +
                    " exports no CreateComponent: build it with pexil_add_module, which exports "
                    "the seven entry points"},
        {"102", Native("<dir>/nl/text.dll") + " is no module: it is neither an ELF nor a PE file"},
    };
    for (const auto& c : failing) {
        const ToolResult result = Run({"why", c.id, "--dir", "nl", "--no-load"});
        EXPECT_NE(std::string::npos, result.out.find("  skip  dll-load      skipped (--no-load)\n"
                                                     "  FAIL  export        " +
                                                     c.detail + "\nfails at the step export\n"))
            << result.out;
        EXPECT_EQ(1, result.exitCode);
    }

    const ToolResult located = Run({"locate", "--host", "nl", "--no-load"});
    EXPECT_NE(std::string::npos,
              located.out.find(Native("factory DLL: <dir>/nl/Brelnor.dll\n") +
                               "  exists: yes\n  loads: skipped (--no-load)\n"
                               "  exports CreateComponent: yes (read from the file)\n"))
        << located.out;
    EXPECT_EQ(0, located.exitCode);
    dir_.Write(Native("nl/x.ini"), "[361]\nDLL=text.dll\nNotUseDefaultDllPath=1\n");
    const ToolResult json = Run({"locate", "x.ini", "--host", "nl", "--no-load", "--json"});
    EXPECT_NE(std::string::npos, json.out.find("  \"exists\": true,\n  \"loads\": null,\n"
                                               "  \"exportsCreateComponent\": false,\n"))
        << json.out;
    EXPECT_EQ(1, json.exitCode);
}

// Names and values come from files others may write: in text a control
// character is written as \xHH (a line end cannot forge a line, an escape
// sequence never reaches the terminal); JSON is valid UTF-8, whatever bytes
// a file holds (overlong forms and surrogates are no UTF-8).
TEST_F(PexilTool, NamesAndValuesCannotForgeLinesOrReachTheTerminal) {
    dir_.Write("r.ini",
               "[5]\nDLL=\x1b]0;owned\x07x\x9b.dll\n"
               "[6]\nDLL=\xc2\x9b\xed\xa0\x80\xc0\xaf\xe2\x82\xac.dll\n"
               // A right-to-left override: "evil\u202egnp.dll" would show as "evilld.png".
               "[7]\nDLL=evil\xe2\x80\xaegnp.dll\n"
               // The first and last of a range: an embedding (U+202A) and an isolate's
               // opening (U+2066) and closing (U+2069).
               "[8]\nDLL=\xe2\x80\xaa\xe2\x81\xa6x\xe2\x81\xa9.dll\n");
    const ToolResult text = Run({"inspect", "r.ini"});
    EXPECT_NE(std::string::npos, text.out.find("  DLL: \\x1b]0;owned\\x07x\\x9b.dll\n"))
        << text.out;
    EXPECT_NE(std::string::npos,
              text.out.find("  DLL: \\xc2\\x9b\xed\xa0\\x80\xc0\xaf\xe2\x82\xac.dll\n"))
        << text.out;
    EXPECT_NE(std::string::npos, text.out.find("  DLL: evil\\xe2\\x80\\xaegnp.dll\n")) << text.out;
    EXPECT_NE(std::string::npos,
              text.out.find("  DLL: \\xe2\\x80\\xaa\\xe2\\x81\\xa6x\\xe2\\x81\\xa9.dll\n"))
        << text.out;
    EXPECT_EQ(std::string::npos, text.out.find('\x1b'));
    const ToolResult json = Run({"inspect", "r.ini", "--json"});
    EXPECT_NE(std::string::npos,
              json.out.find("\"dll\": \"\\u001b]0;owned\\u0007x\\u009b.dll\",\n"))
        << json.out;
    EXPECT_NE(
        std::string::npos,
        json.out.find("\"dll\": \"\\u009b\\u00ed\\u00a0\\u0080\\u00c0\\u00af\xe2\x82\xac.dll\","
                      "\n"))
        << json.out;
    EXPECT_NE(std::string::npos, json.out.find("\"dll\": \"evil\\u202egnp.dll\",\n")) << json.out;
    EXPECT_NE(std::string::npos, json.out.find("\"dll\": \"\\u202a\\u2066x\\u2069.dll\",\n"))
        << json.out;

    dir_.Write("v.ini", "[s]\nk=\x1b[2Jclea\x7fred\n");  // DEL too
    EXPECT_EQ("\\x1b[2Jclea\\x7fred\n", Run({"ini", "v.ini", "s", "k"}).out);
    const ToolResult missing = Run({"inspect", "\x1b[2J.ini"});
    EXPECT_EQ(Native("pexil inspect: cannot read <dir>/") + "\\x1b[2J.ini\n", missing.err);
#if !defined(_WIN32)
    // A log file whose name holds a line end and a forged line.
    const std::string forged = "a.log\n  keep    2026-01-01T00:00:00.0000000Z  forged.log";
    dir_.Write(Native("PexilLog/" + forged), "x");
    const ToolResult logs = Run({"logs"});
    EXPECT_NE(std::string::npos,
              logs.out.find("a.log\\x0a  keep    2026-01-01T00:00:00.0000000Z  forged.log\n"))
        << logs.out;
    EXPECT_EQ(std::string::npos, logs.out.find("\n  keep    2026-01-01")) << logs.out;
#endif
}

TEST_F(PexilTool, CommandLineConventions) {
    // The overview, and each command's own help, from every spelling.
    const ToolResult help = Run({"--help"});
    EXPECT_EQ(0, help.exitCode);
    EXPECT_EQ(0u, help.out.find("usage: pexil COMMAND [ARGUMENTS] [--json]\n"));
    EXPECT_EQ("", help.err);
    EXPECT_EQ(help.out, Run({"help"}).out);
    const ToolResult why = Run({"why", "--help"});
    EXPECT_EQ(0u, why.out.find("usage: pexil why ID [--registry FILE] [--dir HOSTDIR] "
                               "[--no-create] [--no-load] [--json]\n"));
    EXPECT_EQ(0, why.exitCode);
    EXPECT_EQ(why.out, Run({"help", "why"}).out);
    EXPECT_EQ(why.out, Run({"--help", "why"}).out);
    const ToolResult version = Run({"--version"});
    EXPECT_EQ(std::string("pexil ") + PEXIL_VERSION + "\n", version.out);
    EXPECT_EQ(0, version.exitCode);

    // --json before the command as after it.
    dir_.Write("r.ini", "[5]\nDLL=x.dll\n");
    const ToolResult before = Run({"--json", "inspect", "r.ini"});
    EXPECT_EQ(0u, before.out.find("{\n"));
    EXPECT_EQ(Run({"inspect", "r.ini", "--json"}).out, before.out);

    // A usage error: one line saying what is wrong, and where to look.
    const struct {
        std::vector<std::string> words;
        const char* message;
        const char* command;
    } cases[] = {
        {{}, "no command", ""},
        {{"--frob"}, "unknown option --frob", ""},
        {{"frobnicate"}, "unknown command frobnicate", ""},
        {{"help", "frobnicate"}, "unknown command frobnicate", ""},
        {{"inspect"}, "inspect: too few arguments", "inspect"},
        {{"inspect", "a.ini", "b.ini"}, "inspect: unexpected argument b.ini", "inspect"},
        {{"inspect", "a.ini", "--lnt"}, "inspect: unknown option --lnt", "inspect"},
        {{"locate", "--host"}, "locate: --host needs a value", "locate"},
        {{"module", "a.dll", "--lint"}, "module: unknown option --lint", "module"},
        {{"ini", "a.ini", "S"}, "ini: too few arguments", "ini"},
        {{"ini", "a.ini", "S", "K", "--size", "12k"},
         "ini: --size takes a number from 0 to 1048576",
         "ini"},
        {{"ini", "a.ini", "S", "K", "--size", "1", "--size", "2"},
         "ini: --size given twice",
         "ini"},
        {{"logs", "a", "b"}, "logs: unexpected argument b", "logs"},
        {{"why", "abc"}, "why: ID must be a component ID from 1 to 4294967295, not abc", "why"},
    };
    for (const auto& c : cases) {
        const ToolResult result = Run(c.words);
        EXPECT_EQ(2, result.exitCode) << c.message;
        EXPECT_EQ("", result.out) << c.message;
        const std::string see = c.command[0] == '\0'
                                    ? std::string("pexil --help")
                                    : std::string("pexil ") + c.command + " --help";
        EXPECT_EQ(std::string("pexil: ") + c.message + "\nsee '" + see + "'\n", result.err);
        // With --json the failure is one object on standard output too.
        std::vector<std::string> words = c.words;
        words.push_back("--json");
        EXPECT_EQ(std::string("{\n  \"error\": \"") + c.message + "\"\n}\n", Run(words).out);
    }
    const ToolResult failed = Run({"inspect", "nothing.ini", "--json"});
    EXPECT_EQ(3, failed.exitCode);
    EXPECT_EQ("{\n  \"error\": \"" + J(Native("cannot read <dir>/nothing.ini")) + "\"\n}\n",
              failed.out);
}

}  // namespace
}  // namespace pexil::testing
