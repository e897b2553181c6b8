#include "module/quarantine.h"

#include "platform/mutex.h"
#include "platform/platform.h"
#include "support/debug_print.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>

namespace pexil::module {
namespace {

// Enough for a full day of releases in a host that explains: a released
// component stays detectable until this many more have been released.
constexpr int kQuarantined = 256;

struct Kept {
    void* memory;
    IComponent* key;
    uint32_t componentID;
    uint32_t creatorID;
    Deallocation deallocation;
};

Mutex g_lock;
Kept g_kept[kQuarantined] PEXIL_GUARDED_BY(g_lock);
int g_next PEXIL_GUARDED_BY(g_lock) = 0;  // the oldest, once the ring is full

void Free(const Kept& kept) {
    if (kept.memory == nullptr) return;
    if (kept.deallocation.plain != nullptr) {
        kept.deallocation.plain(kept.memory);
    } else {
        ::operator delete(kept.memory, kept.deallocation.alignment);
    }
}

// Every slot of a quarantined component's table: the call names the
// component and ends the process. Called as a member function is (thiscall
// on 32-bit Windows), with the component's interface pointer first.
#if defined(_WIN32) && defined(__i386__)
#define PEXIL_MEMBER_CALL __attribute__((thiscall))
#else
#define PEXIL_MEMBER_CALL
#endif

[[noreturn]] void PEXIL_MEMBER_CALL CalledAfterRelease(IComponent* self) {
    uint32_t componentID = 0;
    uint32_t creatorID = 0;
    {
        MutexLock guard(g_lock);
        for (const Kept& kept : g_kept) {
            if (kept.memory != nullptr && kept.key == self) {
                componentID = kept.componentID;
                creatorID = kept.creatorID;
                break;
            }
        }
    }
    DebugPrintf(DebugChannel::ModuleEntry,
                "Pexil[Error]: Component 0x%0*" PRIXPTR
                " (ComponentID=%u CreatorID=%u) was called after its Release: released twice, "
                "or used through a pointer kept past its release. Ending the process.\n",
                static_cast<int>(sizeof(void*) * 2), reinterpret_cast<uintptr_t>(self), componentID,
                creatorID);
    std::abort();
}

using Slot = void(PEXIL_MEMBER_CALL*)(IComponent*);

// More slots than any component interface has; the two words before the
// first slot stand where a table keeps its offset and type information.
constexpr int kDeadSlots = 128;
struct DeadTable {
    const void* header[2];
    Slot slots[kDeadSlots];
};

constexpr DeadTable MakeDeadTable() {
    DeadTable table{};
    for (Slot& slot : table.slots)
        slot = CalledAfterRelease;
    return table;
}

const DeadTable kDeadTable = MakeDeadTable();

}  // namespace

bool Quarantining() {
    return Explaining();
}

void Quarantine(void* memory, IComponent* key, uint32_t componentID, uint32_t creatorID,
                Deallocation deallocation) {
    // The interface's table pointer is the object's first word at its
    // interface pointer: every call through that pointer lands in the table.
    const Slot* dead = kDeadTable.slots;
    std::memcpy(static_cast<void*>(key), &dead, sizeof(dead));
    Kept evicted{};
    {
        MutexLock guard(g_lock);
        evicted = g_kept[g_next];
        g_kept[g_next] = Kept{memory, key, componentID, creatorID, deallocation};
        g_next = (g_next + 1) % kQuarantined;
    }
    Free(evicted);
}

void EmptyQuarantine() {
    Kept all[kQuarantined];
    {
        MutexLock guard(g_lock);
        for (int i = 0; i < kQuarantined; ++i) {
            all[i] = g_kept[i];
            g_kept[i] = Kept{};
        }
        g_next = 0;
    }
    for (const Kept& kept : all)
        Free(kept);
}

}  // namespace pexil::module
