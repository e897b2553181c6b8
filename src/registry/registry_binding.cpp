// The run-time half of a registry: creating a component through the DLL its
// entry names (or the registry's default DLL), answering log masks, and giving
// back the registry's hold on a module.
#include "platform/platform.h"
#include "registry/component_registry.h"
#include "registry/entry_lines.h"
#include "support/debug_print.h"
#include "support/diagnostic_text.h"
#include "support/windows_mistakes.h"

#include <pexil/module.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace pexil {

const RegistryEntry* ComponentRegistry::FindEntry(uint32_t componentID) const {
    const auto found = std::lower_bound(
        entries_.begin(), entries_.end(), componentID,
        [](const RegistryEntry& entry, uint32_t id) { return entry.componentID < id; });
    return found != entries_.end() && found->componentID == componentID ? &*found : nullptr;
}

RegistryEntry* ComponentRegistry::FindEntry(uint32_t componentID) {
    return const_cast<RegistryEntry*>(std::as_const(*this).FindEntry(componentID));
}

void ComponentRegistry::FullPathOf(const RegistryEntry& entry, char* path, int32_t* cut) const {
    *cut = 0;
    if (IsAbsolutePath(entry.dllName, base_.style)) {
        CopyIfFits(path, kMaxPath, entry.dllName);
    } else if (entry.besideRegistry != 0) {
        // The join keeps whatever part fits.
        int whole = 0;
        JoinWithDirectoryOf(registryFilePath_, entry.dllName, path, kMaxPath, base_.style, &whole);
        *cut = whole != 0 ? 0 : 1;
    } else {
        *cut =
            !JoinDirectoryAndName(defaultDllDirectory_, entry.dllName, path, kMaxPath, base_.style);
    }
}

namespace {

// A cheap first comparison of two full paths: FNV-1a over their last 32 bytes,
// where the paths of one registry differ (their directories are mostly one).
uint32_t HashOf(const char* text, size_t length) {
    uint32_t hash = 2166136261u;
    for (size_t i = length > 32 ? length - 32 : 0; i < length; ++i)
        hash = (hash ^ static_cast<unsigned char>(text[i])) * 16777619u;
    return hash;
}

}  // namespace

DllBinding* ComponentRegistry::Resolve(RegistryEntry& entry) {
    // Resolved once: the full path never changes afterwards, not even when
    // the module is unloaded.
    char path[kMaxPath];
    int32_t cut = 0;
    FullPathOf(entry, path, &cut);
    const size_t length = std::strlen(path);
    const uint32_t hash = HashOf(path, length);
    // Entries whose DLLs resolve to one path share it, and with it one loader
    // reference. A registry names a few dozen DLLs: a search through them
    // costs less than the loader's own search for a loaded module.
    uint32_t index = 0;
    for (; index < bindings_.size(); ++index) {
        const DllBinding& dll = *bindings_[index];
        if (dll.hash == hash && dll.length == length && dll.cut == cut &&
            std::memcmp(dll.fullPath, path, length) == 0) {
            break;
        }
    }
    if (index == bindings_.size()) {
        DllBinding* made = new (std::nothrow) DllBinding;
        if (made == nullptr) return nullptr;
        std::memcpy(made->fullPath, path, length + 1);
        made->length = static_cast<uint32_t>(length);
        made->hash = hash;
        made->cut = cut;
        try {
            bindings_.push_back(made);
        } catch (const std::bad_alloc&) {
            delete made;
            return nullptr;
        }
    }
    entry.binding = index + 1;
    return bindings_[index];
}

EntryState ComponentRegistry::StateOf(const RegistryEntry& entry) {
    MutexLock guard(bindingLock_);
    if (entry.binding == 0) return EntryState{false, nullptr, "", false};
    const DllBinding& dll = *bindings_[entry.binding - 1];
    return EntryState{true, dll.module, dll.fullPath, dll.cut != 0};
}

