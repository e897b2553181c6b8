// The shared log file's name and creation, and pruning, on real directories.
#include "log/log_files.h"
#include "platform/debug_capture.h"
#include "platform/platform.h"
#include "support/explaining.h"
#include "support/native_path.h"
#include "support/system_override.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <utility>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pexil::testing {
namespace fs = std::filesystem;
namespace {

// 3 December 2008, 14:25:01 local time.
int64_t FixedTime() {
    return 1228314301;
}
int FixedLocalTime(int64_t, platform::LocalTime* local) {
    *local = platform::LocalTime{2008, 12, 3, 14, 25, 1};
    return 1;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class LogFiles : public ::testing::Test {
protected:
    SystemOverride<int64_t (*)()> time_{&platform::SystemCalls::currentTime, FixedTime};
    SystemOverride<int (*)(int64_t, platform::LocalTime*)> local_{
        &platform::SystemCalls::toLocalTime, FixedLocalTime};
    TempDirectory temp_;
};

TEST_F(LogFiles, TheFileIsNamedByTheLocalTimeUnderPexilLog) {
    char directory[kMaxPath];
    log::MakeLogDirectory(temp_.str().c_str(), directory, kMaxPath);
    EXPECT_EQ(temp_.str() + Native("/PexilLog/"), directory);

    LogSink sink{nullptr, kNoLogFile};
    log::OpenLogFile(temp_.str().c_str(), sink);
    ASSERT_NE(kNoLogFile, sink.file);
    const std::string file = temp_ / Native("PexilLog/20081203_142501.log");
    EXPECT_TRUE(fs::is_regular_file(file));
    platform::CloseFile(sink.file);
}

TEST_F(LogFiles, AnExistingFileOfTheSameNameIsAppendedToNotDestroyed) {
    temp_.Write(Native("PexilLog/20081203_142501.log"), "an earlier run\n");
    LogSink sink{nullptr, kNoLogFile};
    log::OpenLogFile(temp_.str().c_str(), sink);
    ASSERT_NE(kNoLogFile, sink.file);
    uint32_t written = 0;
    platform::WriteFile(sink.file, "this run\n", 9, &written);
    platform::CloseFile(sink.file);
    EXPECT_EQ("an earlier run\nthis run\n", Read(temp_ / Native("PexilLog/20081203_142501.log")));
}

// What touches the file system, recorded and refused.
std::vector<std::string> g_touched;
int RefuseCreateDirectory(const char* path) {
    g_touched.push_back(std::string("create ") + path);
    return 0;
}
platform::Handle RefuseOpenLogFile(const char* path, int*) {
    g_touched.push_back(std::string("open ") + path);
    return platform::kInvalidHandle;
}
platform::Handle RefuseFindFirstFile(const char* pattern, platform::FindData*) {
    g_touched.push_back(std::string("find ") + pattern);
    return platform::kInvalidHandle;
}
int RefuseDeleteFile(const char* path) {
    g_touched.push_back(std::string("delete ") + path);
    return 0;
}

TEST_F(LogFiles, NoFileAndNoDirectoryWhenTheRootIsMissingOrTooLong) {
    LogSink sink{nullptr, kNoLogFile};
    log::OpenLogFile((temp_ / "missing").c_str(), sink);
    EXPECT_EQ(kNoLogFile, sink.file);
    EXPECT_FALSE(fs::exists(temp_ / "missing"));

    // Long enough that the file name needs more than 259 characters, short
    // enough that the directory alone would fit.
    const std::string root = temp_ / std::string(240 - temp_.str().size(), 'r');
    fs::create_directory(root);
    log::OpenLogFile(root.c_str(), sink);
    EXPECT_EQ(kNoLogFile, sink.file);
    EXPECT_FALSE(fs::exists(root + Native("/PexilLog")));

    // A root of 300 characters: the log directory itself does not fit. Cut, or
    // taken as empty, it would be another directory (such as PexilLog at the
    // file system's root): none is made, opened, searched or pruned.
    const std::string tooLong = temp_ / std::string(300, 'r');
    char directory[kMaxPath];
    EXPECT_FALSE(log::MakeLogDirectory(tooLong.c_str(), directory, kMaxPath));
    // A root of 255 characters fits, its log directory does not: the join is
    // cut, and a cut name is another directory.
    const std::string joinTooLong = temp_ / std::string(254 - temp_.str().size(), 'r');
    EXPECT_FALSE(log::MakeLogDirectory(joinTooLong.c_str(), directory, kMaxPath));
    {
        const Explaining explaining;
        platform::testing::DebugCapture capture;
        log::OpenLogFile(joinTooLong.c_str(), sink);
        EXPECT_EQ("Pexil[Explain]: no log file: the log directory under the root path " +
                      joinTooLong + " does not fit in 259 characters; its log lines are lost\n",
                  capture.Text());
    }
    g_touched.clear();
    {
        SystemOverride creating(&platform::SystemCalls::createDirectory, RefuseCreateDirectory);
        SystemOverride opening(&platform::SystemCalls::openLogFile, RefuseOpenLogFile);
        SystemOverride finding(&platform::SystemCalls::findFirstFile, RefuseFindFirstFile);
        SystemOverride deleting(&platform::SystemCalls::deleteFile, RefuseDeleteFile);
        log::OpenLogFile(tooLong.c_str(), sink);
        log::LogDirectoryCallback callback;
        log::PruneLogFiles(tooLong.c_str(), callback);
    }
    EXPECT_EQ(kNoLogFile, sink.file);
    EXPECT_EQ(std::vector<std::string>{}, g_touched);
}

// Two hosts that open their log file in the same second name it alike: the
// second writes into the same file, each line one append, and neither file
// handle lets the file be deleted.
TEST_F(LogFiles, TwoWritersOfOneNameBothAppendAndTheFileCannotBeDeletedWhileOpen) {
    LogSink first{nullptr, kNoLogFile};
    LogSink second{nullptr, kNoLogFile};
    log::OpenLogFile(temp_.str().c_str(), first);
    log::OpenLogFile(temp_.str().c_str(), second);
    ASSERT_NE(kNoLogFile, first.file);
    ASSERT_NE(kNoLogFile, second.file);
    uint32_t written = 0;
    for (const LogSink* sink : {&first, &second, &first, &second}) {
        const std::string line = sink == &first ? "first process\n" : "second process\n";
        EXPECT_EQ(1, platform::WriteFile(sink->file, line.data(),
                                         static_cast<uint32_t>(line.size()), &written));
    }
    const std::string file = temp_ / Native("PexilLog/20081203_142501.log");
    EXPECT_EQ(0, platform::DeleteFile(file.c_str()));
    platform::CloseFile(first.file);
    EXPECT_EQ(0, platform::DeleteFile(file.c_str()));
    platform::CloseFile(second.file);
    EXPECT_EQ("first process\nsecond process\nfirst process\nsecond process\n", Read(file));
    EXPECT_EQ(1, platform::DeleteFile(file.c_str()));
}

TEST_F(LogFiles, PruningSkipsAFileThatIsInUse) {
    const std::string directory = temp_ / "PexilLog";
    fs::create_directory(directory);
    for (int i = 1; i <= 7; ++i) {
        const std::string path = temp_.Write(Native("PexilLog/" + std::to_string(i) + ".log"), "x");
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(i));
    }
    // The oldest is held open by a writer.
    const platform::Handle held = platform::OpenLogFile((directory + Native("/7.log")).c_str());
    ASSERT_NE(platform::kInvalidHandle, held);
    log::LogDirectoryCallback callback;
    log::PruneLogFiles(temp_.str().c_str(), callback);
    platform::CloseFile(held);
    std::set<std::string> remaining;
    for (const auto& entry : fs::directory_iterator(directory)) {
        remaining.insert(entry.path().filename().string());
    }
    EXPECT_EQ((std::set<std::string>{"1.log", "2.log", "3.log", "4.log", "5.log", "7.log"}),
              remaining);
}

int NoExecutablePath(char* buffer, int) {
    buffer[0] = '\0';
    return 0;
}

// A host directory that is unknown (its executable's path could not be had,
// or did not fit) is the root path of no log: no PexilLog is made anywhere,
// least of all at the file system's root.
TEST_F(LogFiles, NoLogFileWhereTheHostDirectoryIsUnknown) {
    SystemOverride unknown(&platform::SystemCalls::getExecutablePath, NoExecutablePath);
    const Explaining explaining;
    platform::testing::DebugCapture capture;
    LogSink sink{nullptr, kNoLogFile};
    log::OpenLogFile("", sink);
    log::OpenLogFile("logs", sink);
    EXPECT_EQ(kNoLogFile, sink.file);
    EXPECT_EQ(
        "Pexil[Explain]: no log file: the root path is the host directory, which is unknown; its "
        "log lines are lost\n"
        "Pexil[Explain]: no log file: the root path logs lies in the host directory, which is "
        "unknown; its log lines are lost\n",
        capture.Text());
    EXPECT_FALSE(fs::exists(Native("/PexilLog")));
    EXPECT_FALSE(fs::exists(Native("/logs")));
}

int FailLocalTime(int64_t, platform::LocalTime*) {
    return 0;
}

TEST_F(LogFiles, WithoutTheLocalTimeNoFileIsOpenedAndTheNextRequestTriesAgain) {
    LogSink sink{nullptr, kNoLogFile};
    {
        SystemOverride failing(&platform::SystemCalls::toLocalTime, FailLocalTime);
        log::OpenLogFile(temp_.str().c_str(), sink);
    }
    EXPECT_EQ(kNoLogFile, sink.file);
    EXPECT_FALSE(fs::exists(temp_ / "PexilLog"));
    log::OpenLogFile(temp_.str().c_str(), sink);
    ASSERT_NE(kNoLogFile, sink.file);
    platform::CloseFile(sink.file);
    EXPECT_EQ(std::set<std::string>{"20081203_142501.log"}, [&] {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(temp_ / "PexilLog"))
            names.insert(entry.path().filename().string());
        return names;
    }());
}

