// ComponentRegistry: one component registry file read whole into registry-wide
// defaults and one entry per component section, and the binding of component
// IDs to the DLLs that provide them.
#ifndef PEXIL_REGISTRY_COMPONENT_REGISTRY_H
#define PEXIL_REGISTRY_COMPONENT_REGISTRY_H

#include "platform/mutex.h"
#include "support/base_directory.h"

#include <pexil/component.h>
#include <pexil/config.h>
#include <pexil/module.h>

#include <atomic>
#include <cstddef>
#include <map>
#include <utility>
#include <vector>

namespace pexil {

class RegistryObserver;

// Log-mask letters (either case) and their bits.
constexpr uint32_t kMaskE = 0x01, kMaskT = 0x02, kMaskV = 0x04, kMaskD = 0x08, kMaskW = 0x10,
                   kMaskC = 0x20;

// The three exports a registry calls in a module, looked up once per load of
// the module: a module's exports cannot change while it stays loaded, and the
// reference the registry holds keeps it loaded. Forgotten when that reference
// is given back (the module may be loaded again at another address).
struct ModuleExports {
    int32_t lookedUp;  // 1 once the three below were looked up
    SetDLLRegistryFunction setDLLRegistry;
    SetFactoryHandleFunction setFactoryHandle;
    CreateComponentFunction createComponent;
};

// Calls into an entry's module in progress, on any thread. Copied as a value
// (entries are copied while the file is parsed, before any call).
struct CallsInProgress {
    std::atomic<int32_t> count{0};
    // The unload check that marked the entry last (MarkUnloadCheck), 0 once a
    // creation through the entry has ended since. Written only by exchanges:
    // the mark, an acquire, then sees everything a creation that ended
    // before it did (its component's record among it).
    std::atomic<uint32_t> unloadCheck{0};
    CallsInProgress() = default;
    CallsInProgress(const CallsInProgress& other)
        : count(other.count.load()), unloadCheck(other.unloadCheck.load()) {}
    CallsInProgress& operator=(const CallsInProgress& other) {
        count.store(other.count.load());
        unloadCheck.store(other.unloadCheck.load());
        return *this;
    }
};

struct RegistryEntry {
    PexilModuleHandle module;  // null until loaded, and again after UnloadModule
    int32_t resolved;          // 1 once the full path is computed
    int32_t besideRegistry;    // "notusedefaultdllpath" began with '1'
    char dllName[kMaxPath];    // the section's "dll" value, as written
    char fullPath[kMaxPath];   // computed from the DLL name on first use
    int32_t hasLogSettings;    // the section set "outputdebugstring" or "writetologfile"
    uint32_t debugOutputMask;
    uint32_t logFileMask;
    // The full path did not fit its buffer: it is never handed to the loader.
    int32_t fullPathCut;
    ModuleExports exports;  // of module, while the entry holds it
    // While a creation through this entry runs in its module, UnloadModule
    // leaves the entry's reference in place: the module stays loaded.
    CallsInProgress calls;
};

// A base with one operation that nothing calls or overrides.
class RegistryBase {
public:
    virtual void Reserved(const char*, const char*) {}

protected:
    ~RegistryBase() = default;
};

class ComponentRegistry : public RegistryBase {
public:
    // The default handle value after a failed load: final for this registry.
    static PexilModuleHandle FailedHandle() {
        return reinterpret_cast<PexilModuleHandle>(static_cast<intptr_t>(-1));
    }

    // base: where relative paths of the file resolve (the configured root path).
    explicit ComponentRegistry(const PathBase& base = RegistryPathBase());
    virtual ~ComponentRegistry();
    ComponentRegistry(const ComponentRegistry&) = delete;
    ComponentRegistry& operator=(const ComponentRegistry&) = delete;

    // Allocation through the platform (null on failure, for fault injection).
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* memory) noexcept;

    // Reads and parses the file; returns 1 in every case. The observer, when
    // given, is told every decision of the parser (for tools).
    int LoadFile(const char* registryPath, const char* registryFilePath);
    int LoadFile(const char* registryPath, const char* registryFilePath,
                 RegistryObserver& observer);

    // Any thread may create through a registry, and the factory's unload check
    // may give its modules back on another thread meanwhile (a worker's idle
    // notification and its timer): the binding lock guards the entries' modules,
    // their exports and the default DLL. It is never held while the loader or a
    // module's code runs.
    RegistryEntry* FindEntry(uint32_t componentID);
    IComponent* CreateByID(uint32_t componentID) PEXIL_EXCLUDES(bindingLock_);
    void GetLogMasks(uint32_t componentID, uint32_t* debugOutputMask, uint32_t* logFileMask);
    void UnloadModule(PexilModuleHandle module) PEXIL_EXCLUDES(bindingLock_);
    // UnloadModule's first half: forgets the module in every entry that holds it
    // and has no creation in progress, and returns how many references those
    // entries held, for the caller to give back (FreeLibrary) outside any lock.
    // With a check (non-zero, from MarkUnloadCheck), only the entries through
    // which no creation has ended since that mark: a component recorded after
    // the module said it was idle keeps the reference of its entry.
    int DetachModule(PexilModuleHandle module, uint32_t check = 0) PEXIL_EXCLUDES(bindingLock_);
    // Marks the entries that hold the module with the check, before the check
    // asks the module whether it is idle.
    void MarkUnloadCheck(PexilModuleHandle module, uint32_t check) PEXIL_EXCLUDES(bindingLock_);

