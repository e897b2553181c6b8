// TestComponents.dll: components with the behaviours the module-layer tests
// need, and a probe that looks into the module's own state.
#include "modules/test_interfaces.h"

#include "module/live_components.h"

#include <pexil/component_base.h>
#include <pexil/holder.h>
#include <pexil/module.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace pexil::testing {
namespace {

std::mutex g_eventsMutex;
std::string g_events;

void LogEvent(const std::string& event) {
    std::lock_guard<std::mutex> guard(g_eventsMutex);
    g_events += event;
    g_events += ';';
}

class LoggedObject : public OwnedObject {
public:
    explicit LoggedObject(std::string name) : name_(std::move(name)) {}
    ~LoggedObject() override { LogEvent("~Owned(" + name_ + ")"); }

private:
    std::string name_;
};

template <uint32_t ID>
class TestComponent : public ComponentBase<ITestComponent, ID> {
public:
    explicit TestComponent(const char* tag = "component") : tag_(tag) {}
    ~TestComponent() override { LogEvent("~Component(" + tag_ + ")"); }

    const char* Tag() override { return tag_.c_str(); }
    void AddOwned(uint32_t key, int inList, const char* name) override {
        OwnedObject* object = name != nullptr ? new LoggedObject(name) : nullptr;
        if (inList != 0) {
            this->ownedList_.push_back(object);
        } else {
            this->ownedMap_[key] = object;
        }
    }
    void SetFlags(int noDelete, int forceOnly) override {
        this->noDelete_ = noDelete;
        this->forceOnly_ = forceOnly;
    }
    void Shutdown() override { LogEvent("Shutdown(" + tag_ + ")"); }

private:
    std::string tag_;
};

// --- Thread scenarios ---------------------------------------------------------

std::atomic<int> g_raceArmed{0};
std::atomic<int> g_singleConstructing{0};
std::atomic<int> g_askerShuttingDown{0};
std::atomic<int> g_destructorTarget{0};
std::atomic<int> g_destructorsRunning{0};
std::atomic<int> g_mostDestructorsRunning{0};
std::atomic<int> g_callsIntoDying{0};
std::atomic<IComponent*> g_dyingSlow{nullptr};
std::atomic<int> g_creatorsWaiting{0};
std::atomic<int> g_creatorsGo{1};

// Waits (at most 20 s, so that a fault shows as a failure, not a hang).
template <class Condition>
void WaitFor(Condition done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// A single instance whose constructor creates (and releases) another component
// of its own module: armed, the first one waits until a kAskingComponent's
// Shutdown has begun on another thread.
class WaitingSingle : public TestComponent<kWaitingSingle> {
public:
    WaitingSingle() : TestComponent<kWaitingSingle>("waiting-single") {
        if (g_raceArmed.exchange(0) != 0) {
            g_singleConstructing = 1;
            WaitFor([] { return g_askerShuttingDown.load() != 0; });
        }
        if (IComponent* other = ::CreateComponent(kPlainComponent, 0)) other->Release(0);
    }
};

// Its Shutdown asks its module for the single instance.
class AskingComponent : public TestComponent<kAskingComponent> {
public:
    AskingComponent() : TestComponent<kAskingComponent>("asking") { SetFlags(0, 0); }
    void Shutdown() override {
        g_askerShuttingDown = 1;
        ::CreateComponent(kWaitingSingle, 0);
    }
};

// Its destructor runs until as many as set are running at once (20 s at most);
// it counts the calls it takes meanwhile.
class SlowDestructor : public TestComponent<kSlowDestructor> {
public:
    SlowDestructor() : TestComponent<kSlowDestructor>("slow") { SetFlags(0, 0); }
    ~SlowDestructor() override {
        dying_ = true;
        g_dyingSlow = this;
        const int running = ++g_destructorsRunning;
        for (int most = g_mostDestructorsRunning.load(); most < running;)
            g_mostDestructorsRunning.compare_exchange_weak(most, running);
        // Once as many have run at once, all may end.
        WaitFor([] { return g_mostDestructorsRunning.load() >= g_destructorTarget.load(); });
        g_dyingSlow = nullptr;
        --g_destructorsRunning;
    }
    int GetFreeMapFlag() override {
        if (dying_) ++g_callsIntoDying;
        return TestComponent<kSlowDestructor>::GetFreeMapFlag();
    }

private:
    std::atomic<bool> dying_{false};
};

// Frees its memory itself, bypassing FreeComponentMemory (made by a creator
// of its own: NewComponent refuses such a class).
class OwnDelete : public TestComponent<kOwnDelete> {
public:
    OwnDelete() : TestComponent<kOwnDelete>("own-delete") { SetFlags(0, 0); }
    static void* operator new(size_t size) { return std::malloc(size); }
    static void operator delete(void* memory) noexcept { std::free(memory); }
};

// Over-aligned: allocated and freed by the aligned global operators.
class OverAligned : public TestComponent<kOverAligned> {
public:
    OverAligned() : TestComponent<kOverAligned>("over-aligned") { SetFlags(0, 0); }

private:
    [[maybe_unused]] alignas(64) char line_[64] = {};
};

// Its interface lies after another polymorphic base: the record's key is not
// the address its memory is freed at.
class FirstBase {
public:
    virtual ~FirstBase() = default;
    virtual int First() { return first_; }

private:
    int first_ = 1;
};
class OffsetComponent : public FirstBase, public TestComponent<kOffsetComponent> {
public:
    OffsetComponent() : TestComponent<kOffsetComponent>("offset") { SetFlags(0, 0); }
};

IComponent* CreateOwnDelete() {
    return new OwnDelete();
}

class ModuleProbe : public ComponentBase<IModuleProbe, kModuleProbe> {
public:
    ModuleProbe() { forceOnly_ = 0; }
    uint32_t LiveCount() override { return module::LiveComponentCount(); }
    uint32_t Records(ProbeRecord* records, uint32_t capacity) override {
        module::ComponentRecord found[64];
        const uint32_t count = module::CopyLiveComponents(found, 64);
        for (uint32_t i = 0; i < count && i < capacity && i < 64; ++i) {
            records[i] = ProbeRecord{found[i].componentID, found[i].creatorID, found[i].component};
        }
        return count;
    }
    void RegisterCreators(uint32_t componentID, uint32_t count, int nullCreator) override {
        for (uint32_t i = 0; i < count; ++i) {
            RegisterCreator(componentID,
                            nullCreator != 0 ? nullptr : NewComponent<TestComponent<101>>);
        }
    }
    int TakeEvents(char* buffer, int size) override {
        std::lock_guard<std::mutex> guard(g_eventsMutex);
        const int length = static_cast<int>(g_events.size());
        if (buffer != nullptr && size > length) std::memcpy(buffer, g_events.c_str(), length + 1);
        g_events.clear();
        return length;
    }
    int DllSafe() override { return IsDllSafe(); }
    void CopyRegistryPath(char* buffer, int size) override {
        GetRegistryPath(nullptr, buffer, size);
    }
    PexilModuleHandle OwnModuleHandle() override { return ModuleHandle(); }
    PexilModuleHandle OwnFactoryHandle() override { return FactoryHandle(); }
    void RemoveRecord(void* component, int notifyFactory) override {
        RemoveLiveComponent(static_cast<IComponent*>(component), notifyFactory);
    }
    void DestroyDirectly(IComponent* component) override {
        delete static_cast<TestComponent<kTestComponent>*>(static_cast<ITestComponent*>(component));
    }
    int Scenario(int command, int argument) override {
        switch (command) {
            case kArmSingleInstanceRace:
                g_singleConstructing = 0;
                g_askerShuttingDown = 0;
                g_raceArmed = 1;
                return 1;
            case kSingleConstructing:
                return g_singleConstructing.load();
            case kSetDestructorWait:
                g_destructorTarget = argument;
                g_callsIntoDying = 0;
                g_mostDestructorsRunning = g_destructorsRunning.load();
                return 1;
            case kDestructorsRunning:
                return g_mostDestructorsRunning.load();
            case kCallsIntoDying:
                return g_callsIntoDying.load();
            case kCreatorsWaiting:
                return g_creatorsWaiting.load();
            case kLetCreatorsGo:
                g_creatorsGo = argument;
                return 1;
            default:
                return 0;
        }
    }
    int ReachesFactory() override {
        ReleasingFactoryHolder holder;
        return holder.component != nullptr ? 1 : 0;
    }
    void Shutdown() override {}
};

IComponent* CreatePlain() {
    auto* component = new TestComponent<kPlainComponent>("plain");
    component->SetFlags(0, 0);
    return component;
}

// Hands out the kSlowDestructor whose destructor is running: a creator that
// returns a component another thread is deleting.
IComponent* HandOutTheDyingOne() {
    return g_dyingSlow.load();
}

// Waits until the test lets it go, then makes a plain component.
IComponent* CreateAfterWaiting() {
    ++g_creatorsWaiting;
    WaitFor([] { return g_creatorsGo.load() != 0; });
    --g_creatorsWaiting;
    return CreatePlain();
}
IComponent* CreateNoDelete() {
    auto* component = new TestComponent<kNoDeleteComponent>("no-delete");
    component->SetFlags(1, 0);
    return component;
}
IComponent* CreateNull() {
    return nullptr;
}
IComponent* CreateWrongClass() {
    return new TestComponent<kTestComponent>("wrong-class");
}
IComponent* CreateFirst() {
    return new TestComponent<kTwiceRegistered>("first");
}
IComponent* CreateSecond() {
    return new TestComponent<kTwiceRegistered>("second");
}

class ReleasingObject : public OwnedObject {
public:
    explicit ReleasingObject(IComponent* other) : other_(other) {}
    ~ReleasingObject() override { other_->Release(1); }

private:
    IComponent* other_;
};

class Releaser : public ComponentBase<IReleaser, kReleaserComponent> {
public:
    void ReleaseAtItsEnd(IComponent* other) override {
        ownedList_.push_back(new ReleasingObject(other));
    }
    void Shutdown() override {}
};

class SharedComponent : public TestComponent<kSingleComponent> {
public:
    SharedComponent() : TestComponent<kSingleComponent>("single") {}
};

// Takes the module lock while the module loads, before the framework's own
// files are initialised (this file comes first in the link): the lock is
// made on first entry. (The live map's locks, taken then, hung the load on
// Windows.)
struct EarlyLockUser {
    EarlyLockUser() {
        EnterModuleLock();
        LeaveModuleLock();
    }
} g_earlyLockUser;

}  // namespace

PEXIL_REGISTER_CREATOR(kTestComponent, NewComponent<TestComponent<kTestComponent>>);
PEXIL_REGISTER_CREATOR(kPlainComponent, CreatePlain);
PEXIL_REGISTER_CREATOR(kNoDeleteComponent, CreateNoDelete);
PEXIL_REGISTER_CREATOR(kNullCreatorComponent, CreateNull);
PEXIL_REGISTER_CREATOR(kTwiceRegistered, CreateFirst);
PEXIL_REGISTER_CREATOR(kTwiceRegistered, CreateSecond);
PEXIL_REGISTER_CREATOR(kSingleComponent, SingleInstance<SharedComponent>::Create);
PEXIL_REGISTER_CREATOR(kReleaserComponent, NewComponent<Releaser>);
PEXIL_REGISTER_CREATOR(kWaitingSingle, SingleInstance<WaitingSingle>::Create);
PEXIL_REGISTER_CREATOR(kAskingComponent, NewComponent<AskingComponent>);
PEXIL_REGISTER_CREATOR(kSlowDestructor, NewComponent<SlowDestructor>);
PEXIL_REGISTER_CREATOR(kOwnDelete, CreateOwnDelete);
PEXIL_REGISTER_CREATOR(kOverAligned, NewComponent<OverAligned>);
PEXIL_REGISTER_CREATOR(kWrongClass, CreateWrongClass);
PEXIL_REGISTER_CREATOR(kDyingHandout, HandOutTheDyingOne);
PEXIL_REGISTER_CREATOR(kBlockingCreator, CreateAfterWaiting);
PEXIL_REGISTER_CREATOR(kOffsetComponent, NewComponent<OffsetComponent>);
PEXIL_REGISTER_CREATOR(kModuleProbe, NewComponent<ModuleProbe>);

}  // namespace pexil::testing
