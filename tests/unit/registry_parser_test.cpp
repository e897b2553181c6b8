// The registry file parser: one table of file texts and the registries they
// give, each read from a real file.
#include "registry/component_registry.h"
#include "support/native_path.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace pexil::testing {
namespace {

using S = std::string;

struct ExpectedEntry {
    uint32_t id;
    std::string dllName;
    int besideRegistry;
    int hasLogSettings;
    uint32_t debugOutputMask;
    uint32_t logFileMask;
};

struct ParserCase {
    const char* name;
    std::string text;
    uint32_t defaultDebugMask;
    uint32_t defaultLogMask;
    std::string defaultDirectory;  // "<dir>" is the file's directory, '/' the native separator
    std::string defaultDll;
    std::vector<ExpectedEntry> entries;
};

const S kExample =
    "[DefaultValue]\nDllPath=Components\nDefaultDll=Base.dll\n[361]\nDLL=Brelnor.dll\n"
    "NotUseDefaultDllPath=1\n[42]\nDLL = Sub Dir\\X.dll\nOutputDebugString=ew\n";
const std::vector<ExpectedEntry> kExampleEntries = {{42, "Sub Dir\\X.dll", 0, 1, 0x11, 0},
                                                    {361, "Brelnor.dll", 1, 0, 0, 0}};

S Replace(S text, const S& from, const S& to) {
    for (size_t at = text.find(from); at != S::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

const S kLong(300, 'L');

const ParserCase kCases[] = {
    {"worked example", kExample, 0, 0, "<dir>/Components", "<dir>/Components/Base.dll",
     kExampleEntries},
    {"default DLL read before the directory",
     "[DefaultValue]\nDefaultDll=Base.dll\nDllPath=Components\n[361]\nDLL=Brelnor.dll\n"
     "NotUseDefaultDllPath=1\n[42]\nDLL = Sub Dir\\X.dll\nOutputDebugString=ew\n",
     0, 0, "<dir>/Components", "<dir>/Base.dll", kExampleEntries},
    {"CR LF", Replace(kExample, "\n", "\r\n"), 0, 0, "<dir>/Components",
     "<dir>/Components/Base.dll", kExampleEntries},
    {"CR", Replace(kExample, "\n", "\r"), 0, 0, "<dir>/Components", "<dir>/Components/Base.dll",
     kExampleEntries},
    {"runs of line ends", "\n\r\n" + Replace(kExample, "\n", "\r\n\n\r  \r\n"), 0, 0,
     "<dir>/Components", "<dir>/Components/Base.dll", kExampleEntries},
    {"no final line end", "[3]\nDLL=a.dll", 0, 0, "<dir>", "", {{3, "a.dll", 0, 0, 0, 0}}},
    {"log-default forms",
     "[LOGDEFAULT]\nOutputDebugString=E\n  [logdefault] ; x\nWriteToLogFile=T\n"
     "x[LogDefault]\nOutputDebugString=ev\n",
     0x05,
     0x02,
     "<dir>",
     "",
     {}},
    // Text before and after: each form alone, no earlier log-default header to fall back on.
    {"log-default amid other text",
     "[5]\nDLL=a.dll\n; was [LogDefault] before\nOutputDebugString=W\nWriteToLogFile=c\n"
     "[DefaultValue]\nx[logdefault]\nOutputDebugString=ET\n",
     0x03,
     0x20,
     "<dir>",
     "",
     {{5, "a.dll", 0, 0, 0, 0}}},
    {"'[log default]' is no header",
     "[log default]\nOutputDebugString=E\nWriteToLogFile=E\n",
     0,
     0,
     "<dir>",
     "",
     {}},
    // The closing bracket is part of the word: a longer name is no log-default header.
    {"'[LogDefaults]' is no header",
     "[LogDefaults]\nOutputDebugString=E\nWriteToLogFile=E\n",
     0,
     0,
     "<dir>",
     "",
     {}},
    {"masks outside log-default and component sections",
     "[DefaultValue]\nOutputDebugString=E\n[Redirect]\nPath=x.ini\nWriteToLogFile=E\n",
     0,
     0,
     "<dir>",
     "",
     {}},
    {"component headers",
     "[ 12 ]\nDLL=a.dll\n[abc]\nDLL=b.dll\n[12abc]\nWriteToLogFile=w\n",
     0,
     0,
     "<dir>",
     "",
     {{12, "b.dll", 0, 1, 0, 0x10}}},
    {"headers that change nothing",
     "[7]\n[0]\nDLL=z.dll\n[]\nWriteToLogFile=E\n[ ]\n",
     0,
     0,
     "<dir>",
     "",
     {{7, "z.dll", 0, 1, 0, 1}}},
    {"key line with brackets", "[5] a=b\n", 0, 0, "<dir>", "", {}},
    // The first '[' and the first ']' of the line frame the number.
    {"a header line with two '['",
     "[5] [6]\nDLL=a.dll\n[7]x[\nDLL=b.dll\n",
     0,
     0,
     "<dir>",
     "",
     {{5, "a.dll", 0, 0, 0, 0}, {7, "b.dll", 0, 0, 0, 0}}},
    {"hash lines",
     "#[7]\n#dll=x.dll\n# dll = x.dll\n# # #\n",
     0,
     0,
     "<dir>",
     "",
     {{7, "", 0, 0, 0, 0}}},
    {"hash and blank before a header",
     "# [7]\nDLL=y.dll\n",
     0,
     0,
     "<dir>",
     "",
     {{7, "y.dll", 0, 0, 0, 0}}},
    {"values",
     "[1]\nDLL=a=b.dll\n[2]\ndll = x.dll ; old\n[3]\nDLL= \"\" x.dll \"\" \n[4]\nDLL=a\"b.dll\n",
     0,
     0,
     "<dir>",
     "",
     {{1, "a=b.dll", 0, 0, 0, 0},
      {2, "x.dll ; old", 0, 0, 0, 0},
      {3, "x.dll", 0, 0, 0, 0},
      {4, "a\"b.dll", 0, 0, 0, 0}}},
    {"beside-registry flag forms",
     "[1]\nNotUseDefaultDllPath=1\n[2]\nnotusedefaultdllpath=10\n[3]\nNOTUSEDEFAULTDLLPATH=\"1\"\n"
     "[4]\nNotUseDefaultDllPath=true\n[5]\nNotUseDefaultDllPath=0\n[6]\nNotUseDefaultDllPath= 0\n"
     "[7]\nNotUseDefaultDllPath=1\nNotUseDefaultDllPath=\n",
     0,
     0,
     "<dir>",
     "",
     {{1, "", 1, 0, 0, 0},
      {2, "", 1, 0, 0, 0},
      {3, "", 1, 0, 0, 0},
      {4, "", 0, 0, 0, 0},
      {5, "", 0, 0, 0, 0},
      {6, "", 0, 0, 0, 0},
      {7, "", 0, 0, 0, 0}}},
    {"a section named again replaces the earlier one",
     "[5]\nDLL=a.dll\n[6]\nDLL=b.dll\n[5]\nWriteToLogFile=E\n",
     0,
     0,
     "<dir>",
     "",
     {{5, "", 0, 1, 0, 0x01}, {6, "b.dll", 0, 0, 0, 0}}},
    {"the same header twice in a row is one section",
     "[5]\nDLL=a.dll\n[5]\nWriteToLogFile=E\n",
     0,
     0,
     "<dir>",
     "",
     {{5, "a.dll", 0, 1, 0, 0x01}}},
    {"dll under log-default belongs to the component",
     "[5]\n[LogDefault]\nDLL=c.dll\n",
     0,
     0,
     "<dir>",
     "",
     {{5, "c.dll", 0, 0, 0, 0}}},
    {"keys before the first component section",
     "DLL=first.dll\nNotUseDefaultDllPath=1\n[8]\n[9]\nDLL=other.dll\n",
     0,
     0,
     "<dir>",
     "",
     {{8, "first.dll", 1, 0, 0, 0}, {9, "other.dll", 0, 0, 0, 0}}},
    {"an empty mask value", "[9]\nWriteToLogFile=\n", 0, 0, "<dir>", "", {{9, "", 0, 1, 0, 0}}},
    {"mask letters replace the mask",
     "[LogDefault]\nOutputDebugString=EW\nOutputDebugString=e,t\nWriteToLogFile=xyzC\n"
     "[1]\nWriteToLogFile=etvdwc\n",
     0x03,
     0x20,
     "<dir>",
     "",
     {{1, "", 0, 1, 0, 0x3F}}},
    {"byte-order mark before a header",
     "\xEF\xBB\xBF[361]\nDLL=Brelnor.dll\n",
     0,
     0,
     "<dir>",
     "",
     {{361, "Brelnor.dll", 0, 0, 0, 0}}},
    {"byte-order mark before a key",
     "\xEF\xBB\xBF"
     "dll=x.dll\n[3]\n",
     0,
     0,
     "<dir>",
     "",
     {{3, "", 0, 0, 0, 0}}},
    {"a zero byte cuts a line",
     S("[3]\nDLL=a.dll\0junk\nNotUseDefaultDllPath=1\n", 43),
     0,
     0,
     "<dir>",
     "",
     {{3, "a.dll", 1, 0, 0, 0}}},
    {"values of 260 characters or more have no effect",
     "[DefaultValue]\nDllPath=D\nDllPath=" + kLong + "\nDefaultDll=" + kLong +
         "\n[4]\nDLL=ok.dll\nDLL=" + kLong + "\nOutputDebugString=" + kLong + "\n",
     0,
     0,
     "<dir>/D",
     "",
     {{4, "ok.dll", 0, 0, 0, 0}}},
    {"numbers beyond 32 bits change nothing",
     "[4]\nDLL=a.dll\n[4294967297]\nDLL=b.dll\n[-2147483649]\nNotUseDefaultDllPath=1\n",
     0,
     0,
     "<dir>",
     "",
     {{4, "b.dll", 1, 0, 0, 0}}},
    {"negative numbers",
     "[-1]\nDLL=m.dll\n[-2147483648]\nDLL=n.dll\n",
     0,
     0,
     "<dir>",
     "",
     {{0x80000000u, "n.dll", 0, 0, 0, 0}, {0xFFFFFFFFu, "m.dll", 0, 0, 0, 0}}},
    {"a directory that ends with a separator",
     "[DefaultValue]\nDllPath=lib/\nDefaultDll=Base.dll\n",
     0,
     0,
     "<dir>/lib/",
     "<dir>/lib/Base.dll",
     {}},
    {"absolute default DLL",
     "[DefaultValue]\nDefaultDll=<abs>/Base.dll\n",
     0,
     0,
     "<dir>",
     "<abs>/Base.dll",
     {}},
    {"absolute DLL directory",
     "[DefaultValue]\nDllPath=<abs>\nDefaultDll=Base.dll\n",
     0,
     0,
     "<abs>",
     "<abs>/Base.dll",
     {}},
    // The whole key must match: longer or shorter keys are no keywords.
    {"keys that only begin with a keyword",
     "[DefaultValue]\nDllPathX=elsewhere\nDllPat=short\nDefaultDllX=x.dll\n"
     "[LogDefault]\nOutputDebugStringX=E\n[4]\nDLLX=x.dll\nNotUseDefaultDllPathX=1\n"
     "WriteToLogFileX=E\n",
     0,
     0,
     "<dir>",
     "",
     {{4, "", 0, 0, 0, 0}}},
    {"keys of a keyword's length that are not it",
     "[DefaultValue]\nLibPath=elsewhere\nDllPart=elsewhere\nDefaultDlx=x.dll\n"
     "[LogDefault]\nOutputDebugStrinX=E\n[4]\nDLx=x.dll\nXLL=x.dll\nNotUseDefaultDllPatX=1\n"
     "WriteToLogFilX=E\n",
     0,
     0,
     "<dir>",
     "",
     {{4, "", 0, 0, 0, 0}}},
    {"no component sections", "[Redirect]\nPath=x.ini\n[DefaultValue]\n", 0, 0, "<dir>", "", {}},
};

class RegistryParser : public ::testing::TestWithParam<ParserCase> {};

TEST_P(RegistryParser, ReadsTheFileAsDocumented) {
    const ParserCase& c = GetParam();
    TempDirectory temp;
    const std::string absolute = temp / "abs";
    auto expand = [&](const std::string& text) {
        return Replace(Replace(text, "<abs>", absolute), "<dir>", temp.str());
    };
    const std::string file = temp.Write("Pexil.ini", Replace(expand(c.text), "/", Native("/")));

    ComponentRegistry registry;
    EXPECT_EQ(1, registry.LoadFile("", file.c_str()));
    EXPECT_EQ(file, registry.registryFilePath());
    EXPECT_EQ(c.defaultDebugMask, registry.defaultDebugOutputMask());
    EXPECT_EQ(c.defaultLogMask, registry.defaultLogFileMask());
    EXPECT_EQ(Native(expand(c.defaultDirectory)), registry.defaultDllDirectory());
    EXPECT_EQ(Native(expand(c.defaultDll)), registry.defaultDllPath());
    ASSERT_EQ(c.entries.size(), registry.entries().size());
    auto actual = registry.entries().begin();
    for (const ExpectedEntry& expected : c.entries) {
        SCOPED_TRACE(expected.id);
        const RegistryEntry& entry = *actual;
        EXPECT_EQ(expected.id, entry.componentID);
        EXPECT_EQ(expected.dllName, entry.dllName);
        EXPECT_EQ(expected.besideRegistry, entry.besideRegistry);
        EXPECT_EQ(expected.hasLogSettings, entry.hasLogSettings);
        EXPECT_EQ(expected.debugOutputMask, entry.debugOutputMask);
        EXPECT_EQ(expected.logFileMask, entry.logFileMask);
        const EntryState state = registry.StateOf(entry);
        EXPECT_EQ(nullptr, state.module);
        EXPECT_FALSE(state.resolved);
        EXPECT_STREQ("", state.fullPath);
        ++actual;
    }
}

// Failures name the case instead of dumping its bytes.
void PrintTo(const ParserCase& c, std::ostream* out) {
    *out << c.name;
}

std::string CaseName(const ::testing::TestParamInfo<ParserCase>& info) {
    std::string name;
    for (const char* p = info.param.name; *p != '\0'; ++p) {
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Files, RegistryParser, ::testing::ValuesIn(kCases), CaseName);

TEST(RegistryLoad, AMissingFileLeavesOnlyTheDirectoryDerivedFromItsPath) {
    TempDirectory temp;
    const std::string file = temp / "absent.ini";
    ComponentRegistry registry;
    EXPECT_EQ(1, registry.LoadFile("named.ini", file.c_str()));
    EXPECT_STREQ("named.ini", registry.registryPath());
    EXPECT_EQ(file, registry.registryFilePath());
    EXPECT_EQ(temp.str(), registry.defaultDllDirectory());
    EXPECT_STREQ("", registry.defaultDllPath());
    EXPECT_EQ(0u, registry.defaultDebugOutputMask());
    EXPECT_TRUE(registry.entries().empty());
}

// An absolute directory in the native style.
const char* RootDirectory() {
    static const std::string root = Native(
#if defined(_WIN32)
        "R:/configured/root"
#else
        "/configured/root"
#endif
    );
    return root.c_str();
}

TEST(RegistryLoad, RelativeFilePathsResolveAgainstTheConfiguredRootPath) {
    const PathBase root{RootDirectory, PathStyle::Native, false};
    ComponentRegistry registry(root);
    registry.LoadFile(nullptr, Native("sub/x.ini").c_str());
    EXPECT_EQ(std::string(RootDirectory()) + Native("/sub"), registry.defaultDllDirectory());
    EXPECT_STREQ("", registry.registryPath());  // null leaves it as it was

    ComponentRegistry bare(root);
    bare.LoadFile(nullptr, "x.ini");
    EXPECT_EQ(RootDirectory(), std::string(bare.defaultDllDirectory()));

    // Paths of 260 characters or more are not taken.
    ComponentRegistry tooLong(root);
    const std::string longPath = std::string(RootDirectory()) + Native("/") + std::string(259, 'p');
    tooLong.LoadFile(longPath.c_str(), longPath.c_str());
    EXPECT_STREQ("", tooLong.registryPath());
    EXPECT_STREQ("", tooLong.registryFilePath());
    EXPECT_STREQ("", tooLong.defaultDllDirectory());
}

TEST(RegistryJoinRule, AddsASeparatorUnlessTheDirectoryEndsWithOne) {
    char buffer[kMaxPath];
    EXPECT_EQ(1, JoinDirectoryAndName("D:\\App\\Components", "Base.dll", buffer, kMaxPath,
                                      PathStyle::Windows));
    EXPECT_STREQ("D:\\App\\Components\\Base.dll", buffer);
    EXPECT_EQ(1, JoinDirectoryAndName("D:\\lib\\", "a.dll", buffer, kMaxPath, PathStyle::Windows));
    EXPECT_STREQ("D:\\lib\\a.dll", buffer);
    EXPECT_EQ(1, JoinDirectoryAndName("D:/lib/", "a.dll", buffer, kMaxPath, PathStyle::Windows));
    EXPECT_STREQ("D:/lib/\\a.dll", buffer);  // Windows rules: only '\' counts at the end
    EXPECT_EQ(1, JoinDirectoryAndName("", "a.dll", buffer, kMaxPath, PathStyle::Windows));
    EXPECT_STREQ("\\a.dll", buffer);
    EXPECT_EQ(1, JoinDirectoryAndName("/lib/", "a.dll", buffer, kMaxPath, PathStyle::Posix));
    EXPECT_STREQ("/lib/a.dll", buffer);

    // Too long: cut to 259 characters, and said so.
    const std::string directory = "D:\\" + std::string(250, 'd');
    EXPECT_EQ(0, JoinDirectoryAndName(directory.c_str(), "component.dll", buffer, kMaxPath,
                                      PathStyle::Windows));
    EXPECT_EQ(259u, std::string(buffer).size());
    EXPECT_EQ((directory + "\\component.dll").substr(0, 259), buffer);

    // At the edge: 259 characters fit, 260 do not, with or without a separator added.
    const std::string d250 = "D:\\" + std::string(247, 'd');  // 250 characters
    EXPECT_EQ(1,
              JoinDirectoryAndName(d250.c_str(), "12345678", buffer, kMaxPath, PathStyle::Windows));
    EXPECT_EQ(d250 + "\\12345678", buffer);
    EXPECT_EQ(
        0, JoinDirectoryAndName(d250.c_str(), "123456789", buffer, kMaxPath, PathStyle::Windows));
    EXPECT_EQ(d250 + "\\12345678", buffer);
    EXPECT_EQ(1, JoinDirectoryAndName((d250 + "\\").c_str(), "12345678", buffer, kMaxPath,
                                      PathStyle::Windows));
    EXPECT_EQ(d250 + "\\12345678", buffer);
    EXPECT_EQ(0, JoinDirectoryAndName((d250 + "\\").c_str(), "123456789", buffer, kMaxPath,
                                      PathStyle::Windows));
    EXPECT_EQ(d250 + "\\12345678", buffer);
}

}  // namespace
}  // namespace pexil::testing