// A log file whose full path does not fit in 259 characters is neither
// deleted nor counted: cut to fit, its path would name another file (here a
// plain file named by the first characters of the oldest log's name).
TEST_F(LogFiles, PruningNeverTouchesAFileThroughAPathCutToFit) {
    // The log directory, separator included, is 245 characters long.
    const std::string root = temp_ / std::string(245 - 10 - temp_.str().size() - 1, 'r');
    const std::string directory = root + Native("/PexilLog");
    ASSERT_EQ(244u, directory.size());
    fs::create_directories(directory);
    auto place = [&](const std::string& name, int hoursAgo) {
        const std::string path = directory + Native("/") + name;
        std::ofstream(path, std::ios::binary) << "x";
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(hoursAgo));
    };
    // Seven old logs with full names (264 characters) and six short ones.
    for (int i = 1; i <= 7; ++i)
        place("2008120" + std::to_string(i) + "_142501.log", 100 + i);
    for (int i = 1; i <= 6; ++i)
        place(std::to_string(i) + ".log", i);
    place("20081207_14250", 500);  // 259 characters: what a cut path would name
    log::LogDirectoryCallback callback;
    log::PruneLogFiles(root.c_str(), callback);
    std::set<std::string> remaining;
    for (const auto& entry : fs::directory_iterator(directory))
        remaining.insert(entry.path().filename().string());
    EXPECT_EQ(1u, remaining.count("20081207_14250"));
    for (int i = 1; i <= 7; ++i)
        EXPECT_EQ(1u, remaining.count("2008120" + std::to_string(i) + "_142501.log")) << i;
    // Of the logs pruning may touch, the five newest stay.
    EXPECT_EQ(0u, remaining.count("6.log"));
    EXPECT_EQ(1u, remaining.count("5.log"));
    EXPECT_EQ(13u, remaining.size());
}

