// StressFactory.dll: a stand-in for the factory (component 361) that any
// thread may call at any time, for the stress test.
//
// The real factory is used from one thread at a time, and a test with several
// releasing threads cannot keep to that: the idle notification a module makes
// when its last component goes is a call into the factory from whichever
// thread released it, made while that module's lock is held. Two modules
// emptied on two threads call at once, and a test lock around those calls
// would be taken inside a module lock, while the factory's creation path takes
// the module lock inside the test lock: a deadlock. So the stress test uses
// this stand-in: its creation path does what the registry binding does
// (SetDLLRegistry, SetFactoryHandle, CreateComponent) from a table fixed
// before the threads start, and it hands each idle notification to the
// module's observer, which counts it under the module's lock.
#include "stress/stress_interfaces.h"

#include "platform/platform.h"

#include <pexil/component_base.h>
#include <pexil/factory.h>
#include <pexil/module.h>

#include <atomic>

namespace pexil::testing::stress {
namespace {

struct AttachedModule {
    PexilModuleHandle module;
    uint32_t firstID;
    uint32_t lastID;
    IModuleObserver* observer;
    SetDLLRegistryFunction setRegistry;
    SetFactoryHandleFunction setFactory;
    CreateComponentFunction create;
};

constexpr int kMaxModules = 4;
// Filled by Attach before any other thread runs; only read afterwards.
AttachedModule g_modules[kMaxModules];
int g_moduleCount = 0;
std::atomic<uint64_t> g_unknownNotifications{0};

const AttachedModule* ModuleForID(uint32_t componentID) {
    for (int i = 0; i < g_moduleCount; ++i) {
        if (componentID >= g_modules[i].firstID && componentID <= g_modules[i].lastID) {
            return &g_modules[i];
        }
    }
    return nullptr;
}

const AttachedModule* ModuleForHandle(PexilModuleHandle module) {
    for (int i = 0; i < g_moduleCount; ++i) {
        if (g_modules[i].module == module) return &g_modules[i];
    }
    return nullptr;
}

class StressFactory : public ComponentBase<IComponentFactory, kFactoryComponentID> {
public:
    // Every idle notification sets the flag through its holder, from any thread.
    int GetFreeMapFlag() override { return freeMap_.load(std::memory_order_relaxed); }
    void SetFreeMapFlag(int value) override { freeMap_.store(value, std::memory_order_relaxed); }

    IComponent* CreateComponentByID(uint32_t componentID, const char* registryPath) override {
        if (componentID == kFactoryComponentID) {
            return ::CreateComponent(componentID, kCreatorFactory);
        }
        const AttachedModule* target = ModuleForID(componentID);
        if (target == nullptr) return nullptr;
        target->setRegistry(registryPath != nullptr ? registryPath : "");
        target->setFactory(ModuleHandle());
        return target->create(componentID, kCreatorFactory);
    }
    void GetLogSettings(const char*, uint32_t, uint32_t* debugOutputMask, uint32_t* logFileMask,
                        LogSink** logSink) override {
        if (debugOutputMask != nullptr) *debugOutputMask = 0;
        if (logFileMask != nullptr) *logFileMask = 0;
        if (logSink != nullptr) *logSink = nullptr;
    }
    void RegisterGlobalComponent(IComponent*) override {}
    void ReleaseGlobalComponents() override {}
    int UnloadDllIfIdle(PexilModuleHandle) override { return 0; }
    uint32_t ScheduleDllUnload(PexilModuleHandle module) override {
        const AttachedModule* source = ModuleForHandle(module);
        if (source == nullptr) {
            g_unknownNotifications.fetch_add(1, std::memory_order_relaxed);
        } else {
            source->observer->Notified();
        }
        return 0;
    }
    void SetRootPath(const char*) override {}
    int GetRootPath(char* buffer) override {
        if (buffer == nullptr) return 0;
        buffer[0] = '\0';
        return 1;
    }
    void Shutdown() override {}

private:
    std::atomic<int> freeMap_{0};
};

class Monitor final : public IStressMonitor {
public:
    uint32_t GetComponentID() override { return kMonitor; }
    int GetVersion() override { return 1; }
    void Release(int) override {}  // static
    int GetFreeMapFlag() override { return 0; }
    void SetFreeMapFlag(int) override {}

    int Attach(PexilModuleHandle module, uint32_t firstID, uint32_t lastID,
               IModuleObserver* observer) override {
        if (!detached_) {
            // Not a live component: the module's map holds only the factory.
            RemoveLiveComponent(this, 0);
            detached_ = true;
        }
        if (g_moduleCount == kMaxModules || module == nullptr || observer == nullptr) return 0;
        AttachedModule& entry = g_modules[g_moduleCount];
        entry = AttachedModule{module, firstID, lastID, observer, nullptr, nullptr, nullptr};
        entry.setRegistry = reinterpret_cast<SetDLLRegistryFunction>(
            platform::GetProcAddress(module, "SetDLLRegistry"));
        entry.setFactory = reinterpret_cast<SetFactoryHandleFunction>(
            platform::GetProcAddress(module, "SetFactoryHandle"));
        entry.create = reinterpret_cast<CreateComponentFunction>(
            platform::GetProcAddress(module, "CreateComponent"));
        if (entry.setRegistry == nullptr || entry.setFactory == nullptr ||
            entry.create == nullptr) {
            return 0;
        }
        ++g_moduleCount;
        return 1;
    }
    uint64_t UnknownNotifications() override {
        return g_unknownNotifications.load(std::memory_order_relaxed);
    }

private:
    bool detached_ = false;
};

Monitor g_monitor;

IComponent* TheMonitor() {
    return &g_monitor;
}

}  // namespace

PEXIL_REGISTER_CREATOR(kFactoryComponentID, SingleInstance<StressFactory>::Create);
PEXIL_REGISTER_CREATOR(kMonitor, TheMonitor);

}  // namespace pexil::testing::stress
