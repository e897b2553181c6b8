#include "environment.h"

#include "bench_component.h"

#include "platform/platform.h"

#include <pexil/module.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

namespace pexil::bench {

Environment& Env() {
    static Environment environment;
    return environment;
}

void Fail(const std::string& message) {
    std::cerr << "pexil_bench: " << message << "\n";
    std::exit(1);
}

bool SetUpEnvironment() {
    Environment& env = Env();
    char executable[1024];
    if (platform::GetExecutablePath(executable, sizeof(executable)) <= 0) {
        std::cerr << "pexil_bench: cannot read the executable's path\n";
        return false;
    }
    const std::filesystem::path host = std::filesystem::path(executable).parent_path();
    env.hostDirectory = host.string();
    env.factoryPath = (host / "Brelnor.dll").string();
    env.modulePath = (host / "BenchComponents.dll").string();
    env.registryPath = (host / "BenchRegistry.ini").string();
    env.dataDirectory = (host / "bench-data").string();
    std::filesystem::create_directories(env.dataDirectory);
    for (const std::string& file :
         {env.factoryPath, env.modulePath, env.registryPath, (host / "Pexil.ini").string()}) {
        if (!std::filesystem::exists(file)) {
            std::cerr << "pexil_bench: missing " << file << "\n";
            return false;
        }
    }

    // An installed host's Pexil.ini was written long before the host runs. The
    // profile reader keeps a parsed file only once it has been unchanged for a
    // few seconds, so a copy the build has just written is given that time.
    const auto written = std::filesystem::last_write_time(host / "Pexil.ini");
    const auto settled = written + std::chrono::seconds(4);
    const auto now = std::filesystem::file_time_type::clock::now();
    if (settled > now) std::this_thread::sleep_for(settled - now);

    env.factoryModule = platform::LoadLibrary(env.factoryPath.c_str());
    auto create = reinterpret_cast<CreateComponentFunction>(
        platform::GetProcAddress(env.factoryModule, "CreateComponent"));
    if (create == nullptr) {
        std::cerr << "pexil_bench: cannot load " << env.factoryPath << "\n";
        return false;
    }
    env.factory = static_cast<IComponentFactory*>(create(kFactoryComponentID, kCreatorDirect));
    if (env.factory == nullptr) {
        std::cerr << "pexil_bench: Brelnor.dll made no factory\n";
        return false;
    }
    return KeepModuleBusy();
}

void TearDownEnvironment() {
    Environment& env = Env();
    LetModuleIdle();
    // Nothing of BenchComponents.dll is alive: its pending unload may run now.
    PexilPumpMessages(0);
    if (env.factory != nullptr) env.factory->Release(1);
    env.factory = nullptr;
}

bool KeepModuleBusy() {
    Environment& env = Env();
    if (env.keeper == nullptr) {
        env.keeper = env.factory->CreateComponentByID(kBenchComponentID, env.registryPath.c_str());
    }
    return env.keeper != nullptr;
}

void LetModuleIdle() {
    Environment& env = Env();
    if (env.keeper != nullptr) env.keeper->Release(1);
    env.keeper = nullptr;
}

}  // namespace pexil::bench