// What someone else may put under the name of the next second's log file, in
// a log directory they can write to: nothing of it is written into, nothing is
// created through it, and no open blocks. The explaining trace says why.
// (Wine keeps a Linux link from Windows programs and makes no link of its own,
// so under Wine only the second name is tried.)
TEST_F(LogFiles, WhatOthersPlantUnderTheLogFilesNameIsRefusedNeverWrittenThrough) {
    const std::string log = temp_ / Native("PexilLog/20081203_142501.log");
    const std::string secret = temp_.Write("secret", "root only\n");
    const std::string elsewhere = temp_ / "created-elsewhere";
    struct Case {
        const char* what;
        std::function<void()> plant;
        std::string reason;
    };
    std::vector<Case> cases = {
        {"a second name of another file", [&] { fs::create_hard_link(secret, log); },
         "it has 2 names (hard links), so it is not the log's own file"},
    };
#if !defined(_WIN32)
    int reader = -1;
    const std::string fifo = "it is not a regular file but a FIFO";
    cases.push_back({"a link to a file", [&] { fs::create_symlink(secret, log); },
                     "it is a symbolic link, which is not followed"});
    cases.push_back({"a dangling link", [&] { fs::create_symlink(elsewhere, log); },
                     "it is a symbolic link, which is not followed"});
    cases.push_back(
        {"a FIFO without a reader", [&] { ASSERT_EQ(0, ::mkfifo(log.c_str(), 0666)); }, fifo});
    cases.push_back({"a FIFO with a reader",
                     [&] {
                         ASSERT_EQ(0, ::mkfifo(log.c_str(), 0666));
                         reader = ::open(log.c_str(), O_RDONLY | O_NONBLOCK);
                     },
                     fifo});
#endif
    fs::create_directory(temp_ / "PexilLog");
    const Explaining explaining;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant();
        platform::testing::DebugCapture capture;
        LogSink sink{nullptr, kNoLogFile};
        log::OpenLogFile(temp_.str().c_str(), sink);
        EXPECT_EQ(kNoLogFile, sink.file);
        if (sink.file != kNoLogFile) platform::CloseFile(sink.file);
        EXPECT_EQ("Pexil[Explain]: no log file: " + log + " could not be opened: " + c.reason +
                      "; the next request that asks for the log file tries again\n",
                  capture.Text());
        EXPECT_EQ("root only\n", Read(secret));
        EXPECT_FALSE(fs::exists(elsewhere));
#if !defined(_WIN32)
        if (reader >= 0) {
            char byte;
            EXPECT_GE(0, ::read(reader, &byte, 1));  // nothing was written into it
            ::close(reader);
            reader = -1;
        }
#endif
        fs::remove(log);
    }
}

