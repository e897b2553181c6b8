#include "module/live_components.h"

#include "module/idle_notification.h"
#include "module/live_map_storage.h"
#include "module/quarantine.h"
#include "platform/platform.h"
#include "support/debug_print.h"
#include "support/path.h"

#include <pexil/module.h>

#include <cinttypes>
#include <iterator>
#include <new>

namespace pexil {
namespace module {

// The analysis cannot follow a lock taken in a loop over an array: the
// whole-map operations below say so where they rely on these two.
void EnterAllShards(LiveComponentMap& map) PEXIL_NO_THREAD_SAFETY_ANALYSIS {
    for (LiveShard& shard : map.shards)
        shard.lock.Enter();
}

void LeaveAllShards(LiveComponentMap& map) PEXIL_NO_THREAD_SAFETY_ANALYSIS {
    for (int i = kLiveShards - 1; i >= 0; --i)
        map.shards[i].lock.Leave();
}

uint32_t TotalCount(const LiveComponentMap& map) {
    uint32_t total = 0;
    for (const LiveShard& shard : map.shards)
        total += shard.count.load();
    return total;
}

namespace {

LiveShard& ShardOf(LiveComponentMap& map, const void* address) {
    return map.shards[ShardIndexOf(address)];
}

// Written as %p is on Windows: upper-case hex digits, as many as a pointer has.
void ReportUnknownRemoval(const IComponent* component) {
    DebugPrintf(DebugChannel::ModuleEntry, "Pexil[Error]: To remove a component not exist\n");
    DebugPrintf(DebugChannel::ModuleEntry, "Pexil[Error]: IComponent* = 0x%0*" PRIXPTR "\n",
                static_cast<int>(sizeof(void*) * 2), reinterpret_cast<uintptr_t>(component));
}

// Removes the record from its shard (whose lock the caller holds), and counts
// the removal in the shard's removals until FinishRemoval. True when the
// factory is to be told that the module may be idle: the map became empty,
// or the record was not found while the map is empty. *creatorID (when given)
// receives the removed record's creator ID.
bool RemoveFromShard(LiveComponentMap& map, LiveShard& shard, IComponent* component,
                     int notifyFactory, uint32_t* creatorID = nullptr) PEXIL_REQUIRES(shard.lock) {
    shard.removing.fetch_add(1, std::memory_order_relaxed);
    auto it = shard.records.find(component);
    if (it == shard.records.end()) {
        ReportUnknownRemoval(component);
    } else {
        if (creatorID != nullptr) *creatorID = it->second.creatorID;
        shard.records.erase(it);
        // Whoever reads the new count also sees the caller's removal counted
        // in shard.removing (ModuleIsIdle). Sequentially consistent, as are
        // TotalCount's reads: of two releases that empty two shards at once,
        // at least one sees the other's shard empty, and notifies.
        if (shard.count.fetch_sub(1) != 1) return false;
    }
    // The shard is empty: the map may be. NotifyIfIdle decides under every
    // shard's lock.
    return notifyFactory != 0 && TotalCount(map) == 0;
}

// The idle notification: made with every shard's lock held, and only while
// the map is empty. Another thread may have recorded a component between the
// removal that emptied the map and this: the module is then not idle, and
// nothing is said.
void NotifyIfIdle(LiveComponentMap& map) PEXIL_NO_THREAD_SAFETY_ANALYSIS {
    EnterAllShards(map);
    if (TotalCount(map) == 0) {
        EnterLock();  // the notification runs under the module lock too
        NotifyFactoryModuleIsIdle();
        LeaveLock();
    }
    LeaveAllShards(map);
}

// Ends a removal: leaves the shard's lock, makes the idle notification when
// the removal was told to, then stops counting the removal (until then the
// module does not count as idle: this thread still runs its code).
void FinishRemoval(LiveComponentMap& map, LiveShard& shard, bool idle) PEXIL_RELEASE(shard.lock) {
    shard.lock.Leave();
    if (idle) NotifyIfIdle(map);
    shard.removing.fetch_sub(1, std::memory_order_release);
}

// The smallest key of the whole map greater than after (any key when after is
// null), or null. Every shard's lock is held.
IComponent* NextKey(LiveComponentMap& map, IComponent* after) PEXIL_NO_THREAD_SAFETY_ANALYSIS {
    IComponent* next = nullptr;
    for (LiveShard& shard : map.shards) {
        auto it = after == nullptr ? shard.records.begin() : shard.records.upper_bound(after);
        if (it != shard.records.end() && (next == nullptr || it->first < next)) next = it->first;
    }
    return next;
}

// Calls f on every record in ascending key order. Every shard's lock is held.
template <class F>
void ForEachInKeyOrder(LiveComponentMap& map, F f) PEXIL_NO_THREAD_SAFETY_ANALYSIS {
    for (IComponent* key = NextKey(map, nullptr); key != nullptr; key = NextKey(map, key)) {
        const LiveRecord& live = ShardOf(map, key).records.find(key)->second;
        f(ComponentRecord{live.componentID, live.creatorID, key});
    }
}

}  // namespace

RecordResult RecordLiveComponent(uint32_t componentID, uint32_t creatorID, IComponent* component) {
    LiveComponentMap& map = LiveMap();
    LiveShard& shard = ShardOf(map, component);
    RecordResult result = RecordResult::Recorded;
    shard.lock.Enter();
    try {
        auto found = shard.records.find(component);
        if (found == shard.records.end()) {
            shard.records.emplace(component, LiveRecord{componentID, creatorID, false, false});
            shard.count.fetch_add(1, std::memory_order_relaxed);
        } else if (found->second.dying) {
            // A single instance handed out while another thread deletes it.
            result = RecordResult::BeingDeleted;
        } else {
            found->second.componentID = componentID;
            found->second.creatorID = creatorID;
        }
    } catch (const std::bad_alloc&) {
        result = RecordResult::NoMemory;
    }
    shard.lock.Leave();
    return result;
}

uint32_t LiveComponentCount() {
    return TotalCount(LiveMap());
}

bool ModuleIsIdle() {
    // Each shard's count first: a removal is counted in removing before its
    // record's count goes down.
    for (const LiveShard& shard : LiveMap().shards) {
        if (shard.count.load(std::memory_order_acquire) != 0 ||
            shard.removing.load(std::memory_order_acquire) != 0)
            return false;
    }
    return true;
}

void FreeFlaggedComponents() PEXIL_NO_THREAD_SAFETY_ANALYSIS {
    LiveComponentMap& map = LiveMap();
    EnterAllShards(map);
    IComponent* key = NextKey(map, nullptr);
    while (key != nullptr) {
        LiveRecord& record = ShardOf(map, key).records.find(key)->second;
        // Release may remove this record and others (its deletion takes the
        // locks again on this thread), so the walk finds its place anew.
        // A component another thread is deleting is not called at all: its
        // destructors may be running. Nor is one that an outer walk on this
        // thread is releasing: its Shutdown is still running.
        if (!record.dying && !record.beingFreed && key->GetFreeMapFlag() != 0) {
            record.beingFreed = true;
            key->Release(0);
            auto& records = ShardOf(map, key).records;
            auto kept = records.find(key);
            if (kept != records.end()) kept->second.beingFreed = false;
        }
        // After a removal the walk starts again from the first record.
        const auto& records = ShardOf(map, key).records;
        key = records.find(key) == records.end() ? NextKey(map, nullptr) : NextKey(map, key);
    }
    LeaveAllShards(map);
}

namespace {

// After the leak report: each leaked component in words, with the file of the
// module it lives in. Every shard's lock is held.
void ExplainLeaks(LiveComponentMap& map) {
    char file[kMaxPath] = "";
    if (platform::GetModuleFileName(ModuleHandle(), file, kMaxPath) == 0) {
        CopyIfFits(file, kMaxPath, "this module");
    }
    ForEachInKeyOrder(map, [&](const ComponentRecord& record) {
        const char* creator = record.creatorID == kCreatorFactory  ? " (the factory, for a caller)"
                              : record.creatorID == kCreatorDirect ? " (asked directly)"
                                                                   : "";
        Explain("leaked component %u, created by %u%s, lives in %s: it was never released\n",
                record.componentID, record.creatorID, creator, file);
    });
}

}  // namespace

void ReportLeaks() {
    LiveComponentMap& map = LiveMap();
    EnterAllShards(map);
    const uint32_t count = TotalCount(map);
    if (count > 0) {
        const char* separator =
            "Pexil[Error]:================================================================="
            "\n";
        DebugPrintf(DebugChannel::ModuleEntry, "%s", separator);
        DebugPrintf(DebugChannel::ModuleEntry,
                    "Pexil[Error]:Found leak Pexil components. Count:%d\n",
                    static_cast<int>(count));
        ForEachInKeyOrder(map, [](const ComponentRecord& record) {
            // The whole pointer: 8 digits on 32-bit systems, all of them on 64-bit.
            DebugPrintf(DebugChannel::ModuleEntry,
                        "Pexil[Error]:ComponentID:0x%08x CreatorID:0x%08x Pointer:0x%08" PRIxPTR
                        "\n",
                        record.componentID, record.creatorID,
                        reinterpret_cast<uintptr_t>(record.component));
        });
        DebugPrintf(DebugChannel::ModuleEntry, "%s", separator);
        if (Explaining()) ExplainLeaks(map);
    }
    LeaveAllShards(map);
}

uint32_t CopyLiveComponents(ComponentRecord* records, uint32_t capacity) {
    LiveComponentMap& map = LiveMap();
    EnterAllShards(map);
    uint32_t i = 0;
    ForEachInKeyOrder(map, [&](const ComponentRecord& record) {
        if (i < capacity) records[i] = record;
        ++i;
    });
    LeaveAllShards(map);
    return i;
}

}  // namespace module

void BeginComponentDeletion(ComponentDeletion* deletion) {
    module::LiveComponentMap& map = module::LiveMap();
    module::LiveShard& shard = module::ShardOf(map, deletion->key);
    deletion->freed = 0;
    shard.lock.Enter();
    auto found = shard.records.find(deletion->key);
    if (found != shard.records.end()) found->second.dying = true;
    deletion->next = shard.deletions;
    shard.deletions = deletion;
    shard.lock.Leave();
}

namespace {

// Takes the deletion of that memory off the shard's list; null when none is
// noted there.
ComponentDeletion* TakeDeletion(module::LiveShard& shard, const void* memory)
    PEXIL_REQUIRES(shard.lock) {
    ComponentDeletion** link = &shard.deletions;
    while (*link != nullptr && (*link)->memory != memory)
        link = &(*link)->next;
    ComponentDeletion* deletion = *link;
    if (deletion != nullptr) *link = deletion->next;
    return deletion;
}

void Deallocate(void* memory, module::Deallocation deallocation) {
    if (deallocation.plain != nullptr) {
        deallocation.plain(memory);
    } else {
        ::operator delete(memory, deallocation.alignment);
    }
}

// Frees a component's memory with the deallocation its class asked for; for a
// component whose deletion Release began, removes its record in the same step,
// under the lock of the record's shard: no other thread records a new
// component at this address before its old record is gone. In the explaining
// mode such a component's memory goes to the quarantine instead.
void FreeNotedMemory(void* memory, module::Deallocation deallocation) {
    module::LiveComponentMap& map = module::LiveMap();
    // The deletion is noted in the shard of its record's key, which is the
    // memory's own address unless the component's interface is not its
    // first base; then every shard is asked.
    const int first = module::ShardIndexOf(memory);
    for (int n = 0; n < module::kLiveShards; ++n) {
        module::LiveShard& shard = map.shards[(first + n) % module::kLiveShards];
        shard.lock.Enter();
        ComponentDeletion* deletion = TakeDeletion(shard, memory);
        if (deletion == nullptr) {
            shard.lock.Leave();
            continue;
        }
        deletion->next = nullptr;
        deletion->freed = 1;
        uint32_t creatorID = 0;
        const bool idle =
            module::RemoveFromShard(map, shard, deletion->key, deletion->notifyFactory, &creatorID);
        if (module::Quarantining()) {
            module::Quarantine(memory, deletion->key, deletion->componentID, creatorID,
                               deallocation);
        } else {
            Deallocate(memory, deallocation);
        }
        module::FinishRemoval(map, shard, idle);
        return;
    }
    Deallocate(memory, deallocation);  // not deleted by Release: the record, if any, stays
}

}  // namespace

void FreeComponentMemory(void* memory, void (*deallocate)(void*)) {
    FreeNotedMemory(memory, module::Deallocation{deallocate, std::align_val_t{}});
}

void FreeComponentMemory(void* memory, std::align_val_t alignment) {
    FreeNotedMemory(memory, module::Deallocation{nullptr, alignment});
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
    module::LiveShard& shard = module::ShardOf(map, deletion->key);
    shard.lock.Enter();
    ComponentDeletion** link = &shard.deletions;
    while (*link != nullptr && *link != deletion)
        link = &(*link)->next;
    if (*link != nullptr) *link = deletion->next;
    const bool idle = module::RemoveFromShard(map, shard, deletion->key, deletion->notifyFactory);
    module::FinishRemoval(map, shard, idle);
}

void DeleteWithGlobalOperator(void* memory) {
    ::operator delete(memory);
}

void RemoveLiveComponent(IComponent* component, int notifyFactory) {
    module::LiveComponentMap& map = module::LiveMap();
    module::LiveShard& shard = module::ShardOf(map, component);
    shard.lock.Enter();
    const bool idle = module::RemoveFromShard(map, shard, component, notifyFactory);
    module::FinishRemoval(map, shard, idle);
}

}  // namespace pexil
