// The registry report: a component registry file as the factory reads it,
// with the framework's own parser; --lint adds what the parser ignored.
#include "commands.h"
#include "json_writer.h"
#include "platform/platform.h"
#include "registry/component_registry.h"
#include "registry_reading.h"
#include "support/text.h"
#include "tool.h"

namespace pexil::tool {
namespace {

// The file's bytes, read through the platform layer as the parser reads them.
bool ReadBytes(const std::string& path, std::string* bytes) {
    const platform::Handle file = platform::OpenFileForRead(path.c_str());
    if (file == platform::kInvalidHandle) return false;
    const uint32_t size = platform::GetFileSize(file);
    bool ok = size != UINT32_MAX;
    if (ok) {
        bytes->assign(size, '\0');
        uint32_t read = 0;
        ok =
            size == 0 || (platform::ReadFile(file, &(*bytes)[0], size, &read) != 0 && read == size);
    }
    platform::CloseFile(file);
    return ok;
}

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

int RunRegistryReport(const std::vector<std::string>& words) {
    const Arguments args = ParseArguments("inspect", words, {{"--lint", false}}, 1, 1);
    const bool lint = args.Has("--lint");
    const std::string file = AbsolutePath(args.positional[0]);
    std::string bytes;
    if (!ReadBytes(file, &bytes)) throw CommandFailed("cannot read " + file);

    ComponentRegistry registry(CurrentDirectoryBase());
    registry.LoadFile(args.positional[0].c_str(), file.c_str());
    char initialDirectory[kMaxPath] = "";
    GetDirectoryPart(CurrentDirectoryBase(), file.c_str(), initialDirectory, kMaxPath);
    const RegistryReading reading = ReadRegistry(bytes, file, initialDirectory);
    const std::string difference = CompareWithParser(reading, registry);
    if (!difference.empty()) {
        throw CommandFailed("the lint's reading of " + file +
                            " disagrees with the framework's parser: " + difference);
    }

    Redirect redirect;
    const bool redirected = FindRedirect(file, &redirect);
    const std::string defaultDll = registry.defaultDllPath();
    const bool defaultExists = !defaultDll.empty() && FileExists(defaultDll);
    std::vector<Component> components;
    for (const auto& item : registry.entries()) {
        Component c{item.first, reading.entries.at(item.first).headerLine, &item.second, "", false,
                    false};
        if (item.second.dllName[0] != '\0') {
            c.path = EntryFullPath(registry, item.second, &c.tooLong);
            c.exists = !c.tooLong && FileExists(c.path);
        }
        components.push_back(c);
    }
    size_t findings = 0;
    for (const LintFinding& finding : reading.findings) {
        if (finding.counts) ++findings;
    }
    const size_t notes = reading.findings.size() - findings;

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
            json.Key("exists").Bool(!reading.defaultDllPathCut && defaultExists);
            json.Key("tooLong").Bool(reading.defaultDllPathCut).EndObject();
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
            for (const LintFinding& finding : reading.findings) {
                json.BeginObject().Key("line").Number(finding.line);
                json.Key("kind").String(finding.kind).Key("message").String(finding.message);
                json.Key("note").Bool(!finding.counts).EndObject();
            }
            json.EndArray();
        }
        json.EndObject();
        WriteOut(json.Text());
    } else {
        std::string out = "registry file: " + file + "\n";
        if (redirected) {
            out += "redirect: Path=" + redirect.value + ": the factory reads " + redirect.target +
                   " instead of this file\n";
        }
        out += "default DLL directory: " + std::string(registry.defaultDllDirectory()) + "\n";
        if (defaultDll.empty()) {
            out += "default DLL: none (components without a section fail)\n";
        } else {
            out += "default DLL: " + defaultDll + " (" +
                   FileState(reading.defaultDllPathCut, defaultExists) + ")\n";
        }
        out += "default masks: " +
               Masks(registry.defaultDebugOutputMask(), registry.defaultLogFileMask()) + "\n";
        for (const Component& c : components) {
            const RegistryEntry& e = *c.entry;
            out += "component " + std::to_string(c.id) + " (line " + std::to_string(c.line) + ")\n";
            if (e.dllName[0] == '\0') {
                out += "  DLL: none: requests for it fail\n";
            } else {
                out += "  DLL: " + std::string(e.dllName) +
                       (e.besideRegistry != 0 ? ", beside the registry file" : "") + "\n";
                out += "  loads: " + c.path + " (" + FileState(c.tooLong, c.exists) + ")\n";
            }
            uint32_t debugOutput = 0;
            uint32_t logFile = 0;
            registry.GetLogMasks(c.id, &debugOutput, &logFile);
            out += "  masks: " + Masks(debugOutput, logFile) +
                   (e.hasLogSettings != 0 ? "" : " (the defaults)") + "\n";
        }
        if (lint) {
            if (reading.findings.empty()) {
                out += "lint: no findings\n";
            } else {
                out += "lint: " + Plural(findings, "finding", "findings") + ", " +
                       Plural(notes, "note", "notes") + "\n";
            }
            for (const LintFinding& finding : reading.findings) {
                out += "  line " + std::to_string(finding.line) + ": " +
                       (finding.counts ? "" : "note: ") + finding.message + "\n";
            }
        }
        WriteOut(out);
    }
    return lint && findings > 0 ? kExitNo : kExitOk;
}

}  // namespace pexil::tool
