// pexil why against a real host: host directories made from a seed, with the
// mistakes docs/troubleshooting.md lists; in each a real host finds the factory
// with a holder and creates through Create<T>, and pexil why is asked about
// the same ID. They must agree: why passes exactly when the host gets the
// component (and its module reaches the factory through its registry).
//
//   PEXIL_DIFFERENTIAL_SEEDS="1 2 3"  the seeds (default: 1)
//   PEXIL_DIFFERENTIAL_COUNT=200      directories per seed (default: 40; 12 under
//                                     an emulator, where each run is slow)
// Directory I of seed S is the same on every run: scripts/differential COUNT S
// replays it.
#include "platform/platform.h"
#include "support/loaded_module.h"
#include "support/native_path.h"
#include "support/run_program.h"
#include "support/temp_directory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace pexil::testing {
namespace fs = std::filesystem;
namespace {

#if defined(_WIN32)
const char* const kHost = "scenario_host.exe";
const char* const kTool = "pexil.exe";
#else
const char* const kHost = "scenario_host";
const char* const kTool = "pexil";
#endif

// One host directory: its files, what the host and why are asked.
class Layout {
public:
    Layout(std::mt19937& random, const TempDirectory& dir) : random_(random), dir_(dir) {}

    int Pick(const std::vector<int>& weights) {
        int total = 0;
        for (int w : weights)
            total += w;
        int roll = std::uniform_int_distribution<int>(0, total - 1)(random_);
        for (size_t i = 0; i < weights.size(); ++i) {
            if ((roll -= weights[i]) < 0) return static_cast<int>(i);
        }
        return 0;
    }
    bool Chance(int percent) { return Pick({percent, 100 - percent}) == 0; }
    void Note(const std::string& choice) { notes_ += (notes_.empty() ? "" : ", ") + choice; }
    const std::string& notes() const { return notes_; }

