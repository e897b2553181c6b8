// End-to-end scenarios: a real host process run in a temporary host directory
// of its own, with the modules and files the scenario needs copied beside it.
#ifndef PEXIL_TESTS_SCENARIO_H
#define PEXIL_TESTS_SCENARIO_H

#include "platform/debug_capture.h"
#include "platform/platform.h"
#include "support/loaded_module.h"
#include "support/run_program.h"
#include "support/temp_directory.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace pexil::testing {

struct ScenarioResult {
    int exitCode = -1;
    std::string output;  // the host's narration (standard output)
    std::string debug;   // the framework's debug output (standard error)
};

class Scenario {
public:
#if defined(_WIN32)
    static constexpr const char* kHost = "scenario_host.exe";
#else
    static constexpr const char* kHost = "scenario_host";
#endif

    Scenario() {
        Copy(kHost);
    }

    // Copies a file from beside the test program into the host directory
    // (under another name when given).
    void Copy(const std::string& name, const std::string& as = std::string()) const {
        const std::filesystem::path target = directory_.path() / (as.empty() ? name : as);
        std::filesystem::create_directories(target.parent_path());
        std::filesystem::copy_file(BesideProgram(name), target,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    std::string Write(const std::string& name, const std::string& text) const {
        return directory_.Write(name, text);
    }
    // A path inside the host directory, with the system's separators.
    std::string Path(const std::string& name) const {
        return directory_ / name;
    }
    const TempDirectory& directory() const {
        return directory_;
    }

    // Runs the host with the commands; explained: with PEXIL_EXPLAIN=1 in its
    // environment, so that its modules write the explaining trace.
    ScenarioResult Run(const std::vector<std::string>& commands, bool explained = false) const {
        if (explained) platform::testing::SetEnvironmentVariable("PEXIL_EXPLAIN", "1");
        ProgramResult run =
            RunProgram(directory_ / kHost, commands, directory_.str(),
                       directory_ / "host-output.txt", directory_ / "host-debug.txt");
        if (explained) platform::testing::SetEnvironmentVariable("PEXIL_EXPLAIN", nullptr);
        return ScenarioResult{run.exitCode, std::move(run.out), std::move(run.err)};
    }

private:
    TempDirectory directory_;
};

}  // namespace pexil::testing

#endif
