#include "module/live_components.h"

#include "module/idle_notification.h"
#include "module/live_map_storage.h"
#include "platform/platform.h"
#include "support/debug_print.h"
#include "support/path.h"

#include <pexil/module.h>

#include <cinttypes>
#include <iterator>
#include <new>

namespace pexil {
namespace module {
namespace {

void UpdateCountOf(LiveComponentMap& map) PEXIL_REQUIRES(moduleLock) {
    map.count.store(static_cast<uint32_t>(map.records.size()), std::memory_order_relaxed);
}

// Written as %p is on Windows: upper-case hex digits, as many as a pointer has.
void ReportUnknownRemoval(const IComponent* component) {
    DebugPrintf(DebugChannel::ModuleEntry, "Pexil[Error]: To remove a component not exist\n");
    DebugPrintf(DebugChannel::ModuleEntry, "Pexil[Error]: IComponent* = 0x%0*" PRIXPTR "\n",
                static_cast<int>(sizeof(void*) * 2), reinterpret_cast<uintptr_t>(component));
}

void RemoveLiveComponentLocked(IComponent* component, int notifyFactory)
    PEXIL_REQUIRES(moduleLock) {
    LiveComponentMap& map = LiveMap();
    auto it = map.records.find(component);
    if (it == map.records.end()) {
        ReportUnknownRemoval(component);
    } else {
        map.records.erase(it);
        UpdateCountOf(map);
    }
    // Told while the lock is held, also when the pointer was not found.
    if (map.records.empty() && notifyFactory != 0) NotifyFactoryModuleIsIdle();
}

}  // namespace

RecordResult RecordLiveComponent(uint32_t componentID, uint32_t creatorID, IComponent* component) {
    LiveComponentMap& map = LiveMap();
    RecordResult result = RecordResult::Recorded;
    EnterLock();
    try {
        auto found = map.records.find(component);
        if (found == map.records.end()) {
            map.records.emplace(
                component,
                LiveRecord{ComponentRecord{componentID, creatorID, component}, false, false});
            UpdateCountOf(map);
        } else if (found->second.dying) {
            // A single instance handed out while another thread deletes it.
            result = RecordResult::BeingDeleted;
        } else {
            found->second.record = ComponentRecord{componentID, creatorID, component};
        }
    } catch (const std::bad_alloc&) {
        result = RecordResult::NoMemory;
    }
    LeaveLock();
    return result;
}

uint32_t LiveComponentCount() {
    return LiveMap().count.load(std::memory_order_relaxed);
}

void FreeFlaggedComponents() {
    LiveComponentMap& map = LiveMap();
    EnterLock();
    auto it = map.records.begin();
    while (it != map.records.end()) {
        IComponent* const key = it->first;
        // Release may remove this record and others (its deletion takes the
        // same lock again on this thread), so the walk finds its place anew.
        // A component another thread is deleting is not called at all: its
        // destructors may be running. Nor is one that an outer walk on this
        // thread is releasing: its Shutdown is still running.
        if (!it->second.dying && !it->second.beingFreed && key->GetFreeMapFlag() != 0) {
            it->second.beingFreed = true;
            key->Release(0);
            auto kept = map.records.find(key);
            if (kept != map.records.end()) kept->second.beingFreed = false;
        }
        auto again = map.records.find(key);
        it = again == map.records.end() ? map.records.begin() : std::next(again);
    }
    LeaveLock();
}

namespace {

// After the leak report: each leaked component in words, with the file of the
// module it lives in.
void ExplainLeaks(const LiveComponentMap& map) PEXIL_REQUIRES(moduleLock) {
    char file[kMaxPath] = "";
    if (platform::GetModuleFileName(ModuleHandle(), file, kMaxPath) == 0) {
        CopyIfFits(file, kMaxPath, "this module");
    }
    for (const auto& entry : map.records) {
        const ComponentRecord& record = entry.second.record;
        const char* creator = record.creatorID == kCreatorFactory  ? " (the factory, for a caller)"
                              : record.creatorID == kCreatorDirect ? " (asked directly)"
                                                                   : "";
        Explain("leaked component %u, created by %u%s, lives in %s: it was never released\n",
                record.componentID, record.creatorID, creator, file);
    }
}

}  // namespace

void ReportLeaks() {
    LiveComponentMap& map = LiveMap();
    EnterLock();
    if (!map.records.empty()) {
        const char* separator =
            "Pexil[Error]:================================================================="
            "\n";
        DebugPrintf(DebugChannel::ModuleEntry, "%s", separator);
        DebugPrintf(DebugChannel::ModuleEntry,
                    "Pexil[Error]:Found leak Pexil components. Count:%d\n",
                    static_cast<int>(map.records.size()));
        for (const auto& entry : map.records) {
            const ComponentRecord& record = entry.second.record;
            // The whole pointer: 8 digits on 32-bit systems, all of them on 64-bit.
            DebugPrintf(DebugChannel::ModuleEntry,
                        "Pexil[Error]:ComponentID:0x%08x CreatorID:0x%08x Pointer:0x%08" PRIxPTR
                        "\n",
                        record.componentID, record.creatorID,
                        reinterpret_cast<uintptr_t>(record.component));
        }
        DebugPrintf(DebugChannel::ModuleEntry, "%s", separator);
        if (Explaining()) ExplainLeaks(map);
    }
    LeaveLock();
}

uint32_t CopyLiveComponents(ComponentRecord* records, uint32_t capacity) {
    LiveComponentMap& map = LiveMap();
    EnterLock();
    uint32_t i = 0;
    for (const auto& entry : map.records) {
        if (i < capacity) records[i] = entry.second.record;
        ++i;
    }
    LeaveLock();
    return i;
}

}  // namespace module

void BeginComponentDeletion(ComponentDeletion* deletion) {
    module::LiveComponentMap& map = module::LiveMap();
    deletion->freed = 0;
    module::EnterLock();
    auto found = map.records.find(deletion->key);
    if (found != map.records.end()) found->second.dying = true;
    deletion->next = map.deletions;
    map.deletions = deletion;
    module::LeaveLock();
}

namespace {

// Frees a component's memory with the deallocation its class asked for; for a
// component whose deletion Release began, removes its record in the same step.
template <class Deallocate>
void FreeNotedMemory(void* memory, Deallocate deallocate) {
    module::LiveComponentMap& map = module::LiveMap();
    // Freed and unrecorded as one step, under the lock: no other thread
    // records a new component at this address before its old record is gone.
    module::EnterLock();
    ComponentDeletion** link = &map.deletions;
    while (*link != nullptr && (*link)->memory != memory)
        link = &(*link)->next;
    ComponentDeletion* deletion = *link;
    deallocate(memory);
    if (deletion != nullptr) {
        *link = deletion->next;
        deletion->next = nullptr;
        deletion->freed = 1;
        module::RemoveLiveComponentLocked(deletion->key, deletion->notifyFactory);
    }
    module::LeaveLock();
}

}  // namespace

void FreeComponentMemory(void* memory, void (*deallocate)(void*)) {
    FreeNotedMemory(memory, deallocate);
}

void FreeComponentMemory(void* memory, std::align_val_t alignment) {
    FreeNotedMemory(memory, [alignment](void* block) { ::operator delete(block, alignment); });
}

void EndComponentDeletion(ComponentDeletion* deletion) {
    // The usual case: the deallocation removed the record and the note.
    if (deletion->freed != 0) return;
    // The class's own operator delete freed the memory without the lock: a
    // component created at that address meanwhile may have lost its record.
    DebugPrintf(DebugChannel::ModuleEntry,
                "Pexil[Error]: Component 0x%0*" PRIXPTR
                " (ComponentID=%u) was freed by its class's own operator delete, not through "
                "pexil::FreeComponentMemory.\n",
                static_cast<int>(sizeof(void*) * 2), reinterpret_cast<uintptr_t>(deletion->key),
                deletion->componentID);
    module::LiveComponentMap& map = module::LiveMap();
    module::EnterLock();
    ComponentDeletion** link = &map.deletions;
    while (*link != nullptr && *link != deletion)
        link = &(*link)->next;
    if (*link != nullptr) *link = deletion->next;
    module::RemoveLiveComponentLocked(deletion->key, deletion->notifyFactory);
    module::LeaveLock();
}

void DeleteWithGlobalOperator(void* memory) {
    ::operator delete(memory);
}

void RemoveLiveComponent(IComponent* component, int notifyFactory) {
    module::EnterLock();
    module::RemoveLiveComponentLocked(component, notifyFactory);
    module::LeaveLock();
}

}  // namespace pexil
