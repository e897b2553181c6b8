// The module entry layer, the live-component map and the component base,
// through a real loaded module (TestComponents.dll).
#include "modules/test_interfaces.h"
#include "platform/debug_capture.h"
#include "support/loaded_module.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

namespace pexil::testing {

// An interface declared apart from the project's headers, with the slots where
// a test component has them: it proves the slot positions, not just the names.
// (External linkage: in an unnamed namespace the compiler may conclude that
// nothing implements it and replace the calls.)
class IndependentView {
public:
    virtual uint32_t Slot0() = 0;
    virtual int Slot1() = 0;
    virtual void Slot2(int) = 0;
    virtual int Slot3() = 0;
    virtual void Slot4(int) = 0;
    virtual const char* Slot5() = 0;
    virtual void Slot6(uint32_t, int, const char*) = 0;
    virtual void Slot7(int, int) = 0;
    virtual void Slot8() = 0;
    virtual void Slot9(const char*, char*, int) = 0;

protected:
    ~IndependentView() = default;
};

namespace {

using platform::testing::DebugCapture;

// Components a test leaves alive on purpose, kept reachable to the end of the
// process (the list is never destroyed) so that the leak checker passes them.
std::vector<IComponent*>& LeftAlive() {
    static auto* components = new std::vector<IComponent*>;
    return *components;
}

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, module_.handle()) << module_.path();
        probe_ = Create<IModuleProbe>(kModuleProbe, 0);
        ASSERT_NE(nullptr, probe_);
        probe_->TakeEvents(nullptr, 0);
    }
    void TearDown() override {
        if (probe_ != nullptr) probe_->Release(0);
    }

    template <typename Interface>
    Interface* Create(uint32_t id, uint32_t creator) {
        return static_cast<Interface*>(module_.CreateComponent(id, creator));
    }
    std::string Events() {
        char buffer[4096];
        probe_->TakeEvents(buffer, sizeof(buffer));
        return buffer;
    }
    std::vector<ProbeRecord> Records() {
        std::vector<ProbeRecord> records(64);
        records.resize(probe_->Records(records.data(), 64));
        return records;
    }
    // The records other than the probe's own.
    std::vector<ProbeRecord> OtherRecords() {
        std::vector<ProbeRecord> others;
        for (const ProbeRecord& record : Records()) {
            if (record.component != static_cast<IComponent*>(probe_)) others.push_back(record);
        }
        return others;
    }
    std::vector<uint32_t> ComponentIDs() {
        std::vector<uint32_t> ids(kMaxCreators + 8);
        const int count = module_.GetComponentIDs(ids.data(), static_cast<uint32_t>(ids.size()));
        ids.resize(count);
        return ids;
    }

    LoadedModule module_{"TestComponents.dll"};
    IModuleProbe* probe_ = nullptr;
};

TEST_F(ModuleTest, UnknownIDGivesTwoMessagesTheSecondWithoutLineEnd) {
    DebugCapture capture;
    EXPECT_EQ(nullptr, module_.CreateComponent(555, 361));
    EXPECT_EQ(nullptr, module_.CreateComponent(0xFFFFFFFFu, 0));
    EXPECT_EQ(
        "Pexil[Error]: Can't find the factory method of Component\n"
        "Pexil[Error]: ComponentID=555 CreatorID=361"
        "Pexil[Error]: Can't find the factory method of Component\n"
        "Pexil[Error]: ComponentID=-1 CreatorID=0",
        capture.Text());
    EXPECT_TRUE(OtherRecords().empty());
}

TEST_F(ModuleTest, CreatorReturningNullGivesTwoMessagesAndNoRecord) {
    DebugCapture capture;
    EXPECT_EQ(nullptr, module_.CreateComponent(kNullCreatorComponent, 361));
    EXPECT_EQ(
        "Pexil[Error]:CreateComponent method return NULL.\n"
        "Pexil[Error]: ComponentID=103 CreatorID=361",
        capture.Text());
    EXPECT_TRUE(OtherRecords().empty());
}