// Links and special files take no part in pruning; only regular files are log files.
TEST(LogEntryKinds, OnlyRegularFilesAreLogFiles) {
    platform::FindData entry{};
    std::strcpy(entry.name, "20081203_142501.log");
    const std::pair<uint32_t, log::LogEntryKind> kinds[] = {
        {platform::kAttributeNormal, log::LogEntryKind::LogFile},
        {0x20, log::LogEntryKind::LogFile},  // FILE_ATTRIBUTE_ARCHIVE
        {platform::kAttributeDirectory, log::LogEntryKind::Directory},
        {0x20 | platform::kAttributeReparsePoint, log::LogEntryKind::NotRegularFile},
        {platform::kAttributeDirectory | platform::kAttributeReparsePoint,
         log::LogEntryKind::NotRegularFile},
        {platform::kAttributeDevice, log::LogEntryKind::NotRegularFile},
    };
    for (const auto& kind : kinds) {
        entry.attributes = kind.first;
        EXPECT_EQ(kind.second, log::KindOfLogEntry("/logs/", entry)) << kind.first;
    }
}

#if !defined(_WIN32)
// A user who can write to the log directory plants a file of their own for a
// host that runs as root (or as another user).
TEST_F(LogFiles, AFileOfAnotherUserIsNeverAppendedTo) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
    const std::string log = temp_.Write(Native("PexilLog/20081203_142501.log"), "planted\n");
    ASSERT_EQ(0, ::chown(log.c_str(), 65534, 65534));
    const Explaining explaining;
    platform::testing::DebugCapture capture;
    LogSink sink{nullptr, kNoLogFile};
    log::OpenLogFile(temp_.str().c_str(), sink);
    EXPECT_EQ(kNoLogFile, sink.file);
    if (sink.file != kNoLogFile) platform::CloseFile(sink.file);
    EXPECT_EQ("Pexil[Explain]: no log file: " + log +
                  " could not be opened: it belongs to user 65534, not to this process's "
                  "effective user 0; the next request that asks for the log file tries again\n",
              capture.Text());
    EXPECT_EQ("planted\n", Read(log));
}

