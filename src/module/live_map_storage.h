// The storage of the live-component map. It is defined in module_lifetime.cpp,
// next to the attach and detach handlers, so that it is constructed before the
// module attaches and destroyed after the leak report at detach.
//
// The map is split into shards by a hash of the component's address, each with
// its own lock and ordered map, so that threads creating and releasing
// components of one module mostly take different locks and write different
// cache lines. The count is one atomic for the whole map. Operations on the
// whole map (the free-map walk, the leak report, the idle notification) take
// every shard's lock in index order and walk the shards merged, in ascending
// address order.
#ifndef PEXIL_MODULE_LIVE_MAP_STORAGE_H
#define PEXIL_MODULE_LIVE_MAP_STORAGE_H

#include "module/live_components.h"
#include "module/module_state.h"
#include "platform/recursive_lock.h"

#include <atomic>
#include <map>

namespace pexil::module {

// A record without its pointer, which is its key: a map node of 56 bytes (64
// with the heap's own), as before the two flags.
struct LiveRecord {
    uint32_t componentID;
    uint32_t creatorID;
    // Release has begun deleting the component: its destructors may be running
    // on another thread, so PexilDllFreeMap calls nothing on it.
    bool dying;
    // PexilDllFreeMap is releasing it: a walk nested in its Shutdown (a
    // component made there calling PexilDllFreeMap) passes it by.
    bool beingFreed;
};

constexpr int kLiveShards = 16;

// A cache line or more to each shard, so that two threads on two shards never
// write the same line.
struct alignas(64) LiveShard {
    LiveShard() { lock.Init(); }
    ~LiveShard() { lock.Delete(); }
    LiveShard(const LiveShard&) = delete;
    LiveShard& operator=(const LiveShard&) = delete;

    RecursiveLock lock;
    std::map<IComponent*, LiveRecord> records PEXIL_GUARDED_BY(lock);
    // The deletions Release has begun and not yet ended, of components whose
    // records lie here: each lives on its Release's stack.
    ComponentDeletion* deletions PEXIL_GUARDED_BY(lock) = nullptr;
    // The shard's records, changed under the lock and read without it by
    // PexilDllCanUnloadNow. Kept per shard, not for the module: one count
    // that every creation and release wrote was a cache line that two
    // threads in one module handed back and forth. Records stay until their
    // component's memory is freed, so a module whose destructors still run
    // never counts as idle.
    std::atomic<uint32_t> count{0};
    // Removals from this shard whose release still runs this module's code
    // after the record went (the idle notification among it): the module is
    // not idle while one does, or an unload check on another thread would
    // free the module under that code. Counted before the record's count goes
    // down.
    std::atomic<uint32_t> removing{0};
};

struct LiveComponentMap {
    LiveShard shards[kLiveShards];
};

// The records of every shard; exact while every shard's lock is held.
uint32_t TotalCount(const LiveComponentMap& map);

LiveComponentMap& LiveMap();
// True from the map's construction until the module's detach. The module's
// own files may run static initialisers before it (they come first in the
// link) and static destructors after: the shards' locks do not exist then.
bool LiveMapReady();

// The shard of a record's key (or of a deletion's memory): a multiplicative
// hash of the address, so that neighbouring allocations spread over all.
inline int ShardIndexOf(const void* address) {
    const uint64_t bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address));
    return static_cast<int>((bits * 0x9E3779B97F4A7C15ull) >> 60);
}
static_assert(kLiveShards == 16, "ShardIndexOf keeps the top four bits");

// Every shard's lock, in index order, and back (the whole-map operations).
void EnterAllShards(LiveComponentMap& map);
void LeaveAllShards(LiveComponentMap& map);

}  // namespace pexil::module

#endif
