#include "factory/component_factory.h"

#include "platform/platform.h"
#include "support/base_directory.h"
#include "support/bounded_string.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace pexil {

void* ComponentFactory::operator new(size_t size, const std::nothrow_t&) noexcept {
    return platform::Allocate(size);
}
namespace {

void DeallocateThroughPlatform(void* memory) {
    platform::Deallocate(memory);
}

}  // namespace

static_assert(alignof(ComponentFactory) <= alignof(std::max_align_t),
              "the factory is allocated through the platform, without over-alignment");

void ComponentFactory::operator delete(void* memory) noexcept {
    FreeComponentMemory(memory, DeallocateThroughPlatform);
}
void ComponentFactory::operator delete(void* memory, const std::nothrow_t&) noexcept {
    FreeComponentMemory(memory, DeallocateThroughPlatform);
}

ComponentFactory::ComponentFactory() {
    logSink_.file = kNoLogFile;
    logSink_.lock = logLock_.raw();
    rootPath_[0] = '\0';
    ComputeHostDirectory(rootPath_, kMaxPath);
    logLock_.Init();

    char file[kMaxPath];
    // "Pexil.ini" beside the host. A redirect loop, or a path too long to be
    // read whole, leaves the default registry without a file.
    const bool found = FollowFactoryRedirect("Pexil.ini", file, kMaxPath) != 0;
    defaultRegistry_.LoadFile("", found ? file : nullptr);
}

void ComponentFactory::DiscardUnpublished() {
    alive_.store(0);
    logLock_.Delete();
    cleanupPending_ = 0;
    delete this;
}

IComponent* ComponentFactory::CreateComponentByID(uint32_t componentID, const char* registryPath) {
    if (registryPath == nullptr || registryPath[0] == '\0') {
        return defaultRegistry_.CreateByID(componentID);
    }
    ComponentRegistry* registry = RegistryFor(registryPath);
    return registry != nullptr ? registry->CreateByID(componentID) : nullptr;
}

ComponentRegistry* ComponentFactory::RegistryFor(const char* registryPath) {
    // Keyed by the caller's exact string: two spellings of one file are two
    // registries. Measured once, so that no comparison measures it again.
    // A registry keeps the caller's string whole when it fits (and an empty
    // one otherwise, which no key here equals), and never changes it.
    ComponentRegistry* last = lastRegistry_.load(std::memory_order_acquire);
    if (last != nullptr && std::strcmp(last->registryPath(), registryPath) == 0) return last;
    const std::string_view key(registryPath);
    {
        MutexLock guard(registriesLock_);
        auto it = registries_.find(key);
        if (it != registries_.end()) {
            lastRegistry_.store(it->second, std::memory_order_release);
            return it->second;
        }
    }
    // Made and read without the lock: reading resolves the configured root
    // path, which may ask the configuration component (a module's code).
    ComponentRegistry* made = new ComponentRegistry();
    if (made == nullptr) return nullptr;
    char file[kMaxPath];
    const bool found = FollowFactoryRedirect(registryPath, file, kMaxPath) != 0;
    made->LoadFile(registryPath, found ? file : nullptr);
    ComponentRegistry* registry = nullptr;
    {
        MutexLock guard(registriesLock_);
        try {
            // Kept whatever the file held: it is not read again while the
            // factory lives. Another thread may have stored one meanwhile.
            registry = registries_.emplace(key, made).first->second;
            lastRegistry_.store(registry, std::memory_order_release);
        } catch (const std::bad_alloc&) {
            // Not cached, as when the registry itself cannot be allocated.
        }
    }
    if (registry != made) delete made;
    return registry;
}

void ComponentFactory::GetLogSettings(const char* registryPath, uint32_t componentID,
                                      uint32_t* debugOutputMask, uint32_t* logFileMask,
                                      LogSink** logSink) {
    // Outputs the caller did not give are skipped; the masks start as the
    // caller set them.
    uint32_t debugMask = debugOutputMask != nullptr ? *debugOutputMask : 0;
    uint32_t fileMask = logFileMask != nullptr ? *logFileMask : 0;
    if (registryPath == nullptr || registryPath[0] == '\0') {
        defaultRegistry_.GetLogMasks(componentID, &debugMask, &fileMask);
    } else {
        // Never creates or loads a registry.
        ComponentRegistry* registry = nullptr;
        {
            MutexLock guard(registriesLock_);
            auto it = registries_.find(std::string_view(registryPath));
            if (it != registries_.end()) registry = it->second;
        }
        if (registry != nullptr) registry->GetLogMasks(componentID, &debugMask, &fileMask);
    }
    if (debugOutputMask != nullptr) *debugOutputMask = debugMask;
    if (logFileMask != nullptr) *logFileMask = fileMask;

    LogSink* sink = nullptr;
    if (fileMask != 0) {
        if (logSink_.file == kNoLogFile) log::OpenLogFile(rootPath_, logSink_);
        sink = &logSink_;  // also when the file could not be opened
    }
    if (logSink != nullptr) *logSink = sink;
}

void ComponentFactory::RegisterGlobalComponent(IComponent* component) {
    globalComponents_.Register(component);
}

void ComponentFactory::ReleaseGlobalComponents() {
    globalComponents_.ReleaseAll();
}

void ComponentFactory::SetRootPath(const char* path) {
    if (path == nullptr || path[0] == '\0') return;
    kBoundedStrings.Copy(rootPath_, kMaxPath, path);  // too long: unchanged
}

int ComponentFactory::GetRootPath(char* buffer) {
    if (buffer == nullptr) return 0;
    kBoundedStrings.Copy(buffer, kMaxPath, rootPath_);
    return 1;
}

void ComponentFactory::Shutdown() {
    // Once only: a host may call the slot itself before the forced release,
    // which would otherwise delete the log lock a second time.
    if (alive_.exchange(0, std::memory_order_acq_rel) == 0) return;
    // An unload check running on a worker's timer may still use the registries.
    WaitForUnloadChecksOnOtherThreads();
    logLock_.Enter();
    {
        MutexLock guard(registriesLock_);
        lastRegistry_.store(nullptr, std::memory_order_release);
        for (auto& entry : registries_)
            delete entry.second;
        registries_.clear();
    }
    {
        MutexLock guard(unloadLock_);
        pendingUnloads_.clear();
        StopUnloadTimer();
    }
    logLock_.Leave();
    logLock_.Delete();
    if (logSink_.file != kNoLogFile) {
        platform::CloseFile(logSink_.file);
        logSink_.file = kNoLogFile;
    }
    log::PruneLogFiles(rootPath_, logDirectoryCallback_);
}

}  // namespace pexil