IComponent* ComponentRegistry::CreateByID(uint32_t componentID) {
    // An entry never falls back to the default DLL.
    if (RegistryEntry* entry = FindEntry(componentID)) {
        IComponent* component = CreateThroughEntry(componentID, *entry);
        if (component == nullptr && componentID == kFactoryComponentID) ExplainFactoryEntry();
        return component;
    }
    return CreateThroughDefault(componentID);
}

IComponent* ComponentRegistry::CreateThroughEntry(uint32_t componentID, RegistryEntry& entry) {
    // Looped: the unload check on another thread may give the module back
    // between its load here and the call into it; it is then loaded again.
    for (;;) {
        bindingLock_.Lock();
        DllBinding* dll = BindingOf(entry);
        if (dll != nullptr && dll->module != nullptr) {
            const ModuleExports exports = ExportsOf(*dll);
            dll->calls.fetch_add(1, std::memory_order_relaxed);
            bindingLock_.Unlock();
            // The module's own code runs without the lock: it may ask the
            // factory for further components.
            IComponent* component = CallModule(exports, componentID, false, dll->fullPath);
            // An unload check that marked the path before this ends keeps its
            // reference: its question may have come before the record.
            dll->unloadCheck.exchange(0, std::memory_order_release);
            dll->calls.fetch_sub(1, std::memory_order_release);
            return component;
        }
        const bool cut = dll == nullptr || dll->cut != 0;
        bindingLock_.Unlock();
        // A path cut to fit could name another file: it is never loaded. The
        // loader runs the module's initialisers, so no lock is held across it.
        PexilModuleHandle loaded = cut ? nullptr : platform::LoadLibrary(dll->fullPath);
        if (loaded == nullptr) {
            char unbound[kMaxPath];
            const char* path = dll != nullptr ? dll->fullPath : unbound;
            if (dll == nullptr) {
                // No memory to keep the path: the DLL is not loaded this time.
                int32_t unboundCut = 0;
                FullPathOf(entry, unbound, &unboundCut);
            }
            DebugPrintf(DebugChannel::Binding, "[Pexil_Error] LoadLibrary Fail.\n");
            DebugPrintf(DebugChannel::Binding, "[Pexil_Error] DLL Path:%s\n", path);
            if (Explaining()) ExplainEntryLoadFailure(componentID, entry, dll);
            return nullptr;
        }
        bindingLock_.Lock();
        if (dll->module == nullptr) {
            dll->module = loaded;
            loaded = nullptr;
        }
        bindingLock_.Unlock();
        // Another thread's creation loaded it meanwhile: one reference is enough.
        if (loaded != nullptr) platform::FreeLibrary(loaded);
    }
}

IComponent* ComponentRegistry::CreateThroughDefault(uint32_t componentID) {
    bindingLock_.Lock();
    PexilModuleHandle handle = defaultDllHandle_;
    bindingLock_.Unlock();
    if (handle == FailedHandle()) {
        ExplainNoEntry(componentID, false);
        return nullptr;
    }
    if (handle == nullptr) {
        // Tried once; a failure is final for this registry and reported nowhere.
        PexilModuleHandle module = nullptr;
        if (defaultDllPath_[0] != '\0' && !defaultDllPathCut_) {
            module = platform::LoadLibrary(defaultDllPath_);
        }
        bindingLock_.Lock();
        if (defaultDllHandle_ == nullptr) {
            defaultDllHandle_ = module != nullptr ? module : FailedHandle();
            module = nullptr;
        }
        handle = defaultDllHandle_;
        bindingLock_.Unlock();
        // Another thread's first request decided it meanwhile.
        if (module != nullptr) platform::FreeLibrary(module);
        if (handle == FailedHandle()) {
            ExplainNoEntry(componentID, true);
            return nullptr;
        }
    }
    bindingLock_.Lock();
    if (defaultDllExports_.lookedUp == 0) defaultDllExports_ = LookUpExports(handle);
    const ModuleExports exports = defaultDllExports_;
    bindingLock_.Unlock();
    return CallModule(exports, componentID, true, nullptr);
}

