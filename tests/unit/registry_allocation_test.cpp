// The parser allocates nothing but the file buffer and one block of compact
// entries, and a registry takes a small multiple of its file's size. This
// program counts every operator new of the process.
#include "platform/platform.h"
#include "registry/component_registry.h"
#include "support/replaced_new.h"
#include "support/system_override.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace pexil::testing {
namespace {

std::atomic<long> g_platformAllocations{0};
std::atomic<long long> g_platformBytes{0};
void* CountingAllocate(size_t size) {
    ++g_platformAllocations;
    g_platformBytes += static_cast<long long>(size);
    return platform::OriginalSystem().allocate(size);
}

TEST(RegistryAllocation, OnlyTheFileBufferAndOneBlockOfEntries) {
    TempDirectory temp;
    std::string text = "[DefaultValue]\nDllPath=lib\nDefaultDll=Base.dll\n[LogDefault]\n";
    text += "OutputDebugString=EW\n";
    for (int id = 40; id >= 1; --id) {
        text += "[" + std::to_string(id) + "]\nDLL=m" + std::to_string(id) +
                ".dll\nWriteToLogFile=E\nunknown=x\n# note\n";
    }
    text += "[7]\nDLL=again.dll\n";  // replaces entry 7
    const std::string file = temp.Write("Pexil.ini", text);

    ComponentRegistry registry;
    SystemOverride counting(&platform::SystemCalls::allocate, CountingAllocate);
    g_platformAllocations = 0;
    g_newCalls = 0;
    registry.LoadFile("", file.c_str());
    const long news = g_newCalls;
    EXPECT_EQ(1, g_platformAllocations.load());
    EXPECT_EQ(1, news);
    ASSERT_EQ(40u, registry.entries().size());
    EXPECT_STREQ("again.dll", registry.FindEntry(7)->dllName);
}

// Everything LoadFile allocates, over the file's size.
double BytesPerFileByte(const std::string& file, size_t fileSize) {
    ComponentRegistry registry;
    SystemOverride counting(&platform::SystemCalls::allocate, CountingAllocate);
    g_platformBytes = 0;
    g_newBytes = 0;
    registry.LoadFile("", file.c_str());
    return static_cast<double>(g_platformBytes + g_newBytes) / static_cast<double>(fileSize);
}

// Each entry a pointer-sized DLL name and 16 bytes besides; each needs a
// header line of at least four bytes ("[1]" and a line end).
TEST(RegistryAllocation, ARegistryTakesASmallMultipleOfItsFileSize) {
    TempDirectory temp;
    const double entry = static_cast<double>(sizeof(RegistryEntry));
    struct Case {
        const char* name;
        std::string text;
        double most;  // bytes allocated per byte of the file
    } cases[] = {
        {"one-line sections", "", 1 + entry / 8},  // "[12345]\n" and the like
        {"sections replacing each other", "", 1 + entry / 4},
        {"brackets only", std::string(1 << 20, '['), 1 + entry / 4},
        {"sections with keys", "", 2},
    };
    for (int id = 10000; id < 100000; ++id)
        cases[0].text += "[" + std::to_string(id) + "]\n";
    for (int i = 0; i < 100000; ++i)
        cases[1].text += i % 2 != 0 ? "[1]\n" : "[2]\n";
    for (int id = 1; id < 10000; ++id) {
        cases[3].text += "[" + std::to_string(id) + "]\nDLL=m" + std::to_string(id % 97) +
                         ".dll\nOutputDebugString=EW\n";
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const double multiple =
            BytesPerFileByte(temp.Write("big.ini", c.text).c_str(), c.text.size());
        EXPECT_LE(multiple, c.most + 0.001);  // the text's terminator, one more entry
        EXPECT_GE(multiple, 1.0);             // the text itself
    }
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