// A log directory that is a link (to another disk, say) is a deployment's
// choice, not a plant: it is followed. Whatever the umask, nothing made is
// writable by others.
TEST_F(LogFiles, ALinkedLogDirectoryIsFollowedAndNothingIsWritableByOthers) {
    fs::create_directory(temp_ / "disk");
    fs::create_directory_symlink(temp_ / "disk", temp_ / "PexilLog");
    LogSink sink{nullptr, kNoLogFile};
    log::OpenLogFile(temp_.str().c_str(), sink);
    EXPECT_NE(kNoLogFile, sink.file);
    if (sink.file != kNoLogFile) platform::CloseFile(sink.file);
    EXPECT_TRUE(fs::is_regular_file(temp_ / "disk/20081203_142501.log"));

    TempDirectory open;
    const mode_t saved = ::umask(0);
    log::OpenLogFile(open.str().c_str(), sink);
    ::umask(saved);
    ASSERT_NE(kNoLogFile, sink.file);
    platform::CloseFile(sink.file);
    struct stat info;
    ASSERT_EQ(0, ::stat((open / "PexilLog").c_str(), &info));
    EXPECT_EQ(0775u, info.st_mode & 07777u);
    ASSERT_EQ(0, ::stat((open / "PexilLog/20081203_142501.log").c_str(), &info));
    EXPECT_EQ(0644u, info.st_mode & 07777u);
}

// While the log file's lock is waited for (a deleter holds it exclusively),
// the test does what a deleter or another host may do; each wait is one sleep.
std::function<void()> g_whileWaiting;
int g_waits = 0;
void Wait(uint32_t) {
    ++g_waits;
    if (g_whileWaiting) std::exchange(g_whileWaiting, nullptr)();
}

TEST_F(LogFiles, AfterWaitingOutADeleterTheNameMustStillGiveTheFileElseItIsOpenedAgain) {
    const std::string log = temp_.Write(Native("PexilLog/20081203_142501.log"), "old\n");
    SystemOverride sleeping(&platform::SystemCalls::sleep, Wait);
    auto holdExclusively = [&] {
        const int fd = ::open(log.c_str(), O_RDONLY);
        EXPECT_EQ(0, ::flock(fd, LOCK_EX | LOCK_NB));
        return fd;
    };
    auto openAndWrite = [&](const std::string& line) {
        LogSink sink{nullptr, kNoLogFile};
        log::OpenLogFile(temp_.str().c_str(), sink);
        EXPECT_NE(kNoLogFile, sink.file);
        if (sink.file == kNoLogFile) return;
        uint32_t written = 0;
        platform::WriteFile(sink.file, line.data(), static_cast<uint32_t>(line.size()), &written);
        platform::CloseFile(sink.file);
    };

    // The deleter removes the file: a new one is made under the name.
    int held = holdExclusively();
    g_whileWaiting = [&] {
        ::unlink(log.c_str());
        ::close(held);
    };
    openAndWrite("a deleter removed the old one\n");
    EXPECT_EQ("a deleter removed the old one\n", Read(log));

    // Another host made its own file under the name meanwhile: that one is written.
    held = holdExclusively();
    g_whileWaiting = [&] {
        ::unlink(log.c_str());
        std::ofstream(log) << "the other host's\n";
        ::close(held);
    };
    openAndWrite("mine\n");
    EXPECT_EQ("the other host's\nmine\n", Read(log));

    // Held for longer than any deleter: written all the same, never silently.
    held = holdExclusively();
    g_waits = 0;
    {
        const Explaining explaining;
        platform::testing::DebugCapture capture;
        openAndWrite("unlocked\n");
        EXPECT_EQ("Pexil[Explain]: the log file " + log +
                      " is written without its lock (another process has held it for longer "
                      "than a deleter does, or the file system has no locks), so pruning "
                      "elsewhere may delete it while it is written\n",
                  capture.Text());
    }
    EXPECT_EQ(20, g_waits);
    ::close(held);
    EXPECT_EQ("the other host's\nmine\nunlocked\n", Read(log));
}

