#include "support/path.h"

#include "support/guarded_buffer.h"
#include "support/windows_mistakes.h"

#include <gtest/gtest.h>

#include <string>

namespace pexil {
namespace {

using testing::GuardedBuffer;
constexpr PathStyle kWin = PathStyle::Windows;
constexpr PathStyle kPosix = PathStyle::Posix;

TEST(IsAbsolutePath, WindowsRules) {
    EXPECT_EQ(1, IsAbsolutePath("D:\\x", kWin));
    EXPECT_EQ(1, IsAbsolutePath("\\\\server\\share", kWin));
    EXPECT_EQ(1, IsAbsolutePath("\\x", kWin));
    EXPECT_EQ(1, IsAbsolutePath("x:y", kWin));  // a colon anywhere
    EXPECT_EQ(0, IsAbsolutePath("/x/y", kWin));
    EXPECT_EQ(0, IsAbsolutePath("dir\\x", kWin));
    EXPECT_EQ(0, IsAbsolutePath("", kWin));
    EXPECT_EQ(0, IsAbsolutePath(nullptr, kWin));
}

TEST(IsAbsolutePath, PosixRules) {
    EXPECT_EQ(1, IsAbsolutePath("/x/y", kPosix));
    EXPECT_EQ(1, IsAbsolutePath("\\x", kPosix));
    EXPECT_EQ(0, IsAbsolutePath("D:\\x", kPosix));
    EXPECT_EQ(0, IsAbsolutePath("x:y", kPosix));
    EXPECT_EQ(0, IsAbsolutePath("dir/x", kPosix));
    EXPECT_EQ(0, IsAbsolutePath(nullptr, kPosix));
}

TEST(LastSeparator, WindowsPrefersTheLastBackslash) {
    EXPECT_EQ(2, LastSeparator("D:\\a/b/f.ini", kWin));  // a later '/' is not considered
    EXPECT_EQ(6, LastSeparator("D:/cfg/Pexil.ini", kWin));
    EXPECT_EQ(-1, LastSeparator("Pexil.ini", kWin));
    EXPECT_EQ(-1, LastSeparator(nullptr, kWin));
    EXPECT_EQ(6, LastSeparator("D:\\a/b/f.ini", kPosix));  // POSIX: whichever is last
    EXPECT_EQ(4, LastOfEitherSeparator("/a\\b/c"));
    EXPECT_EQ(2, LastOfEitherSeparator("/a\\b"));
    EXPECT_EQ(-1, LastOfEitherSeparator("ab"));
}

// Two rules the explaining trace and pexil explain to Windows users: where a
// path with a '/' after its last backslash has its directory, and a '?' that
// stands for a character the code page could not write (not the one of "\\?\").
TEST(WindowsMistakes, ADirectoryCutBeforeASlashAndTheCodePagesQuestionMark) {
    char directory[kMaxPath];
    EXPECT_EQ(1,
              DirectoryCutBeforeSlash("C:\\app\\bin\\../conf2/geo.ini", directory, kMaxPath, kWin));
    EXPECT_STREQ("C:\\app\\bin", directory);
    EXPECT_EQ(0, DirectoryCutBeforeSlash("C:/app\\conf\\geo.ini", directory, kMaxPath, kWin));
    EXPECT_EQ(0, DirectoryCutBeforeSlash("C:/app/geo.ini", directory, kMaxPath, kWin));
    EXPECT_EQ(0, DirectoryCutBeforeSlash("/app\\bin/geo.ini", directory, kMaxPath, kPosix));
    EXPECT_EQ(1, HasUnrepresentableCharacter("C:\\??\\app\\host.exe", kWin));
    EXPECT_EQ(0, HasUnrepresentableCharacter("\\\\?\\C:\\app\\host.exe", kWin));
    EXPECT_EQ(1, HasUnrepresentableCharacter("\\\\?\\C:\\??\\host.exe", kWin));
    EXPECT_EQ(0, HasUnrepresentableCharacter("/tmp/a?b/host", kPosix));
}

TEST(JoinWithDirectoryOf, JoinsToTheReferenceFilesDirectory) {
    char buffer[kMaxPath];
    EXPECT_EQ(1, JoinWithDirectoryOf("D:\\cfg\\Pexil.ini", "Brelnor.dll", buffer, kMaxPath, kWin));
    EXPECT_STREQ("D:\\cfg\\Brelnor.dll", buffer);
    EXPECT_EQ(1, JoinWithDirectoryOf("D:/cfg/Pexil.ini", "a.dll", buffer, kMaxPath, kWin));
    EXPECT_STREQ("D:/cfg/a.dll", buffer);
    EXPECT_EQ(1, JoinWithDirectoryOf("Pexil.ini", "a.dll", buffer, kMaxPath, kWin));
    EXPECT_STREQ("Pexil.ini\\a.dll", buffer);
    EXPECT_EQ(1, JoinWithDirectoryOf("D:\\a/b/f.ini", "x", buffer, kMaxPath, kWin));
    EXPECT_STREQ("D:\\x", buffer);
    // The name is appended unchanged, absolute or not.
    EXPECT_EQ(1, JoinWithDirectoryOf("D:\\cfg\\x.ini", "E:\\y", buffer, kMaxPath, kWin));
    EXPECT_STREQ("D:\\cfg\\E:\\y", buffer);

    EXPECT_EQ(1, JoinWithDirectoryOf("/etc/app/Pexil.ini", "lib\\a.dll", buffer, kMaxPath, kPosix));
    EXPECT_STREQ("/etc/app/lib\\a.dll", buffer);
    EXPECT_EQ(1, JoinWithDirectoryOf("Pexil.ini", "a.dll", buffer, kMaxPath, kPosix));
    EXPECT_STREQ("Pexil.ini/a.dll", buffer);
}

TEST(JoinWithDirectoryOf, KeepsWhatFitsAndRefusesNullArguments) {
    const std::string directory = "D:\\" + std::string(250, 'd') + "\\";  // 254 characters
    GuardedBuffer<kMaxPath> buffer;
    // The name does not fit behind the directory: only the directory stays.
    EXPECT_EQ(1, JoinWithDirectoryOf((directory + "f.ini").c_str(), "Brelnor.dll", buffer.data(),
                                     kMaxPath, kWin));
    EXPECT_EQ(directory, buffer.str());
    EXPECT_TRUE(buffer.guardIntact());

    const std::string tooLong = "D:\\" + std::string(997, 'd') + "\\f.ini";
    EXPECT_EQ(1, JoinWithDirectoryOf(tooLong.c_str(), "a.dll", buffer.data(), kMaxPath, kWin));
    EXPECT_EQ("a.dll", buffer.str());  // neither part fitted before the name
    EXPECT_TRUE(buffer.guardIntact());

    char small[4] = "old";
    EXPECT_EQ(0, JoinWithDirectoryOf(nullptr, "a", small, 4, kWin));
    EXPECT_EQ(0, JoinWithDirectoryOf("D:\\f", nullptr, small, 4, kWin));
    EXPECT_EQ(0, JoinWithDirectoryOf("D:\\f", "a", nullptr, 4, kWin));
    EXPECT_EQ(0, JoinWithDirectoryOf("D:\\f", "a", small, 0, kWin));
    EXPECT_STREQ("old", small);
}

TEST(CopyAndAppendIfFits, RefuseWhatDoesNotFitWholly) {
    const std::string fits(259, 'a'), tooLong(260, 'a'), huge(1000, 'a');
    GuardedBuffer<kMaxPath> buffer("old");
    EXPECT_EQ(0, CopyIfFits(buffer.data(), kMaxPath, tooLong.c_str()));
    EXPECT_EQ(0, CopyIfFits(buffer.data(), kMaxPath, huge.c_str()));
    EXPECT_EQ("old", buffer.str());
    EXPECT_EQ(1, CopyIfFits(buffer.data(), kMaxPath, fits.c_str()));
    EXPECT_EQ(fits, buffer.str());
    EXPECT_EQ(0, CopyIfFits(buffer.data(), 0, "x"));
    EXPECT_EQ(0, CopyIfFits(nullptr, kMaxPath, "x"));
    EXPECT_EQ(0, CopyIfFits(buffer.data(), kMaxPath, nullptr));

    GuardedBuffer<8> small("abc");
    EXPECT_EQ(0, AppendIfFits(small.data(), 8, "defgh"));  // 3 + 5 is not less than 8
    EXPECT_EQ("abc", small.str());
    EXPECT_EQ(1, AppendIfFits(small.data(), 8, "defg"));
    EXPECT_EQ("abcdefg", small.str());

    GuardedBuffer<8> prefix("zz");
    EXPECT_EQ(1, CopyNIfFits(prefix.data(), 8, "D:\\a\\b", 4));
    EXPECT_EQ("D:\\a", prefix.str());
    EXPECT_EQ(0, CopyNIfFits(prefix.data(), 8, "abcdefghij", 8));
    EXPECT_EQ(0, CopyNIfFits(prefix.data(), 8, "abc", 0));
    EXPECT_EQ("D:\\a", prefix.str());
    EXPECT_TRUE(buffer.guardIntact());
    EXPECT_TRUE(small.guardIntact());
    EXPECT_TRUE(prefix.guardIntact());
}

TEST(HasValidPathChars, RefusesTheSixWildcardAndRedirectionCharacters) {
    EXPECT_EQ(0, HasValidPathChars("D:\\log?\\"));
    EXPECT_EQ(1, HasValidPathChars("D:\\a:b\\"));
    EXPECT_EQ(1, HasValidPathChars("/a/b\\c d"));
    for (const char* bad : {"a<b", "a>b", "a\"b", "a|b", "a*b", "a?b"}) {
        EXPECT_EQ(0, HasValidPathChars(bad)) << bad;
    }
}

TEST(GetExtension, TakesTheLastDotOfTheLastComponent) {
    char ext[kMaxPath];
    GetExtension("20081203_142501.log", ext, kMaxPath);
    EXPECT_STREQ(".log", ext);
    GetExtension("20081203_142501.log.bak", ext, kMaxPath);
    EXPECT_STREQ(".bak", ext);
    GetExtension("x.LOG", ext, kMaxPath);
    EXPECT_STREQ(".LOG", ext);
    GetExtension("z", ext, kMaxPath);
    EXPECT_STREQ("", ext);
    GetExtension("dir.d\\z", ext, kMaxPath);
    EXPECT_STREQ("", ext);
    GetExtension(".log", ext, kMaxPath);
    EXPECT_STREQ(".log", ext);
}

}  // namespace
}  // namespace pexil