// Looked up at the first request after each load of the module; every
// request then makes the same calls, in the same order, as a lookup at each
// would.
ModuleExports ComponentRegistry::LookUpExports(PexilModuleHandle module) {
    ModuleExports exports{};
    exports.setDLLRegistry = reinterpret_cast<SetDLLRegistryFunction>(
        platform::GetProcAddress(module, "SetDLLRegistry"));
    exports.setFactoryHandle = reinterpret_cast<SetFactoryHandleFunction>(
        platform::GetProcAddress(module, "SetFactoryHandle"));
    exports.createComponent = reinterpret_cast<CreateComponentFunction>(
        platform::GetProcAddress(module, "CreateComponent"));
    exports.lookedUp = 1;
    return exports;
}

const ModuleExports& ComponentRegistry::ExportsOf(DllBinding& dll) {
    if (dll.exports.lookedUp != 0) return dll.exports;
    // Another path to the same module (spelt otherwise) looked them up already.
    for (const DllBinding* other : bindings_) {
        if (other->module == dll.module && other->exports.lookedUp != 0)
            return dll.exports = other->exports;
    }
    return dll.exports = LookUpExports(dll.module);
}

void ComponentRegistry::ExplainEntryLoadFailure(uint32_t componentID, const RegistryEntry& entry,
                                                const DllBinding* dll) const {
    if (entry.dllName[0] == '\0') {
        Explain("component %u: its section in %s has no DLL= line, so no DLL is named\n",
                componentID, registryFilePath_);
    } else if (dll == nullptr) {
        Explain("component %u: out of memory for the full path of its DLL %s\n", componentID,
                entry.dllName);
    } else if (dll->cut != 0) {
        Explain(
            "component %u: the full path of its DLL %s does not fit in 259 characters, so "
            "it is never loaded\n",
            componentID, entry.dllName);
    } else {
        char reason[512] = "";
        platform::LoadFailureReason(reason, sizeof(reason));
        Explain("component %u: the loader says: %s\n", componentID, reason);
        ExplainUnrepresentable("the DLL", dll->fullPath);
        char directory[kMaxPath];
        if (entry.besideRegistry != 0 && !IsAbsolutePath(entry.dllName, base_.style) &&
            DirectoryCutBeforeSlash(registryFilePath_, directory, kMaxPath, base_.style)) {
            Explain(
                "component %u: its DLL is looked for beside the registry file, in %s: the "
                "directory of %s ends at its last backslash, and a '/' after it does not "
                "count; write the registry path with backslashes only\n",
                componentID, directory, registryFilePath_);
        }
        ExplainOtherCase(dll->fullPath);
    }
}

void ComponentRegistry::ExplainFactoryEntry() const {
    if (!Explaining() || !fileRead_) return;
    // The file read again, watched: which of its lines bound 361 so. Without
    // the memory for it, the line is not written.
    try {
        EntryLines lines(kFactoryComponentID);
        lines.Read(base_, registryFilePath_);
        const std::string described = lines.Describe(registryFilePath_);
        if (described.empty()) return;
        Explain(
            "component 361: %s; so the holders that ask this registry for the factory get "
            "none\n",
            described.c_str());
    } catch (const std::bad_alloc&) {
    }
}

