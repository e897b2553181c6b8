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
    // A timer no factory counts as its own (Shutdown ran on another thread,
    // and only the thread that started a thread timer can stop it; or its
    // factory is gone) is stopped here, on its own thread, before anything is
    // acquired: left running, it would fire for ever and build a new factory
    // each time. The instance cannot be destroyed while it is looked at.
    bool ours = false;
    SingleInstance<ComponentFactory>::WithCurrent([&](ComponentFactory* current) {
        ours = current != nullptr && current->timerId_.load(std::memory_order_acquire) == timer;
    });
    if (!ours) {
        platform::KillTimer(timer);
        return;
    }
    KeepingFactoryHolder holder;
    // The factory the holder reaches is this module's own.
    ComponentFactory* factory = SingleInstance<ComponentFactory>::Current();
    if (holder.component == nullptr || factory == nullptr ||
        holder.component != static_cast<IComponent*>(factory) || factory->alive_.load() == 0) {
        return;
    }
    factory->RunUnloadCheck();
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
    const uintptr_t running = timerId_.load(std::memory_order_relaxed);
    if (running != 0) {
        if (platform::TimerRunning(running)) return 0;
        // The thread that started the timer has exited, and its timer with it:
        // the timer is forgotten and one is started on this thread, which
        // checks every pending module, those scheduled before included.
    }
    // On failure the module stays pending; the next call tries again.
    const uintptr_t started = platform::SetTimer(kUnloadDelayMs, UnloadTimerProc);
    timerId_.store(started, std::memory_order_release);
    return static_cast<uint32_t>(started);
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
    const uintptr_t running = timerId_.load(std::memory_order_relaxed);
    if (running == 0) return;
    platform::KillTimer(running);
    timerId_.store(0, std::memory_order_release);
}

}  // namespace pexil
