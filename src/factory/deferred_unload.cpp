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

// The unload timer of the factory that is published (0 when none), module-wide
// so that a timer event can tell, without touching a factory that may be gone,
// whether it still belongs to one: a factory shut down on another thread than
// its timer's cannot stop that timer, which then fires for a factory that no
// longer counts it.
std::atomic<uintptr_t> g_factoryTimer{0};
// Timer events being handled, and the thread of the one past that test (0
// while none is). Shutdown waits for them (unless it runs inside one) before
// it takes the factory apart.
std::atomic<int> g_checksRunning{0};
std::atomic<uintptr_t> g_checkThread{0};
// Shutdowns begun in this module. A module that an unload pass frees may shut
// the factory down (and delete it) from its static destructors, on the pass's
// own thread: the pass then touches the factory no more.
std::atomic<uint32_t> g_shutdownsBegun{0};

}  // namespace

void PEXIL_CALLBACK ComponentFactory::UnloadTimerProc(void*, unsigned int, uintptr_t timer,
                                                      unsigned long) {
    // Counted before the test (and Shutdown clears the timer before it counts),
    // so that either this event sees the factory's timer gone or Shutdown sees
    // this event running and waits for it.
    g_checksRunning.fetch_add(1);
    if (g_factoryTimer.load() != timer) {
        g_checksRunning.fetch_sub(1);
        // Stopped here, on its own thread, before anything is acquired: left
        // running, it would fire for ever, and acquiring would build a new
        // factory each time.
        platform::KillTimer(timer);
        return;
    }
    // One event at a time gets here: only one timer is the factory's.
    g_checkThread.store(platform::CurrentThreadId());
    {
        KeepingFactoryHolder holder;
        // The factory the holder reaches is this module's own.
        ComponentFactory* factory = SingleInstance<ComponentFactory>::Current();
        if (holder.component != nullptr && factory != nullptr &&
            holder.component == static_cast<IComponent*>(factory) && factory->alive_.load() != 0) {
            factory->RunUnloadCheck();
        }
    }
    g_checkThread.store(0);
    g_checksRunning.fetch_sub(1);
}

void ComponentFactory::WaitForUnloadChecksOnOtherThreads() {
    g_shutdownsBegun.fetch_add(1);
    g_factoryTimer.store(0);
    // An unload check on this very thread (a module freed by it releasing the
    // factory) would wait for itself.
    while (g_checksRunning.load() != 0 && g_checkThread.load() != platform::CurrentThreadId()) {
        platform::Sleep(1);
    }
}

uint32_t ComponentFactory::ScheduleDllUnload(PexilModuleHandle module) {
    // Modules that go idle on different threads tell the factory at the same
    // time, each holding its own module lock: the set and the timer ID have a
    // lock of their own, never handed out and never held while calling out of
    // the factory, so no order of locks can deadlock on it.
    MutexLock guard(unloadLock_);
    if (alive_.load() == 0) return 0;  // after Shutdown has begun, nothing is pending
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
    g_factoryTimer.store(started);
    return static_cast<uint32_t>(started);
}

int ComponentFactory::UnloadDllIfIdle(PexilModuleHandle module) {
    auto canUnloadNow = reinterpret_cast<PexilDllCanUnloadNowFunction>(
        platform::GetProcAddress(module, "PexilDllCanUnloadNow"));
    if (canUnloadNow == nullptr) return 0;
    // The module's answer holds only for the moment it is given: the entries
    // are marked before the question, and an entry through which a creation
    // on another thread ends after the mark keeps its reference (DetachModule).
    static std::atomic<uint32_t> checks{0};
    uint32_t check = checks.fetch_add(1, std::memory_order_relaxed) + 1;
    if (check == 0) check = checks.fetch_add(1, std::memory_order_relaxed) + 1;
    {
        MutexLock guard(registriesLock_);
        for (auto& entry : registries_)
            entry.second->MarkUnloadCheck(module, check);
    }
    defaultRegistry_.MarkUnloadCheck(module, check);
    if (canUnloadNow() == 0) return 0;
    // The references every registry's entries hold, given back once the locks
    // are left: the loader runs the module's destructors as it goes.
    int references = 0;
    {
        MutexLock guard(registriesLock_);
        for (auto& entry : registries_)
            references += entry.second->DetachModule(module, check);
    }
    references += defaultRegistry_.DetachModule(module, check);
    for (; references > 0; --references)
        platform::FreeLibrary(module);
    return 1;
}

void ComponentFactory::RunUnloadCheck() {
    // The pass runs on the set's contents, taken out without copying (nothing
    // to allocate) and without the lock held (it calls into modules and the
    // loader); modules scheduled meanwhile go into the emptied set, which is
    // emptied again at the end of the pass.
    const uint32_t shutdowns = g_shutdownsBegun.load();
    std::set<PexilModuleHandle> pass;
    {
        MutexLock guard(unloadLock_);
        pass.swap(pendingUnloads_);
    }
    IComponentFactory* self = this;
    for (PexilModuleHandle module : pass) {
        if (g_shutdownsBegun.load() != shutdowns) return;  // this factory may be gone
        self->UnloadDllIfIdle(module);
    }
    if (g_shutdownsBegun.load() != shutdowns) return;
    MutexLock guard(unloadLock_);
    if (!pass.empty()) pendingUnloads_.clear();
    if (pendingUnloads_.empty()) StopUnloadTimer();
}

void ComponentFactory::StopUnloadTimer() {
    const uintptr_t running = timerId_.load(std::memory_order_relaxed);
    if (running == 0) return;
    platform::KillTimer(running);
    timerId_.store(0, std::memory_order_release);
    uintptr_t expected = running;
    g_factoryTimer.compare_exchange_strong(expected, 0);
}

}  // namespace pexil
