#include "paired.h"

#include "bench_results.h"

#include <algorithm>
#include <chrono>

namespace pexil::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const Side& side, int operations) {
    const Clock::time_point start = Clock::now();
    side(operations);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// How many operations take the side about the round's time (at least 10).
int Calibrate(const Side& side, double roundSeconds) {
    int operations = 10;
    for (;;) {
        const double seconds = Seconds(side, operations);
        if (seconds >= roundSeconds / 4 || operations >= (1 << 24)) {
            const double perOperation = seconds / operations;
            return std::max(10, static_cast<int>(roundSeconds / perOperation));
        }
        operations *= 4;
    }
}

}  // namespace

PairedResult MeasurePaired(const std::vector<Side>& sides, int rounds, double roundSeconds) {
    const size_t count = sides.size();
    std::vector<int> operations(count);
    for (size_t s = 0; s < count; ++s)
        operations[s] = Calibrate(sides[s], roundSeconds);

    std::vector<std::vector<double>> perOperation(count), ratios(count);
    std::vector<double> round(count);
    for (int r = 0; r < rounds; ++r) {
        for (size_t k = 0; k < count; ++k) {
            const size_t s = (k + static_cast<size_t>(r)) % count;
            round[s] = Seconds(sides[s], operations[s]) * 1e9 / operations[s];
        }
        for (size_t s = 0; s < count; ++s) {
            perOperation[s].push_back(round[s]);
            ratios[s].push_back(round[0] / round[s]);
        }
    }
    PairedResult result;
    result.rounds = rounds;
    for (size_t s = 0; s < count; ++s) {
        result.nanoseconds.push_back(Median(perOperation[s]));
        result.ratios.push_back(Median(ratios[s]));
    }
    return result;
}

}  // namespace pexil::bench
