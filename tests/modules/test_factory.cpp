// A stand-in for the real factory, built as test-factory/Brelnor.dll: component
// 361 implements the factory interface and reports every call on the debug
// output ("[TestFactory] ..."), so that scenarios can test the component side
// alone. Components 100 to 199 come from TestComponents.dll and 991 from
// TestConfig.dll, both loaded from the host directory.
#include "platform/platform.h"
#include "support/base_directory.h"
#include "support/debug_print.h"

#include <pexil/component_base.h>
#include <pexil/factory.h>
#include <pexil/module.h>

#include <map>
#include <string>

namespace pexil::testing {
namespace {

class TestFactory : public ComponentBase<IComponentFactory, kFactoryComponentID> {
public:
    void Release(int force) override {
        DebugPrintf(DebugChannel::ModuleEntry, "[TestFactory] Release(%d)\n", force);
        ComponentBase::Release(force);
    }
    IComponent* CreateComponentByID(uint32_t componentID, const char* registryPath) override {
        DebugPrintf(DebugChannel::ModuleEntry, "[TestFactory] CreateComponentByID(%u, %s)\n",
                    componentID, Quoted(registryPath).c_str());
        if (componentID == kFactoryComponentID) return ::CreateComponent(componentID, 361);
        const char* name = componentID == kConfigurationComponentID    ? "TestConfig.dll"
                           : (componentID >= 100 && componentID < 200) ? "TestComponents.dll"
                                                                       : nullptr;
        if (name == nullptr) return nullptr;
        PexilModuleHandle module = Load(name);
        if (module == nullptr) return nullptr;
        auto setRegistry = reinterpret_cast<SetDLLRegistryFunction>(
            platform::GetProcAddress(module, "SetDLLRegistry"));
        auto setFactory = reinterpret_cast<SetFactoryHandleFunction>(
            platform::GetProcAddress(module, "SetFactoryHandle"));
        auto create = reinterpret_cast<CreateComponentFunction>(
            platform::GetProcAddress(module, "CreateComponent"));
        setRegistry(registryPath != nullptr ? registryPath : "");
        setFactory(ModuleHandle());
        return create(componentID, 361);
    }
    void GetLogSettings(const char* registryPath, uint32_t componentID, uint32_t* debugMask,
                        uint32_t* fileMask, LogSink** sink) override {
        DebugPrintf(DebugChannel::ModuleEntry, "[TestFactory] GetLogSettings(%s, %u)\n",
                    Quoted(registryPath).c_str(), componentID);
        *debugMask = 0;
        *fileMask = 0;
        *sink = nullptr;
    }
    void RegisterGlobalComponent(IComponent* component) override {
        DebugPrintf(DebugChannel::ModuleEntry, "[TestFactory] RegisterGlobalComponent(%u)\n",
                    component->GetComponentID());
    }
    void ReleaseGlobalComponents() override {
        DebugPrintf(DebugChannel::ModuleEntry, "[TestFactory] ReleaseGlobalComponents()\n");
    }
    int UnloadDllIfIdle(PexilModuleHandle module) override {
        DebugPrintf(DebugChannel::ModuleEntry, "[TestFactory] UnloadDllIfIdle(%s)\n",
                    NameOf(module).c_str());
        return 0;
    }
    uint32_t ScheduleDllUnload(PexilModuleHandle module) override {
        DebugPrintf(DebugChannel::ModuleEntry, "[TestFactory] ScheduleDllUnload(%s)\n",
                    NameOf(module).c_str());
        return 0;
    }
    void SetRootPath(const char* path) override {
        DebugPrintf(DebugChannel::ModuleEntry, "[TestFactory] SetRootPath(%s)\n",
                    Quoted(path).c_str());
    }
    int GetRootPath(char* buffer) override {
        if (buffer == nullptr) return 0;
        buffer[0] = '\0';
        return 1;
    }
    void Shutdown() override {
        DebugPrintf(DebugChannel::ModuleEntry, "[TestFactory] Shutdown()\n");
    }

private:
    static std::string Quoted(const char* text) {
        return text == nullptr ? "null" : "\"" + std::string(text) + "\"";
    }
    PexilModuleHandle Load(const std::string& name) {
        auto it = loaded_.find(name);
        if (it != loaded_.end()) return it->second;
        const std::string path =
            std::string(RecomputedHostDirectory()) + Separator(PathStyle::Native) + name;
        PexilModuleHandle module = platform::LoadLibrary(path.c_str());
        if (module != nullptr) loaded_[name] = module;
        return module;
    }
    std::string NameOf(PexilModuleHandle module) const {
        if (module == ModuleHandle()) return "Brelnor.dll";
        for (const auto& entry : loaded_) {
            if (entry.second == module) return entry.first;
        }
        return "unknown";
    }

    std::map<std::string, PexilModuleHandle> loaded_;
};

}  // namespace

PEXIL_REGISTER_CREATOR(kFactoryComponentID, SingleInstance<TestFactory>::Create);

}  // namespace pexil::testing
