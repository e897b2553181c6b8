// The shared log file's name and creation, and pruning, on real directories.
#include "log/log_files.h"
#include "platform/debug_capture.h"
#include "platform/platform.h"
#include "support/native_path.h"
#include "support/system_override.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>
#include <vector>

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
platform::Handle RefuseOpenLogFile(const char* path) {
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
