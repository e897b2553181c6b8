// The profile-string reader (GetPrivateProfileStringA's contract). One table of
// cases runs on both builds: under Wine the system's own function answers, on
// Linux the platform layer's reader, and both must meet the same expectations.
#include "platform/platform.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace pexil::testing {
namespace {

struct ProfileCase {
    const char* name;
    std::string file;  // bytes of the file; "<missing>" for no file
    const char* section;
    const char* key;
    const char* defaultValue;
    uint32_t size;
    uint32_t result;
    std::string buffer;  // what the buffer holds up to and including the terminator
};

const std::string kMissing = "<missing>";

using S = std::string;
const ProfileCase kCases[] = {
    // Names: case and surrounding blanks do not matter; the section name runs to the last ']'.
    {"section name trimmed", "[ 361 ]\nDLL=x\n", "361", "DLL", "", 100, 1, S("x\0", 2)},
    {"names without case", "[SeC]\nKey=v\n", "sec", "KEY", "D", 100, 1, S("v\0", 2)},
    {"queried names trimmed", "[s]\nk=v\n", "  s  ", "\tk ", "D", 100, 1, S("v\0", 2)},
    {"last bracket ends the name", "[a]b]\nk=v\n", "a]b", "k", "D", 100, 1, S("v\0", 2)},
    {"not the first bracket", "[a]b]\nk=v\n", "a", "k", "D", 100, 1, S("D\0", 2)},
    {"text after the bracket", "[a] junk\nk=v\n", "a", "k", "D", 100, 1, S("v\0", 2)},
    {"inner blanks kept", "[a b]\n k k =v\n", "a b", "k k", "D", 100, 1, S("v\0", 2)},
    {"indented header", "  [s]\n   k=v\n", "s", "k", "D", 100, 1, S("v\0", 2)},
    {"no closing bracket: no section", "[s\nk=v\n", "s", "k", "D", 100, 1, S("D\0", 2)},
    {"header not first on its line", "x[s]\nk=v\n", "s", "k", "D", 100, 1, S("D\0", 2)},
    {"keys before any header", "k=v\n[s]\n", "", "k", "D", 100, 1, S("v\0", 2)},
    // Values: trimmed; one matching pair of quotes removed; no comments.
    {"value trimmed", "[s]\n  k  =  v  \n", "s", "k", "D", 100, 1, S("v\0", 2)},
    {"tabs trimmed, inner tab kept", "[s]\nk=\ta\tb\t\n", "s", "k", "D", 100, 3, S("a\tb\0", 4)},
    {"double quotes removed", "[s]\nk=\"q\"\n", "s", "k", "D", 100, 1, S("q\0", 2)},
    {"single quotes removed", "[s]\nk='q'\n", "s", "k", "D", 100, 1, S("q\0", 2)},
    {"quoted blanks kept", "[s]\nk=\" a \"\n", "s", "k", "D", 100, 3, S(" a \0", 4)},
    {"outer quotes only", "[s]\nk=\"a\" b\"\n", "s", "k", "D", 100, 4, S("a\" b\0", 5)},
    {"unbalanced quote kept", "[s]\nk=\"unbalanced\n", "s", "k", "D", 100, 11,
     S("\"unbalanced\0", 12)},
    {"lone quote kept", "[s]\nk=\"\n", "s", "k", "D", 100, 1, S("\"\0", 2)},
    {"mixed quotes kept", "[s]\nk='a\"\n", "s", "k", "D", 100, 3, S("'a\"\0", 4)},
    {"empty quotes", "[s]\nk = \"\"\n", "s", "k", "D", 100, 0, S("\0", 1)},
    {"semicolon key", "[s]\n;c=x\n", "s", ";c", "D", 100, 1, S("x\0", 2)},
    {"semicolon in value", "[s]\nk=x ; y\n", "s", "k", "D", 100, 5, S("x ; y\0", 6)},
    {"hash key", "[s]\n#k=v\n", "s", "#k", "D", 100, 1, S("v\0", 2)},
    {"second equals sign kept", "[s]\nk==v\n", "s", "k", "D", 100, 2, S("=v\0", 3)},
    {"empty value is no default", "[s]\nk=\n", "s", "k", "D", 100, 0, S("\0", 1)},
    {"zero byte ends the value", S("[s]\nk=v\0w\n", 10), "s", "k", "D", 100, 1, S("v\0", 2)},
    // First of a name wins; a line without '=' is no value.
    {"first section wins", "[s]\nk=1\n[s]\nk=2\nj=3\n", "s", "j", "D", 100, 1, S("D\0", 2)},
    {"first section wins, any case", "[S]\nk=1\n[s]\nk=2\n", "s", "k", "D", 100, 1, S("1\0", 2)},
    {"first key wins", "[s]\nk=1\nk=2\n", "s", "k", "D", 100, 1, S("1\0", 2)},
    {"line without equals", "[s]\nk\n", "s", "k", "D", 100, 1, S("D\0", 2)},
    {"line without equals shadows", "[s]\nk\nk=v\n", "s", "k", "D", 100, 1, S("D\0", 2)},
    {"bracket line without close is a key", "[s]\n[k=v\n", "s", "[k", "D", 100, 1, S("v\0", 2)},
    {"quoted key is another key", "[s]\n\"k\"=v\n", "s", "k", "D", 100, 1, S("D\0", 2)},
    // Defaults: trailing blanks go (the first character stays), quotes go.
    {"missing file", kMissing, "s", "k", "def", 100, 3, S("def\0", 4)},
    {"default trailing blanks", "", "s", "k", "def  ", 100, 3, S("def\0", 4)},
    {"default leading blanks kept", "", "s", "k", "  def", 100, 5, S("  def\0", 6)},
    {"default trailing tab kept", "", "s", "k", "def\t", 100, 4, S("def\t\0", 5)},
    {"default of blanks", "", "s", "k", "   ", 100, 1, S(" \0", 2)},
    {"default quoted", "", "s", "k", "\"dq\"", 100, 2, S("dq\0", 3)},
    {"default lone quote", "", "s", "k", "'", 100, 1, S("'\0", 2)},
    {"null default", "[s]\n", "s", "k", nullptr, 100, 0, S("\0", 1)},
    // Buffer sizes: the result is cut to size - 1.
    {"cut to the buffer", "[s]\nk=abcdef\n", "s", "k", "D", 4, 3, S("abc\0", 4)},
    {"exact fit", "[s]\nk=abcdef\n", "s", "k", "D", 7, 6, S("abcdef\0", 7)},
    {"one short", "[s]\nk=abcdef\n", "s", "k", "D", 6, 5, S("abcde\0", 6)},
    {"size one", "[s]\nk=abcdef\n", "s", "k", "D", 1, 0, S("\0", 1)},
    {"size zero writes nothing", "[s]\nk=abcdef\n", "s", "k", "D", 0, 0, S("#", 1)},
    {"default cut", "", "s", "k", "defaultvalue", 5, 4, S("defa\0", 5)},
    // Line ends and byte-order marks.
    {"CR LF", "[s]\r\nk=v\r\n", "s", "k", "D", 100, 1, S("v\0", 2)},
    {"CR alone", "[s]\rk=v\r", "s", "k", "D", 100, 1, S("v\0", 2)},
    {"runs of line ends", "[s]\n  \n\n\t\nk=v\r\r\n\n", "s", "k", "D", 100, 1, S("v\0", 2)},
    {"no final line end", "[s]\nk=v", "s", "k", "D", 100, 1, S("v\0", 2)},
    {"UTF-8 mark", "\xEF\xBB\xBF[s]\nk=v\n", "s", "k", "D", 100, 1, S("v\0", 2)},
    {"UTF-8 mark before a key", "\xEF\xBB\xBFk=v\n", "", "k", "D", 100, 1, S("v\0", 2)},
    {"UTF-16 LE mark", S("\xFF\xFE[\0s\0]\0\n\0k\0=\0v\0\n\0", 18), "s", "k", "D", 100, 1,
     S("v\0", 2)},
    {"UTF-16 BE mark", S("\xFE\xFF\0[\0s\0]\0\n\0k\0=\0v\0\n", 18), "s", "k", "D", 100, 1,
     S("v\0", 2)},
    {"UTF-8 decoded", "\xEF\xBB\xBF[s]\nk=\xc3\xa9\n", "s", "k", "D", 100, 1, S("\xe9\0", 2)},
    {"bytes without a mark kept", "[s]\nk=\xe9\x80\x81\n", "s", "k", "D", 100, 3,
     S("\xe9\x80\x81\0", 4)},
    {"ctrl-Z is white space", "[s]\nk=v\x1a\n", "s", "k", "D", 100, 1, S("v\0", 2)},
};

// The case's question asked of the file holding its text.
void ExpectAnswer(const ProfileCase& c, const std::string& file) {
    char buffer[128];
    std::memset(buffer, '#', sizeof(buffer));
    const uint32_t result = platform::GetPrivateProfileString(c.section, c.key, c.defaultValue,
                                                              buffer, c.size, file.c_str());
    EXPECT_EQ(c.result, result);
    EXPECT_EQ(c.buffer, std::string(buffer, c.buffer.size()));
    // Nothing is written past the terminator's place.
    const size_t written = c.size == 0 ? 0 : c.result + 1;
    for (size_t i = written; i < sizeof(buffer); ++i)
        ASSERT_EQ('#', buffer[i]) << "byte " << i;
}

class ProfileReader : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileReader, AnswersAsTheSystemDoes) {
    const ProfileCase& c = GetParam();
    TempDirectory temp;
    ExpectAnswer(c, c.file == kMissing ? temp / "missing.ini" : temp.Write("case.ini", c.file));
}