void ComponentRegistry::ExplainNoEntry(uint32_t componentID, bool justTried) const {
    if (!Explaining()) return;
    const char* file = registryFilePath_[0] != '\0' ? registryFilePath_ : "(no file)";
    if (!fileRead_) {
        Explain(
            "component %u: the registry file %s could not be read (missing or unreadable), "
            "so it binds no component; the factory does not read it again\n",
            componentID, file);
        ExplainOtherCase(registryFilePath_);
    } else if (defaultDllPath_[0] == '\0') {
        Explain(
            "component %u: %s has no section [%u] and no DefaultDll: add a [%u] section with "
            "DLL=<its module>\n",
            componentID, file, componentID, componentID);
    } else if (justTried) {
        char reason[512] = "";
        if (defaultDllPathCut_) {
            CopyIfFits(reason, sizeof(reason), "its path does not fit in 259 characters");
        } else {
            platform::LoadFailureReason(reason, sizeof(reason));
        }
        Explain("component %u: %s has no section [%u], and its DefaultDll %s does not load: %s\n",
                componentID, file, componentID, defaultDllPath_, reason);
        if (!defaultDllPathCut_) ExplainOtherCase(defaultDllPath_);
    } else {
        Explain(
            "component %u: %s has no section [%u], and its DefaultDll %s did not load at the "
            "first request: it is not tried again\n",
            componentID, file, componentID, defaultDllPath_);
    }
}

IComponent* ComponentRegistry::CallModule(const ModuleExports& exports, uint32_t componentID,
                                          bool isDefault, const char* fullPath) {
    if (exports.setDLLRegistry != nullptr) exports.setDLLRegistry(registryPath_);
    if (exports.setFactoryHandle != nullptr) exports.setFactoryHandle(ModuleHandle());
    const CreateComponentFunction create = exports.createComponent;
    if (create == nullptr) {
        if (isDefault) {
            DebugPrintf(DebugChannel::Binding,
                        "[Pexil_Error] Can't find CreateComponent() in Default Component DLL.\n");
        } else {
            DebugPrintf(DebugChannel::Binding, "[Pexil_Error] Can't find CreateComponent().\n");
            DebugPrintf(DebugChannel::Binding, "[Pexil_Error] DLL:%s\n", fullPath);
        }
        return nullptr;
    }
    IComponent* component = create(componentID, kCreatorFactory);
    if (component == nullptr) {
        DebugPrintf(DebugChannel::Binding,
                    "[Pexil_Error] CreateComponent(ComponentId=%u) return null.\n", componentID);
    }
    return component;
}

void ComponentRegistry::GetLogMasks(uint32_t componentID, uint32_t* debugOutputMask,
                                    uint32_t* logFileMask) {
    const RegistryEntry* entry = FindEntry(componentID);
    // Both masks come from one place: an entry that set only one gives 0 for the other.
    if (entry != nullptr && entry->hasLogSettings != 0) {
        *debugOutputMask = entry->debugOutputMask;
        *logFileMask = entry->logFileMask;
    } else {
        *debugOutputMask = defaultDebugOutputMask_;
        *logFileMask = defaultLogFileMask_;
    }
}

void ComponentRegistry::MarkUnloadCheck(PexilModuleHandle module, uint32_t check) {
    MutexLock guard(bindingLock_);
    for (DllBinding* dll : bindings_) {
        if (dll->module == module) dll->unloadCheck.exchange(check, std::memory_order_acq_rel);
    }
}

int ComponentRegistry::DetachModule(PexilModuleHandle module, uint32_t check) {
    MutexLock guard(bindingLock_);
    // One reference per DLL path that took one; the default DLL stays. A path
    // through which a creation is still running in the module keeps its
    // reference, and what was looked up in the module; so does one through
    // which a creation ended after the check's mark (its component may live
    // although the module said it was idle).
    int references = 0;
    for (DllBinding* dll : bindings_) {
        if (dll->module != module) continue;
        if (dll->calls.load(std::memory_order_acquire) != 0 ||
            (check != 0 && dll->unloadCheck.load(std::memory_order_acquire) != check))
            continue;
        dll->module = nullptr;
        dll->exports = ModuleExports{};
        ++references;
    }
    return references;
}

void ComponentRegistry::UnloadModule(PexilModuleHandle module) {
    // The loader runs the module's destructors when it goes: outside the lock.
    for (int references = DetachModule(module); references > 0; --references)
        platform::FreeLibrary(module);
}

}  // namespace pexil
