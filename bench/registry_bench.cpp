// Figure 2: LoadFile of a generated 10 MB registry, side by side with inih
// parsing the same file into the same entries, and with a floor that only
// reads the file and splits it into lines with memchr. Figure 2b: a registry
// of 200 sections beside reading the file alone, inih, and a plain parse of
// the file into a std::unordered_map of strings.
//
// Measured in rounds of one parse by each side back to back, the order turning
// from round to round (as paired.h does for the other figures); each side's
// throughput is the median over the rounds, and each ratio the median of the
// rounds' own ratios. Every parse allocates its 100 000 entries anew, as
// LoadFile does, and frees them outside the time.
#include "bench_results.h"
#include "environment.h"
#include "paired.h"

#include "platform/platform.h"
#include "registry/component_registry.h"
#include "registry/registry_rules.h"
#include "support/base_directory.h"
#include "support/path.h"

#include <benchmark/benchmark.h>
#include <ini.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pexil::bench {
namespace {

constexpr uint32_t kSections = 100000;
// A registry of the size real ones have: about 12 KB.
constexpr uint32_t kSmallSections = 200;

std::string g_registryFile;
uint64_t g_registryBytes = 0;
std::string g_smallRegistryFile;

// A small deterministic generator, so that every run parses the same file.
class Sequence {
public:
    uint32_t Next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state_ >> 33);
    }
    bool Chance(uint32_t percent) { return Next() % 100 < percent; }

private:
    uint64_t state_ = 0x5eed;
};

// Sections in shuffled ID order with a mix of the keys the parser knows and
// keys it ignores, blank lines, blanks and tabs around '=' and some CR LF line
// ends. Kept within what inih reads the same way: no indented lines (inih
// continues the previous value with them), no quotes, no ';' or '#', lines
// shorter than its 200-byte limit, no section without keys.
// withOthers: also keys the parser ignores, as a registry kept by many hands
// gathers them; without, the keys of a registry as real ones are written.
std::string GenerateRegistry(uint32_t sections, bool withOthers) {
    Sequence random;
    std::vector<uint32_t> ids(sections);
    for (uint32_t i = 0; i < sections; ++i)
        ids[i] = i + 1;
    for (uint32_t i = sections - 1; i > 0; --i)
        std::swap(ids[i], ids[random.Next() % (i + 1)]);

    std::string text =
        "[LogDefault]\nOutputDebugString=EW\nWriteToLogFile=\n\n"
        "[DefaultValue]\nDllPath=Components\nDefaultDll=Base.dll\n\n";
    text.reserve(sections * 110);
    for (uint32_t id : ids) {
        const char* end = random.Chance(25) ? "\r\n" : "\n";
        const std::string n = std::to_string(id);
        text += "[" + n + "]" + end;
        text += "DLL=Components\\Group" + std::to_string(id % 97) + "\\Module" + n + ".dll" + end;
        if (random.Chance(50)) text += std::string("OutputDebugString=EW") + end;
        if (random.Chance(30)) text += std::string("WriteToLogFile = e,t") + end;
        if (random.Chance(10)) text += std::string("NotUseDefaultDllPath=1") + end;
        if (withOthers && random.Chance(60)) {
            text += "Description=Component " + n + ", generated" + end;
        }
        if (withOthers && random.Chance(40)) {
            text += "Version\t=\t1." + std::to_string(random.Next() % 50) + end;
        }
        if (withOthers && random.Chance(30)) {
            text += "Owner=t" + std::to_string(random.Next() % 20) + end;
        }
        text += end;
    }
    return text;
}

// --- the same data through inih --------------------------------------------

// The entry the peer builds: the registry's entry as it was when the peer was
// written (fixed path buffers, one map node each), kept so that the peer does
// the same work in every run of the benchmark.
struct InihEntry {
    PexilModuleHandle module;
    int32_t resolved;
    int32_t besideRegistry;
    char dllName[kMaxPath];
    char fullPath[kMaxPath];
    int32_t hasLogSettings;
    uint32_t debugOutputMask;
    uint32_t logFileMask;
    int32_t fullPathCut;
    ModuleExports exports;
    int32_t calls;
};

// What ComponentRegistry::LoadFile builds, built from inih's callbacks with
// the registry file's rules for headers, keys and values.
class InihRegistry {
public:
    explicit InihRegistry(const char* file) {
        CopyIfFits(registryFilePath_, kMaxPath, file);
        GetDirectoryPart(ComponentRegistry::RegistryPathBase(), file, defaultDllDirectory_,
                         kMaxPath);
    }

