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

void UpdateCountOf(LiveComponentMap& map) {
    map.count.store(static_cast<uint32_t>(map.records.size()), std::memory_order_relaxed);
}

}  // namespace

bool RecordLiveComponent(uint32_t componentID, uint32_t creatorID, IComponent* component) {
    LiveComponentMap& map = LiveMap();
    bool recorded = true;
    EnterModuleLock();
    try {
        map.records[component] = ComponentRecord{componentID, creatorID, component};
        UpdateCountOf(map);
    } catch (const std::bad_alloc&) {
        recorded = false;
    }
    LeaveModuleLock();
    return recorded;
}

uint32_t LiveComponentCount() {
    return LiveMap().count.load(std::memory_order_relaxed);
}

void FreeFlaggedComponents() {
    LiveComponentMap& map = LiveMap();
    EnterModuleLock();
    auto it = map.records.begin();
    while (it != map.records.end()) {
        IComponent* const key = it->first;
        // Release may remove this record and others (RemoveLiveComponent takes
        // the same lock again on this thread), so the walk finds its place anew.
        if (key->GetFreeMapFlag() != 0) key->Release(0);
        auto again = map.records.find(key);
        it = again == map.records.end() ? map.records.begin() : std::next(again);
    }
    LeaveModuleLock();
}

namespace {

// After the leak report: each leaked component in words, with the file of the
// module it lives in.
void ExplainLeaks(const LiveComponentMap& map) {
    char file[kMaxPath] = "";
    if (platform::GetModuleFileName(ModuleHandle(), file, kMaxPath) == 0) {
        CopyIfFits(file, kMaxPath, "this module");
    }
    for (const auto& entry : map.records) {
        const ComponentRecord& record = entry.second;
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
    EnterModuleLock();
    if (!map.records.empty()) {
        const char* separator =
            "Pexil[Error]:================================================================="
            "\n";
        DebugPrintf(DebugChannel::ModuleEntry, "%s", separator);
        DebugPrintf(DebugChannel::ModuleEntry,
                    "Pexil[Error]:Found leak Pexil components. Count:%d\n",
                    static_cast<int>(map.records.size()));
        for (const auto& entry : map.records) {
            const ComponentRecord& record = entry.second;
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
    LeaveModuleLock();
}

uint32_t CopyLiveComponents(ComponentRecord* records, uint32_t capacity) {
    LiveComponentMap& map = LiveMap();
    EnterModuleLock();
    uint32_t i = 0;
    for (const auto& entry : map.records) {
        if (i < capacity) records[i] = entry.second;
        ++i;
    }
    LeaveModuleLock();
    return i;
}

namespace {

// The deletions Release has begun and not yet ended, on any thread: nested
// ones (a destructor releasing another component) and concurrent ones. Each
// names the allocation being deleted, which no other live object shares.
// A slot to a cache line: two threads deleting at once write only their own.
struct alignas(64) Deletion {
    // Null: a free slot. kRecordRemoved once FreeComponentMemory has freed the
    // memory and removed the record (so that the address, which another
    // component may be given now, no longer matches).
    std::atomic<void*> memory{nullptr};
    IComponent* key = nullptr;
    int notifyFactory = 0;
};

constexpr int kMaxDeletions = 32;
Deletion g_deletions[kMaxDeletions];
// No allocation lies at this address.
void* const kRecordRemoved = &g_deletions;

// Where the search for a deletion's slot starts: from the address, so that
// deletions of different objects start apart and the search for a given one
// starts where it most likely is.
int FirstSlotOf(const void* memory) {
    return static_cast<int>((reinterpret_cast<uintptr_t>(memory) >> 4) % kMaxDeletions);
}

}  // namespace

}  // namespace module

int BeginComponentDeletion(void* memory, IComponent* key, int notifyFactory) {
    const int first = module::FirstSlotOf(memory);
    for (int n = 0; n < module::kMaxDeletions; ++n) {
        const int i = (first + n) % module::kMaxDeletions;
        module::Deletion& deletion = module::g_deletions[i];
        void* expected = nullptr;
        if (deletion.memory.load(std::memory_order_relaxed) != nullptr ||
            !deletion.memory.compare_exchange_strong(expected, memory, std::memory_order_acq_rel)) {
            continue;
        }
        deletion.key = key;
        deletion.notifyFactory = notifyFactory;
        return i;
    }
    return -1;
}

void FreeComponentMemory(void* memory, void (*deallocate)(void*)) {
    const int first = module::FirstSlotOf(memory);
    for (int n = 0; n < module::kMaxDeletions; ++n) {
        module::Deletion& deletion = module::g_deletions[(first + n) % module::kMaxDeletions];
        if (deletion.memory.load(std::memory_order_acquire) != memory) continue;
        // Freed and unrecorded as one step: no other thread records a new
        // component at this address before its old record is gone.
        EnterModuleLock();
        deallocate(memory);
        RemoveLiveComponent(deletion.key, deletion.notifyFactory);
        deletion.memory.store(module::kRecordRemoved, std::memory_order_release);
        LeaveModuleLock();
        return;
    }
    deallocate(memory);  // not deleted by Release: the record, if any, stays
}

void EndComponentDeletion(int index) {
    module::Deletion& deletion = module::g_deletions[index];
    // A class whose own deallocation does not go through FreeComponentMemory.
    if (deletion.memory.load(std::memory_order_acquire) != module::kRecordRemoved) {
        RemoveLiveComponent(deletion.key, deletion.notifyFactory);
    }
    deletion.memory.store(nullptr, std::memory_order_release);
}

void DeleteWithGlobalOperator(void* memory) {
    ::operator delete(memory);
}

void RemoveLiveComponent(IComponent* component, int notifyFactory) {
    module::LiveComponentMap& map = module::LiveMap();
    EnterModuleLock();
    auto it = map.records.find(component);
    if (it == map.records.end()) {
        DebugPrintf(DebugChannel::ModuleEntry, "Pexil[Error]: To remove a component not exist\n");
        // Written as %p is on Windows: upper-case hex digits, as many as a pointer has.
        DebugPrintf(DebugChannel::ModuleEntry, "Pexil[Error]: IComponent* = 0x%0*" PRIXPTR "\n",
                    static_cast<int>(sizeof(void*) * 2), reinterpret_cast<uintptr_t>(component));
    } else {
        map.records.erase(it);
        module::UpdateCountOf(map);
    }
    // Told while the lock is held, also when the pointer was not found.
    if (map.records.empty() && notifyFactory != 0) module::NotifyFactoryModuleIsIdle();
    LeaveModuleLock();
}

}  // namespace pexil
