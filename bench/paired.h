// Paired rounds: the sides of a figure timed in short rounds back to back, the
// order turning from round to round, so that a machine shared with other work
// (whose load changes from one second to the next) weighs on every side alike.
// A side's time is the median over the rounds; a ratio is the median of the
// rounds' own ratios.
#ifndef PEXIL_BENCH_PAIRED_H
#define PEXIL_BENCH_PAIRED_H

#include <functional>
#include <vector>

namespace pexil::bench {

// Runs the side's operation the given number of times.
using Side = std::function<void(int operations)>;

struct PairedResult {
    std::vector<double> nanoseconds;  // per operation, median over the rounds, by side
    std::vector<double> ratios;       // side 0's time over side i's, median of the rounds
    int rounds = 0;
};

// Each side runs as many operations per round as take it about roundSeconds.
PairedResult MeasurePaired(const std::vector<Side>& sides, int rounds, double roundSeconds);

}  // namespace pexil::bench

#endif
