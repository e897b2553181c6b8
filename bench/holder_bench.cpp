// Figure 3: constructing a keeping factory holder in a host whose module code
// has no factory handle, so that the locator reads "Pexil.ini" beside the host
// each time, beside the system calls it must make for that (three looks at the
// file) and the same holder with the factory handle set (no ini file read). Both run in the
// benchmark host with the same registry path (the host's, empty): the factory handle is the only
// difference.
//
// Google Benchmark times each in loops of its own (its report); the table takes
// the times and ratio from paired rounds (paired.h).
#include "bench_results.h"
#include "environment.h"
#include "paired.h"

#include "module/module_state.h"
#include "platform/platform.h"

#include <pexil/holder.h>

#include <benchmark/benchmark.h>

#include <filesystem>

#include <string>

namespace pexil::bench {
namespace {

void ConstructHolder() {
    KeepingFactoryHolder holder;
    if (holder.component == nullptr) Fail("the keeping holder found no factory");
    benchmark::DoNotOptimize(holder.component);
}

// The system calls the holder must make: the profile reader looks at the file
// (one system call that looks its path up, a stat()) for each of the
// locator's three reads, so that it sees every change.
void CheckFile(const std::filesystem::path& ini) {
    std::error_code error;
    for (int read = 0; read < 3; ++read)
        benchmark::DoNotOptimize(std::filesystem::status(ini, error));
}

void BM_Holder_HostIni(benchmark::State& state) {
    module::SetFactoryHandle(nullptr);
    for (auto _ : state)
        ConstructHolder();
}

void BM_Holder_FactoryHandle(benchmark::State& state) {
    module::SetFactoryHandle(Env().factoryModule);
    for (auto _ : state)
        ConstructHolder();
    module::SetFactoryHandle(nullptr);
}

void BM_Holder_ItsSystemCalls(benchmark::State& state) {
    const std::filesystem::path ini = Env().hostDirectory + "/Pexil.ini";
    for (auto _ : state)
        CheckFile(ini);
}

}  // namespace

void MeasureHolders(int rounds) {
    const std::filesystem::path ini = Env().hostDirectory + "/Pexil.ini";
    Results().holders = MeasurePaired({[](int operations) {
                                           module::SetFactoryHandle(nullptr);
                                           for (int i = 0; i < operations; ++i)
                                               ConstructHolder();
                                       },
                                       [](int operations) {
                                           module::SetFactoryHandle(Env().factoryModule);
                                           for (int i = 0; i < operations; ++i)
                                               ConstructHolder();
                                           module::SetFactoryHandle(nullptr);
                                       },
                                       [&ini](int operations) {
                                           for (int i = 0; i < operations; ++i)
                                               CheckFile(ini);
                                       }},
                                      rounds, 0.002);
}

BENCHMARK(BM_Holder_HostIni);
BENCHMARK(BM_Holder_FactoryHandle);
BENCHMARK(BM_Holder_ItsSystemCalls);

}  // namespace pexil::bench