    static int Handler(void* user, const char* section, const char* key, const char* value) {
        static_cast<InihRegistry*>(user)->OnKey(section, key, value);
        return 1;
    }

    void Finish() {
        if (currentID_ != 0) entries_[currentID_] = pending_;
    }

    const std::map<uint32_t, InihEntry>& entries() const { return entries_; }
    uint32_t defaultDebugOutputMask() const { return defaultDebugOutputMask_; }
    uint32_t defaultLogFileMask() const { return defaultLogFileMask_; }
    const char* defaultDllDirectory() const { return defaultDllDirectory_; }
    const char* defaultDllPath() const { return defaultDllPath_; }

private:
    enum class Section { None, LogDefault, DefaultValue, Component };

    void EnterSection(const char* name) {
        if (registry::MatchesKeyword(name, "logdefault")) {
            section_ = Section::LogDefault;
            return;
        }
        if (registry::MatchesKeyword(name, "defaultvalue")) {
            section_ = Section::DefaultValue;
            return;
        }
        int32_t number = 0;
        if (!registry::ParseHeaderNumber(name, &number) || number == 0) return;
        section_ = Section::Component;
        const uint32_t id = static_cast<uint32_t>(number);
        if (id != currentID_) {
            if (currentID_ != 0) {
                entries_[currentID_] = pending_;
                pending_ = InihEntry{};
            }
            currentID_ = id;
        }
    }

    void OnKey(const char* section, const char* key, const char* rawValue) {
        if (lastSection_ != section) {
            lastSection_ = section;
            EnterSection(section);
        }
        // inih trims white space; the registry also trims double quotes.
        while (*rawValue == '"')
            ++rawValue;
        size_t length = std::strlen(rawValue);
        while (length > 0 && rawValue[length - 1] == '"')
            --length;
        if (length >= kMaxPath) return;
        char value[kMaxPath];
        std::memcpy(value, rawValue, length);
        value[length] = '\0';

        if (registry::MatchesKeyword(key, "outputdebugstring")) {
            if (section_ == Section::LogDefault) {
                defaultDebugOutputMask_ = registry::ParseMask(value);
            } else if (section_ == Section::Component) {
                pending_.debugOutputMask = registry::ParseMask(value);
                pending_.hasLogSettings = 1;
            }
        } else if (registry::MatchesKeyword(key, "writetologfile")) {
            if (section_ == Section::LogDefault) {
                defaultLogFileMask_ = registry::ParseMask(value);
            } else if (section_ == Section::Component) {
                pending_.logFileMask = registry::ParseMask(value);
                pending_.hasLogSettings = 1;
            }
        } else if (registry::MatchesKeyword(key, "dllpath")) {
            if (IsAbsolutePath(value)) {
                CopyIfFits(defaultDllDirectory_, kMaxPath, value);
            } else {
                JoinWithDirectoryOf(registryFilePath_, value, defaultDllDirectory_, kMaxPath);
            }
        } else if (registry::MatchesKeyword(key, "dll")) {
            CopyIfFits(pending_.dllName, kMaxPath, value);
        } else if (registry::MatchesKeyword(key, "notusedefaultdllpath")) {
            pending_.besideRegistry = value[0] == '1' ? 1 : 0;
        } else if (registry::MatchesKeyword(key, "defaultdll")) {
            if (IsAbsolutePath(value)) {
                CopyIfFits(defaultDllPath_, kMaxPath, value);
            } else {
                JoinDirectoryAndName(defaultDllDirectory_, value, defaultDllPath_, kMaxPath);
            }
        }
    }

    std::string lastSection_;
    Section section_ = Section::None;
    uint32_t currentID_ = 0;
    InihEntry pending_{};
    std::map<uint32_t, InihEntry> entries_;
    uint32_t defaultDebugOutputMask_ = 0;
    uint32_t defaultLogFileMask_ = 0;
    char registryFilePath_[kMaxPath] = "";
    char defaultDllDirectory_[kMaxPath] = "";
    char defaultDllPath_[kMaxPath] = "";
};

std::unique_ptr<InihRegistry> ParseWithInih(const char* file) {
    auto registry = std::make_unique<InihRegistry>(file);
    ini_parse(file, InihRegistry::Handler, registry.get());
    registry->Finish();
    return registry;
}

