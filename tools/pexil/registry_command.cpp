// The registry report: a component registry file as the factory reads it,
// with the framework's own parser; --lint adds what the parser ignored.
#include "commands.h"
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

struct Component {
    uint32_t id;
    int line;
    const RegistryEntry* entry;
    std::string path;
    bool tooLong;
    bool exists;
};

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
        reading.CheckFactoryReach(file, registry);
        reading.CheckFactoryEntry(file, registry);
    }
    const std::vector<LintFinding> findingList = reading.Findings();

    Redirect redirect;
    const bool redirected = FindRedirect(file, &redirect);
    const std::string defaultDll = registry.defaultDllPath();
    const bool defaultExists = !defaultDll.empty() && IsFile(defaultDll);
    std::vector<Component> components;
    for (const RegistryEntry& entry : registry.entries()) {
        const uint32_t id = entry.componentID;
        Component c{id, reading.HeaderLineOf(id), &entry, "", false, false};
        if (entry.dllName[0] != '\0') {
            char path[kMaxPath] = "";
            int32_t cut = 0;
            registry.FullPathOf(entry, path, &cut);
            c.path = path;
            c.tooLong = cut != 0;
            c.exists = !c.tooLong && IsFile(c.path);
        }
        components.push_back(c);
    }
    const size_t findings = CountingFindings(findingList);

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
            json.Key("lint");
            WriteLint(json, findingList);
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
        if (lint) out += LintText(findingList);
        WriteOut(out);
    }
    return lint && findings > 0 ? kExitNo : kExitOk;
}

}  // namespace pexil::tool
