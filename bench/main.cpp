// pexil_bench: times the framework's hot paths side by side with their peers
// in one run and prints one table of ratios on standard output. Google
// Benchmark's own report goes to standard error.
//
//   pexil_bench [Google Benchmark flags]
//
// First Google Benchmark times the paths of figures 1 and 3 in loops of their
// own (unless given otherwise 7 times each, the repetitions of all loops
// shuffled together) for its report. Then the table's figures are measured:
// figures 1 to 4 in rounds of each side and its peers back to back (paired.h),
// figure 5 run by run and figure 6 once.
#include "bench_results.h"
#include "environment.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace pexil::bench {

RunResults& Results() {
    static RunResults results;
    return results;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

namespace {

// Google Benchmark's console report, keeping the errors for the summary.
class Collector : public benchmark::ConsoleReporter {
public:
    Collector() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred)
                errors_.push_back(run.benchmark_name() + ": " + run.error_message);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    const std::vector<std::string>& errors() const { return errors_; }

private:
    std::vector<std::string> errors_;
};

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

std::string Time(double nanoseconds) {
    if (nanoseconds >= 1e6) return Format("%.2f ms", nanoseconds / 1e6);
    if (nanoseconds >= 1e3) return Format("%.2f us", nanoseconds / 1e3);
    return Format("%.0f ns", nanoseconds);
}

std::string Ratio(double ratio) {
    return Format("%.2fx", ratio);
}

struct Row {
    std::string figure, measured, peer, peerValue, ratio, target, verdict;
};

void PrintTable(const std::vector<Row>& rows) {
    const std::vector<std::string> heads = {"Figure", "Measured", "Peer",  "Peer value",
                                            "Ratio",  "Target",   "Result"};
    std::vector<size_t> widths(heads.size());
    auto cells = [](const Row& row) {
        return std::vector<std::string>{row.figure, row.measured, row.peer,   row.peerValue,
                                        row.ratio,  row.target,   row.verdict};
    };
    for (size_t i = 0; i < heads.size(); ++i)
        widths[i] = heads[i].size();
    for (const Row& row : rows) {
        const std::vector<std::string> line = cells(row);
        for (size_t i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], line[i].size());
    }
    auto print = [&](const std::vector<std::string>& line) {
        std::string text = "|";
        for (size_t i = 0; i < line.size(); ++i)
            text += " " + line[i] + std::string(widths[i] - line[i].size(), ' ') + " |";
        std::cout << text << "\n";
    };
    print(heads);
    std::string rule = "|";
    for (size_t width : widths)
        rule += std::string(width + 2, '-') + "|";
    std::cout << rule << "\n";
    for (const Row& row : rows)
        print(cells(row));
}

int g_met = 0;
int g_missed = 0;

std::string Verdict(bool met) {
    ++(met ? g_met : g_missed);
    return met ? "met" : "MISSED";
}

