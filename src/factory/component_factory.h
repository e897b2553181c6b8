// ComponentFactory: component 361, the one component of Brelnor.dll, through
// which hosts and modules obtain every other component. One instance per
// process.
#ifndef PEXIL_FACTORY_COMPONENT_FACTORY_H
#define PEXIL_FACTORY_COMPONENT_FACTORY_H

#include "factory/global_components.h"
#include "log/log_files.h"
#include "platform/mutex.h"
#include "platform/recursive_lock.h"
#include "registry/component_registry.h"
#include "support/redirect_chain.h"

#include <pexil/component_base.h>
#include <pexil/factory.h>

#include <atomic>
#include <map>
#include <new>
#include <set>
#include <string>

namespace pexil {

// Threads. The factory is used from one thread at a time, but the framework
// itself reaches it from others: a module that goes idle on a worker thread
// asks it for component 361 (CreateComponentByID) and calls ScheduleDllUnload
// there, and the unload timer then runs on that worker. So the registry cache,
// each registry's bindings and the pending-unload set have locks of their own
// (docs/concurrency.md), none held while a module's code or the loader runs.
class ComponentFactory : public ComponentBase<IComponentFactory, kFactoryComponentID> {
public:
    ComponentFactory();
    ~ComponentFactory() override = default;

    // Allocation through the platform (null on failure, for fault injection);
    // freed through FreeComponentMemory, as ComponentBase frees.
    static constexpr bool kFreesThroughFreeComponentMemory = true;
    static void* operator new(size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* memory) noexcept;
    static void operator delete(void* memory, const std::nothrow_t&) noexcept;

    IComponent* CreateComponentByID(uint32_t componentID, const char* registryPath) override
        PEXIL_EXCLUDES(registriesLock_, unloadLock_);
    void GetLogSettings(const char* registryPath, uint32_t componentID, uint32_t* debugOutputMask,
                        uint32_t* logFileMask, LogSink** logSink) override
        PEXIL_EXCLUDES(registriesLock_, unloadLock_);
    void RegisterGlobalComponent(IComponent* component) override;
    void ReleaseGlobalComponents() override;
    int UnloadDllIfIdle(PexilModuleHandle module) override
        PEXIL_EXCLUDES(registriesLock_, unloadLock_);
    uint32_t ScheduleDllUnload(PexilModuleHandle module) override PEXIL_EXCLUDES(unloadLock_);
    void SetRootPath(const char* path) override;
    int GetRootPath(char* buffer) override;
    void Shutdown() override PEXIL_EXCLUDES(registriesLock_, unloadLock_);

    // The unload check the 100 ms timer runs: one pass over the modules
    // scheduled so far, then the timer stops.
    void RunUnloadCheck() PEXIL_EXCLUDES(registriesLock_, unloadLock_);

    // For tests and tools.
    const ComponentRegistry& defaultRegistry() const { return defaultRegistry_; }
    size_t cachedRegistryCount() PEXIL_EXCLUDES(registriesLock_) {
        MutexLock guard(registriesLock_);
        return registries_.size();
    }
    size_t pendingUnloadCount() PEXIL_EXCLUDES(unloadLock_) {
        MutexLock guard(unloadLock_);
        return pendingUnloads_.size();
    }
    uint32_t timerId() const { return static_cast<uint32_t>(timerId_.load()); }
    int alive() const { return alive_.load(); }
    const LogSink& logSink() const { return logSink_; }

protected:
    // A factory made by a thread that lost the race to publish the one
    // instance: nothing of it was ever seen, so its Shutdown (which prunes the
    // log directory) does not run.
    void DiscardUnpublished();

private:
    // The registry of a named path, made and loaded when the factory has none
    // yet (null when it cannot be made).
    ComponentRegistry* RegistryFor(const char* registryPath) PEXIL_EXCLUDES(registriesLock_);
    // Stops the unload timer if one runs (on another thread than the one that
    // started it, the timer stops itself at its next event).
    void StopUnloadTimer() PEXIL_REQUIRES(unloadLock_);
    // Lets Shutdown go on only once no unload check runs on another thread,
    // and tells a pass on this thread (its module shutting the factory down as
    // it is freed) to touch the factory no more.
    static void WaitForUnloadChecksOnOtherThreads();
    static void PEXIL_CALLBACK UnloadTimerProc(void*, unsigned int, uintptr_t timer, unsigned long);

    log::LogDirectoryCallback logDirectoryCallback_;
    GlobalComponents globalComponents_;
    // Handed to the components that write the log (the LogSink); within the
    // factory only Shutdown takes it.
    RecursiveLock logLock_;
    LogSink logSink_;
    ComponentRegistry defaultRegistry_;
    // Guards the registry cache; taken before any registry's binding lock.
    Mutex registriesLock_ PEXIL_ACQUIRED_BEFORE(unloadLock_);
    // Keyed by the caller's string, looked up without making a std::string of
    // it. Entries are removed only by Shutdown, so a registry found here stays
    // valid after the lock is left.
    std::map<std::string, ComponentRegistry*, std::less<>> registries_
        PEXIL_GUARDED_BY(registriesLock_);
    // The registry RegistryFor found or made last, read without the lock: a
    // host asks for one registry over and over. Set under the cache lock,
    // emptied by Shutdown before the registries go.
    std::atomic<ComponentRegistry*> lastRegistry_{nullptr};
    // Guards the set and the writing of the timer ID; the innermost lock of the
    // factory, taken under a module's lock by the idle notification.
    Mutex unloadLock_;
    std::set<PexilModuleHandle> pendingUnloads_ PEXIL_GUARDED_BY(unloadLock_);
    // The running unload timer's ID, 0 when none.
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
