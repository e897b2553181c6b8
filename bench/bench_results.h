// What one run measured, gathered for the table main.cpp prints.
#ifndef PEXIL_BENCH_BENCH_RESULTS_H
#define PEXIL_BENCH_BENCH_RESULTS_H

#include "paired.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pexil::bench {

// Throughput of one thread and of two threads doing the same work, and the
// median of the paired rounds' ratios (two threads over one).
struct ThreadScaling {
    double oneThreadPerSecond = 0;
    double twoThreadsPerSecond = 0;
    double ratio = 0;
    int pairs = 0;
};

// LoadFile beside inih and the memchr floor: median throughputs in MB/s and
// the medians of the rounds' ratios (LoadFile's throughput over the peer's).
struct RegistryParsing {
    double loadFileMBps = 0;
    double inihMBps = 0;
    double floorMBps = 0;
    double ratioToInih = 0;
    double ratioToFloor = 0;
    int rounds = 0;
};

// Figure 7: medians over the runs, in nanoseconds, and the medians of the
// runs' own ratios (through the factory over by hand).
struct AppStart {
    double factoryStart = 0, factoryLocate = 0, factoryRegistries = 0, factoryModules = 0,
           factoryCreating = 0, factoryTeardown = 0;
    double handStart = 0, handTeardown = 0;
    double startRatio = 0, teardownRatio = 0;
    int runs = 0;
};

struct RunResults {
    PairedResult createRelease;  // factory, hand-written, floor
    PairedResult holders;        // host reads Pexil.ini, factory handle set, one access()

    ThreadScaling moduleThreads;  // create and release in one module
    ThreadScaling floorThreads;   // the floor's work, nothing shared

    RegistryParsing registryParsing;
    uint64_t registryBytes = 0;
    PairedResult smallRegistry;  // LoadFile of 200 entries, the floor, inih, unordered_map
    uint64_t smallRegistryBytes = 0;

    AppStart appStart;

    std::vector<double> unloadMilliseconds;     // last release to module gone, one per sample
    std::vector<double> pumpCpuShares;          // the pump's CPU time over wall time, per sample
    std::vector<double> bareTimerMilliseconds;  // the peer: a bare 100 ms timer, pumped

    uint32_t liveComponents = 0;
    uint64_t componentBytes = 0;     // sizeof the component class, each
    uint64_t bytesPerComponent = 0;  // allocated per created component, object and record
    double allocationsPerComponent = 0;
    uint64_t heapBytesForAll = 0;  // everything allocated while creating them
    uint64_t residentBefore = 0;   // the process's resident size before creating them
    uint64_t residentAfter = 0;    // and with all of them alive
    // Median address spacing of components created one after another (with
    // their records), and of components allocated alone.
    double heapSpacingPerComponent = 0;
    double heapSpacingComponentAlone = 0;
};

RunResults& Results();

double Median(std::vector<double> values);

// The delay after which the factory checks an idle module (its thread timer).
constexpr uint32_t kUnloadDelayMs = 100;

// Writes the generated registries and checks that both parsers read them alike.
void SetUpRegistryBenchmarks();
// Lays out the application-start figure's host directories.
void SetUpAppStart();
// The table's figures, measured after Google Benchmark's loops.
void MeasureCreateRelease(int rounds);
void MeasureHolders(int rounds);
void MeasureRegistryParsing(int rounds);
void MeasureThreadScaling(int pairs);
void MeasureUnloadLatency(int samples);
void MeasureMemory(uint32_t components);
void MeasureSmallRegistry(int rounds);
void MeasureAppStart(int runs);

}  // namespace pexil::bench

#endif
