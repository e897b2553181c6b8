// Figure 1: creating and releasing a component through the factory, the module
// already loaded, beside the hand-written path (GetProcAddress of
// CreateComponent, call it, Release(1)) and the floor (new and delete of the
// same class plus one map insert and erase).
//
// Google Benchmark times each path in loops of its own (its report); the table
// takes the paths' times and ratio from paired rounds (paired.h).
//
// A second component of the module stays alive throughout (Env().keeper), so
// that no release is the module's last: the idle notice and the unload timer
// it starts belong to figure 5, and counting them here would add the same
// cost to both sides.
#include "bench_component.h"
#include "bench_results.h"
#include "environment.h"
#include "paired.h"

#include "module/live_components.h"
#include "platform/platform.h"

#include <benchmark/benchmark.h>

#include <map>

namespace pexil::bench {
namespace {

// One creation and release on each path.
void ThroughFactory(IComponentFactory* factory, const char* registry) {
    IComponent* component = factory->CreateComponentByID(kBenchComponentID, registry);
    if (component == nullptr) Fail("the factory made no component");
    component->Release(1);
}

void HandWritten(PexilModuleHandle module) {
    auto create = reinterpret_cast<CreateComponentFunction>(
        platform::GetProcAddress(module, "CreateComponent"));
    IComponent* component = create != nullptr ? create(kBenchComponentID, kCreatorDirect) : nullptr;
    if (component == nullptr) Fail("BenchComponents.dll made no component");
    component->Release(1);
}

void Floor(std::map<IComponent*, module::ComponentRecord>& records) {
    auto* component = new BenchComponent();
    IComponent* key = component;
    records.emplace(key, module::ComponentRecord{kBenchComponentID, kCreatorDirect, key});
    benchmark::DoNotOptimize(records);
    records.erase(key);
    DestroyAsPlainObject(component);
}

void BM_CreateRelease_Factory(benchmark::State& state) {
    IComponentFactory* factory = Env().factory;
    const char* registry = Env().registryPath.c_str();
    for (auto _ : state)
        ThroughFactory(factory, registry);
}

void BM_CreateRelease_HandWritten(benchmark::State& state) {
    // The host's own reference, given back below: figure 5 needs it gone.
    const PexilModuleHandle module = platform::LoadLibrary(Env().modulePath.c_str());
    for (auto _ : state)
        HandWritten(module);
    platform::FreeLibrary(module);
}

void BM_CreateRelease_Floor(benchmark::State& state) {
    std::map<IComponent*, module::ComponentRecord> records;
    for (auto _ : state)
        Floor(records);
}

}  // namespace

void MeasureCreateRelease(int rounds) {
    IComponentFactory* factory = Env().factory;
    const char* registry = Env().registryPath.c_str();
    const PexilModuleHandle module = platform::LoadLibrary(Env().modulePath.c_str());
    std::map<IComponent*, module::ComponentRecord> records;
    Results().createRelease = MeasurePaired({[&](int operations) {
                                                 for (int i = 0; i < operations; ++i)
                                                     ThroughFactory(factory, registry);
                                             },
                                             [&](int operations) {
                                                 for (int i = 0; i < operations; ++i)
                                                     HandWritten(module);
                                             },
                                             [&](int operations) {
                                                 for (int i = 0; i < operations; ++i)
                                                     Floor(records);
                                             }},
                                            rounds, 0.002);
    platform::FreeLibrary(module);
}

BENCHMARK(BM_CreateRelease_Factory);
BENCHMARK(BM_CreateRelease_HandWritten);
BENCHMARK(BM_CreateRelease_Floor);

}  // namespace pexil::bench