    // A text file, its lines ended LF, CR LF or CR, perhaps with a byte-order
    // mark, rarely UTF-16.
    void Text(const std::string& name, std::string text) {
        const int ends = Pick({70, 20, 10});
        if (ends != 0) {
            std::string converted;
            for (char c : text)
                converted += c == '\n' ? (ends == 1 ? "\r\n" : "\r") : std::string(1, c);
            text = converted;
        }
        const int mark = Pick({85, 12, 3});
        if (mark == 1) text = "\xef\xbb\xbf" + text;
        if (mark == 2) {
            std::string wide = "\xff\xfe";
            for (char c : text)
                wide += std::string(1, c) + '\0';
            text = wide;
        }
        if (ends != 0 || mark != 0) {
            Note(name +
                 (ends == 1   ? " CR LF"
                  : ends == 2 ? " CR"
                              : "") +
                 (mark == 1   ? " BOM"
                  : mark == 2 ? " UTF-16"
                              : ""));
        }
        dir_.Write(Native(name), text);
    }
    void Copy(const std::string& from, const std::string& to) const {
        fs::create_directories((dir_.path() / Native(to)).parent_path());
        fs::copy_file(BesideProgram(Native(from)), dir_ / Native(to),
                      fs::copy_options::overwrite_existing);
    }
    std::string Absolute(const std::string& relative) const { return dir_ / Native(relative); }

private:
    std::mt19937& random_;
    const TempDirectory& dir_;
    std::string notes_;
};

struct Request {
    uint32_t id;
    std::string registry;  // "" for the default registry
};

// Lines that change nothing, between sections.
std::string Noise(Layout& l) {
    const char* const lines[] = {"", "hello there\n", "= x\n", "[abc]\n", "; a note\n", "# \n"};
    return lines[l.Pick({40, 12, 12, 12, 12, 12})];
}

// The [361] section naming the factory, which lies in factoryDir (relative to
// the host directory; the registry lies in registryDir).
std::string FactorySection(Layout& l, const std::string& registryDir, std::string* defaults) {
    const std::string beside = "[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n";
    switch (l.Pick({45, 12, 10, 5, 5, 5, 5, 5, 5})) {
        case 0:
            l.Copy("Brelnor.dll", registryDir + "Brelnor.dll");
            return beside;
        case 1:
            // In the default DLL directory, which the locator and the parser
            // both take from DllPath.
            l.Note("factory in DllPath");
            *defaults += "DllPath=bin\n";
            l.Copy("Brelnor.dll", registryDir + "bin/Brelnor.dll");
            return "[361]\nDLL=Brelnor.dll\n";
        case 2:
            l.Note("factory by absolute path");
            l.Copy("Brelnor.dll", "lib/Brelnor.dll");
            return "[361]\nDLL=" + l.Absolute("lib/Brelnor.dll") + "\n";
        case 3:
            l.Note("factory missing");
            return beside;
        case 4:
            l.Note("factory a text file");
            l.Text(registryDir + "Brelnor.dll", "not a library\n");
            return beside;
        case 5:
            l.Note("factory without exports");
            l.Copy("plain/NoExports.dll", registryDir + "Brelnor.dll");
            return beside;
        case 6:
            l.Note("factory named in another case");
            l.Copy("Brelnor.dll", registryDir + "Brelnor.dll");
            return "[361]\nDLL=brelnor.DLL\nNotUseDefaultDllPath=1\n";
        case 7:
            l.Note("factory a component module, which gives no 361");
            l.Copy("TestComponents.dll", registryDir + "Brelnor.dll");
            return beside;
        default:
            l.Note("no [361]");
            l.Copy("Brelnor.dll", registryDir + "Brelnor.dll");
            return "";
    }
}

// What a later line does to [361]: mostly nothing.
std::string LaterFactoryLines(Layout& l) {
    const struct {
        const char* note;  // nullptr: no later line
        const char* lines;
    } later[] = {
        {nullptr, ""},
        {"'; [361]' line later", "; [361] above must stay first\n"},
        {"'# [361]' line later", "# old [361] was here\n"},
        {"[361] reopened later", "[361]\nDLL=TestComponents.dll\n"},
        {"DLL= under a later [DefaultValue]", "[DefaultValue]\nDLL=TestComponents.dll\n"},
        {"[361] reopened with the same DLL", "[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n"},
    };
    const auto& pick = later[l.Pick({70, 8, 4, 6, 6, 6})];
    if (pick.note != nullptr) l.Note(pick.note);
    return pick.lines;
}

// The section that binds the ID (or the DefaultDll that serves it), its
// module placed in moduleDir.
std::string ComponentSection(Layout& l, uint32_t id, const std::string& moduleDir,
                             std::string* defaults) {
    const std::string header = "[" + std::to_string(id) + "]\n";
    const std::string module = id == 300 ? "MinimalModule.dll" : "TestComponents.dll";
    const std::string from = id == 300 ? "plain/MinimalModule.dll" : "TestComponents.dll";
    switch (l.Pick({40, 6, 6, 5, 5, 4, 4, 3, 8, 4, 5, 5})) {
        case 0:
            l.Copy(from, moduleDir + module);
            return header + "DLL=" + module + "\n";
        case 1:
            l.Note("DLL named in another case");
            l.Copy(from, moduleDir + module);
            return header + "DLL=testcomponents.dll\n";
        case 2:
            l.Note("DLL missing");
            return header + "DLL=" + module + "\n";
        case 3:
            l.Note("DLL a text file");
            l.Text(moduleDir + module, "not a library\n");
            return header + "DLL=" + module + "\n";
        case 4:
            l.Note("DLL without exports");
            l.Copy("plain/NoExports.dll", moduleDir + module);
            return header + "DLL=" + module + "\n";
        case 5:
            l.Note("DLL a directory");
            fs::create_directories(l.Absolute(moduleDir + module));
            return header + "DLL=" + module + "\n";
        case 6:
            l.Note("no DLL= line");
            return header + "OutputDebugString=E\n";
        case 7:
            l.Note("DLL path cut");
            return header + "DLL=" + std::string(240, 'x') + ".dll\n";
        case 8:
            l.Note("served by DefaultDll");
            l.Copy(from, moduleDir + module);
            *defaults += "DefaultDll=" + module + "\n";
            return "";
        case 9:
            l.Note("no section");
            return "";
        case 10:
            l.Note("header with text after the number");
            l.Copy(from, moduleDir + module);
            return "[" + std::to_string(id) + " (the clock)]\nDLL=" + module + "\n";
        default:
            l.Note("'; [ID]' line as its header");
            l.Copy(from, moduleDir + module);
            return "; [" + std::to_string(id) + "] the clock\nDLL=" + module + "\n";
    }
}

// A registry: defaults, the factory's section, the component's, later lines.
std::string Registry(Layout& l, const std::string& registryDir, uint32_t id, bool withComponent) {
    std::string defaults;
    const std::string factory = FactorySection(l, registryDir, &defaults);
    const std::string moduleDir = registryDir + (defaults.empty() ? "" : "bin/");
    const std::string component =
        withComponent ? ComponentSection(l, id, moduleDir, &defaults) : "";
    std::string text = l.Chance(20) ? "[LogDefault]\nOutputDebugString=E\n" : "";
    if (!defaults.empty()) text += "[DefaultValue]\n" + defaults;
    text += Noise(l) + factory + Noise(l) + component + Noise(l);
    if (!factory.empty()) text += LaterFactoryLines(l);
    return text;
}

// The host directory of one seed and index; what the host and why are asked.
Request MakeHostDirectory(uint32_t seed, int index, const TempDirectory& dir, std::string* notes) {
    std::mt19937 random(seed * 1000003u + static_cast<uint32_t>(index));
    Layout l(random, dir);
    const uint32_t ids[] = {100, 100, 100, 100, 103, 112, 7001, 300};
    const Request request{ids[l.Pick({1, 1, 1, 1, 1, 1, 1, 1})], l.Chance(25) ? "plugins.ini" : ""};
    l.Note("ID " + std::to_string(request.id) +
           (request.registry.empty() ? "" : " from plugins.ini"));
    l.Copy(kHost, kHost);

    // Where the default registry lies, and how Pexil.ini leads there.
    const int chain = l.Pick({30, 15, 10, 8, 4, 4, 4, 3, 3, 2});
    const char* const chains[] = {
        "Pexil.ini itself",        "relative redirect",   "absolute redirect",
        "two absolute hops",       "redirect loop",       "redirect to nothing",
        "redirect to a directory", "tab as the redirect", "no Pexil.ini",
        "Pexil.ini a directory"};
    l.Note(chains[chain]);
    const std::string registryDir = chain == 0 || chain == 7 ? "" : "conf/";
    const std::string registry = Registry(l, registryDir, request.id, request.registry.empty());
    const std::string real = Native("conf/real.ini");
    switch (chain) {
        case 0:
            l.Text("Pexil.ini", registry);
            break;
        case 1:
            l.Text("Pexil.ini", "[Redirect]\nPath=" + real + "\n");
            l.Text("conf/real.ini",
                   (l.Chance(30) ? "[Redirect]\nPath=ignored.ini\n" : "") + registry);
            break;
        case 2:
            l.Text("Pexil.ini", "[Redirect]\nPath=" + l.Absolute("conf/real.ini") + "\n");
            l.Text("conf/real.ini", registry);
            break;
        case 3:
            l.Text("Pexil.ini", "[Redirect]\nPath=" + l.Absolute("conf/mid.ini") + "\n");
            l.Text("conf/mid.ini", "[Redirect]\nPath=" + l.Absolute("conf/real.ini") + "\n");
            l.Text("conf/real.ini", registry);
            break;
        case 4:
            l.Text("Pexil.ini", "[Redirect]\nPath=" + l.Absolute("conf/real.ini") + "\n");
            l.Text("conf/real.ini",
                   "[Redirect]\nPath=" + l.Absolute("Pexil.ini") + "\n" + registry);
            break;
        case 5:
            l.Text("Pexil.ini", "[Redirect]\nPath=" + Native("conf/gone.ini") + "\n");
            l.Text("conf/real.ini", registry);
            break;
        case 6:
            l.Text("Pexil.ini", "[Redirect]\nPath=conf\n");
            l.Text("conf/real.ini", registry);
            break;
        case 7:
            // The search takes a tab for a blank, the factory for a name.
            l.Text("Pexil.ini", "[Redirect]\nPath=\"\t\"\n" + registry);
            break;
        case 8:
            l.Text("conf/real.ini", registry);
            break;
        default:
            fs::create_directories(l.Absolute("Pexil.ini"));
            l.Text("conf/real.ini", registry);
            break;
    }
    if (!request.registry.empty()) {
        const int factory = l.Pick({60, 25, 15});
        l.Note(factory == 0   ? "plugins.ini names the factory"
               : factory == 1 ? "plugins.ini without [361]"
                              : "plugins.ini, [361] emptied");
        const std::string section361 = "[361]\nDLL=Brelnor.dll\nNotUseDefaultDllPath=1\n";
        std::string defaults;
        std::string text = factory == 1 ? "" : section361;
        const std::string component = ComponentSection(l, request.id, "", &defaults);
        if (!defaults.empty()) text = "[DefaultValue]\n" + defaults + text;
        text += Noise(l) + component + (factory == 2 ? "; [361] stays first\n" : "");
        if (factory != 1 && !fs::exists(l.Absolute("Brelnor.dll"))) {
            l.Copy("Brelnor.dll", "Brelnor.dll");
        }
        l.Text("plugins.ini", text);
    }
    *notes = l.notes();
    return request;
}

struct Outcome {
    bool created = false;
    std::string reaches;     // "yes", "no", "unknown"
    std::string failedStep;  // "" when why passed
    std::string hostOutput;
};

std::string Failed(const std::string& json) {
    const std::string key = "\"failed_step\": ";
    const size_t at = json.find(key);
    if (at == std::string::npos) return "(no answer)";
    const size_t start = at + key.size();
    if (json.compare(start, 4, "null") == 0) return "";
    return json.substr(start + 1, json.find('"', start + 1) - start - 1);
}

Outcome RunBoth(const TempDirectory& dir, const Request& request, const TempDirectory& outputs) {
    Outcome outcome;
    const std::string id = std::to_string(request.id);
    const ProgramResult host =
        RunProgram(dir / kHost, {"ptr " + id + " " + request.registry, "shutdown"}, dir.str(),
                   outputs / "host-out.txt", outputs / "host-err.txt");
    outcome.hostOutput = host.out + host.err;
    const std::string ptr = "ptr " + id + ": component " + id + ", module reaches the factory: ";
    const size_t at = host.out.find(ptr);
    outcome.created = at != std::string::npos && host.exitCode == 0;
    if (outcome.created) {
        outcome.reaches =
            host.out.substr(at + ptr.size(), host.out.find('\n', at) - at - ptr.size());
    } else if (host.out.find("ptr " + id + ": none\n") == std::string::npos) {
        outcome.reaches = "host failed (" + std::to_string(host.exitCode) + ")";
    }
    std::vector<std::string> words = {"why", id, "--dir", dir.str(), "--json"};
    if (!request.registry.empty()) {
        words.push_back("--registry");
        words.push_back(request.registry);
    }
    const ProgramResult why = RunProgram(BesideProgram(kTool), words, dir.str(),
                                         outputs / "why-out.txt", outputs / "why-err.txt");
    outcome.failedStep = Failed(why.out);
    return outcome;
}

// why passes exactly when the host gets the component and its module reaches
// the factory (where its probe can tell); a failure before factory-entry means
// the host gets no component.
bool Agree(const Outcome& o) {
    if (o.reaches.compare(0, 11, "host failed") == 0 || o.failedStep == "(no answer)") return false;
    if (o.failedStep.empty()) return o.created && o.reaches != "no";
    if (o.failedStep == "factory-entry") return !(o.created && o.reaches == "yes");
    return !o.created;
}

// The directory's files and what both said, for a disagreement's report.
std::string Report(const TempDirectory& dir, const Request& request, const Outcome& o) {
    std::ostringstream out;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        const std::string name = entry.path().string().substr(dir.str().size() + 1);
        if (!entry.is_regular_file() || name.find(".ini") == std::string::npos) {
            out << "  " << name << "\n";
            continue;
        }
        out << "  " << name << ":\n";
        for (char c : ReadFileBytes(entry.path().string())) {
            if (c == '\n' || (c >= ' ' && c < 127)) {
                out << c;
            } else {
                char hex[8];
                std::snprintf(hex, sizeof(hex), "\\x%02x", static_cast<unsigned char>(c));
                out << hex;
            }
        }
        out << "\n";
    }
    std::vector<std::string> words = {"why", std::to_string(request.id), "--dir", dir.str()};
    if (!request.registry.empty()) {
        words.push_back("--registry");
        words.push_back(request.registry);
    }
    TempDirectory outputs;
    const ProgramResult why = RunProgram(BesideProgram(kTool), words, dir.str(),
                                         outputs / "out.txt", outputs / "err.txt");
    out << "host:\n" << o.hostOutput << "why:\n" << why.out;
    return out.str();
}