    // The path the binding loads the entry's DLL from (kMaxPath bytes); *cut
    // is 1 when the whole path did not fit, and such a path is never loaded.
    void FullPathOf(const RegistryEntry& entry, char* path, int32_t* cut) const;

    // Read access for tests and tools.
    const char* registryFilePath() const { return registryFilePath_; }
    const char* registryPath() const { return registryPath_; }
    const std::map<uint32_t, RegistryEntry>& entries() const { return entries_; }
    uint32_t defaultDebugOutputMask() const { return defaultDebugOutputMask_; }
    uint32_t defaultLogFileMask() const { return defaultLogFileMask_; }
    const char* defaultDllDirectory() const { return defaultDllDirectory_; }
    const char* defaultDllPath() const { return defaultDllPath_; }
    PexilModuleHandle defaultDllHandle() const PEXIL_NO_THREAD_SAFETY_ANALYSIS {
        return defaultDllHandle_;  // for tools and tests, on one thread
    }
    bool defaultDllPathCut() const { return defaultDllPathCut_; }
    bool fileRead() const { return fileRead_; }

    // The configured root path, native style: the base of every registry.
    static const PathBase& RegistryPathBase();

private:
    template <class Observer>
    friend class RegistryParser;

    template <class Observer>
    int Load(const char* registryPath, const char* registryFilePath, Observer& observer);
    void ReadFile(const char* registryFilePath);
    void ResolveFullPath(RegistryEntry& entry) PEXIL_REQUIRES(bindingLock_);
    IComponent* CreateThroughEntry(uint32_t componentID, RegistryEntry& entry)
        PEXIL_EXCLUDES(bindingLock_);
    IComponent* CreateThroughDefault(uint32_t componentID) PEXIL_EXCLUDES(bindingLock_);
    IComponent* CallModule(const ModuleExports& exports, uint32_t componentID, bool isDefault,
                           const char* fullPath);
    static ModuleExports LookUpExports(PexilModuleHandle module);
    // The entry's module's exports: its own, those another entry of the
    // module looked up, or looked up now and kept for the others.
    const ModuleExports& ExportsOf(RegistryEntry& entry) PEXIL_REQUIRES(bindingLock_);
    // The explaining trace's lines for a creation that fails.
    void ExplainEntryLoadFailure(uint32_t componentID, const RegistryEntry& entry) const;
    void ExplainNoEntry(uint32_t componentID, bool justTried) const;
    // Which lines of the file bound component 361 to no factory.
    void ExplainFactoryEntry() const;

    char registryFilePath_[kMaxPath];
    char registryPath_[kMaxPath];
    uint32_t fileSize_ = 0;
    char* fileText_ = nullptr;
    char* readPosition_ = nullptr;
    std::map<uint32_t, RegistryEntry> entries_;
    uint32_t defaultDebugOutputMask_ = 0;
    uint32_t defaultLogFileMask_ = 0;
    char defaultDllDirectory_[kMaxPath];
    char defaultDllPath_[kMaxPath];
    Mutex bindingLock_;
    PexilModuleHandle defaultDllHandle_ PEXIL_GUARDED_BY(bindingLock_) = nullptr;
    // Never freed, so never forgotten.
    ModuleExports defaultDllExports_ PEXIL_GUARDED_BY(bindingLock_) = {};
    // The exports of each module this registry's entries hold, so that an
    // entry that loads a module another entry holds already looks up nothing.
    // Dropped with the module's last reference (UnloadModule).
    std::vector<std::pair<PexilModuleHandle, ModuleExports>> heldExports_
        PEXIL_GUARDED_BY(bindingLock_);
    // The default DLL path did not fit: it counts as a failed default.
    bool defaultDllPathCut_ = false;
    // The file was opened and read whole.
    bool fileRead_ = false;
    const PathBase& base_;
};

// The registry's join rule: directory and name, with a separator between them
// unless the directory ends with one (also when it is empty). Returns 0 when
// the result did not fit: the buffer then holds it cut to size - 1 characters.
int JoinDirectoryAndName(const char* directory, const char* name, char* buffer, int size,
                         PathStyle style = PathStyle::Native);

}  // namespace pexil

#endif
