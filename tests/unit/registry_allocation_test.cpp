// The parser allocates nothing but the file buffer and the stored entries.
// This program counts every operator new of the process.
#include "platform/platform.h"
#include "registry/component_registry.h"
#include "support/replaced_new.h"
#include "support/system_override.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <atomic>

namespace pexil::testing {
namespace {

std::atomic<long> g_platformAllocations{0};
void* CountingAllocate(size_t size) {
    ++g_platformAllocations;
    return platform::OriginalSystem().allocate(size);
}

TEST(RegistryAllocation, OnlyTheFileBufferAndOneNodePerNewEntry) {
    TempDirectory temp;
    std::string text = "[DefaultValue]\nDllPath=lib\nDefaultDll=Base.dll\n[LogDefault]\n";
    text += "OutputDebugString=EW\n";
    for (int id = 1; id <= 40; ++id) {
        text += "[" + std::to_string(id) + "]\nDLL=m" + std::to_string(id) +
                ".dll\nWriteToLogFile=E\nunknown=x\n# note\n";
    }
    text += "[7]\nDLL=again.dll\n";  // replaces entry 7: no new node
    const std::string file = temp.Write("Pexil.ini", text);

    ComponentRegistry registry;
    SystemOverride counting(&platform::SystemCalls::allocate, CountingAllocate);
    g_platformAllocations = 0;
    g_newCalls = 0;
    registry.LoadFile("", file.c_str());
    const long news = g_newCalls;
    EXPECT_EQ(1, g_platformAllocations.load());
    EXPECT_EQ(40, news);
    EXPECT_EQ(40u, registry.entries().size());
}

#if !defined(_WIN32)
// A parse costs many times a file's size (a key of each short line): a large
// profile file, here one of 100,000 keys, is scanned at every one-key
// question, never parsed, however often it is asked (pexil asks a Pexil.ini
// someone else wrote four times).
TEST(ProfileAllocation, ALargeFileIsScannedNotParsedForOneKey) {
    TempDirectory temp;
    std::string text;
    for (int line = 0; line < 100000; ++line)
        text += "key-beyond-short-strings\n";
    const std::string file = temp.Write("large.ini", text + "[s]\nk=v\n");
    platform::Sleep(3500);  // settled: the file may be kept
    g_newCalls = 0;
    for (int ask = 1; ask <= 4; ++ask) {
        char value[8] = "";
        EXPECT_EQ(1u, platform::GetPrivateProfileString("s", "k", "", value, 8, file.c_str()));
        EXPECT_STREQ("v", value) << ask;
    }
    EXPECT_GT(100, g_newCalls.load());
}
#endif

}  // namespace
}  // namespace pexil::testing