TEST_F(ModuleTest, FirstOfTwoCreatorsWinsAndBothAreListed) {
    auto* component = Create<ITestComponent>(kTwiceRegistered, 361);
    ASSERT_NE(nullptr, component);
    EXPECT_STREQ("first", component->Tag());
    component->Release(1);

    const std::vector<uint32_t> ids = ComponentIDs();
    EXPECT_EQ((std::vector<uint32_t>{100, 101, 102, 103, 104, 104, 105, 106, 107, 108, 109, 110,
                                     111, 112, 114, 115, 116, 199}),
              ids);
}

TEST_F(ModuleTest, GetComponentIDsCountsWithoutWritingAndStopsAtCapacity) {
    uint32_t ids[3] = {7, 7, 7};
    EXPECT_EQ(18, module_.GetComponentIDs(ids, 0));
    EXPECT_EQ(7u, ids[0]);
    EXPECT_EQ(18, module_.GetComponentIDs(nullptr, 0));
    EXPECT_EQ(18, module_.GetComponentIDs(ids, 1));
    EXPECT_EQ(100u, ids[0]);
    EXPECT_EQ(7u, ids[1]);
}

TEST_F(ModuleTest, CreatorTableHolds512AndDropsInvalidRegistrations) {
    probe_->RegisterCreators(0, 1, 0);    // ID 0
    probe_->RegisterCreators(600, 1, 1);  // null creator
    EXPECT_EQ(18u, ComponentIDs().size());

    probe_->RegisterCreators(700, kMaxCreators - 18, 0);  // fills the table
    probe_->RegisterCreators(701, 1, 0);                  // the 513th
    const std::vector<uint32_t> ids = ComponentIDs();
    ASSERT_EQ(kMaxCreators, ids.size());
    EXPECT_EQ(700u, ids.back());
    DebugCapture capture;
    EXPECT_EQ(nullptr, module_.CreateComponent(701, 0));
    EXPECT_EQ(
        "Pexil[Error]: Can't find the factory method of Component\n"
        "Pexil[Error]: ComponentID=701 CreatorID=0",
        capture.Text());
}

TEST_F(ModuleTest, SetDLLRegistryStoresOnlyPathsShorterThan260) {
    char path[kMaxPath];
    const std::string fits(259, 'r');
    EXPECT_EQ(0, module_.SetDLLRegistry(fits.c_str()));
    probe_->CopyRegistryPath(path, sizeof(path));
    EXPECT_EQ(fits, path);

    EXPECT_EQ(0, module_.SetDLLRegistry(std::string(260, 'r').c_str()));
    probe_->CopyRegistryPath(path, sizeof(path));
    EXPECT_STREQ("", path);

    EXPECT_EQ(0, module_.SetDLLRegistry("D:\\reg.ini"));
    EXPECT_EQ(0, module_.SetDLLRegistry(nullptr));
    probe_->CopyRegistryPath(path, sizeof(path));
    EXPECT_STREQ("", path);
}

TEST_F(ModuleTest, OneRecordPerPointerRefreshedByEachCreation) {
    IComponent* first = module_.CreateComponent(kSingleComponent, 0);
    IComponent* second = module_.CreateComponent(kSingleComponent, 0);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    std::vector<ProbeRecord> records = OtherRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(0u, records[0].creatorID);

    EXPECT_EQ(first, module_.CreateComponent(kSingleComponent, 361));
    records = OtherRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(361u, records[0].creatorID);
    first->Release(1);
    EXPECT_TRUE(OtherRecords().empty());
}

