// pexil locate [INI] [--host DIR]: the factory search a host's holder makes
// (the locator, factory-handle variant): the ini file made absolute against
// the host directory, its [Redirect] chain, the values that name the factory
// DLL, and whether that DLL loads and exports CreateComponent; then the
// holder's request for component 361 through its registry (INI, or the
// default registry), which the factory answers with its own parser.
#include "commands.h"
#include "component/factory_locator.h"
#include "export_table.h"
#include "factory/component_factory.h"
#include "factory_entry.h"
#include "json_writer.h"
#include "output_text.h"
#include "platform/platform.h"
#include "support/redirect_chain.h"
#include "support/text.h"
#include "tool.h"

namespace pexil::tool {
namespace {

// The locator reads the factory's [361] values into buffers of this size.
constexpr int kValueSize = 1024;

std::string g_hostDirectory;

const char* HostDirectory() {
    return g_hostDirectory.c_str();
}

// The locator's base: the host directory, and a join that keeps one character
// less than the buffer could hold.
const PathBase kHostBase = {HostDirectory, PathStyle::Native, true};

struct ChainStep {
    std::string file;
    std::string value;
    const char* outcome;  // "none", "relative", "absolute" or "loop"
};

struct ValueRead {
    const char* section;
    const char* key;
    std::string value;
    std::string meaning;
};

struct Search {
    std::vector<ChainStep> chain;
    std::string iniFile;  // empty when the chain loops
    std::vector<ValueRead> values;
    std::string dll;
};

std::string ReadValue(const char* section, const char* key, const char* defaultValue, int size,
                      const std::string& file) {
    std::vector<char> buffer(static_cast<size_t>(size), '\0');
    platform::GetPrivateProfileString(section, key, defaultValue, buffer.data(),
                                      static_cast<uint32_t>(size), file.c_str());
    return buffer.data();
}

// The locator's own redirect chain, each step recorded.
class ChainRecorder : public RedirectObserver {
public:
    explicit ChainRecorder(Search& search) : search_(search) {}
    void OnHop(Hop hop, const char* file, const char* value, const char* target) override {
        switch (hop) {
            case Hop::End:
                search_.chain.push_back({file, value, "none"});
                search_.iniFile = target;
                return;
            case Hop::Relative:
                search_.chain.push_back({file, value, "relative"});
                search_.iniFile = target;
                return;
            case Hop::Absolute:
                search_.chain.push_back({file, value, "absolute"});
                return;
            case Hop::Loop:
                search_.chain.push_back({file, value, "loop"});
                return;
            case Hop::TooLong:
                search_.chain.push_back({file, value, "too long"});
                return;
        }
    }

private:
    Search& search_;
};

void FollowChain(const std::string& start, Search& search) {
    ChainRecorder recorder(search);
    char iniFile[kMaxPath] = "";
    locator::FollowRedirect(locator::Variant::FactoryHandle, start.c_str(), iniFile, kMaxPath,
                            &recorder);
}

// GetFactoryDllPath's steps, each value recorded with what it decided.
void FindFactoryDll(Search& search) {
    const std::string& ini = search.iniFile;
    const std::string value = ReadValue("361", "DLL", "", kValueSize, ini);
    char dllName[kMaxPath] = "";
    TrimBlanks(value.c_str(), dllName, kMaxPath);
    if (IsAbsolutePath(dllName)) {
        search.values.push_back({"361", "DLL", value, "absolute: the factory DLL"});
        search.dll = dllName;
        return;
    }
    search.values.push_back({"361", "DLL", value,
                             dllName[0] == '\0' && !IsBlank(value.c_str())
                                 ? "longer than 259 characters: taken as empty"
                                 : "relative"});
    const std::string flagValue = ReadValue("361", "NotUseDefaultDllPath", "0", kValueSize, ini);
    char flag[10] = "";
    TrimBlanks(flagValue.c_str(), flag, sizeof(flag));
    char path[kMaxPath] = "";
    if (flag[0] == '1') {
        search.values.push_back(
            {"361", "NotUseDefaultDllPath", flagValue, "the DLL lies beside the ini file"});
        JoinWithDirectoryOf(ini.c_str(), dllName, path, kMaxPath);
        search.dll = path;
        return;
    }
    search.values.push_back({"361", "NotUseDefaultDllPath", flagValue, "not 1"});
    const std::string directory = ReadValue("DefaultValue", "DllPath", "", kMaxPath, ini);
    char candidate[kMaxPath] = "";
    if (IsBlank(directory.c_str())) {
        search.values.push_back({"DefaultValue", "DllPath", directory, "blank: not used"});
        CopyIfFits(candidate, kMaxPath, dllName);
    } else {
        search.values.push_back(
            {"DefaultValue", "DllPath", directory, "the DLL lies in this directory"});
        const char separator[2] = {Separator(PathStyle::Native), '\0'};
        AppendIfFits(candidate, kMaxPath, directory.c_str());
        AppendIfFits(candidate, kMaxPath, separator);
        AppendIfFits(candidate, kMaxPath, dllName);
    }
    if (IsAbsolutePath(candidate)) {
        CopyIfFits(path, kMaxPath, candidate);
    } else {
        JoinWithDirectoryOf(ini.c_str(), candidate, path, kMaxPath);
    }
    search.dll = path;
}

// The locator's own function must come to the same DLL.
void CrossCheck(const Search& search) {
    if (search.iniFile.empty()) return;
    char dll[kMaxPath] = "";
    locator::GetFactoryDllPath(search.iniFile.c_str(), dll, kMaxPath);
    if (search.dll != dll) {
        throw CommandFailed("the steps shown disagree with the locator's factory DLL " +
                            std::string(dll));
    }
}

}  // namespace

int RunLocate(const Arguments& args) {
    g_hostDirectory = HostDirectoryOption(args, "--host");

    // ResolveIniFile's start: "Pexil.ini" for no argument, joined to the host
    // directory when relative.
    const std::string argument = args.positional.empty() ? "" : args.positional[0];
    char start[kMaxPath] = "";
    if (argument.empty()) {
        JoinToHostDirectory(kHostBase, "Pexil.ini", start, kMaxPath);
    } else if (!IsAbsolutePath(argument.c_str())) {
        JoinToHostDirectory(kHostBase, argument.c_str(), start, kMaxPath);
    } else {
        CopyIfFits(start, kMaxPath, argument.c_str());
    }

    Search search;
    const bool found = IsFile(start);
    std::vector<std::string> debugLines;
    if (found) {
        DebugOutputCollector capture;
        FollowChain(start, search);
        if (!search.iniFile.empty()) FindFactoryDll(search);
        CrossCheck(search);
        debugLines = capture.Lines();
    }

    const bool named = !search.dll.empty();
    // A directory is no DLL: the path of an empty DLL name ends with a separator.
    const bool exists = named && IsFile(search.dll);
    const bool load = !args.Has("--no-load");
    bool loads = false;
    bool exportsCreate = false;
    std::string notAModule;  // --no-load: why the file's export table cannot be read
    // The holder's request for 361 through its registry: the argument, or the
    // default registry; shown only when the factory would not answer it.
    FactoryEntry entry{StepState::Ok, ""};
    auto checkEntry = [&](PexilModuleHandle factory) {
        const PathBase& base = DirectoryBase(g_hostDirectory);
        char registryFile[kMaxPath] = "";
        if (FollowFactoryRedirect(argument.empty() ? "Pexil.ini" : argument.c_str(), registryFile,
                                  kMaxPath, base) == 0) {
            entry = {StepState::Failed, "the factory reads no registry for \"" + argument +
                                            "\" (its [Redirect] chain loops, or a path does "
                                            "not fit in 259 characters): every holder gets no "
                                            "factory"};
            return;
        }
        ComponentRegistry registry(base);
        registry.LoadFile(argument.c_str(), registryFile);
        entry =
            CheckFactoryEntry(base, registry, registryFile,
                              argument.empty() ? Asker::Host : Asker::Module, factory, search.dll);
    };
    if (exists && !load) {
        const ExportFound found = FindExport(search.dll, "CreateComponent", &notAModule);
        exportsCreate = found == ExportFound::Yes;
        if (found != ExportFound::NotAModule) notAModule.clear();
        if (exportsCreate) checkEntry(nullptr);
    } else if (exists) {
        DebugOutputCollector capture;
        if (PexilModuleHandle module = platform::LoadLibrary(search.dll.c_str())) {
            loads = true;
            exportsCreate = platform::GetProcAddress(module, "CreateComponent") != nullptr;
            // The holder asks the DLL for 361 first: a DLL that gives no
            // factory fails the request before any registry is read.
            const std::string notFactory =
                exportsCreate ? FactoryAnswerProblem(module, search.dll) : std::string();
            if (!notFactory.empty()) {
                entry = {StepState::Failed, notFactory};
            } else if (exportsCreate) {
                checkEntry(module);
            }
            platform::FreeLibrary(module);
        }
        for (const std::string& line : capture.Lines())
            debugLines.push_back(line);
    }
    const bool answered = entry.state != StepState::Failed;

    if (args.json) {
        JsonWriter json;
        json.BeginObject().Key("hostDirectory").String(g_hostDirectory);
        json.Key("notFound");
        if (found) {
            json.Null();
        } else {
            json.String(start);
        }
        json.Key("chain").BeginArray();
        for (const ChainStep& step : search.chain) {
            json.BeginObject().Key("file").String(step.file).Key("redirect").String(step.value);
            json.Key("outcome").String(step.outcome).EndObject();
        }
        json.EndArray().Key("iniFile");
        if (search.iniFile.empty()) {
            json.Null();
        } else {
            json.String(search.iniFile);
        }
        json.Key("values").BeginArray();
        for (const ValueRead& read : search.values) {
            json.BeginObject().Key("section").String(read.section).Key("key").String(read.key);
            json.Key("value").String(read.value).Key("meaning").String(read.meaning).EndObject();
        }
        json.EndArray().Key("dll");
        if (named) {
            json.String(search.dll);
        } else {
            json.Null();
        }
        json.Key("exists").Bool(exists).Key("loads");
        if (load) {
            json.Bool(loads);
        } else {
            json.Null();  // not tried
        }
        json.Key("exportsCreateComponent").Bool(exportsCreate);
        if (entry.state != StepState::Ok) {
            json.Key("factoryEntry").BeginObject().Key("ok");
            if (entry.state == StepState::Skipped) {
                json.Null();
            } else {
                json.Bool(false);
            }
            json.Key("detail").String(entry.detail).EndObject();
        }
        json.Key("debugOutput").Strings(debugLines).EndObject();
        WriteOut(json.Text());
    } else {
        std::string out = "host directory: " + Shown(g_hostDirectory) + "\n";
        if (!found) {
            const std::string name = argument.empty() ? "Pexil.ini" : argument;
            out += Shown(name) + " not found at " + Shown(start) + "\n";
        }
        for (const ChainStep& step : search.chain) {
            out += "ini file: " + Shown(step.file) + (IsFile(step.file) ? "" : " (missing)") +
                   "\n  [Redirect] Path=" + Shown(step.value) + ": ";
            const std::string outcome = step.outcome;
            if (outcome == "none") {
                out += "no redirect\n";
            } else if (outcome == "relative") {
                out += "relative, the chain ends beside this file\n";
            } else if (outcome == "absolute") {
                out += "absolute, the chain goes on there\n";
            } else if (outcome == "too long") {
                out += "its full path does not fit in 259 characters: the search fails\n";
            } else {
                out += "a file the chain has passed: the search fails\n";
            }
        }
        if (!search.chain.empty() && std::string(search.chain.back().outcome) == "relative") {
            out += "ini file: " + Shown(search.iniFile) +
                   (IsFile(search.iniFile) ? " (its [Redirect] is not read)\n" : " (missing)\n");
        }
        for (const ValueRead& read : search.values) {
            out += "  [" + std::string(read.section) + "] " + read.key + "=" + Shown(read.value) +
                   ": " + read.meaning + "\n";
        }
        if (!search.iniFile.empty()) {
            out += "factory DLL: " + (named ? Shown(search.dll) : std::string("none")) + "\n";
            out += std::string("  exists: ") + (exists ? "yes" : "no") + "\n";
            if (exists && !load) {
                out += "  loads: skipped (--no-load)\n";
                out += std::string("  exports CreateComponent: ") +
                       (!notAModule.empty() ? "no (not a module: " + Shown(notAModule) + ")"
                        : exportsCreate     ? "yes (read from the file)"
                                            : "no") +
                       "\n";
            } else if (exists) {
                out += std::string("  loads: ") + (loads ? "yes" : "no") + "\n";
                if (loads) {
                    out += std::string("  exports CreateComponent: ") +
                           (exportsCreate ? "yes" : "no") + "\n";
                }
            }
        }
        if (entry.state != StepState::Ok) {
            out += std::string("the holder's request for component 361: ") +
                   (entry.state == StepState::Failed ? "fails: " : "not checked: ") +
                   Shown(entry.detail) + "\n";
        }
        for (const std::string& line : debugLines)
            out += "debug output: " + Shown(line) + "\n";
        WriteOut(out);
    }
    return exportsCreate && answered ? kExitOk : kExitNo;
}

}  // namespace pexil::tool
