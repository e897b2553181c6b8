// ComponentFactory: component 361, the one component of Brelnor.dll, through
// which hosts and modules obtain every other component. One instance per
// process.
#ifndef PEXIL_FACTORY_COMPONENT_FACTORY_H
#define PEXIL_FACTORY_COMPONENT_FACTORY_H

#include "factory/global_components.h"
#include "log/log_files.h"
#include "registry/component_registry.h"
#include "support/redirect_chain.h"

#include <pexil/component_base.h>
#include <pexil/factory.h>

#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>

namespace pexil {

class ComponentFactory : public ComponentBase<IComponentFactory, kFactoryComponentID> {
public:
    ComponentFactory();
    ~ComponentFactory() override = default;

    // Allocation through the platform (null on failure, for fault injection).
    static void* operator new(size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* memory) noexcept;
    static void operator delete(void* memory, const std::nothrow_t&) noexcept;

    IComponent* CreateComponentByID(uint32_t componentID, const char* registryPath) override;
    void GetLogSettings(const char* registryPath, uint32_t componentID, uint32_t* debugOutputMask,
                        uint32_t* logFileMask, LogSink** logSink) override;
    void RegisterGlobalComponent(IComponent* component) override;
    void ReleaseGlobalComponents() override;
    int UnloadDllIfIdle(PexilModuleHandle module) override;
    uint32_t ScheduleDllUnload(PexilModuleHandle module) override;
    void SetRootPath(const char* path) override;
    int GetRootPath(char* buffer) override;
    void Shutdown() override;

    // The unload check the 100 ms timer runs: one pass over the modules
    // scheduled so far, then the timer stops.
    void RunUnloadCheck();

    // For tests and tools.
    const ComponentRegistry& defaultRegistry() const { return defaultRegistry_; }
    size_t cachedRegistryCount() const { return registries_.size(); }
    size_t pendingUnloadCount() const { return pendingUnloads_.size(); }
    uint32_t timerId() const { return static_cast<uint32_t>(timerId_.load()); }
    int alive() const { return alive_.load(); }
    const LogSink& logSink() const { return logSink_; }

private:
    // Stops the unload timer if one runs (on another thread than the one that
    // started it, the timer stops itself at its next event). Under unloadLock_.
    void StopUnloadTimer();
    static void PEXIL_CALLBACK UnloadTimerProc(void*, unsigned int, uintptr_t timer, unsigned long);

    log::LogDirectoryCallback logDirectoryCallback_;
    GlobalComponents globalComponents_;
    PexilLock logLock_;
    LogSink logSink_;
    ComponentRegistry defaultRegistry_;
    // Keyed by the caller's string, looked up without making a std::string of it.
    std::map<std::string, ComponentRegistry*, std::less<>> registries_;
    std::mutex unloadLock_;  // guards the set and the writing of the timer ID
    std::set<PexilModuleHandle> pendingUnloads_;
    // The running unload timer's ID, 0 when none. Read without the lock by
    // the timer procedure, which tells its own timer from one this factory no
    // longer counts.
    std::atomic<uintptr_t> timerId_{0};
    // 1 from construction until the start of Shutdown; the timer procedure
    // does nothing once it is 0.
    std::atomic<int> alive_{1};
    char rootPath_[kMaxPath];
};

// The file a registry path names after its "Redirect" chain, as the factory
// follows it: a relative P is taken against the host directory; a value that
// is empty after trimming spaces ends the chain at P; a relative value ends it
// beside P; an absolute value continues in the file it names. 0 (and an empty
// result) when an absolute chain comes back to a file it has passed, or when a
// path of the chain does not fit its 260-byte buffer (cut, it could name
// another file).
// Relative paths are taken against the base (the host directory); the
// observer (when given) is told each step.
int FollowFactoryRedirect(const char* path, char* buffer, int size,
                          const PathBase& base = kFactoryBase,
                          RedirectObserver* observer = nullptr);

}  // namespace pexil

#endif