std::vector<uint32_t> Seeds() {
    std::vector<uint32_t> seeds;
    const char* text = platform::GetEnvironmentVariable("PEXIL_DIFFERENTIAL_SEEDS");
    std::istringstream in(text != nullptr ? text : "1");
    for (uint32_t seed; in >> seed;)
        seeds.push_back(seed);
    return seeds;
}

int Count() {
    const char* text = platform::GetEnvironmentVariable("PEXIL_DIFFERENTIAL_COUNT");
    if (text != nullptr) return std::atoi(text);
#if defined(_WIN32)
    return 12;
#else
    return platform::GetEnvironmentVariable("PEXIL_TEST_EMULATOR") != nullptr ? 12 : 40;
#endif
}

TEST(Differential, WhyAgreesWithARealHost) {
    const int count = Count();
    for (uint32_t seed : Seeds()) {
        std::map<std::string, int> answers;  // why's answer -> directories
        int disagreements = 0;
        for (int index = 0; index < count; ++index) {
            TempDirectory dir;
            TempDirectory outputs;
            std::string notes;
            const Request request = MakeHostDirectory(seed, index, dir, &notes);
            const Outcome outcome = RunBoth(dir, request, outputs);
            ++answers[outcome.failedStep.empty() ? "passes" : "fails at " + outcome.failedStep];
            if (Agree(outcome)) continue;
            ++disagreements;
            ADD_FAILURE() << "seed " << seed << ", directory " << index << " (" << notes
                          << "): why "
                          << (outcome.failedStep.empty() ? "passes"
                                                         : "fails at " + outcome.failedStep)
                          << ", the host " << (outcome.created ? "gets" : "does not get")
                          << " component " << request.id
                          << (outcome.reaches.empty()
                                  ? ""
                                  : " (module reaches the factory: " + outcome.reaches + ")")
                          << "\n"
                          << Report(dir, request, outcome);
        }
        std::printf("seed %u: %d directories, %d disagreements;", seed, count, disagreements);
        for (const auto& answer : answers)
            std::printf(" %s %d,", answer.first.c_str(), answer.second);
        std::printf("\n");
        std::fflush(stdout);
    }
}

}  // namespace
}  // namespace pexil::testing
