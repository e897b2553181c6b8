// The module-wide values and the creator table. Every item is constant- or
// zero-initialised, so it is usable from any static initialiser of the module.
#include "module/module_state.h"

#include "module/live_map_storage.h"
#include "platform/platform.h"
#include "support/path.h"

#include <atomic>
#include <cstring>

namespace pexil {
namespace {

struct CreatorEntry {
    uint32_t componentID;
    CreatorFunction creator;
};

// Only touched while the module is being loaded or unloaded, or under the lock.
int g_lockInitialised = 0;
std::atomic<PexilModuleHandle> g_moduleHandle{nullptr};
std::atomic<PexilModuleHandle> g_factoryHandle{nullptr};
std::atomic<int> g_dllSafe{0};
char g_registryPath[kMaxPath] PEXIL_GUARDED_BY(module::moduleLock);
// The table only grows: an entry is written, under the lock, before the count
// that publishes it, and never changes after. So a search needs no lock, and
// creations on two threads do not meet on it.
std::atomic<uint32_t> g_creatorCount{0};
CreatorEntry g_creators[kMaxCreators];

}  // namespace

namespace module {

RecursiveLock moduleLock;

void EnterLock() {
    InitModuleLock();
    moduleLock.Enter();
}

void LeaveLock() {
    moduleLock.Leave();
}

void InitModuleLock() {
    if (g_lockInitialised != 0) return;
    moduleLock.Init();
    g_lockInitialised = 1;
    g_dllSafe.store(1, std::memory_order_relaxed);
}

int ModuleLockInitialised() {
    return g_lockInitialised;
}

void DeleteModuleLock() {
    if (g_lockInitialised == 0) return;
    moduleLock.Delete();
    g_lockInitialised = 0;
}

void SetModuleHandle(PexilModuleHandle handle) {
    g_moduleHandle.store(handle, std::memory_order_relaxed);
}

void SetFactoryHandle(PexilModuleHandle handle) {
    g_factoryHandle.store(handle, std::memory_order_relaxed);
}

void SetDllSafe(int flag) {
    g_dllSafe.store(flag, std::memory_order_relaxed);
}

void SetRegistryPath(const char* path) {
    EnterLock();
    // Checked here rather than through the bounded functions: a path that does
    // not fit empties the stored one instead of leaving it as it was.
    if (path != nullptr && ::strnlen(path, kMaxPath) < static_cast<size_t>(kMaxPath)) {
        std::memcpy(g_registryPath, path, std::strlen(path) + 1);
    } else {
        g_registryPath[0] = '\0';
    }
    LeaveLock();
}

uint32_t CopyComponentIDs(uint32_t* ids, uint32_t capacity) {
    const uint32_t count = g_creatorCount.load(std::memory_order_acquire);
    for (uint32_t i = 0; i < count && i < capacity; ++i)
        ids[i] = g_creators[i].componentID;
    return count;
}

}  // namespace module

// The public names of the module lock, for code outside the framework, which
// the lock analysis does not see: every lock of the module, the live map's
// shards first (the order the idle notification takes them in). Before the
// map exists (a static initialiser of the module's own files) and after its
// detach, the module lock alone, initialised on first entry as always.
void EnterModuleLock() PEXIL_NO_THREAD_SAFETY_ANALYSIS {
    if (module::LiveMapReady()) module::EnterAllShards(module::LiveMap());
    module::EnterLock();
}

void LeaveModuleLock() PEXIL_NO_THREAD_SAFETY_ANALYSIS {
    module::LeaveLock();
    if (module::LiveMapReady()) module::LeaveAllShards(module::LiveMap());
}

void RegisterCreator(uint32_t componentID, CreatorFunction creator) {
    module::EnterLock();
    const uint32_t count = g_creatorCount.load(std::memory_order_relaxed);
    if (count < kMaxCreators && componentID != 0 && creator != nullptr) {
        g_creators[count] = CreatorEntry{componentID, creator};
        g_creatorCount.store(count + 1, std::memory_order_release);
    }
    module::LeaveLock();
}

CreatorFunction FindCreator(uint32_t componentID) {
    const uint32_t count = g_creatorCount.load(std::memory_order_acquire);
    for (uint32_t i = 0; i < count; ++i) {
        if (g_creators[i].componentID == componentID) return g_creators[i].creator;
    }
    return nullptr;
}

PexilModuleHandle ModuleHandle() {
    return g_moduleHandle.load(std::memory_order_relaxed);
}
PexilModuleHandle FactoryHandle() {
    return g_factoryHandle.load(std::memory_order_relaxed);
}
int IsDllSafe() {
    return g_dllSafe.load(std::memory_order_relaxed);
}
const char* ModuleRegistryPath() {
    return g_registryPath;
}
void CopyModuleRegistryPath(char* buffer) {
    module::EnterLock();
    std::memcpy(buffer, g_registryPath, std::strlen(g_registryPath) + 1);
    module::LeaveLock();
}

}  // namespace pexil
