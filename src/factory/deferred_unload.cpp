// Deferred unloading of idle component DLLs: a module that has released its
// last component is checked 100 ms later, from a thread timer, and freed
// through every registry if it agrees.
#include "factory/component_factory.h"

#include "platform/platform.h"

#include <pexil/holder.h>
#include <pexil/module.h>

#include <atomic>

namespace pexil {
namespace {

constexpr uint32_t kUnloadDelayMs = 100;

}  // namespace

void PEXIL_CALLBACK ComponentFactory::UnloadTimerProc(void*, unsigned int, uintptr_t timer,
                                                      unsigned long) {
    // A timer the factory no longer counts as its own: Shutdown ran on another
    // thread, and only the thread that started a thread timer can stop it. It
    // is stopped here, on its own thread, before it acquires anything; left
    // running, it would fire for ever and build a new factory each time.
    if (timer != timerId_.load(std::memory_order_acquire)) {
        platform::KillTimer(timer);
        return;
    }
    KeepingFactoryHolder holder;
    if (FactoryAlive() == 0 || holder.component == nullptr) return;
    // The factory the holder reaches is this module's own.
    auto* factory = SingleInstance<ComponentFactory>::Current();
    if (factory != nullptr && holder.component == static_cast<IComponent*>(factory)) {
        factory->RunUnloadCheck();
    }
}

uint32_t ComponentFactory::ScheduleDllUnload(PexilModuleHandle module) {
    // Modules that go idle on different threads tell the factory at the same
    // time, each holding its own module lock: the set and the timer ID have a
    // lock of their own, never handed out and never held while calling out of
    // the factory, so no order of locks can deadlock on it.
    std::lock_guard<std::mutex> guard(unloadLock_);
    try {
        pendingUnloads_.insert(module);
    } catch (const std::bad_alloc&) {
        // Not pending: the module stays loaded, as one that never went idle.
        return 0;
    }
    if (timerId_ != 0) return 0;
    // On failure the module stays pending; the next call tries again.
    timerId_.store(platform::SetTimer(kUnloadDelayMs, UnloadTimerProc), std::memory_order_release);
    return static_cast<uint32_t>(timerId_);
}

int ComponentFactory::UnloadDllIfIdle(PexilModuleHandle module) {
    auto canUnloadNow = reinterpret_cast<PexilDllCanUnloadNowFunction>(
        platform::GetProcAddress(module, "PexilDllCanUnloadNow"));
    if (canUnloadNow == nullptr || canUnloadNow() == 0) return 0;
    for (auto& entry : registries_)
        entry.second->UnloadModule(module);
    defaultRegistry_.UnloadModule(module);
    return 1;
}

void ComponentFactory::RunUnloadCheck() {
    // The pass runs on the set's contents, taken out without copying (nothing
    // to allocate) and without the lock held (it calls into modules and the
    // loader); modules scheduled meanwhile go into the emptied set, which is
    // emptied again at the end of the pass.
    std::set<PexilModuleHandle> pass;
    {
        std::lock_guard<std::mutex> guard(unloadLock_);
        pass.swap(pendingUnloads_);
    }
    IComponentFactory* self = this;
    for (PexilModuleHandle module : pass)
        self->UnloadDllIfIdle(module);
    std::lock_guard<std::mutex> guard(unloadLock_);
    if (!pass.empty()) pendingUnloads_.clear();
    if (pendingUnloads_.empty()) StopUnloadTimer();
}

void ComponentFactory::StopUnloadTimer() {
    if (timerId_ == 0) return;
    platform::KillTimer(timerId_);
    timerId_.store(0, std::memory_order_release);
}

}  // namespace pexil
