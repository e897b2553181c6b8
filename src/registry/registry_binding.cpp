// The run-time half of a registry: creating a component through the DLL its
// entry names (or the registry's default DLL), answering log masks, and giving
// back the registry's hold on a module.
#include "platform/platform.h"
#include "registry/component_registry.h"
#include "registry/entry_lines.h"
#include "support/debug_print.h"
#include "support/windows_mistakes.h"
#include "support/diagnostic_text.h"

#include <pexil/module.h>

#include <new>
#include <string>

namespace pexil {

RegistryEntry* ComponentRegistry::FindEntry(uint32_t componentID) {
    auto it = entries_.find(componentID);
    return it != entries_.end() ? &it->second : nullptr;
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

void ComponentRegistry::ResolveFullPath(RegistryEntry& entry) {
    FullPathOf(entry, entry.fullPath, &entry.fullPathCut);
    entry.resolved = 1;
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
        if (entry.resolved == 0) ResolveFullPath(entry);
        if (entry.module != nullptr) {
            const ModuleExports exports = ExportsOf(entry);
            entry.calls.count.fetch_add(1, std::memory_order_relaxed);
            bindingLock_.Unlock();
            // The module's own code runs without the lock: it may ask the
            // factory for further components.
            IComponent* component = CallModule(exports, componentID, false, entry.fullPath);
            // An unload check that marked the entry before this ends keeps its
            // reference: its question may have come before the record.
            entry.calls.unloadCheck.exchange(0, std::memory_order_release);
            entry.calls.count.fetch_sub(1, std::memory_order_release);
            return component;
        }
        const bool cut = entry.fullPathCut != 0;
        bindingLock_.Unlock();
        // A path cut to fit could name another file: it is never loaded. The
        // loader runs the module's initialisers, so no lock is held across it.
        PexilModuleHandle loaded = cut ? nullptr : platform::LoadLibrary(entry.fullPath);
        if (loaded == nullptr) {
            DebugPrintf(DebugChannel::Binding, "[Pexil_Error] LoadLibrary Fail.\n");
            DebugPrintf(DebugChannel::Binding, "[Pexil_Error] DLL Path:%s\n", entry.fullPath);
            if (Explaining()) ExplainEntryLoadFailure(componentID, entry);
            return nullptr;
        }
        bindingLock_.Lock();
        if (entry.module == nullptr) {
            entry.module = loaded;
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

const ModuleExports& ComponentRegistry::ExportsOf(RegistryEntry& entry) {
    if (entry.exports.lookedUp != 0) return entry.exports;
    // Another entry holding the module looked them up already.
    for (const auto& held : heldExports_) {
        if (held.first == entry.module) return entry.exports = held.second;
    }
    entry.exports = LookUpExports(entry.module);
    try {
        heldExports_.emplace_back(entry.module, entry.exports);
    } catch (const std::bad_alloc&) {
        // Not shared: the next entry of the module looks its exports up itself.
    }
    return entry.exports;
}

void ComponentRegistry::ExplainEntryLoadFailure(uint32_t componentID,
                                                const RegistryEntry& entry) const {
    if (entry.dllName[0] == '\0') {
        Explain("component %u: its section in %s has no DLL= line, so no DLL is named\n",
                componentID, registryFilePath_);
    } else if (entry.fullPathCut != 0) {
        Explain(
            "component %u: the full path of its DLL %s does not fit in 259 characters, so "
            "it is never loaded\n",
            componentID, entry.dllName);
    } else {
        char reason[512] = "";
        platform::LoadFailureReason(reason, sizeof(reason));
        Explain("component %u: the loader says: %s\n", componentID, reason);
        ExplainUnrepresentable("the DLL", entry.fullPath);
        char directory[kMaxPath];
        if (entry.besideRegistry != 0 && !IsAbsolutePath(entry.dllName, base_.style) &&
            DirectoryCutBeforeSlash(registryFilePath_, directory, kMaxPath, base_.style)) {
            Explain(
                "component %u: its DLL is looked for beside the registry file, in %s: the "
                "directory of %s ends at its last backslash, and a '/' after it does not "
                "count; write the registry path with backslashes only\n",
                componentID, directory, registryFilePath_);
        }
        ExplainOtherCase(entry.fullPath);
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
    for (auto& item : entries_) {
        if (item.second.module == module) {
            item.second.calls.unloadCheck.exchange(check, std::memory_order_acq_rel);
        }
    }
}

int ComponentRegistry::DetachModule(PexilModuleHandle module, uint32_t check) {
    MutexLock guard(bindingLock_);
    // One reference per entry that took one; the default DLL stays. An entry
    // whose creation is still running in the module keeps its reference, and
    // so does one through which a creation ended after the check's mark (its
    // component may live although the module said it was idle).
    int references = 0;
    bool kept = false;
    for (auto& item : entries_) {
        RegistryEntry& entry = item.second;
        if (entry.module != module) continue;
        if (entry.calls.count.load(std::memory_order_acquire) != 0 ||
            (check != 0 && entry.calls.unloadCheck.load(std::memory_order_acquire) != check)) {
            kept = true;
            continue;
        }
        entry.module = nullptr;
        entry.exports = ModuleExports{};
        ++references;
    }
    // Once no entry holds the module, what was looked up in it is forgotten.
    if (!kept) {
        for (auto held = heldExports_.begin(); held != heldExports_.end(); ++held) {
            if (held->first == module) {
                heldExports_.erase(held);
                break;
            }
        }
    }
    return references;
}

void ComponentRegistry::UnloadModule(PexilModuleHandle module) {
    // The loader runs the module's destructors when it goes: outside the lock.
    for (int references = DetachModule(module); references > 0; --references)
        platform::FreeLibrary(module);
}

}  // namespace pexil
