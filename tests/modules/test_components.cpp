// TestComponents.dll: components with the behaviours the module-layer tests
// need, and a probe that looks into the module's own state.
#include "modules/test_interfaces.h"

#include "module/live_components.h"

#include <pexil/component_base.h>
#include <pexil/module.h>

#include <cstring>
#include <mutex>
#include <string>

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
    void Shutdown() override {}
};

IComponent* CreatePlain() {
    auto* component = new TestComponent<kPlainComponent>("plain");
    component->SetFlags(0, 0);
    return component;
}
IComponent* CreateNoDelete() {
    auto* component = new TestComponent<kNoDeleteComponent>("no-delete");
    component->SetFlags(1, 0);
    return component;
}
IComponent* CreateNull() {
    return nullptr;
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

}  // namespace

PEXIL_REGISTER_CREATOR(kTestComponent, NewComponent<TestComponent<kTestComponent>>);
PEXIL_REGISTER_CREATOR(kPlainComponent, CreatePlain);
PEXIL_REGISTER_CREATOR(kNoDeleteComponent, CreateNoDelete);
PEXIL_REGISTER_CREATOR(kNullCreatorComponent, CreateNull);
PEXIL_REGISTER_CREATOR(kTwiceRegistered, CreateFirst);
PEXIL_REGISTER_CREATOR(kTwiceRegistered, CreateSecond);
PEXIL_REGISTER_CREATOR(kSingleComponent, SingleInstance<SharedComponent>::Create);
PEXIL_REGISTER_CREATOR(kReleaserComponent, NewComponent<Releaser>);
PEXIL_REGISTER_CREATOR(kModuleProbe, NewComponent<ModuleProbe>);

}  // namespace pexil::testing
