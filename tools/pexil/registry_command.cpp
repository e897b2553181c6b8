// The registry report: a component registry file as the factory reads it,
// with the framework's own parser; --lint adds what the parser ignored.
#include "commands.h"
#include "component/factory_locator.h"
#include "json_writer.h"
#include "output_text.h"
#include "platform/platform.h"
#include "registry/component_registry.h"
#include "registry_lint.h"
#include "support/text.h"
#include "tool.h"

namespace pexil::tool {
namespace {

struct Redirect {
    std::string value;
    std::string target;
};

// The factory's redirect rule, one step: a non-blank [Redirect] Path names the
// file it reads instead (a relative one beside this file).
bool FindRedirect(const std::string& file, Redirect* redirect) {
    char value[kMaxPath] = "";
    platform::GetPrivateProfileString("Redirect", "Path", "", value, kMaxPath, file.c_str());
    if (IsEmptyAfterTrim(value)) return false;
    redirect->value = value;
    char target[kMaxPath] = "";
    if (IsAbsolutePath(value)) {
        CopyIfFits(target, kMaxPath, value);
    } else {
        JoinWithDirectoryOf(file.c_str(), value, target, kMaxPath);
    }
    redirect->target = target;
    return true;
}

// The hops of a redirect chain, as the factory search takes them.
class ChainRecorder : public RedirectObserver {
public:
    struct Step {
        Hop hop;
        std::string file;
        std::string value;
        std::string target;
    };
    void OnHop(Hop hop, const char* file, const char* value, const char* target) override {
        steps.push_back(Step{hop, file, value, target});
    }
    std::vector<Step> steps;
};

bool NamesFactory(const std::string& file) {
    ComponentRegistry registry(CurrentDirectoryBase());
    registry.LoadFile("", file.c_str());
    return registry.FindEntry(kFactoryComponentID) != nullptr;
}

bool IsPexilIni(const std::string& file) {
    const int separator = LastOfEitherSeparator(file.c_str());
    std::string name = file.substr(static_cast<size_t>(separator + 1));
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return name == "pexil.ini";
}

// What fails at run time because of the file's [Redirect] chain or its lack
// of a [361] section.
void CheckFactoryReach(const std::string& file, const ComponentRegistry& registry,
                       RegistryLint& lint) {
    const int line = lint.RedirectLine();
    ChainRecorder chain;
    char last[kMaxPath] = "";
    std::vector<std::string> ignored;
    {
        DebugOutputCollector quiet;  // the framework's own loop message
        locator::FollowRedirect(locator::Variant::FactoryHandle, file.c_str(), last, kMaxPath,
                                &chain);
    }
    using Hop = RedirectObserver::Hop;
    bool reached = true;
    std::string why;
    for (const ChainRecorder::Step& step : chain.steps) {
        if (step.hop == Hop::Loop) {
            lint.Add(line, "redirect-loop",
                     step.file + " redirects to " + step.value +
                         ", which the chain has already passed: the factory search fails");
            reached = false;
        } else if (step.hop == Hop::TooLong) {
            lint.Add(line, "redirect-too-long",
                     step.file + " redirects to " + step.value +
                         ", whose full path does not fit in 259 characters: the factory search "
                         "fails");
            reached = false;
        } else if ((step.hop == Hop::Absolute || step.hop == Hop::Relative) &&
                   !IsFile(step.target, &why)) {
            // A FIFO or a device there reads as missing.
            lint.Add(line, "redirect-missing",
                     step.file + " redirects to " + step.target +
                         (why.empty() ? ", which does not exist" : ", which cannot be read" + why) +
                         ": the factory search finds no factory DLL");
            reached = false;
        }
    }
    const bool redirected =
        chain.steps.size() > 1 || (!chain.steps.empty() && chain.steps.front().hop != Hop::End);
    if (redirected) {
        if (reached && !NamesFactory(last)) {
            lint.Add(line, "chain-no-factory",
                     std::string("the last file of the [Redirect] chain, ") + last +
                         ", has no [361] section: the factory search finds no factory DLL; add "
                         "[361] with DLL=Brelnor.dll there");
        }
        return;
    }
    if (registry.entries().count(kFactoryComponentID) != 0) return;
    if (!registry.entries().empty()) {
        lint.Add(0, "no-factory-entry",
                 "components have sections here but there is no [361] section: the modules "
                 "created from this registry ask it for the factory and get nothing, so they "
                 "get no log settings and are never unloaded; add [361] with DLL=Brelnor.dll");
    } else if (IsPexilIni(file)) {
        lint.Add(0, "no-factory-entry",
                 "Pexil.ini has no [361] section: the factory search finds no factory DLL; add "
                 "[361] with DLL=Brelnor.dll");
    }
}

struct Component {
    uint32_t id;
    int line;
    const RegistryEntry* entry;
    std::string path;
    bool tooLong;
    bool exists;
};

std::string Plural(size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string FileState(bool tooLong, bool exists) {
    if (tooLong) return "too long: never loaded";
    return exists ? "exists" : "missing";
}

void WriteMasks(JsonWriter& json, uint32_t debugOutput, uint32_t logFile) {
    json.BeginObject();
    json.Key("debugOutput").BeginObject();
    json.Key("value").Number(debugOutput).Key("letters").String(MaskLetters(debugOutput));
    json.EndObject();
    json.Key("logFile").BeginObject();
    json.Key("value").Number(logFile).Key("letters").String(MaskLetters(logFile));
    json.EndObject();
    json.EndObject();
}

std::string Masks(uint32_t debugOutput, uint32_t logFile) {
    return "debug output " + MaskLetters(debugOutput) + ", log file " + MaskLetters(logFile);
}

}  // namespace

int RunRegistryReport(const Arguments& args) {
    const bool lint = args.Has("--lint");
    const std::string file = AbsolutePath(args.positional[0]);
    std::string why;
    if (!IsFile(file, &why)) throw CommandFailed("cannot read " + file + why);

    // The framework's parser reads the file; the lint watches it.
    ComponentRegistry registry(CurrentDirectoryBase());
    RegistryLint reading;
    reading.Read(registry, args.positional[0].c_str(), file.c_str());
    if (!registry.fileRead()) {
        throw CommandFailed("cannot read " + file + ": it is larger than " +
                            std::to_string(platform::kMaxReadFileSize) +
                            " bytes, or could not be read whole");
    }
    if (lint) {
        reading.CheckRunTime(registry);
        CheckFactoryReach(file, registry, reading);
    }
    const std::vector<LintFinding> findingList = reading.Findings();

    Redirect redirect;
    const bool redirected = FindRedirect(file, &redirect);
    const std::string defaultDll = registry.defaultDllPath();
    const bool defaultExists = !defaultDll.empty() && IsFile(defaultDll);
    std::vector<Component> components;
    for (const auto& item : registry.entries()) {
        Component c{item.first, reading.HeaderLineOf(item.first), &item.second, "", false, false};
        if (item.second.dllName[0] != '\0') {
            char path[kMaxPath] = "";
            int32_t cut = 0;
            registry.FullPathOf(item.second, path, &cut);
            c.path = path;
            c.tooLong = cut != 0;
            c.exists = !c.tooLong && IsFile(c.path);
        }
        components.push_back(c);
    }
    size_t findings = 0;
    for (const LintFinding& finding : findingList) {
        if (finding.counts) ++findings;
    }
    const size_t notes = findingList.size() - findings;

    if (args.json) {
        JsonWriter json;
        json.BeginObject();
        json.Key("file").String(file);
        json.Key("redirect");
        if (redirected) {
            json.BeginObject().Key("path").String(redirect.value);
            json.Key("target").String(redirect.target).EndObject();
        } else {
            json.Null();
        }
        json.Key("defaultDllDirectory").String(registry.defaultDllDirectory());
        json.Key("defaultDll");
        if (defaultDll.empty()) {
            json.Null();
        } else {
            json.BeginObject().Key("path").String(defaultDll);
            json.Key("exists").Bool(!registry.defaultDllPathCut() && defaultExists);
            json.Key("tooLong").Bool(registry.defaultDllPathCut()).EndObject();
        }
        json.Key("defaultMasks");
        WriteMasks(json, registry.defaultDebugOutputMask(), registry.defaultLogFileMask());
        json.Key("components").BeginArray();
        for (const Component& c : components) {
            const RegistryEntry& e = *c.entry;
            json.BeginObject().Key("id").Number(c.id).Key("line").Number(c.line);
            json.Key("dll").String(e.dllName);
            json.Key("besideRegistry").Bool(e.besideRegistry != 0);
            json.Key("path");
            if (e.dllName[0] != '\0') {
                json.String(c.path);
            } else {
                json.Null();
            }
            json.Key("exists").Bool(c.exists).Key("tooLong").Bool(c.tooLong);
            json.Key("ownMasks").Bool(e.hasLogSettings != 0).Key("masks");
            uint32_t debugOutput = 0;
            uint32_t logFile = 0;
            registry.GetLogMasks(c.id, &debugOutput, &logFile);
            WriteMasks(json, debugOutput, logFile);
            json.EndObject();
        }
        json.EndArray();
        if (lint) {
            json.Key("lint").BeginArray();
            for (const LintFinding& finding : findingList) {
                json.BeginObject().Key("line");
                if (finding.line > 0) {
                    json.Number(finding.line);
                } else {
                    json.Null();  // the file as a whole
                }
                json.Key("kind").String(finding.kind).Key("message").String(finding.message);
                json.Key("note").Bool(!finding.counts).EndObject();
            }
            json.EndArray();
        }
        json.EndObject();
        WriteOut(json.Text());
    } else {
        std::string out = "registry file: " + Shown(file) + "\n";
        if (redirected) {
            out += "redirect: Path=" + Shown(redirect.value) + ": the factory reads " +
                   Shown(redirect.target) + " instead of this file\n";
        }
        out += "default DLL directory: " + Shown(registry.defaultDllDirectory()) + "\n";
        if (defaultDll.empty()) {
            out += "default DLL: none (components without a section fail)\n";
        } else {
            out += "default DLL: " + Shown(defaultDll) + " (" +
                   FileState(registry.defaultDllPathCut(), defaultExists) + ")\n";
        }
        out += "default masks: " +
               Masks(registry.defaultDebugOutputMask(), registry.defaultLogFileMask()) + "\n";
        for (const Component& c : components) {
            const RegistryEntry& e = *c.entry;
            out += "component " + std::to_string(c.id) + " (line " + std::to_string(c.line) + ")\n";
            if (e.dllName[0] == '\0') {
                out += "  DLL: none: requests for it fail\n";
            } else {
                out += "  DLL: " + Shown(e.dllName) +
                       (e.besideRegistry != 0 ? ", beside the registry file" : "") + "\n";
                out += "  loads: " + Shown(c.path) + " (" + FileState(c.tooLong, c.exists) + ")\n";
            }
            uint32_t debugOutput = 0;
            uint32_t logFile = 0;
            registry.GetLogMasks(c.id, &debugOutput, &logFile);
            out += "  masks: " + Masks(debugOutput, logFile) +
                   (e.hasLogSettings != 0 ? "" : " (the defaults)") + "\n";
        }
        if (lint) {
            if (findingList.empty()) {
                out += "lint: no findings\n";
            } else {
                out += "lint: " + Plural(findings, "finding", "findings") + ", " +
                       Plural(notes, "note", "notes") + "\n";
            }
            for (const LintFinding& finding : findingList) {
                out += (finding.line > 0 ? "  line " + std::to_string(finding.line) : "  file") +
                       ": " + (finding.counts ? "" : "note: ") + Shown(finding.message) + "\n";
            }
        }
        WriteOut(out);
    }
    return lint && findings > 0 ? kExitNo : kExitOk;
}

}  // namespace pexil::tool