void Report(const benchmark::CPUInfo& machine) {
    const RunResults& r = Results();
    std::vector<Row> rows;

    if (r.createRelease.rounds > 0) {
        const PairedResult& paths = r.createRelease;
        rows.push_back({"1 create+release via factory", Time(paths.nanoseconds[0]),
                        "hand-written export call", Time(paths.nanoseconds[1]),
                        Ratio(paths.ratios[1]), "<= 1.0x", Verdict(paths.ratios[1] <= 1.0)});
        rows.push_back({"", "", "floor: new/delete + map", Time(paths.nanoseconds[2]),
                        Ratio(paths.ratios[2]), "<= 3x", Verdict(paths.ratios[2] <= 3.0)});
    }

    if (r.registryParsing.rounds > 0) {
        const RegistryParsing& parsing = r.registryParsing;
        rows.push_back(
            {Format("2 LoadFile, %.1f MB registry", static_cast<double>(r.registryBytes) / 1e6),
             Format("%.0f MB/s", parsing.loadFileMBps), "inih, same entries",
             Format("%.0f MB/s", parsing.inihMBps), Ratio(parsing.ratioToInih), ">= 2.5x",
             Verdict(parsing.ratioToInih >= 2.5)});
        rows.push_back({"", "", "floor: read + memchr lines",
                        Format("%.0f MB/s", parsing.floorMBps), Ratio(parsing.ratioToFloor), "-",
                        ""});
    }

    if (r.smallRegistry.rounds > 0) {
        const PairedResult& small = r.smallRegistry;
        rows.push_back({Format("2b LoadFile, 200 entries, %.1f KB",
                               static_cast<double>(r.smallRegistryBytes) / 1e3),
                        Time(small.nanoseconds[0]), "floor: open, read, close",
                        Time(small.nanoseconds[1]), Ratio(small.ratios[1]), "<= 5x",
                        Verdict(small.ratios[1] <= 5.0)});
        rows.push_back({"", "", "plain parse into unordered_map", Time(small.nanoseconds[3]),
                        Ratio(small.ratios[3]), "<= 1.0x", Verdict(small.ratios[3] <= 1.0)});
        // Against inih the ratio is its time over LoadFile's: how much faster.
        const double faster = small.ratios[2] > 0 ? 1.0 / small.ratios[2] : 0;
        rows.push_back({"", "", "inih, same entries", Time(small.nanoseconds[2]), Ratio(faster),
                        ">= 1.5x", Verdict(faster >= 1.5)});
    }

    if (r.holders.rounds > 0) {
        const PairedResult& holders = r.holders;
        rows.push_back({"3 keeping holder, host reads Pexil.ini", Time(holders.nanoseconds[0]),
                        "its system calls: 3 stat()", Time(holders.nanoseconds[2]),
                        Ratio(holders.ratios[2]), "<= 1.5x", Verdict(holders.ratios[2] <= 1.5)});
        rows.push_back({"", "", "factory handle set", Time(holders.nanoseconds[1]),
                        Ratio(holders.ratios[1]), "-", ""});
    }

    if (r.moduleThreads.pairs > 0) {
        const ThreadScaling& module = r.moduleThreads;
        const ThreadScaling& floor = r.floorThreads;
        rows.push_back({"4 create+release in one module, 2 threads",
                        Format("%.2f M/s", module.twoThreadsPerSecond / 1e6), "1 thread",
                        Format("%.2f M/s", module.oneThreadPerSecond / 1e6), Ratio(module.ratio),
                        ">= 1.3x", Verdict(module.ratio >= 1.3)});
        rows.push_back({"  floor's work, nothing shared, 2 threads",
                        Format("%.2f M/s", floor.twoThreadsPerSecond / 1e6), "1 thread",
                        Format("%.2f M/s", floor.oneThreadPerSecond / 1e6), Ratio(floor.ratio), "-",
                        "(machine)"});
    }

    if (!r.unloadMilliseconds.empty()) {
        const double unload = Median(r.unloadMilliseconds);
        const double bare = Median(r.bareTimerMilliseconds);
        const auto [fastest, slowest] =
            std::minmax_element(r.unloadMilliseconds.begin(), r.unloadMilliseconds.end());
        const double cpu = *std::max_element(r.pumpCpuShares.begin(), r.pumpCpuShares.end());
        const bool inRange = *fastest >= kUnloadDelayMs && *slowest <= kUnloadDelayMs + 20;
        rows.push_back({Format("5 last release to unloaded, %.0f runs",
                               static_cast<double>(r.unloadMilliseconds.size())),
                        Format("%.1f ms", unload), "bare 100 ms timer, pumped",
                        Format("%.1f ms", bare), Ratio(unload / bare), "100-120 ms",
                        Verdict(inRange)});
        rows.push_back({"  fastest and slowest run",
                        Format("%.1f-", *fastest) + Format("%.1f ms", *slowest), "", "", "", "",
                        ""});
        rows.push_back({"  pump's CPU time over wall time", Format("%.2f%%", cpu * 100),
                        "(worst run)", "", "", "< 5%", Verdict(cpu < 0.05)});
    }

    if (r.liveComponents != 0) {
        const double component = static_cast<double>(r.componentBytes);
        const double perRecord = static_cast<double>(r.bytesPerComponent) - component;
        rows.push_back({"6 memory per live-component record", Format("%.0f B", perRecord),
                        "component's own size", Format("%.0f B", component),
                        Ratio(perRecord / component), "<= 64 B", Verdict(perRecord <= 64)});
        const double spacing = r.heapSpacingPerComponent - r.heapSpacingComponentAlone;
        rows.push_back({"  the same by heap spacing", Format("%.0f B", spacing),
                        "component's spacing", Format("%.0f B", r.heapSpacingComponentAlone),
                        Ratio(spacing / r.heapSpacingComponentAlone), "<= 64 B",
                        Verdict(spacing <= 64)});
        const double count = static_cast<double>(r.liveComponents);
        rows.push_back({Format("  heap for %.0f live components", count),
                        Format("%.1f MB", static_cast<double>(r.heapBytesForAll) / 1e6),
                        "by heap spacing",
                        Format("%.1f MB", r.heapSpacingPerComponent * count / 1e6),
                        Format("%.1f allocs", r.allocationsPerComponent), "stated", ""});
        const double grown =
            static_cast<double>(r.residentAfter) - static_cast<double>(r.residentBefore);
        rows.push_back({Format("  resident size, %.0f live", count),
                        Format("%.1f MB", static_cast<double>(r.residentAfter) / 1e6),
                        "before creating them",
                        Format("%.1f MB", static_cast<double>(r.residentBefore) / 1e6),
                        Format("+%.0f B each", grown / count), "stated", ""});
    }

    if (r.appStart.runs > 0) {
        const AppStart& app = r.appStart;
        rows.push_back({"7 application start: 40 modules, 400 components", Time(app.factoryStart),
                        "by hand: dlopen, dlsym, call", Time(app.handStart), Ratio(app.startRatio),
                        "<= 1.15x", Verdict(app.startRatio <= 1.15)});
        rows.push_back({"  locating the factory (Pexil.ini, Brelnor.dll)", Time(app.factoryLocate),
                        "", "", "", "", ""});
        rows.push_back({"  reading the two named registries", Time(app.factoryRegistries), "", "",
                        "", "", ""});
        rows.push_back({"  loading the 40 modules (first component each)", Time(app.factoryModules),
                        "", "", "", "", ""});
        rows.push_back({"  creating the other 360", Time(app.factoryCreating), "", "", "", "", ""});
        rows.push_back({"  teardown: all released, every module unloaded",
                        Time(app.factoryTeardown), "released, dlclose, 100 ms",
                        Time(app.handTeardown), Ratio(app.teardownRatio), "<= 1.2x",
                        Verdict(app.teardownRatio <= 1.2)});
    }

    std::cout << "Pexil benchmarks: " << machine.num_cpus << " CPUs at "
              << Format("%.0f", machine.cycles_per_second / 1e6)
              << " MHz. Each figure and its peers in rounds back to back; times and ratios"
                 " are medians over the rounds (1: "
              << r.createRelease.rounds << ", 2: " << r.registryParsing.rounds
              << ", 2b: " << r.smallRegistry.rounds << ", 3: " << r.holders.rounds
              << ", 4: " << r.moduleThreads.pairs << ", 7: " << r.appStart.runs << ").\n\n";
    PrintTable(rows);
    std::cout << "\n" << g_met << " met, " << g_missed << " missed\n";
}

}  // namespace
}  // namespace pexil::bench

int main(int argc, char** argv) {
    using namespace pexil::bench;
    // Defaults first, so that flags given on the command line override them.
    std::vector<char*> args = {argv[0]};
    std::string repetitionFlag = "--benchmark_repetitions=7";
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.push_back(repetitionFlag.data());
    args.push_back(interleave.data());
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    if (!SetUpEnvironment()) return 1;
    // First, while the heap is small: later figures leave freed memory resident
    // that the components would reuse.
    MeasureMemory(100000);
    SetUpRegistryBenchmarks();
    SetUpAppStart();

    Collector collector;  // plain text: the report goes to a log file
    collector.SetOutputStream(&std::cerr);
    collector.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&collector);
    for (const std::string& error : collector.errors())
        std::cerr << "pexil_bench: " << error << "\n";

    MeasureCreateRelease(201);
    MeasureRegistryParsing(21);
    MeasureSmallRegistry(201);
    MeasureHolders(201);
    MeasureThreadScaling(41);
    MeasureUnloadLatency(20);
    MeasureAppStart(21);
    Report(benchmark::CPUInfo::Get());

    TearDownEnvironment();
    benchmark::Shutdown();
    return collector.errors().empty() ? 0 : 1;
}
