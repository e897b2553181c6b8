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

// One component section: 24 bytes (16 on 32-bit systems). What the section
// set is fixed once the file is read; only `binding` changes afterwards.
struct RegistryEntry {
    // The DLL path the entry resolved to: 1 + its index among the registry's
    // bindings, 0 until the first creation resolves it (under the binding
    // lock). While the file is read: the section's place in the file (first,
    // so that place and ID sort as one 64-bit number).
    uint32_t binding;
    uint32_t componentID;
    // The section's "dll" value, as written (at most 259 characters): a view
    // into the registry's file text, which lives as long as the registry.
    const char* dllName;
    uint8_t besideRegistry;  // "notusedefaultdllpath" began with '1'
    uint8_t hasLogSettings;  // the section set "outputdebugstring" or "writetologfile"
    uint8_t debugOutputMask;
    uint8_t logFileMask;
};

// A full path that entries of one registry resolved to, and the registry's
// hold on its DLL: one loader reference, taken by the first load through any
// of those entries and given back once (UnloadModule). Made at the first
// creation through the first such entry; never moves or goes away before the
// registry does.
struct DllBinding {
    PexilModuleHandle module = nullptr;  // null until loaded, and again after UnloadModule
    ModuleExports exports{};             // of module, while the binding holds it
    // Creations through this path running in its module, on any thread: while
    // there are any, UnloadModule leaves the reference in place.
    std::atomic<int32_t> calls{0};
    // The unload check that marked the path last (MarkUnloadCheck), 0 once a
    // creation through it has ended since. Written only by exchanges: the
    // mark, an acquire, then sees everything a creation that ended before it
    // did (its component's record among it).
    std::atomic<uint32_t> unloadCheck{0};
    // The full path did not fit its buffer: it is never handed to the loader.
    int32_t cut = 0;
    uint32_t hash = 0;
    uint32_t length = 0;
    char fullPath[kMaxPath];  // fixed once made
};

// What a registry knows of one entry's DLL at run time (for tests and tools).
struct EntryState {
    bool resolved;
    PexilModuleHandle module;
    const char* fullPath;  // "" until resolved
    bool fullPathCut;
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
    // notification and its timer): the binding lock guards the DLL paths the
    // entries resolved to, their modules and exports, and the default DLL. It
    // is never held while the loader or a module's code runs.
    RegistryEntry* FindEntry(uint32_t componentID);
    const RegistryEntry* FindEntry(uint32_t componentID) const;
    IComponent* CreateByID(uint32_t componentID) PEXIL_EXCLUDES(bindingLock_);
    void GetLogMasks(uint32_t componentID, uint32_t* debugOutputMask, uint32_t* logFileMask);
    void UnloadModule(PexilModuleHandle module) PEXIL_EXCLUDES(bindingLock_);
    // UnloadModule's first half: forgets the module in every DLL path that
    // holds it and has no creation in progress, and returns how many
    // references those paths held (one each), for the caller to give back
    // (FreeLibrary) outside any lock. With a check (non-zero, from
    // MarkUnloadCheck), only the paths through which no creation has ended
    // since that mark: a component recorded after the module said it was idle
    // keeps the reference of its path.
    int DetachModule(PexilModuleHandle module, uint32_t check = 0) PEXIL_EXCLUDES(bindingLock_);
    // Marks the DLL paths that hold the module with the check, before the
    // check asks the module whether it is idle.
    void MarkUnloadCheck(PexilModuleHandle module, uint32_t check) PEXIL_EXCLUDES(bindingLock_);

    // The path the binding loads the entry's DLL from (kMaxPath bytes); *cut
    // is 1 when the whole path did not fit, and such a path is never loaded.
    void FullPathOf(const RegistryEntry& entry, char* path, int32_t* cut) const;
    // The entry's DLL path as resolved, and the module the registry holds
    // through it.
    EntryState StateOf(const RegistryEntry& entry) PEXIL_EXCLUDES(bindingLock_);

    // Read access for tests and tools.
    const char* registryFilePath() const { return registryFilePath_; }
    const char* registryPath() const { return registryPath_; }
    // In ascending ID order, one per ID.
    const std::vector<RegistryEntry>& entries() const { return entries_; }
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
    // Frees what the earlier reading of a file left, when no entry points into it.
    void RetireFileText();
    // The entry's DLL path, made at the first creation through the entry and
    // shared with the entries that resolve to the same full path; null when
    // there is no memory for it.
    DllBinding* BindingOf(RegistryEntry& entry) PEXIL_REQUIRES(bindingLock_) {
        return entry.binding != 0 ? bindings_[entry.binding - 1] : Resolve(entry);
    }
    DllBinding* Resolve(RegistryEntry& entry) PEXIL_REQUIRES(bindingLock_);
    IComponent* CreateThroughEntry(uint32_t componentID, RegistryEntry& entry)
        PEXIL_EXCLUDES(bindingLock_);
    IComponent* CreateThroughDefault(uint32_t componentID) PEXIL_EXCLUDES(bindingLock_);
    IComponent* CallModule(const ModuleExports& exports, uint32_t componentID, bool isDefault,
                           const char* fullPath);
    static ModuleExports LookUpExports(PexilModuleHandle module);
    // The path's module's exports: its own, those another path to the same
    // module looked up, or looked up now.
    const ModuleExports& ExportsOf(DllBinding& dll) PEXIL_REQUIRES(bindingLock_);
    // The explaining trace's lines for a creation that fails (dll: null when
    // there was no memory for the entry's DLL path).
    void ExplainEntryLoadFailure(uint32_t componentID, const RegistryEntry& entry,
                                 const DllBinding* dll) const;
    void ExplainNoEntry(uint32_t componentID, bool justTried) const;
    // Which lines of the file bound component 361 to no factory.
    void ExplainFactoryEntry() const;

    char registryFilePath_[kMaxPath];
    char registryPath_[kMaxPath];
    uint32_t fileSize_ = 0;
    char* fileText_ = nullptr;
    char* readPosition_ = nullptr;
    // Sorted by ID; each entry's DLL name points into fileText_.
    std::vector<RegistryEntry> entries_;
    // Texts of earlier loads that entries still point into (a registry is
    // normally loaded once).
    std::vector<char*> retiredTexts_;
    uint32_t defaultDebugOutputMask_ = 0;
    uint32_t defaultLogFileMask_ = 0;
    char defaultDllDirectory_[kMaxPath];
    char defaultDllPath_[kMaxPath];
    Mutex bindingLock_;
    PexilModuleHandle defaultDllHandle_ PEXIL_GUARDED_BY(bindingLock_) = nullptr;
    // Never freed, so never forgotten.
    ModuleExports defaultDllExports_ PEXIL_GUARDED_BY(bindingLock_) = {};
    // The distinct full paths the entries resolved to (owned): one loader
    // reference each, shared by every entry of the path. Each allocated by
    // itself, so that it stays where it is while others are added: its full
    // path and count of calls are read without the lock.
    std::vector<DllBinding*> bindings_ PEXIL_GUARDED_BY(bindingLock_);
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
