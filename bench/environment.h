// What every benchmark shares: the paths beside the benchmark host, the factory
// loaded in-process from Brelnor.dll, and one component kept alive in
// BenchComponents.dll so that releasing another is not its module's last.
#ifndef PEXIL_BENCH_ENVIRONMENT_H
#define PEXIL_BENCH_ENVIRONMENT_H

#include <pexil/config.h>
#include <pexil/factory.h>

#include <string>

namespace pexil::bench {

struct Environment {
    std::string hostDirectory;  // where the host, the modules and Pexil.ini lie
    std::string factoryPath;    // Brelnor.dll
    std::string modulePath;     // BenchComponents.dll
    std::string registryPath;   // BenchRegistry.ini: [500] names BenchComponents.dll
    std::string dataDirectory;  // generated files
    PexilModuleHandle factoryModule = nullptr;
    IComponentFactory* factory = nullptr;
    IComponent* keeper = nullptr;  // a live component of BenchComponents.dll, or null
};

Environment& Env();

// Loads Brelnor.dll and creates the factory; false after printing why.
bool SetUpEnvironment();
void TearDownEnvironment();

// Creates the kept component through the factory (when there is none) or
// releases it, so that the module's last release can be measured.
bool KeepModuleBusy();
void LetModuleIdle();

// Stops the run with a message on standard error.
[[noreturn]] void Fail(const std::string& message);

}  // namespace pexil::bench

#endif