TEST_F(ModuleTest, FreeMapReleasesFlaggedComponentsOnly) {
    IComponent* a = module_.CreateComponent(kPlainComponent, 361);
    IComponent* b = module_.CreateComponent(kPlainComponent, 361);
    IComponent* c = module_.CreateComponent(kPlainComponent, 361);
    IComponent* forceOnly = module_.CreateComponent(kTestComponent, 361);
    ASSERT_TRUE(a && b && c && forceOnly);
    a->SetFreeMapFlag(1);
    b->SetFreeMapFlag(0);
    c->SetFreeMapFlag(1);
    forceOnly->SetFreeMapFlag(1);  // flagged, but Release(0) is ignored

    module_.PexilDllFreeMap();
    const std::vector<ProbeRecord> records = OtherRecords();
    ASSERT_EQ(2u, records.size());
    for (const ProbeRecord& record : records) {
        EXPECT_TRUE(record.component == b || record.component == forceOnly);
    }
    EXPECT_EQ("Shutdown(plain);~Component(plain);Shutdown(plain);~Component(plain);", Events());

    // A walk that left a component alive leaves no mark on it: the next walk
    // releases it once Release(0) no longer is ignored.
    static_cast<ITestComponent*>(forceOnly)->SetFlags(0, 0);
    module_.PexilDllFreeMap();
    ASSERT_EQ(1u, OtherRecords().size());
    EXPECT_EQ(b, OtherRecords()[0].component);
    EXPECT_EQ("Shutdown(component);~Component(component);", Events());
    b->Release(0);
}

TEST_F(ModuleTest, RemovingAnUnknownPointerGivesTwoMessages) {
    IComponent* kept = module_.CreateComponent(kPlainComponent, 361);
    DebugCapture capture;
    void* unknown = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234ABCD));
    probe_->RemoveRecord(unknown, 1);
    char pointer[32];
    std::snprintf(pointer, sizeof(pointer), "%0*" PRIXPTR, static_cast<int>(sizeof(void*) * 2),
                  static_cast<uintptr_t>(0x1234ABCD));
    EXPECT_EQ(std::string("Pexil[Error]: To remove a component not exist\n"
                          "Pexil[Error]: IComponent* = 0x") +
                  pointer + "\n",
              capture.Text());
    EXPECT_EQ(1u, OtherRecords().size());
    kept->Release(0);
}

TEST_F(ModuleTest, ReleaseDoesNothingWhileTheModuleIsNotSafe) {
    auto* component = Create<ITestComponent>(kTestComponent, 361);
    EXPECT_EQ(1, probe_->DllSafe());
    EXPECT_EQ(0, module_.PexilSetDllSafe(0));
    EXPECT_EQ(0, probe_->DllSafe());
    component->Release(1);
    EXPECT_EQ("", Events());
    EXPECT_EQ(1u, OtherRecords().size());

    EXPECT_EQ(1, module_.PexilSetDllSafe(1));
    component->Release(1);
    EXPECT_EQ("Shutdown(component);~Component(component);", Events());
    EXPECT_TRUE(OtherRecords().empty());
}

TEST_F(ModuleTest, ForcedReleaseShutsDownDeletesOwnedObjectsAndUnrecords) {
    auto* component = Create<ITestComponent>(kTestComponent, 361);
    component->AddOwned(9, 0, "map9");
    component->AddOwned(2, 0, "map2");
    component->AddOwned(5, 0, nullptr);
    component->AddOwned(0, 1, "list1");
    component->AddOwned(0, 1, nullptr);
    component->AddOwned(0, 1, "list2");

    component->Release(0);  // force-only: ignored
    EXPECT_EQ("", Events());
    EXPECT_EQ(1u, OtherRecords().size());

    component->Release(1);
    EXPECT_EQ(
        "Shutdown(component);~Owned(map2);~Owned(map9);"
        "~Component(component);~Owned(list1);~Owned(list2);",
        Events());
    EXPECT_TRUE(OtherRecords().empty());
}

TEST_F(ModuleTest, NoDeleteComponentIsCleanedUpOnceAndStays) {
    auto* component = Create<ITestComponent>(kNoDeleteComponent, 361);
    component->AddOwned(1, 0, "map1");
    component->AddOwned(0, 1, "list1");
    component->Release(1);
    EXPECT_EQ("Shutdown(no-delete);~Owned(map1);", Events());
    EXPECT_EQ(1u, OtherRecords().size());
    component->Release(1);
    component->Release(0);
    EXPECT_EQ("", Events());
    EXPECT_EQ(1u, OtherRecords().size());

    // Let it go so the module can unload cleanly.
    component->SetFlags(0, 0);
    component->Release(0);
    EXPECT_EQ("~Component(no-delete);~Owned(list1);", Events());
}

