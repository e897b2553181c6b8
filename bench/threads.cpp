// Figure 4: creating and releasing components of one module (the hand-written
// path: its CreateComponent export, then Release(1)) from two threads, beside
// the same work from one thread.
//
// Measured by hand rather than in Google Benchmark's loop: a round of one
// thread and a round of two threads, each doing the same total number of
// creations and releases, run back to back, in alternating order, many times;
// the figure is the median of the rounds' throughput ratios. Pairing the
// rounds closely keeps a machine shared with other work from favouring one
// side. The floor's work (new and delete plus a map insert and erase of its
// own) measured the same way shows how far the machine itself lets two threads
// scale at the time.
#include "bench_component.h"
#include "bench_results.h"
#include "environment.h"

#include "module/live_components.h"
#include "platform/platform.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <thread>
#include <vector>

namespace pexil::bench {
namespace {

// Long enough that starting and joining the threads (some tens of
// microseconds) is lost in the round.
constexpr int kOperationsPerRound = 200000;

using Work = std::function<bool(int operations)>;

// Seconds for the round's operations shared out among the threads, from the
// moment every thread is ready (a barrier: thread creation is not timed) to
// the last one's end; negative when the work failed.
double TimeRound(const Work& work, int threads) {
    std::atomic<bool> failed{false};
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            ++ready;
            while (!go.load(std::memory_order_acquire)) {
            }
            if (!work(kOperationsPerRound / threads)) failed = true;
        });
    }
    while (ready.load() < threads) {
    }
    const auto start = std::chrono::steady_clock::now();
    go.store(true, std::memory_order_release);
    for (std::thread& worker : workers)
        worker.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return failed ? -1 : seconds;
}

ThreadScaling MeasureScaling(const Work& work, int pairs) {
    std::vector<double> oneThread, twoThreads, ratios;
    for (int i = 0; i < pairs; ++i) {
        double one = 0;
        double two = 0;
        if (i % 2 == 0) {
            one = TimeRound(work, 1);
            two = TimeRound(work, 2);
        } else {
            two = TimeRound(work, 2);
            one = TimeRound(work, 1);
        }
        if (one <= 0 || two <= 0) Fail("a thread round failed");
        oneThread.push_back(kOperationsPerRound / one);
        twoThreads.push_back(kOperationsPerRound / two);
        ratios.push_back(one / two);
    }
    return ThreadScaling{Median(oneThread), Median(twoThreads), Median(ratios), pairs};
}

}  // namespace

void MeasureThreadScaling(int pairs) {
    const PexilModuleHandle module = platform::LoadLibrary(Env().modulePath.c_str());
    auto create = reinterpret_cast<CreateComponentFunction>(
        platform::GetProcAddress(module, "CreateComponent"));
    if (create == nullptr) Fail("cannot find CreateComponent in BenchComponents.dll");

    Results().moduleThreads = MeasureScaling(
        [create](int operations) {
            for (int i = 0; i < operations; ++i) {
                IComponent* component = create(kBenchComponentID, kCreatorDirect);
                if (component == nullptr) return false;
                component->Release(1);
            }
            return true;
        },
        pairs);

    Results().floorThreads = MeasureScaling(
        [](int operations) {
            std::map<IComponent*, module::ComponentRecord> records;
            for (int i = 0; i < operations; ++i) {
                auto* component = new BenchComponent();
                IComponent* key = component;
                records.emplace(key, module::ComponentRecord{kBenchComponentID, 0, key});
                benchmark::DoNotOptimize(records);
                records.erase(key);
                DestroyAsPlainObject(component);
            }
            return true;
        },
        pairs);
    platform::FreeLibrary(module);
}

}  // namespace pexil::bench