// Pruning considers regular files only: a link is neither followed, nor
// counted, nor deleted; a FIFO neither. A name that holds a backslash is no
// name the framework can give back (it reads the backslash as a separator):
// "d\victim.log", with a link d beside it, would name a file elsewhere.
TEST_F(LogFiles, PruningLeavesLinksAndSpecialFilesAloneAndDoesNotCountThem) {
    const std::string directory = temp_ / "PexilLog";
    fs::create_directory(directory);
    const auto now = fs::file_time_type::clock::now();
    for (int i = 1; i <= 7; ++i) {
        const std::string path = temp_.Write(Native("PexilLog/" + std::to_string(i) + ".log"), "x");
        fs::last_write_time(path, now - std::chrono::hours(i));
    }
    // Newer than every log, were it taken for one through its link.
    const std::string target = temp_.Write("target.log", "kept\n");
    fs::last_write_time(target, now - std::chrono::minutes(30));
    fs::create_symlink(target, directory + "/0.log");
    fs::create_symlink("/dev/null", directory + "/device.log");
    ASSERT_EQ(0, ::mkfifo((directory + "/fifo.log").c_str(), 0666));
    const std::string victim = temp_.Write("elsewhere/victim.log", "kept\n");
    fs::create_directory_symlink(temp_ / "elsewhere", directory + "/d");
    const std::string backslashed = temp_.Write("PexilLog/d\\victim.log", "x");
    fs::last_write_time(backslashed, now - std::chrono::hours(100));
    log::LogDirectoryCallback callback;
    log::PruneLogFiles(temp_.str().c_str(), callback);
    std::set<std::string> remaining;
    for (const auto& entry : fs::directory_iterator(directory))
        remaining.insert(entry.path().filename().string());
    EXPECT_EQ((std::set<std::string>{"0.log", "1.log", "2.log", "3.log", "4.log", "5.log", "d",
                                     "d\\victim.log", "device.log", "fifo.log"}),
              remaining);
    EXPECT_EQ("kept\n", Read(target));
    EXPECT_EQ("kept\n", Read(victim));
}
#endif

int64_t g_now = 0;
int64_t Now() {
    return g_now;
}

// The name is the local time, in the process's zone: here one half an hour off
// any whole hour from UTC, and a date after 2038 too.
TEST(LogFileNames, AreTheLocalTimeOfAZoneWithAHalfHourOffset) {
    TempDirectory temp;
    SystemOverride<int64_t (*)()> time(&platform::SystemCalls::currentTime, Now);
    platform::testing::SetTimeZone("IST-5:30");
    const std::pair<int64_t, const char*> moments[] = {
        {1228294501, "20081203_142501.log"},  // 2008-12-03 08:55:01 UTC
        {2214152999, "20400229_235959.log"},  // 2040-02-29 18:29:59 UTC
    };
    for (const auto& moment : moments) {
        g_now = moment.first;
        LogSink sink{nullptr, kNoLogFile};
        log::OpenLogFile(temp.str().c_str(), sink);
        EXPECT_NE(kNoLogFile, sink.file) << moment.second;
        if (sink.file != kNoLogFile) platform::CloseFile(sink.file);
        EXPECT_TRUE(fs::is_regular_file(temp / Native("PexilLog/") + moment.second))
            << moment.second;
    }
    platform::testing::SetTimeZone(nullptr);
}

TEST_F(LogFiles, PruningWithoutALogDirectoryDoesNothing) {
    log::LogDirectoryCallback callback;
    log::PruneLogFiles((temp_ / "nowhere").c_str(), callback);
    EXPECT_FALSE(fs::exists(temp_ / "nowhere"));
}

}  // namespace
}  // namespace pexil::testing
