// Figure 7: a realistic application start. A generated host directory holds
// the host (app_start_host), the factory, 40 modules (copies of
// AppComponents.dll) and three registry files binding 400 components: the
// default registry application.ini, reached through Pexil.ini's [Redirect],
// plugins.ini and extras.ini, with log masks on some components. Each run starts the host in
// a fresh process, so that nothing is loaded when it begins: once through the
// factory, once by hand (in a directory of its own, without the factory), in
// turn first; the figure is the medians over the runs.
#include "app_start.h"
#include "bench_results.h"
#include "environment.h"

#include "platform/platform.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace pexil::bench {
namespace {

namespace fs = std::filesystem;

std::string g_factoryDirectory;
std::string g_handDirectory;

std::string ModuleName(uint32_t module) {
    char name[32];
    std::snprintf(name, sizeof(name), "AppModule%02u.dll", module);
    return name;
}

// The sections of the components that registry holds (0: the default one).
std::string Sections(int registry) {
    std::string text;
    for (uint32_t i = 0; i < kAppComponents; ++i) {
        const uint32_t slot = i % 10;
        const int owner = slot < 4 ? 0 : slot < 7 ? 1 : 2;
        if (owner != registry) continue;
        text += "[" + std::to_string(kFirstAppID + i) + "]\nDLL=" + ModuleName(i / 10) + "\n";
        if (i % 5 == 0) text += "OutputDebugString=EW\n";
        if (i % 7 == 0) text += "WriteToLogFile=E\n";
        text += "\n";
    }
    return text;
}

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

void CopyInto(const fs::path& from, const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void LayOut(const fs::path& directory, bool withFactory) {
    const fs::path bin = Env().hostDirectory;
    fs::remove_all(directory);
    CopyInto(bin / "app_start_host", directory / "app_start_host");
    CopyInto(bin / "libpexil_platform.so.0", directory / "libpexil_platform.so.0");
    for (uint32_t m = 0; m < kAppModules; ++m)
        CopyInto(bin / "AppComponents.dll", directory / "modules" / ModuleName(m));
    if (!withFactory) return;
    CopyInto(bin / "Brelnor.dll", directory / "Brelnor.dll");
    // Every registry names a module by the same path: the loader finds a
    // module loaded already by its name, and each other spelling of one costs
    // it a look at the file.
    Write(directory / "Pexil.ini", "[Redirect]\nPath=application.ini\n");
    const std::string header =
        "[DefaultValue]\nDllPath=modules\n\n[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n\n";
    Write(directory / "application.ini",
          header + "[LogDefault]\nOutputDebugString=E\nWriteToLogFile=\n\n" + Sections(0));
    Write(directory / "plugins.ini", header + Sections(1));
    Write(directory / "extras.ini", header + Sections(2));
}

// Runs the host once in the directory; its figures by name.
std::map<std::string, double> RunHost(const std::string& directory, const char* mode) {
    const std::string host = directory + "/app_start_host";
    const std::string out = directory + "/times.txt";
    const std::string err = directory + "/debug.txt";
    const char* arguments[] = {mode, nullptr};
    const platform::ProcessOptions options{host.c_str(), arguments, directory.c_str(), out.c_str(),
                                           err.c_str()};
    const int status = platform::RunProcess(&options);
    std::ifstream debug(err);
    std::stringstream text;
    text << debug.rdbuf();
    if (status != 0) Fail(std::string("app_start_host ") + mode + " failed: " + text.str());
    // A run that leaked would have measured less than the whole teardown.
    if (text.str().find("Found leak") != std::string::npos) {
        Fail(std::string("app_start_host ") + mode + " leaked: " + text.str());
    }
    std::map<std::string, double> figures;
    std::ifstream in(out);
    std::string name;
    double value = 0;
    while (in >> name >> value)
        figures[name] = value;
    return figures;
}

}  // namespace

void SetUpAppStart() {
    g_factoryDirectory = Env().dataDirectory + "/app";
    g_handDirectory = Env().dataDirectory + "/app-hand";
    LayOut(g_factoryDirectory, true);
    LayOut(g_handDirectory, false);
}

void MeasureAppStart(int runs) {
    std::map<std::string, std::vector<double>> samples;
    std::vector<double> startRatios, teardownRatios;
    for (int run = 0; run < runs; ++run) {
        std::map<std::string, double> factory, hand;
        if (run % 2 == 0) {
            factory = RunHost(g_factoryDirectory, "factory");
            hand = RunHost(g_handDirectory, "hand");
        } else {
            hand = RunHost(g_handDirectory, "hand");
            factory = RunHost(g_factoryDirectory, "factory");
        }
        for (const auto& figure : factory)
            samples[figure.first].push_back(figure.second);
        for (const auto& figure : hand)
            samples[figure.first].push_back(figure.second);
        startRatios.push_back(factory["factoryStart"] / hand["handStart"]);
        teardownRatios.push_back(factory["factoryTeardown"] / hand["handTeardown"]);
    }
    AppStart& result = Results().appStart;
    result.runs = runs;
    result.factoryStart = Median(samples["factoryStart"]);
    result.factoryLocate = Median(samples["factoryLocate"]);
    result.factoryRegistries = Median(samples["factoryRegistries"]);
    result.factoryModules = Median(samples["factoryModules"]);
    result.factoryCreating = Median(samples["factoryCreating"]);
    result.factoryTeardown = Median(samples["factoryTeardown"]);
    result.handStart = Median(samples["handStart"]);
    result.handTeardown = Median(samples["handTeardown"]);
    result.startRatio = Median(startRatios);
    result.teardownRatio = Median(teardownRatios);
}

}  // namespace pexil::bench