TEST_F(ModuleTest, CanUnloadNowFollowsTheMap) {
    EXPECT_EQ(0, module_.PexilDllCanUnloadNow());  // the probe itself
    probe_->Release(0);
    probe_ = nullptr;
    EXPECT_EQ(1, module_.PexilDllCanUnloadNow());
    IComponent* component = module_.CreateComponent(kPlainComponent, 361);
    EXPECT_EQ(0, module_.PexilDllCanUnloadNow());
    component->Release(0);
    EXPECT_EQ(1, module_.PexilDllCanUnloadNow());
}

TEST_F(ModuleTest, ModuleValuesComeFromItsExports) {
    EXPECT_EQ(module_.handle(), probe_->OwnModuleHandle());
    EXPECT_EQ(nullptr, probe_->OwnFactoryHandle());
    auto fake = reinterpret_cast<PexilModuleHandle>(static_cast<uintptr_t>(0x4000));
    EXPECT_EQ(fake, module_.SetFactoryHandle(fake));
    EXPECT_EQ(fake, probe_->OwnFactoryHandle());
    // Not a module: the idle notification at the probe's release must not use it.
    module_.SetFactoryHandle(nullptr);
    EXPECT_EQ(7, module_.PexilSetDllSafe(7));
    EXPECT_EQ(7, probe_->DllSafe());
}

TEST_F(ModuleTest, SlotsSitWhereSeparatelyBuiltCallersExpectThem) {
    ASSERT_EQ(0, module_.SetDLLRegistry("D:\\module.ini"));
    IComponent* component = module_.CreateComponent(kTestComponent, 361);
    auto* view = reinterpret_cast<IndependentView*>(component);
    EXPECT_EQ(kTestComponent, view->Slot0());
    EXPECT_EQ(1, view->Slot1());
    EXPECT_EQ(0, view->Slot3());
    view->Slot4(1);
    EXPECT_EQ(1, view->Slot3());
    EXPECT_STREQ("component", view->Slot5());

    // Slot 9 is GetRegistryPath, right after the interface's own slots and Shutdown.
    char buffer[kMaxPath] = "untouched";
    view->Slot9("", buffer, kMaxPath);
    EXPECT_STREQ("D:\\module.ini", buffer);
    view->Slot9("E:\\preferred.ini", buffer, kMaxPath);
    EXPECT_STREQ("E:\\preferred.ini", buffer);
    char small[4] = "abc";
    view->Slot9("E:\\preferred.ini", small, 4);  // does not fit: left as it was
    EXPECT_STREQ("abc", small);
    view->Slot9("E:\\x", small, 0);
    view->Slot9(nullptr, nullptr, kMaxPath);
    EXPECT_STREQ("abc", small);
    EXPECT_EQ("", Events());

    view->Slot8();  // Shutdown, called directly through its slot
    EXPECT_EQ("Shutdown(component);", Events());
    view->Slot2(1);  // Release(1): Shutdown runs once more, the first ran outside Release
    EXPECT_EQ("Shutdown(component);~Component(component);", Events());
}

#if !defined(_WIN32)
// On Windows the violation raises a debugger break, which ends a process
// without a debugger; on POSIX it is reported through the debug output.
TEST_F(ModuleTest, DestroyingOutsideReleaseIsReported) {
    IComponent* component = module_.CreateComponent(kTestComponent, 361);
    DebugCapture capture;
    probe_->DestroyDirectly(component);
    const std::string text = capture.Text();
    EXPECT_EQ(0u, text.find("Pexil[Error]: Component 0x")) << text;
    EXPECT_NE(std::string::npos,
              text.find("(ComponentID=100) destroyed other than by Release, before its Shutdown "
                        "or while it must stay.\n"))
        << text;
    probe_->RemoveRecord(component, 0);
}
#endif

