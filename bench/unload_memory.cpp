// Figure 5: from a module's last release to the module being unloaded, while
// the host pumps with PexilPumpMessages, beside the factory's 100 ms delay as
// the pump delivers it: a bare 100 ms thread timer, pumped the same way, in
// turn with each sample. Also the pump's CPU time over its wall time.
// Figure 6: memory per live-component record, counted by this program's own
// operator new, beside the components' own size, and the host's resident size
// with all of them alive.
#include "bench_component.h"
#include "bench_results.h"
#include "environment.h"

#include "platform/platform.h"

#include <pexil/platform.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <new>
#include <vector>

namespace {

// Counting is switched on only around the measured creations, so that the
// timed benchmarks pay one relaxed load per allocation and share nothing.
std::atomic<bool> g_counting{false};
std::atomic<uint64_t> g_countedBytes{0};
std::atomic<uint64_t> g_countedAllocations{0};

void* CountedAllocate(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) {
        g_countedBytes.fetch_add(size, std::memory_order_relaxed);
        g_countedAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    return std::malloc(size != 0 ? size : 1);
}

}  // namespace

// The process's operator new and delete: every module's allocations reach
// these, BenchComponents.dll's map records among them.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    if (void* memory = CountedAllocate(size)) return memory;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return CountedAllocate(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

namespace pexil::bench {
namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Pumps until the module is gone; false when it is still loaded after 5 s.
bool PumpUntilUnloaded(const char* path) {
    const Clock::time_point start = Clock::now();
    while (platform::IsModuleLoaded(path)) {
        if (MillisecondsSince(start) > 5000) return false;
        PexilPumpMessages(1000);
    }
    return true;
}

std::atomic<bool> g_bareTimerFired{false};

void PEXIL_CALLBACK BareTimerProc(void*, unsigned int, uintptr_t, unsigned long) {
    g_bareTimerFired = true;
}

// The peer: a thread timer of the factory's delay, started and pumped as the
// factory's own is. Milliseconds from its start to its procedure's return.
double MeasureBareTimer(uint32_t delayMs) {
    g_bareTimerFired = false;
    const Clock::time_point start = Clock::now();
    const uintptr_t timer = platform::SetTimer(delayMs, BareTimerProc);
    if (timer == 0) Fail("cannot start a thread timer");
    while (!g_bareTimerFired) {
        if (MillisecondsSince(start) > 5000) Fail("the thread timer never ran");
        PexilPumpMessages(1000);
    }
    const double elapsed = MillisecondsSince(start);
    platform::KillTimer(timer);
    return elapsed;
}

template <class Pointer>
double MedianSpacing(const std::vector<Pointer>& pointers) {
    std::vector<double> spacing;
    for (size_t i = 1; i < pointers.size(); ++i) {
        const auto a = reinterpret_cast<uintptr_t>(static_cast<const void*>(pointers[i - 1]));
        const auto b = reinterpret_cast<uintptr_t>(static_cast<const void*>(pointers[i]));
        spacing.push_back(b > a ? static_cast<double>(b - a) : -static_cast<double>(a - b));
    }
    return Median(spacing);
}

}  // namespace

void MeasureUnloadLatency(int samples) {
    Environment& env = Env();
    RunResults& results = Results();
    const char* path = env.modulePath.c_str();

    // The kept component's release is the first last release: its unload is
    // not measured, only waited for.
    LetModuleIdle();
    if (!PumpUntilUnloaded(path)) Fail("BenchComponents.dll was not unloaded");

    for (int i = 0; i < samples; ++i) {
        IComponent* component =
            env.factory->CreateComponentByID(kBenchComponentID, env.registryPath.c_str());
        if (component == nullptr) Fail("the factory made no component");

        const Clock::time_point start = Clock::now();
        component->Release(1);  // the module's last: it schedules itself for unloading
        const std::clock_t cpuStart = std::clock();
        const Clock::time_point pumpStart = Clock::now();
        if (!PumpUntilUnloaded(path)) Fail("BenchComponents.dll was not unloaded");
        const double pumpCpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        const double pumpWall = MillisecondsSince(pumpStart) / 1000.0;
        results.unloadMilliseconds.push_back(MillisecondsSince(start));
        results.pumpCpuShares.push_back(pumpWall > 0 ? pumpCpu / pumpWall : 0);
        results.bareTimerMilliseconds.push_back(MeasureBareTimer(kUnloadDelayMs));
    }
    if (!KeepModuleBusy()) Fail("the factory made no component");
}

void MeasureMemory(uint32_t components) {
    RunResults& results = Results();
    const PexilModuleHandle module = platform::LoadLibrary(Env().modulePath.c_str());
    auto create = reinterpret_cast<CreateComponentFunction>(
        platform::GetProcAddress(module, "CreateComponent"));
    if (create == nullptr) Fail("cannot find CreateComponent in BenchComponents.dll");
    std::vector<IComponent*> live;
    live.reserve(components);

    results.residentBefore = platform::ResidentBytes();
    g_countedBytes = 0;
    g_countedAllocations = 0;
    g_counting = true;
    for (uint32_t i = 0; i < components; ++i) {
        IComponent* component = create(kBenchComponentID, kCreatorDirect);
        if (component == nullptr) break;
        live.push_back(component);
    }
    g_counting = false;
    results.residentAfter = platform::ResidentBytes();
    if (live.size() != components) Fail("the module stopped making components");

    results.liveComponents = components;
    results.componentBytes = sizeof(BenchComponent);
    results.heapBytesForAll = g_countedBytes.load();
    results.bytesPerComponent = results.heapBytesForAll / components;
    results.allocationsPerComponent =
        static_cast<double>(g_countedAllocations.load()) / static_cast<double>(components);

    // What the allocator really takes: consecutive allocations on a growing
    // heap lie one chunk apart, so the spacing of components created one after
    // another is the chunk of a component plus the chunk of its record, and the
    // spacing of components allocated alone is a component's chunk.
    results.heapSpacingPerComponent = MedianSpacing(live);
    std::vector<BenchComponent*> alone;
    alone.reserve(components / 10);
    for (uint32_t i = 0; i < components / 10; ++i)
        alone.push_back(new BenchComponent());
    results.heapSpacingComponentAlone =
        MedianSpacing(std::vector<const void*>(alone.begin(), alone.end()));
    for (BenchComponent* component : alone) {
        component->MarkShutDown();
        delete component;
    }

    for (IComponent* component : live)
        component->Release(1);
    platform::FreeLibrary(module);
}

}  // namespace pexil::bench