// --- the floor --------------------------------------------------------------

// Reads the file as LoadFile does (one open, one read) and finds every line.
uint64_t ReadAndSplitLines(const char* file) {
    const platform::Handle handle = platform::OpenFileForRead(file);
    if (handle == platform::kInvalidHandle) return 0;
    const uint32_t size = platform::GetFileSize(handle);
    std::unique_ptr<char[]> text(new char[size + 1]);
    uint32_t read = 0;
    platform::ReadFile(handle, text.get(), size, &read);
    platform::CloseFile(handle);
    uint64_t lines = 0;
    const char* p = text.get();
    const char* const end = p + read;
    while (p < end) {
        const void* newline = std::memchr(p, '\n', static_cast<size_t>(end - p));
        p = newline != nullptr ? static_cast<const char*>(newline) + 1 : end;
        ++lines;
    }
    return lines;
}

bool SameEntry(const RegistryEntry& a, const InihEntry& b) {
    return std::strcmp(a.dllName, b.dllName) == 0 && a.besideRegistry == b.besideRegistry &&
           a.hasLogSettings == b.hasLogSettings && a.debugOutputMask == b.debugOutputMask &&
           a.logFileMask == b.logFileMask;
}

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Reads the file as LoadFile does (one open, one read into a buffer of its
// size, one close), and nothing more.
void OpenReadClose(const char* file) {
    const platform::Handle handle = platform::OpenFileForRead(file);
    if (handle == platform::kInvalidHandle) Fail("cannot open " + std::string(file));
    const uint32_t size = platform::GetFileSize(handle);
    char* text = static_cast<char*>(platform::Allocate(size + 1));
    uint32_t read = 0;
    platform::ReadFile(handle, text, size, &read);
    platform::CloseFile(handle);
    benchmark::DoNotOptimize(text[read / 2]);
    platform::Deallocate(text);
}

// --- a plain parse into std::unordered_map ----------------------------------

// The file read as LoadFile reads it and parsed the plain way: every key line's
// key and value, trimmed of blanks, stored as strings in one
// std::unordered_map under the section's name and the key. What any parse
// that keeps the file's data in the standard containers costs.
using PlainValues = std::unordered_map<std::string, std::string>;

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

PlainValues ParseIntoUnorderedMap(const char* file) {
    const platform::Handle handle = platform::OpenFileForRead(file);
    if (handle == platform::kInvalidHandle) Fail("cannot open " + std::string(file));
    const uint32_t size = platform::GetFileSize(handle);
    std::unique_ptr<char[]> text(new char[size + 1]);
    uint32_t read = 0;
    platform::ReadFile(handle, text.get(), size, &read);
    platform::CloseFile(handle);

    PlainValues values;
    std::string section;
    std::string_view rest(text.get(), read);
    while (!rest.empty()) {
        const size_t end = rest.find_first_of("\r\n");
        const std::string_view line = Trimmed(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.empty()) continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            section.assign(line.substr(1, close == std::string_view::npos ? close : close - 1));
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        std::string key = section;
        key += '\n';
        key += Trimmed(line.substr(0, equals));
        values[std::move(key)] = std::string(Trimmed(line.substr(equals + 1)));
    }
    return values;
}

// Both parsers build the same data, or the comparison means nothing.
void CheckSameEntries(const std::string& file, uint32_t sections) {
    ComponentRegistry registry;
    registry.LoadFile(file.c_str(), file.c_str());
    const std::unique_ptr<InihRegistry> other = ParseWithInih(file.c_str());
    bool same = registry.entries().size() == sections &&
                registry.entries().size() == other->entries().size() &&
                registry.defaultDebugOutputMask() == other->defaultDebugOutputMask() &&
                registry.defaultLogFileMask() == other->defaultLogFileMask() &&
                std::strcmp(registry.defaultDllDirectory(), other->defaultDllDirectory()) == 0 &&
                std::strcmp(registry.defaultDllPath(), other->defaultDllPath()) == 0;
    auto b = other->entries().begin();
    for (auto a = registry.entries().begin(); same && a != registry.entries().end(); ++a, ++b)
        same = a->componentID == b->first && SameEntry(*a, b->second);
    if (!same) Fail("LoadFile and the inih peer disagree about " + file);
}

// One parse of the file by each side; seconds. The data each builds is freed
// outside the time.
double TimeLoadFile(const char* file) {
    std::unique_ptr<ComponentRegistry> registry(new ComponentRegistry());
    const Clock::time_point start = Clock::now();
    registry->LoadFile(file, file);
    const double seconds = SecondsSince(start);
    if (registry->entries().size() != kSections) Fail("LoadFile lost entries");
    return seconds;
}

double TimeInih(const char* file) {
    const Clock::time_point start = Clock::now();
    std::unique_ptr<InihRegistry> registry = ParseWithInih(file);
    const double seconds = SecondsSince(start);
    if (registry->entries().size() != kSections) Fail("inih lost entries");
    return seconds;
}

double TimeFloor(const char* file) {
    const Clock::time_point start = Clock::now();
    benchmark::DoNotOptimize(ReadAndSplitLines(file));
    return SecondsSince(start);
}

}  // namespace

