// A module loaded for real from the test program's own directory, with its
// seven exports looked up.
#ifndef PEXIL_TESTS_LOADED_MODULE_H
#define PEXIL_TESTS_LOADED_MODULE_H

#include "platform/platform.h"
#include "support/base_directory.h"

#include <pexil/module.h>

#include <string>

namespace pexil::testing {

// The full path of a file beside the test program.
inline std::string BesideProgram(const std::string& name) {
    return std::string(RecomputedHostDirectory()) + Separator(PathStyle::Native) + name;
}

class LoadedModule {
public:
    explicit LoadedModule(const std::string& name) : path_(BesideProgram(name)) { Load(); }
    ~LoadedModule() { Free(); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    void Load() {
        handle_ = platform::LoadLibrary(path_.c_str());
        if (handle_ == nullptr) return;
        CreateComponent = Lookup<CreateComponentFunction>("CreateComponent");
        SetDLLRegistry = Lookup<SetDLLRegistryFunction>("SetDLLRegistry");
        PexilDllFreeMap = Lookup<PexilDllFreeMapFunction>("PexilDllFreeMap");
        PexilDllCanUnloadNow = Lookup<PexilDllCanUnloadNowFunction>("PexilDllCanUnloadNow");
        SetFactoryHandle = Lookup<SetFactoryHandleFunction>("SetFactoryHandle");
        PexilSetDllSafe = Lookup<PexilSetDllSafeFunction>("PexilSetDllSafe");
        GetComponentIDs = Lookup<GetComponentIDsFunction>("GetComponentIDs");
    }
    // Gives back this object's reference; the module unloads when it was the last.
    void Free() {
        if (handle_ != nullptr) platform::FreeLibrary(handle_);
        handle_ = nullptr;
    }

    PexilModuleHandle handle() const { return handle_; }
    const std::string& path() const { return path_; }
    bool loaded() const { return platform::IsModuleLoaded(path_.c_str()); }

    template <typename Function>
    Function Lookup(const char* name) const {
        return reinterpret_cast<Function>(platform::GetProcAddress(handle_, name));
    }

    CreateComponentFunction CreateComponent = nullptr;
    SetDLLRegistryFunction SetDLLRegistry = nullptr;
    PexilDllFreeMapFunction PexilDllFreeMap = nullptr;
    PexilDllCanUnloadNowFunction PexilDllCanUnloadNow = nullptr;
    SetFactoryHandleFunction SetFactoryHandle = nullptr;
    PexilSetDllSafeFunction PexilSetDllSafe = nullptr;
    GetComponentIDsFunction GetComponentIDs = nullptr;

private:
    std::string path_;
    PexilModuleHandle handle_ = nullptr;
};

}  // namespace pexil::testing

#endif
