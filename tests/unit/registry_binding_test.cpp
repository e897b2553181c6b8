// Binding component IDs to DLLs, with real test modules loaded for real.
#include "modules/test_interfaces.h"
#include "platform/debug_capture.h"
#include "registry/component_registry.h"
#include "support/explaining.h"
#include "support/loaded_module.h"
#include "support/native_path.h"
#include "support/system_override.h"
#include "support/temp_directory.h"

#include <pexil/module.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace pexil::testing {
namespace {

using platform::testing::DebugCapture;

// A registry read from a file in its own directory; DllPath defaults to the
// directory of the test program, where the test modules lie.
class Binding : public ::testing::Test {
protected:
    void Load(const std::string& text, const char* registryPath = "") {
        file_ = temp_.Write("registry.ini", text);
        registry_.LoadFile(registryPath, file_.c_str());
    }
    static std::string ProgramDirectory() { return RecomputedHostDirectory(); }
    static std::string Modules() { return "[DefaultValue]\nDllPath=" + ProgramDirectory() + "\n"; }
    PexilModuleHandle ModuleOf(uint32_t id) {
        return registry_.StateOf(*registry_.FindEntry(id)).module;
    }

    TempDirectory temp_;
    std::string file_;
    ComponentRegistry registry_;
};

// Lookups in modules the registries load (not in this program, where a module
// going idle looks for the factory the registry named: this program).
int g_lookups = 0;
void* CountingLookup(PexilModuleHandle module, const char* name) {
    if (module != ModuleHandle()) ++g_lookups;
    return platform::OriginalSystem().getProcAddress(module, name);
}

// The loader calls for the test module (a module going idle may load the
// factory through the same table), and the references given back on it.
int g_moduleLoads = 0;
int g_moduleFrees = 0;
PexilModuleHandle g_module = nullptr;
PexilModuleHandle CountingModuleLoad(const char* path) {
    const PexilModuleHandle module = platform::OriginalSystem().loadLibrary(path);
    const std::string name = path;
    const std::string tail = "TestComponents.dll";
    if (name.size() >= tail.size() &&
        name.compare(name.size() - tail.size(), tail.size(), tail) == 0) {
        ++g_moduleLoads;
        g_module = module;
    }
    return module;
}
int CountingModuleFree(PexilModuleHandle module) {
    if (module == g_module) ++g_moduleFrees;
    return platform::OriginalSystem().freeLibrary(module);
}

// One loader reference per DLL path per registry: taken at the first load
// through any entry of the path, given back once by UnloadModule. The module
// is loaded and unloaded at the same moments as with a reference per entry.
TEST_F(Binding, EntriesNamingOneDllShareOneReferenceGivenBackOnce) {
    Load(Modules() + "[100]\nDLL=TestComponents.dll\n[101]\nDLL=TestComponents.dll\n");
    // The module's three exports are looked up once per load in a registry,
    // whichever of its entries loads it first; the same calls follow at every
    // request.
    SystemOverride lookups(&platform::SystemCalls::getProcAddress, CountingLookup);
    SystemOverride loads(&platform::SystemCalls::loadLibrary, CountingModuleLoad);
    SystemOverride frees(&platform::SystemCalls::freeLibrary, CountingModuleFree);
    DebugCapture capture;
    g_lookups = g_moduleLoads = g_moduleFrees = 0;
    IComponent* first = registry_.CreateByID(100);
    IComponent* second = registry_.CreateByID(101);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(1, g_moduleLoads);
    EXPECT_EQ(3, g_lookups);
    registry_.CreateByID(101)->Release(0);
    EXPECT_EQ(1, g_moduleLoads);
    EXPECT_EQ(3, g_lookups);
    const EntryState a = registry_.StateOf(*registry_.FindEntry(100));
    const EntryState b = registry_.StateOf(*registry_.FindEntry(101));
    ASSERT_NE(nullptr, a.module);
    EXPECT_EQ(a.module, b.module);
    EXPECT_EQ(ProgramDirectory() + Native("/TestComponents.dll"), a.fullPath);
    EXPECT_EQ(std::string(a.fullPath), b.fullPath);
    const std::string path = a.fullPath;
    first->Release(1);
    second->Release(0);

    registry_.UnloadModule(a.module);
    EXPECT_EQ(1, g_moduleFrees);
    EXPECT_EQ(nullptr, ModuleOf(100));
    EXPECT_EQ(nullptr, ModuleOf(101));
    EXPECT_FALSE(platform::IsModuleLoaded(path.c_str()));  // the one reference given back

    // The next request loads it again from the same path, and looks its
    // exports up anew: the module may lie at another address now.
    IComponent* again = registry_.CreateByID(101);
    ASSERT_NE(nullptr, again);
    EXPECT_EQ(2, g_moduleLoads);
    EXPECT_EQ(6, g_lookups);
    EXPECT_EQ(path, registry_.StateOf(*registry_.FindEntry(101)).fullPath);
    EXPECT_TRUE(platform::IsModuleLoaded(path.c_str()));

    // Another registry naming the same DLL holds a reference of its own:
    // freed through one registry, the module stays loaded for the other.
    ComponentRegistry other;
    other.LoadFile("other.ini", file_.c_str());
    IComponent* fromOther = other.CreateByID(100);
    ASSERT_NE(nullptr, fromOther);
    other.CreateByID(101)->Release(0);
    EXPECT_EQ(3, g_moduleLoads);
    EXPECT_EQ(9, g_lookups);
    again->Release(0);
    fromOther->Release(1);
    const PexilModuleHandle module = ModuleOf(101);
    registry_.UnloadModule(module);
    EXPECT_EQ(2, g_moduleFrees);
    EXPECT_TRUE(platform::IsModuleLoaded(path.c_str()));
    other.UnloadModule(module);
    EXPECT_EQ(3, g_moduleFrees);
    EXPECT_FALSE(platform::IsModuleLoaded(path.c_str()));
    other.UnloadModule(module);  // nothing held any more
    EXPECT_EQ(3, g_moduleFrees);
    IComponent* reloaded = other.CreateByID(100);
    ASSERT_NE(nullptr, reloaded);
    EXPECT_EQ(4, g_moduleLoads);
    EXPECT_EQ(12, g_lookups);
    reloaded->Release(1);
    other.UnloadModule(other.StateOf(*other.FindEntry(100)).module);
    EXPECT_EQ(4, g_moduleFrees);
    // None of this is reported by the registry (the module, going idle, looks
    // for a factory this program does not offer, and says so).
    EXPECT_EQ(std::string::npos, capture.Text().find("LoadLibrary")) << capture.Text();
    EXPECT_EQ(std::string::npos, capture.Text().find("[Pexil_Error] DLL")) << capture.Text();
}

TEST_F(Binding, AnEntryThatFailsToLoadReportsAtEveryRequestAndTouchesNoOtherID) {
    Load(Modules() + "[50]\nDLL=missing.dll\n[101]\nDLL=TestComponents.dll\n");
    const std::string messages =
        "[Pexil_Error] LoadLibrary Fail.\n[Pexil_Error] DLL Path:" + ProgramDirectory() +
        Native("/missing.dll\n");
    DebugCapture capture;
    EXPECT_EQ(nullptr, registry_.CreateByID(50));
    EXPECT_EQ(nullptr, registry_.CreateByID(50));
    EXPECT_EQ(messages + messages, capture.Text());
    IComponent* other = registry_.CreateByID(101);
    EXPECT_NE(nullptr, other);
    EXPECT_EQ(messages + messages, capture.Text());
    if (other != nullptr) other->Release(0);
    registry_.UnloadModule(ModuleOf(101));
}

TEST_F(Binding, AnEmptyDllNameNamesADirectoryAndNeverFallsBackToTheDefault) {
    Load(Modules() + "DefaultDll=TestComponents.dll\n[51]\n[52]\nNotUseDefaultDllPath=1\n");
    DebugCapture capture;
    EXPECT_EQ(nullptr, registry_.CreateByID(51));
    EXPECT_EQ(nullptr, registry_.CreateByID(52));
    EXPECT_EQ("[Pexil_Error] LoadLibrary Fail.\n[Pexil_Error] DLL Path:" + ProgramDirectory() +
                  Native("/\n") + "[Pexil_Error] LoadLibrary Fail.\n[Pexil_Error] DLL Path:" +
                  temp_.str() + Native("/\n"),
              capture.Text());
    EXPECT_EQ(nullptr, registry_.defaultDllHandle());  // never tried
}

// Two mistakes the registry's rules leave silent, explained by the trace: a
// registry saved as UTF-16 (Notepad's "Unicode") binds nothing, and a DLL
// beside a registry whose path has a '/' after its last backslash is looked
// for at that backslash (Windows' rule, kept: stored files rely on it).
TEST_F(Binding, TheTraceExplainsAUtf16FileAndADirectoryCutBeforeASlash) {
    const Explaining explaining;
    DebugCapture capture;
    Load(
        std::string("\xff\xfe[\0"
                    "1\0]\0\r\0\n\0",
                    12));
    EXPECT_TRUE(registry_.entries().empty());
    // And as Notepad's "Unicode big endian" writes it.
    const std::string bigEndian = temp_.Write("big.ini", std::string("\xfe\xff\0[\0"
                                                                     "1\0]",
                                                                     8));
    ComponentRegistry big;
    big.LoadFile("", bigEndian.c_str());
    const std::string utf16 =
        " text (it begins with that byte-order mark, as Notepad's \"Unicode\" writes): it is read "
        "as bytes, so no line of it is understood and it binds no component; save it as ANSI or "
        "UTF-8\n";
    EXPECT_EQ("Pexil[Explain]: the registry file " + file_ + " is UTF-16 LE" + utf16 +
                  "Pexil[Explain]: the registry file " + bigEndian + " is UTF-16 BE" + utf16,
              capture.Text());
#if defined(_WIN32)
    temp_.Write("conf2\\geo.ini", "[100]\nDLL=TestComponents.dll\nNotUseDefaultDllPath=1\n");
    std::filesystem::create_directory(temp_ / "bin");
    const std::string geo = (temp_ / "bin") + "\\../conf2/geo.ini";
    ComponentRegistry mixed;
    mixed.LoadFile("../conf2/geo.ini", geo.c_str());
    EXPECT_EQ(nullptr, mixed.CreateByID(100));
    EXPECT_NE(std::string::npos, capture.Text().find("[Pexil_Error] DLL Path:" + (temp_ / "bin") +
                                                     "\\TestComponents.dll\n"))
        << capture.Text();
    EXPECT_NE(std::string::npos,
              capture.Text().find("Pexil[Explain]: component 100: its DLL is looked for beside "
                                  "the registry file, in " +
                                  (temp_ / "bin") + ": the directory of " + geo +
                                  " ends at its last backslash, and a '/' after it does not "
                                  "count; write the registry path with backslashes only\n"))
        << capture.Text();
#endif
}

TEST_F(Binding, WithoutAnEntryOrADefaultEveryRequestFailsSilently) {
    Load("[1]\nDLL=x.dll\n");
    DebugCapture capture;
    EXPECT_EQ(nullptr, registry_.CreateByID(77));
    EXPECT_EQ(ComponentRegistry::FailedHandle(), registry_.defaultDllHandle());
    EXPECT_EQ(nullptr, registry_.CreateByID(78));
    EXPECT_EQ("", capture.Text());
}

TEST_F(Binding, ADefaultThatFailedIsNeverTriedAgain) {
    Load("[DefaultValue]\nDllPath=" + temp_.str() + "\nDefaultDll=later.dll\n");
    EXPECT_EQ(nullptr, registry_.CreateByID(100));
    EXPECT_EQ(ComponentRegistry::FailedHandle(), registry_.defaultDllHandle());
    std::filesystem::copy_file(BesideProgram("TestComponents.dll"), temp_ / "later.dll");
    EXPECT_EQ(nullptr, registry_.CreateByID(100));
    EXPECT_FALSE(platform::IsModuleLoaded((temp_ / "later.dll").c_str()));
}

TEST_F(Binding, TheDefaultDllServesIDsWithoutEntriesAndIsNeverFreed) {
    Load(Modules() + "DefaultDll=TestComponents.dll\n[101]\nDLL=TestComponents.dll\n");
    IComponent* viaDefault = registry_.CreateByID(100);
    ASSERT_NE(nullptr, viaDefault);
    const PexilModuleHandle module = registry_.defaultDllHandle();
    IComponent* viaEntry = registry_.CreateByID(101);
    viaDefault->Release(1);
    viaEntry->Release(0);
    registry_.UnloadModule(module);
    EXPECT_EQ(nullptr, ModuleOf(101));
    EXPECT_EQ(module, registry_.defaultDllHandle());
    EXPECT_TRUE(platform::IsModuleLoaded(BesideProgram("TestComponents.dll").c_str()));
    platform::FreeLibrary(module);  // the default's own reference, given back by the test
}

TEST_F(Binding, TheModuleIsToldTheRegistryAndTheFactoryBeforeEveryCreation) {
    Load(Modules() + "DefaultDll=TestComponents.dll\n", "named.ini");
    auto* probe = static_cast<IModuleProbe*>(registry_.CreateByID(kModuleProbe));
    ASSERT_NE(nullptr, probe);
    char path[kMaxPath];
    probe->CopyRegistryPath(path, kMaxPath);
    EXPECT_STREQ("named.ini", path);
    EXPECT_EQ(ModuleHandle(), probe->OwnFactoryHandle());

    auto setRegistry = reinterpret_cast<SetDLLRegistryFunction>(
        platform::GetProcAddress(registry_.defaultDllHandle(), "SetDLLRegistry"));
    setRegistry("changed.ini");
    IComponent* component = registry_.CreateByID(kPlainComponent);
    probe->CopyRegistryPath(path, kMaxPath);
    EXPECT_STREQ("named.ini", path);
    component->Release(0);
    probe->Release(0);
    platform::FreeLibrary(registry_.defaultDllHandle());
}

TEST_F(Binding, AModuleWithoutTheTwoSettersStillGetsItsCreateComponentCall) {
    Load("[300]\nDLL=" + BesideProgram(Native("plain/MinimalModule.dll")) + "\n");
    IComponent* component = registry_.CreateByID(300);
    ASSERT_NE(nullptr, component);
    EXPECT_EQ(1, component->GetVersion());  // created once
    EXPECT_EQ(component, registry_.CreateByID(300));
    EXPECT_EQ(2, component->GetVersion());
    registry_.UnloadModule(ModuleOf(300));
}

TEST_F(Binding, ModulesWithoutCreateComponentAreReportedAndStayLoaded) {
    const std::string noExports = BesideProgram(Native("plain/NoExports.dll"));
    Load("[DefaultValue]\nDefaultDll=" + noExports + "\n[60]\nDLL=" + noExports + "\n");
    DebugCapture capture;
    EXPECT_EQ(nullptr, registry_.CreateByID(60));
    EXPECT_EQ(nullptr, registry_.CreateByID(61));
    EXPECT_EQ("[Pexil_Error] Can't find CreateComponent().\n[Pexil_Error] DLL:" + noExports +
                  "\n[Pexil_Error] Can't find CreateComponent() in Default Component DLL.\n",
              capture.Text());
    EXPECT_NE(nullptr, ModuleOf(60));
    EXPECT_NE(ComponentRegistry::FailedHandle(), registry_.defaultDllHandle());
    registry_.UnloadModule(ModuleOf(60));
    platform::FreeLibrary(registry_.defaultDllHandle());
}

TEST_F(Binding, ACreatorReturningNullIsReportedByBothSides) {
    Load(Modules() + "[103]\nDLL=TestComponents.dll\n");
    DebugCapture capture;
    EXPECT_EQ(nullptr, registry_.CreateByID(kNullCreatorComponent));
    EXPECT_EQ(
        "Pexil[Error]:CreateComponent method return NULL.\n"
        "Pexil[Error]: ComponentID=103 CreatorID=361"
        "[Pexil_Error] CreateComponent(ComponentId=103) return null.\n",
        capture.Text());
    registry_.UnloadModule(ModuleOf(103));
}

TEST_F(Binding, LogMasksComeBothFromTheEntryOrBothFromTheDefaults) {
    Load(
        "[LogDefault]\nOutputDebugString=EW\nWriteToLogFile=T\n[1]\nWriteToLogFile=E\n"
        "[2]\nDLL=x.dll\n");
    uint32_t debug = 99, log = 99;
    registry_.GetLogMasks(1, &debug, &log);
    EXPECT_EQ(0u, debug);
    EXPECT_EQ(0x01u, log);
    registry_.GetLogMasks(2, &debug, &log);  // an entry without mask lines
    EXPECT_EQ(0x11u, debug);
    EXPECT_EQ(0x02u, log);
    registry_.GetLogMasks(3, &debug, &log);  // no entry
    EXPECT_EQ(0x11u, debug);
    EXPECT_EQ(0x02u, log);
}

TEST_F(Binding, UnloadingAHandleNoEntryHoldsChangesNothing) {
    Load(Modules() + "[101]\nDLL=TestComponents.dll\n");
    IComponent* component = registry_.CreateByID(101);
    const PexilModuleHandle module = ModuleOf(101);
    registry_.UnloadModule(reinterpret_cast<PexilModuleHandle>(static_cast<uintptr_t>(0x5000)));
    EXPECT_EQ(module, ModuleOf(101));
    component->Release(0);
    registry_.UnloadModule(module);
}

int g_loads = 0;
PexilModuleHandle CountingLoad(const char* path) {
    ++g_loads;
    return platform::OriginalSystem().loadLibrary(path);
}

TEST_F(Binding, APathCutToFitIsNeverHandedToTheLoader) {
    // A 250-character directory and a 20-character name: 271 characters.
    const std::string directory =
        temp_.str() + Native("/") + std::string(249 - temp_.str().size(), 'd');
    const std::string name = "component-name-x.dll";
    Load("[DefaultValue]\nDllPath=" + directory + "\nDefaultDll=" + name + "\n[70]\nDLL=" + name +
         "\n");
    ASSERT_EQ(250u, directory.size());
    SystemOverride counting(&platform::SystemCalls::loadLibrary, CountingLoad);
    g_loads = 0;
    DebugCapture capture;
    EXPECT_EQ(nullptr, registry_.CreateByID(70));
    const std::string cut = (directory + Native("/") + name).substr(0, 259);
    EXPECT_EQ("[Pexil_Error] LoadLibrary Fail.\n[Pexil_Error] DLL Path:" + cut + "\n",
              capture.Text());
    EXPECT_EQ(cut, registry_.StateOf(*registry_.FindEntry(70)).fullPath);
    // The default DLL path was cut as well: a failed default, nothing loaded.
    EXPECT_EQ(nullptr, registry_.CreateByID(71));
    EXPECT_EQ(ComponentRegistry::FailedHandle(), registry_.defaultDllHandle());
    EXPECT_EQ(0, g_loads);

    // A later absolute DefaultDll replaces the cut one whole: it is no cut default,
    // and it serves the IDs without an entry.
    const std::string module = BesideProgram("TestComponents.dll");
    const std::string file =
        temp_.Write("replaced.ini", "[DefaultValue]\nDllPath=" + directory +
                                        "\nDefaultDll=" + name + "\nDefaultDll=" + module + "\n");
    ComponentRegistry replaced;
    replaced.LoadFile("", file.c_str());
    EXPECT_FALSE(replaced.defaultDllPathCut());
    EXPECT_EQ(module, replaced.defaultDllPath());
    IComponent* viaDefault = replaced.CreateByID(kPlainComponent);
    ASSERT_NE(nullptr, viaDefault);
    EXPECT_EQ(1, g_loads);
    viaDefault->Release(0);
    platform::FreeLibrary(replaced.defaultDllHandle());  // the default's own reference
}

TEST_F(Binding, APathBesideTheRegistryCutToFitIsNeverHandedToTheLoaderEither) {
    // The registry file's directory takes 241 characters with its separator; a
    // 30-character name makes 271.
    const std::string directory = std::string(239 - temp_.str().size(), 'd');
    const std::string name = "beside-the-registry-file-x.dll";
    file_ = temp_.Write(Native(directory + "/registry.ini"),
                        "[72]\nDLL=" + name + "\nNotUseDefaultDllPath=1\n");
    registry_.LoadFile("", file_.c_str());
    ASSERT_STREQ(file_.c_str(), registry_.registryFilePath());
    SystemOverride counting(&platform::SystemCalls::loadLibrary, CountingLoad);
    g_loads = 0;
    DebugCapture capture;
    EXPECT_EQ(nullptr, registry_.CreateByID(72));
    EXPECT_EQ(0, g_loads);
    EXPECT_TRUE(registry_.StateOf(*registry_.FindEntry(72)).fullPathCut);
    EXPECT_EQ(0u, capture.Text().rfind("[Pexil_Error] LoadLibrary Fail.\n", 0));
}

}  // namespace
}  // namespace pexil::testing