void SetUpRegistryBenchmarks() {
    auto write = [](const std::string& file, const std::string& text) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) Fail("cannot write " + file);
    };
    g_registryFile = Env().dataDirectory + "/generated-registry.ini";
    const std::string text = GenerateRegistry(kSections, true);
    write(g_registryFile, text);
    g_registryBytes = text.size();
    Results().registryBytes = g_registryBytes;
    CheckSameEntries(g_registryFile, kSections);

    g_smallRegistryFile = Env().dataDirectory + "/small-registry.ini";
    const std::string small = GenerateRegistry(kSmallSections, false);
    write(g_smallRegistryFile, small);
    Results().smallRegistryBytes = small.size();
    CheckSameEntries(g_smallRegistryFile, kSmallSections);
    size_t dlls = 0;
    for (const auto& value : ParseIntoUnorderedMap(g_smallRegistryFile.c_str())) {
        const std::string& key = value.first;
        dlls += key.size() > 4 && key.compare(key.size() - 4, 4, "\nDLL") == 0 ? 1 : 0;
    }
    if (dlls != kSmallSections) Fail("the plain parse lost sections of " + g_smallRegistryFile);
}

void MeasureSmallRegistry(int rounds) {
    const char* file = g_smallRegistryFile.c_str();
    // Each side builds its registry and frees it within the time: the whole
    // cost of reading a registry of this size.
    Results().smallRegistry =
        MeasurePaired({[file](int operations) {
                           for (int i = 0; i < operations; ++i) {
                               ComponentRegistry registry;
                               registry.LoadFile(file, file);
                               benchmark::DoNotOptimize(registry.entries().size());
                           }
                       },
                       [file](int operations) {
                           for (int i = 0; i < operations; ++i)
                               OpenReadClose(file);
                       },
                       [file](int operations) {
                           for (int i = 0; i < operations; ++i)
                               benchmark::DoNotOptimize(ParseWithInih(file)->entries().size());
                       },
                       [file](int operations) {
                           for (int i = 0; i < operations; ++i)
                               benchmark::DoNotOptimize(ParseIntoUnorderedMap(file).size());
                       }},
                      rounds, 0.002);
}

void MeasureRegistryParsing(int rounds) {
    const char* file = g_registryFile.c_str();
    const double megabytes = static_cast<double>(g_registryBytes) / 1e6;
    std::vector<double> loadFile, inih, floor, inihRatios, floorRatios;
    TimeLoadFile(file);  // the file in the page cache, the heap grown
    for (int i = 0; i < rounds; ++i) {
        double ours = 0;
        double theirs = 0;
        double scan = 0;
        // Each side first, second and last in turn.
        switch (i % 3) {
            case 0:
                ours = TimeLoadFile(file);
                theirs = TimeInih(file);
                scan = TimeFloor(file);
                break;
            case 1:
                theirs = TimeInih(file);
                scan = TimeFloor(file);
                ours = TimeLoadFile(file);
                break;
            default:
                scan = TimeFloor(file);
                ours = TimeLoadFile(file);
                theirs = TimeInih(file);
                break;
        }
        loadFile.push_back(megabytes / ours);
        inih.push_back(megabytes / theirs);
        floor.push_back(megabytes / scan);
        inihRatios.push_back(theirs / ours);
        floorRatios.push_back(scan / ours);
    }
    RegistryParsing& result = Results().registryParsing;
    result.loadFileMBps = Median(loadFile);
    result.inihMBps = Median(inih);
    result.floorMBps = Median(floor);
    result.ratioToInih = Median(inihRatios);
    result.ratioToFloor = Median(floorRatios);
    result.rounds = rounds;
}

}  // namespace pexil::bench
