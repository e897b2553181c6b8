#include "support/base_directory.h"

#include "platform/debug_capture.h"
#include "platform/platform.h"
#include "support/explaining.h"
#include "support/guarded_buffer.h"
#include "support/system_override.h"
#include "support/temp_directory.h"
#include "support/windows_mistakes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace pexil {
namespace {

using testing::GuardedBuffer;
using testing::TempDirectory;

const char* AppDirectory() {
    return "D:\\app";
}
const PathBase kWindows{AppDirectory, PathStyle::Windows, false};
const PathBase kWindowsLocator{AppDirectory, PathStyle::Windows, true};

TEST(JoinToHostDirectory, JoinsAndCutsToEachVariantsLimit) {
    GuardedBuffer<kMaxPath> buffer;
    EXPECT_EQ(1, JoinToHostDirectory(kWindows, "Pexil.ini", buffer.data(), kMaxPath));
    EXPECT_EQ("D:\\app\\Pexil.ini", buffer.str());

    // "D:\app\" is 7 characters; a 293-character name makes a 300-character result.
    const std::string name(293, 'n');
    EXPECT_EQ(1, JoinToHostDirectory(kWindows, name.c_str(), buffer.data(), kMaxPath));
    EXPECT_EQ(259u, buffer.str().size());
    EXPECT_EQ("D:\\app\\nnn", buffer.str().substr(0, 10));
    EXPECT_EQ(1, JoinToHostDirectory(kWindowsLocator, name.c_str(), buffer.data(), kMaxPath));
    EXPECT_EQ(258u, buffer.str().size());
    EXPECT_TRUE(buffer.guardIntact());

    GuardedBuffer<8> untouched("keep");
    EXPECT_EQ(0, JoinToHostDirectory(kWindows, nullptr, untouched.data(), 8));
    EXPECT_EQ(0, JoinToHostDirectory(kWindows, "x", untouched.data(), 1));
    EXPECT_EQ(0, JoinToHostDirectory(kWindows, "x", nullptr, 8));
    EXPECT_EQ("keep", untouched.str());
}

TEST(ToAbsolutePath, JoinsRelativePathsAndCopiesAbsoluteOnes) {
    GuardedBuffer<kMaxPath> buffer("old");
    EXPECT_EQ(1, ToAbsolutePath(kWindows, "cfg\\x.ini", buffer.data(), kMaxPath));
    EXPECT_EQ("D:\\app\\cfg\\x.ini", buffer.str());
    EXPECT_EQ(1, ToAbsolutePath(kWindows, "E:\\x.ini", buffer.data(), kMaxPath));
    EXPECT_EQ("E:\\x.ini", buffer.str());
    EXPECT_EQ(1, ToAbsolutePath(kWindows, "/x/y", buffer.data(), kMaxPath));
    EXPECT_EQ("D:\\app\\/x/y", buffer.str());  // relative under Windows rules

    EXPECT_EQ(0, ToAbsolutePath(kWindows, nullptr, buffer.data(), kMaxPath));
    const std::string longAbsolute = "E:\\" + std::string(257, 'a');  // 260 characters
    EXPECT_EQ(0, ToAbsolutePath(kWindows, longAbsolute.c_str(), buffer.data(), kMaxPath));
    EXPECT_EQ("D:\\app\\/x/y", buffer.str());
    EXPECT_TRUE(buffer.guardIntact());
}

TEST(GetDirectoryPart, TakesEverythingBeforeTheLastSeparatorOfEitherKind) {
    char buffer[kMaxPath];
    EXPECT_EQ(1, GetDirectoryPart(kWindows, "D:\\a/b/f.log", buffer, kMaxPath));
    EXPECT_STREQ("D:\\a/b", buffer);
    EXPECT_EQ(1, GetDirectoryPart(kWindows, "D:\\A\\PexilLog\\", buffer, kMaxPath));
    EXPECT_STREQ("D:\\A\\PexilLog", buffer);
    EXPECT_EQ(1, GetDirectoryPart(kWindows, "D:\\A\\PexilLog\\x.log", buffer, kMaxPath));
    EXPECT_STREQ("D:\\A\\PexilLog", buffer);
    EXPECT_EQ(1, GetDirectoryPart(kWindows, "x.log", buffer, kMaxPath));
    EXPECT_STREQ("D:\\app", buffer);

    char untouched[8] = "keep";
    EXPECT_EQ(0, GetDirectoryPart(kWindows, "D:x", untouched, 8));  // no separator
    EXPECT_EQ(0, GetDirectoryPart(kWindows, "\\x", untouched, 8));  // only in first place
    EXPECT_EQ(0, GetDirectoryPart(kWindows, "D:\\abcdefgh\\x", untouched, 8));  // does not fit
    EXPECT_EQ(0, GetDirectoryPart(kWindows, nullptr, untouched, 8));
    EXPECT_EQ(0, GetDirectoryPart(kWindows, "D:\\a\\b", nullptr, 8));
    EXPECT_STREQ("keep", untouched);
}

TEST(HostDirectory, IsTheExecutablesDirectoryInEveryVariant) {
    const std::string cached = CachedHostDirectory();
    ASSERT_FALSE(cached.empty());
    EXPECT_EQ(1, IsAbsolutePath(cached.c_str()));
    EXPECT_NE(Separator(PathStyle::Native), cached.back());
    EXPECT_EQ(cached, OwnCachedHostDirectory());
    EXPECT_EQ(cached, RecomputedHostDirectory());

    char executable[kMaxPath];
    ASSERT_GT(platform::GetExecutablePath(executable, kMaxPath), 0);
    const std::string fileName = std::filesystem::path(executable).filename().string();
    EXPECT_EQ(1, PathExists(kFactoryBase, fileName.c_str()));
    EXPECT_EQ(0, PathExists(kFactoryBase, (fileName + ".missing").c_str()));
}

int FailExecutablePath(char* buffer, int) {
    buffer[0] = '\0';
    return 0;
}

TEST(HostDirectory, RecomputedVariantFollowsTheSystemAtEveryCall) {
    {
        testing::SystemOverride failing(&platform::SystemCalls::getExecutablePath,
                                        FailExecutablePath);
        EXPECT_STREQ("", RecomputedHostDirectory());
    }
    EXPECT_STRNE("", RecomputedHostDirectory());
}

// The executable's path as GetModuleFileNameA and readlink give one that does
// not fit: cut to the buffer.
std::string g_executable;
int CutExecutablePath(char* buffer, int size) {
    const int length = static_cast<int>(g_executable.size()) < size
                           ? static_cast<int>(g_executable.size())
                           : size - 1;
    g_executable.copy(buffer, static_cast<size_t>(length));
    buffer[length] = '\0';
    return length;
}

// Cut, the executable's path names a parent of the host's directory: the host
// directory is unknown then, and nothing is read or made beside it (a join to
// it is never whole, so neither root nor parent is taken for it).
TEST(HostDirectory, AnExecutablePathThatDoesNotFitLeavesItUnknown) {
    testing::SystemOverride cut(&platform::SystemCalls::getExecutablePath, CutExecutablePath);
    const char sep = Separator(PathStyle::Native);
    const std::string top = sep == '\\' ? "C:" : "";
    // 259 characters: it fits, and its directory is the host directory.
    g_executable = top + sep + std::string(253 - top.size(), 'd') + sep + "host";
    ASSERT_EQ(259u, g_executable.size());
    EXPECT_EQ(top + sep + std::string(253 - top.size(), 'd'), RecomputedHostDirectory());
    // One more, and the host directory is unknown.
    g_executable = top + sep + std::string(254 - top.size(), 'd') + sep + "host";
    GuardedBuffer<kMaxPath> buffer("old");
    EXPECT_EQ(0, ComputeHostDirectory(buffer.data(), kMaxPath));
    EXPECT_EQ("", buffer.str());
    EXPECT_STREQ("", RecomputedHostDirectory());
    int whole = 1;
    EXPECT_EQ(1, JoinToHostDirectory(kFactoryBase, "Pexil.ini", buffer.data(), kMaxPath, &whole));
    EXPECT_EQ(0, whole);
    EXPECT_EQ(0, ToAbsolutePath(kFactoryBase, "PexilLog", buffer.data(), kMaxPath, &whole) != 0 &&
                     whole != 0);
    EXPECT_EQ(0, PathExists(kFactoryBase, ""));  // the root, were it joined
    EXPECT_EQ(0, CreateDirectoryIfMissing(kFactoryBase, "PexilLog"));
    EXPECT_TRUE(buffer.guardIntact());
}

#if defined(_WIN32)
// GetModuleFileNameA writes '?' for each character of the path that the ANSI
// code page cannot represent (C:\日本\app): the directory is kept as the
// system gave it, and the trace says why nothing beside it is found, once.
TEST(HostDirectory, AnExecutablePathTheCodePageCannotWriteIsExplainedOnce) {
    testing::SystemOverride lossy(&platform::SystemCalls::getExecutablePath, CutExecutablePath);
    g_executable = "C:\\??\\app\\host.exe";
    const testing::Explaining explaining;
    platform::testing::DebugCapture capture;
    EXPECT_STREQ("C:\\??\\app", RecomputedHostDirectory());
    EXPECT_STREQ("C:\\??\\app", RecomputedHostDirectory());
    EXPECT_EQ(
        "Pexil[Explain]: the host's executable path C:\\??\\app\\host.exe holds '?' where the "
        "ANSI code page could not represent a character of a name: the framework's ANSI calls "
        "cannot reach that file; use a directory whose name the code page can write (plain ASCII "
        "always can)\n",
        capture.Text());
    // A long path's own prefix is no such character.
    EXPECT_EQ(0, HasUnrepresentableCharacter("\\\\?\\C:\\app\\host.exe"));
}
#endif

// A base directory that points at a test's temporary directory.
std::string g_base;
const char* TestBaseDirectory() {
    return g_base.c_str();
}
const PathBase kTestBase{TestBaseDirectory, PathStyle::Native, false};

TEST(Directories, EnsureDirectoryForCreatesOneLevel) {
    TempDirectory temp;
    g_base = temp.str();
    const char sep = Separator(PathStyle::Native);
    const std::string logDirectory = temp / "PexilLog";

    EXPECT_EQ(1, EnsureDirectoryFor(kTestBase, (logDirectory + sep).c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(logDirectory));
    // Existing: success, nothing else happens.
    EXPECT_EQ(1, EnsureDirectoryFor(kTestBase, (logDirectory + sep + "x.log").c_str()));

    // A missing parent makes it fail, and nothing is created.
    const std::string deeper = temp / "missing" + sep + "deeper" + sep;
    EXPECT_EQ(0, EnsureDirectoryFor(kTestBase, deeper.c_str()));
    EXPECT_FALSE(std::filesystem::exists(temp / "missing"));

    // Relative paths resolve against the base.
    EXPECT_EQ(1, EnsureDirectoryFor(kTestBase, (std::string("sub") + sep).c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(temp / "sub"));

    EXPECT_EQ(0, EnsureDirectoryFor(kTestBase, (temp / "log?" + sep).c_str()));
    EXPECT_FALSE(std::filesystem::exists(temp / "log?"));
    EXPECT_EQ(0, EnsureDirectoryFor(kTestBase, ""));
    EXPECT_EQ(0, EnsureDirectoryFor(kTestBase, nullptr));
}

TEST(Directories, CreateDirectoryIfMissingAndPathExists) {
    TempDirectory temp;
    g_base = temp.str();
    EXPECT_EQ(0, PathExists(kTestBase, "made"));
    EXPECT_EQ(1, CreateDirectoryIfMissing(kTestBase, "made"));
    EXPECT_EQ(1, PathExists(kTestBase, "made"));
    EXPECT_EQ(1, PathExists(kTestBase, (temp / "made").c_str()));
    EXPECT_EQ(1, CreateDirectoryIfMissing(kTestBase, "made"));
    EXPECT_EQ(0, CreateDirectoryIfMissing(kTestBase, (temp / "no" + "/" + "such").c_str()));
    const std::string tooLong(1000, 'x');
    EXPECT_EQ(0, PathExists(kTestBase, tooLong.c_str()));
}

}  // namespace
}  // namespace pexil