// Failures name the case instead of dumping its bytes.
void PrintTo(const ProfileCase& c, std::ostream* out) {
    *out << c.name;
}

std::string CaseName(const ::testing::TestParamInfo<ProfileCase>& info) {
    std::string name;
    for (const char* p = info.param.name; *p != '\0'; ++p) {
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileReader, ::testing::ValuesIn(kCases), CaseName);

TEST(ProfileReaderLists, NullSectionOrKeyListsNames) {
    TempDirectory temp;
    const std::string file = temp.Write("list.ini", "k=v\n[s]\nk=v\nj\nK=w\n[t]\n[s]\n");
    char buffer[64];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(6u, platform::GetPrivateProfileString(nullptr, "x", "D", buffer, 64, file.c_str()));
    EXPECT_EQ(S("s\0t\0s\0\0", 7), S(buffer, 7));

    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(4u, platform::GetPrivateProfileString("s", nullptr, "D", buffer, 64, file.c_str()));
    EXPECT_EQ(S("k\0K\0\0", 5), S(buffer, 5));

    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(2u, platform::GetPrivateProfileString("s", nullptr, "D", buffer, 4, file.c_str()));
    EXPECT_EQ(S("k\0\0", 3), S(buffer, 3));

    // Names that fill all but the last byte, and one more that cannot follow:
    // cut to size - 2, nothing written past the size. (Whether the last byte
    // is written too differs between the systems.)
    const std::string two = temp.Write("two.ini", "[a]\n[b]\n[s]\nk=1\nj=2\n");
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(1u, platform::GetPrivateProfileString(nullptr, "x", "D", buffer, 3, two.c_str()));
    EXPECT_EQ(S("a\0", 2), S(buffer, 2));
    EXPECT_EQ("###", S(buffer + 3, 3));
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(1u, platform::GetPrivateProfileString("s", nullptr, "D", buffer, 3, two.c_str()));
    EXPECT_EQ(S("k\0", 2), S(buffer, 2));
    EXPECT_EQ("###", S(buffer + 3, 3));

    // A section without keys, or none at all: the default.
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(1u, platform::GetPrivateProfileString("t", nullptr, "D", buffer, 64, file.c_str()));
    EXPECT_EQ(S("D\0", 2), S(buffer, 2));
}

#if !defined(_WIN32)
// The POSIX reader keeps files it parsed (those whose last change lies more
// than a few seconds back) and must still see every change to them.
TEST(ProfileReaderKeptFiles, EveryChangeToAKeptFileIsSeen) {
    TempDirectory temp;
    const std::string file = temp.Write("kept.ini", "[s]\nk=1\n");
    const auto written = std::filesystem::last_write_time(file);
    platform::Sleep(3500);  // settled: the file may be kept
    char value[8];
    // The first read scans the file and keeps its text, the second scans the
    // kept text, the third parses it and keeps the parse.
    for (int read = 0; read < 3; ++read) {
        ASSERT_EQ(1u, platform::GetPrivateProfileString("s", "k", "", value, 8, file.c_str()));
        EXPECT_STREQ("1", value);
    }

    // The same size, and the modification time put back as it was.
    temp.Write("kept.ini", "[s]\nk=2\n");
    std::filesystem::last_write_time(file, written);
    platform::GetPrivateProfileString("s", "k", "", value, 8, file.c_str());
    EXPECT_STREQ("2", value);

    // Another file renamed over it.
    const std::string other = temp.Write("other.ini", "[s]\nk=3\n");
    std::filesystem::rename(other, file);
    platform::GetPrivateProfileString("s", "k", "", value, 8, file.c_str());
    EXPECT_STREQ("3", value);

    std::filesystem::remove(file);
    EXPECT_EQ(1u, platform::GetPrivateProfileString("s", "k", "D", value, 8, file.c_str()));
    EXPECT_STREQ("D", value);
}

// The whole table again, on settled files asked three times each: the first
// read scans the file, the second the kept text, the third answers from the
// kept parse. Each answers as the first read does.
TEST(ProfileReaderKeptFiles, AKeptParseAnswersTheWholeTable) {
    TempDirectory temp;
    std::vector<std::string> files;
    for (const ProfileCase& c : kCases) {
        files.push_back(c.file == kMissing
                            ? temp / "missing.ini"
                            : temp.Write("case" + std::to_string(files.size()) + ".ini", c.file));
    }
    platform::Sleep(3500);  // settled: the files may be kept
    for (size_t i = 0; i < files.size(); ++i) {
        for (int read = 1; read <= 3; ++read) {
            SCOPED_TRACE(std::string(kCases[i].name) + ", read " + std::to_string(read));
            ExpectAnswer(kCases[i], files[i]);
        }
    }
}
#endif

}  // namespace
}  // namespace pexil::testing