// A class whose own operator delete bypasses FreeComponentMemory (NewComponent
// refuses it; a hand-written creator made it) is reported at its release, and
// its record still goes. An over-aligned one is freed by the aligned operator
// delete it was allocated with (on MinGW a mismatch corrupts the heap).
TEST_F(ModuleTest, ComponentsFreedOutsideTheFrameworksDeleteAreReported) {
    IComponent* own = module_.CreateComponent(kOwnDelete, 0);
    ASSERT_NE(nullptr, own);
    const uintptr_t address = reinterpret_cast<uintptr_t>(own);
    DebugCapture capture;
    own->Release(0);
    char expected[256];
    std::snprintf(expected, sizeof(expected),
                  "Pexil[Error]: Component 0x%0*" PRIXPTR
                  " (ComponentID=110) was freed by its class's own operator delete, not through "
                  "pexil::FreeComponentMemory.\n",
                  static_cast<int>(sizeof(void*) * 2), address);
    EXPECT_EQ(expected, capture.Text());
    EXPECT_TRUE(OtherRecords().empty());

    for (int i = 0; i < 1000; ++i) {
        IComponent* aligned = module_.CreateComponent(kOverAligned, 0);
        ASSERT_NE(nullptr, aligned);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(aligned) % 64);
        aligned->Release(0);
    }
    EXPECT_TRUE(OtherRecords().empty());
    EXPECT_EQ("", capture.Text().substr(std::string(expected).size()));
}

TEST(ModuleUnload, LeakReportListsLiveComponentsInAscendingPointerOrder) {
    LoadedModule module("TestComponents.dll");
    ASSERT_NE(nullptr, module.handle());
    IComponent* a = module.CreateComponent(kPlainComponent, 361);
    IComponent* b = module.CreateComponent(kTestComponent, 0);
    ASSERT_TRUE(a && b);
    LeftAlive().push_back(a);
    LeftAlive().push_back(b);
    const bool aFirst = reinterpret_cast<uintptr_t>(a) < reinterpret_cast<uintptr_t>(b);
    const uintptr_t low = reinterpret_cast<uintptr_t>(aFirst ? a : b);
    const uintptr_t high = reinterpret_cast<uintptr_t>(aFirst ? b : a);
    const uint32_t lowID = aFirst ? kPlainComponent : kTestComponent;
    const uint32_t highID = aFirst ? kTestComponent : kPlainComponent;

    DebugCapture capture;
    module.Free();
    char line[2][128];
    std::snprintf(line[0], sizeof(line[0]),
                  "Pexil[Error]:ComponentID:0x%08x CreatorID:0x%08x Pointer:0x%08" PRIxPTR "\n",
                  lowID, lowID == kPlainComponent ? 361u : 0u, low);
    std::snprintf(line[1], sizeof(line[1]),
                  "Pexil[Error]:ComponentID:0x%08x CreatorID:0x%08x Pointer:0x%08" PRIxPTR "\n",
                  highID, highID == kPlainComponent ? 361u : 0u, high);
    const std::string separator = "Pexil[Error]:" + std::string(65, '=') + "\n";
    EXPECT_EQ(separator + "Pexil[Error]:Found leak Pexil components. Count:2\n" + line[0] +
                  line[1] + separator,
              capture.Text());
    // A 32-bit pointer in exactly eight digits, as %08x writes it on the
    // native target; a 64-bit one in all its significant digits.
    const std::string text = capture.Text();
    const size_t digits = text.find('\n', text.find("Pointer:0x")) - text.find("Pointer:0x") - 10;
    if (sizeof(void*) == 4) {
        EXPECT_EQ(8u, digits) << text;
    }
    EXPECT_FALSE(module.loaded());
}

TEST(ModuleUnload, EmptyModuleUnloadsSilentlyAndReallyGoes) {
    LoadedModule module("TestComponents.dll");
    ASSERT_NE(nullptr, module.handle());
    IComponent* component = module.CreateComponent(kPlainComponent, 361);
    component->Release(0);
    EXPECT_TRUE(module.loaded());
    DebugCapture capture;
    module.Free();
    EXPECT_EQ("", capture.Text());
    EXPECT_FALSE(module.loaded());

    // Loaded again, it starts from a fresh state.
    module.Load();
    ASSERT_NE(nullptr, module.handle());
    EXPECT_EQ(1, module.PexilDllCanUnloadNow());
}

}  // namespace
}  // namespace pexil::testing
