// Every row of docs/reliability.md's table of bad inputs, tried: each gives a
// clear message or the documented null or empty result, the process goes on,
// and nothing already written is lost.
#include "component/factory_locator.h"
#include "factory/component_factory.h"
#include "log/log_files.h"
#include "platform/debug_capture.h"
#include "registry/component_registry.h"
#include "support/explaining.h"
#include "support/guarded_buffer.h"
#include "support/loaded_module.h"
#include "support/native_path.h"
#include "support/system_override.h"
#include "support/temp_directory.h"

#include <pexil/module.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#if defined(_WIN32)
#include <windows.h>
// Without the character-set macros, which would rename the platform's functions.
#undef GetPrivateProfileString
#undef LoadLibrary
#else
#include <sys/stat.h>
#endif

namespace pexil {

PEXIL_REGISTER_CREATOR(kFactoryComponentID, SingleInstance<ComponentFactory>::Create);

namespace testing {
namespace fs = std::filesystem;
namespace {

using platform::testing::DebugCapture;

// A string of a literal's bytes, zero bytes included (not its terminator).
template <size_t N>
std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

const std::string kLength259 = std::string(259, 'p');
const std::string kLength260 = std::string(260, 'p');
const std::string kLength1000 = std::string(1000, 'p');

TEST(BadInput, LongPathsInEveryPathTakingEntryPoint) {
    // SetDLLRegistry / GetRegistryPath (through a module's component).
    LoadedModule module("TestComponents.dll");
    for (const std::string* path : {&kLength259, &kLength260, &kLength1000}) {
        EXPECT_EQ(0, module.SetDLLRegistry(path->c_str()));
    }

    // The factory's registry paths and root path.
    auto* factory = static_cast<IComponentFactory*>(::CreateComponent(361, 0));
    ASSERT_NE(nullptr, factory);
    for (const std::string* path : {&kLength259, &kLength260, &kLength1000}) {
        EXPECT_EQ(nullptr, factory->CreateComponentByID(100, path->c_str()));
        factory->SetRootPath(path->c_str());
    }
    char root[kMaxPath];
    factory->GetRootPath(root);
    EXPECT_EQ(kLength259, root);  // the 260- and 1000-character ones left it alone

    // The locator's ini argument: no file of that name, the usual failure.
    DebugCapture capture;
    for (const std::string* path : {&kLength259, &kLength260, &kLength1000}) {
        EXPECT_EQ(nullptr, locator::LocateFactory(locator::Variant::FactoryHandle, path->c_str()));
    }
    const std::string fail = "[Pexil_Error] Load Brelnor.dll Fail.\n";
    EXPECT_EQ(fail + fail + fail, capture.Text());

    // A registry's own file path.
    ComponentRegistry registry;
    EXPECT_EQ(1, registry.LoadFile(kLength1000.c_str(), kLength1000.c_str()));
    EXPECT_STREQ("", registry.registryFilePath());
    factory->Release(1);
}

TEST(BadInput, LongValuesInIniFiles) {
    TempDirectory temp;
    // Locator entries: a 1000-character value is cut to the buffer by the reader
    // and then does not fit the path: the search fails as usual.
    const std::string ini =
        temp.Write("long.ini", "[Redirect]\nPath=" + kLength1000 + "\n[361]\nDLL=" + kLength1000 +
                                   "\n[DefaultValue]\nDllPath=" + kLength1000 + "\n");
    char buffer[kMaxPath];
    locator::FollowRedirect(locator::Variant::FactoryHandle, ini.c_str(), buffer, kMaxPath);
    EXPECT_LT(std::strlen(buffer), static_cast<size_t>(kMaxPath));
    GuardedBuffer<kMaxPath> dll;
    locator::GetFactoryDllPath(ini.c_str(), dll.data(), kMaxPath);
    EXPECT_TRUE(dll.guardIntact());

    // Registry values of 259 characters are taken; 260 and more have no effect.
    const std::string registryFile =
        temp.Write("r.ini", "[1]\nDLL=" + kLength259 + "\n[2]\nDLL=" + kLength260 +
                                "\n[3]\nDLL=" + kLength1000 + "\n");
    ComponentRegistry registry;
    registry.LoadFile("", registryFile.c_str());
    EXPECT_EQ(kLength259, registry.FindEntry(1)->dllName);
    EXPECT_STREQ("", registry.FindEntry(2)->dllName);
    EXPECT_STREQ("", registry.FindEntry(3)->dllName);
}

TEST(BadInput, OddBytesInRegistryFiles) {
    TempDirectory temp;
    struct Case {
        const char* name;
        std::string text;
        size_t entries;
    } cases[] = {
        // A zero byte ends a line's text: "[2]" and "[3]" stand behind one.
        {"zero bytes", Bytes("[1]\0[2]\nDLL=a\0b.dll\n\0\0[3]\n"), 1},
        {"lone carriage returns", "[1]\rDLL=a.dll\r\r[2]\rDLL=b.dll", 2},
        {"a 10 MB line", "[1]\nDLL=" + std::string(10 * 1024 * 1024, 'x') + "\n[2]\n", 2},
        {"no line end at all", std::string(100000, '['), 0},
        {"invalid UTF-8", "\xC3\x28[\xA0\xA1]\n[4]\nDLL=\xF0\x28\x8C\x28.dll\n", 1},
        {"UTF-16",
         std::string("\xFF\xFE[\0"
                     "5\0]\0\n\0",
                     10),
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComponentRegistry registry;
        EXPECT_EQ(1, registry.LoadFile("", temp.Write("odd.ini", c.text).c_str()));
        EXPECT_EQ(c.entries, registry.entries().size());
    }
    ComponentRegistry zero;
    zero.LoadFile("", temp.Write("zero.ini", cases[0].text).c_str());
    EXPECT_STREQ("a", zero.FindEntry(1)->dllName);
}

TEST(BadInput, OddBytesInProfileFiles) {
    TempDirectory temp;
    char value[64];
    // A 10 MB value is cut to the buffer.
    std::string file = temp.Write("p.ini", "[s]\nk=" + std::string(10 * 1024 * 1024, 'v') + "\n");
    EXPECT_EQ(63u, platform::GetPrivateProfileString("s", "k", "", value, 64, file.c_str()));
    // Zero bytes, lone CRs and no final line end.
    file = temp.Write("p.ini", Bytes("[s]\rk=a\0b\rj=c"));
    EXPECT_EQ(1u, platform::GetPrivateProfileString("s", "k", "", value, 64, file.c_str()));
    EXPECT_STREQ("a", value);
    EXPECT_EQ(1u, platform::GetPrivateProfileString("s", "j", "", value, 64, file.c_str()));
    EXPECT_STREQ("c", value);
    // Invalid UTF-8 behind a mark and a truncated UTF-16 file.
    file = temp.Write("p.ini", "\xEF\xBB\xBF[s]\nk=\xC3\x28\n");
    EXPECT_EQ(2u, platform::GetPrivateProfileString("s", "k", "", value, 64, file.c_str()));
    // An odd number of bytes: the last one is half a character. (What Windows
    // makes of it depends on memory past the file; here it is ignored.)
    file = temp.Write("p.ini", Bytes("\xFF\xFE[\0s\0]\0\n\0k\0=\0v"));
    const uint32_t length =
        platform::GetPrivateProfileString("s", "k", "", value, 64, file.c_str());
    EXPECT_LE(length, 1u);
    EXPECT_EQ(length, std::strlen(value));
}

TEST(BadInput, ARegistryPathNamingADirectory) {
    TempDirectory temp;
    fs::create_directory(temp / "folder.ini");
    ComponentRegistry registry;
    EXPECT_EQ(1, registry.LoadFile("", (temp / "folder.ini").c_str()));
    EXPECT_TRUE(registry.entries().empty());

    auto* factory = static_cast<IComponentFactory*>(::CreateComponent(361, 0));
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(nullptr, factory->CreateComponentByID(100, (temp / "folder.ini").c_str()));
    factory->Release(1);
}

// Where a file is read, something else under its name reads as missing at
// once: nothing blocks on a FIFO (POSIX) or a pipe (Windows), and the
// explaining trace says what was there.
TEST(BadInput, AFifoOrPipeWhereAFileIsReadReadsAsMissingWithoutBlocking) {
    TempDirectory temp;
#if defined(_WIN32)
    const std::string special =
        "\\\\.\\pipe\\pexil-bad-input-" + std::to_string(::GetCurrentProcessId());
    const HANDLE pipe = ::CreateNamedPipeA(special.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 4,
                                           512, 512, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    const std::string reason = "it is not a regular file but a pipe or a device";
#else
    const std::string special = temp / "fifo.ini";
    ASSERT_EQ(0, ::mkfifo(special.c_str(), 0666));
    const std::string reason = "it is not a regular file but a FIFO";
#endif
    EXPECT_EQ(platform::kInvalidHandle, platform::OpenFileForRead(special.c_str()));
    char why[256] = "";
    platform::LastErrorText(why, sizeof(why));
    EXPECT_EQ(reason, why);
    {
        const Explaining explaining;
        DebugCapture capture;
        ComponentRegistry registry;
        EXPECT_EQ(1, registry.LoadFile("", special.c_str()));
        EXPECT_FALSE(registry.fileRead());
        EXPECT_TRUE(registry.entries().empty());
#if defined(_WIN32)
        // A pipe is no path _access knows: it reads as missing, unexplained.
        EXPECT_EQ("", capture.Text());
#else
        EXPECT_EQ("Pexil[Explain]: the registry file " + special + " cannot be read: " + reason +
                      "; it reads as missing\n",
                  capture.Text());
#endif
    }
#if defined(_WIN32)
    ::CloseHandle(pipe);
#else
    // The profile reader and both redirect rules: the default, no redirect.
    char value[16];
    EXPECT_EQ(7u, platform::GetPrivateProfileString("361", "DLL", "default", value, sizeof(value),
                                                    special.c_str()));
    const std::string ini = temp.Write("Pexil.ini", "[Redirect]\nPath=" + special + "\n");
    char file[kMaxPath];
    EXPECT_EQ(1, FollowFactoryRedirect(ini.c_str(), file, kMaxPath));
    EXPECT_EQ(special, file);
    EXPECT_EQ(
        1, locator::FollowRedirect(locator::Variant::FactoryHandle, ini.c_str(), file, kMaxPath));
    EXPECT_EQ(special, file);
    // A FIFO named as a module never reaches the loader, which would block on it.
    EXPECT_EQ(nullptr, platform::LoadLibrary(special.c_str()));
    char loader[512] = "";
    platform::LoadFailureReason(loader, sizeof(loader));
    EXPECT_EQ(special + ": not a regular file (a FIFO, a socket or a device): not loaded",
              std::string(loader));
    // Nor does a device, which might act on being opened.
    EXPECT_EQ(nullptr, platform::LoadLibrary("/dev/null"));
    platform::LoadFailureReason(loader, sizeof(loader));
    EXPECT_STREQ("/dev/null: not a regular file (a FIFO, a socket or a device): not loaded",
                 loader);
#endif
}

// A registry or profile file too large to read (over the limit, or 4 GiB and
// more, whose size does not fit 32 bits) is unreadable, with a message; it is
// never read in part, and nothing throws (a string cannot hold 2 GiB in 32
// bits). The files are sparse: nothing of them is written or read.
TEST(BadInput, AFileTooLargeToReadIsUnreadable) {
    TempDirectory temp;
    const std::string big = temp.Write("big.ini", "[5]\nDLL=x.dll\n");
    // Over the limit; 3 GiB, more than a 32-bit string holds; 4 GiB and more.
    for (const uint64_t size :
         {uint64_t{platform::kMaxReadFileSize} + 1, uint64_t{3} << 30, (uint64_t{1} << 32) + 14}) {
        SCOPED_TRACE(size);
        fs::resize_file(big, size);
        const Explaining explaining;
        DebugCapture capture;
        ComponentRegistry registry;
        registry.LoadFile("", big.c_str());
        EXPECT_FALSE(registry.fileRead());
        EXPECT_TRUE(registry.entries().empty());
        EXPECT_EQ("Pexil[Explain]: the registry file " + big +
                      " is larger than 1073741824 bytes: it is not read\n",
                  capture.Text());
#if !defined(_WIN32)
        char value[16];
        EXPECT_EQ(7u, platform::GetPrivateProfileString("5", "DLL", "default", value, sizeof(value),
                                                        big.c_str()));
#endif
    }
}

TEST(BadInput, RedirectLoopsOfOneAndThreeFilesEndInBothRules) {
    TempDirectory temp;
    const std::string a = temp / "a.ini", b = temp / "b.ini", c = temp / "c.ini";
    temp.Write("self.ini", "[Redirect]\nPath=" + (temp / "self.ini") + "\n");
    temp.Write("a.ini", "[Redirect]\nPath=" + b + "\n");
    temp.Write("b.ini", "[Redirect]\nPath=" + c + "\n");
    temp.Write("c.ini", "[Redirect]\nPath=" + a + "\n");
    auto loop = [](const std::string& from, const std::string& to) {
        return "[Pexil_Error] Redirect loop: " + from + " redirects to " + to +
               ", which the chain has already passed.\n";
    };
    char buffer[kMaxPath];
    for (int factoryRule = 0; factoryRule < 2; ++factoryRule) {
        SCOPED_TRACE(factoryRule ? "factory" : "locator");
        DebugCapture capture;
        for (const std::string& start : {temp / "self.ini", a}) {
            const int found = factoryRule
                                  ? FollowFactoryRedirect(start.c_str(), buffer, kMaxPath)
                                  : locator::FollowRedirect(locator::Variant::FactoryHandle,
                                                            start.c_str(), buffer, kMaxPath);
            EXPECT_EQ(0, found);
        }
        EXPECT_EQ(loop(temp / "self.ini", temp / "self.ini") + loop(c, a), capture.Text());
    }
}

TEST(BadInput, ADllThatIsNoSharedLibrary) {
    TempDirectory temp;
    temp.Write("x.dll", "this is text, not a module\n");
    ComponentRegistry registry;
    registry.LoadFile("", temp.Write("r.ini", "[5]\nDLL=x.dll\nNotUseDefaultDllPath=1\n").c_str());
    DebugCapture capture;
    EXPECT_EQ(nullptr, registry.CreateByID(5));
    EXPECT_EQ("[Pexil_Error] LoadLibrary Fail.\n[Pexil_Error] DLL Path:" + (temp / "x.dll") + "\n",
              capture.Text());
}

// Makes one export look missing in every module.
std::string g_missing;
void* HideExport(PexilModuleHandle module, const char* name) {
    if (g_missing == name) return nullptr;
    return platform::OriginalSystem().getProcAddress(module, name);
}

TEST(BadInput, AModuleMissingEachExportInTurn) {
    TempDirectory temp;
    const std::string file =
        temp.Write("r.ini", "[101]\nDLL=" + BesideProgram("TestComponents.dll") + "\n");
    const char* exports[] = {"CreateComponent",      "SetDLLRegistry",   "PexilDllFreeMap",
                             "PexilDllCanUnloadNow", "SetFactoryHandle", "PexilSetDllSafe",
                             "GetComponentIDs"};
    for (const char* missing : exports) {
        SCOPED_TRACE(missing);
        g_missing = missing;
        auto* factory = static_cast<IComponentFactory*>(::CreateComponent(361, 0));
        ASSERT_NE(nullptr, factory);
        SystemOverride hiding(&platform::SystemCalls::getProcAddress, HideExport);
        DebugCapture capture;
        IComponent* component = factory->CreateComponentByID(101, file.c_str());
        const bool creates = g_missing != "CreateComponent";
        EXPECT_EQ(creates, component != nullptr);
        if (!creates) {
            EXPECT_EQ("[Pexil_Error] Can't find CreateComponent().\n[Pexil_Error] DLL:" +
                          BesideProgram("TestComponents.dll") + "\n",
                      capture.Text());
        }
        if (component != nullptr) component->Release(0);
        LoadedModule module("TestComponents.dll");
        // Without the question the module is never freed.
        EXPECT_EQ(g_missing == "PexilDllCanUnloadNow" ? 0 : 1,
                  factory->UnloadDllIfIdle(module.handle()));
        factory->Release(1);
    }
    g_missing.clear();
}

TEST(BadInput, OneHundredThousandSections) {
    TempDirectory temp;
    std::string text;
    for (int id = 1; id <= 100000; ++id) {
        text += "[" + std::to_string(id) + "]\nDLL=m" + std::to_string(id % 97) + ".dll\n";
    }
    ComponentRegistry registry;
    registry.LoadFile("", temp.Write("big.ini", text).c_str());
    ASSERT_EQ(100000u, registry.entries().size());
    EXPECT_STREQ("m90.dll", registry.FindEntry(100000)->dllName);  // 100000 % 97
}

TEST(BadInput, ALogDirectoryFullOfOtherFiles) {
    TempDirectory temp;
    for (int i = 0; i < 1000; ++i)
        temp.Write(Native("PexilLog/other" + std::to_string(i) + ".txt"), "x");
    for (int i = 1; i <= 7; ++i) {
        const std::string path = temp.Write(Native("PexilLog/" + std::to_string(i) + ".log"), "x");
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(i));
    }
    log::LogDirectoryCallback callback;
    log::PruneLogFiles(temp.str().c_str(), callback);
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(temp / "PexilLog"))
        files += entry.exists();
    EXPECT_EQ(1005u, files);
    EXPECT_FALSE(fs::exists(temp / Native("PexilLog/7.log")));
}

}  // namespace
}  // namespace testing
}  // namespace pexil
