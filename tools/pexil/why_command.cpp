// pexil why ID: every step a creation of component ID takes for a host whose
// executable lies in HOSTDIR, taken with the framework's own code (the
// locator's redirect chain and factory DLL path, the factory's redirect rule,
// the registry's parser and binding paths, the loader), up to the first step
// that fails, with what to change.
#include "commands.h"
#include "component/factory_locator.h"
#include "export_table.h"
#include "factory/component_factory.h"
#include "factory_entry.h"
#include "json_writer.h"
#include "output_text.h"
#include "registry/component_registry.h"
#include "support/diagnostic_text.h"
#include "support/redirect_chain.h"
#include "support/text.h"
#include "windows_hints.h"

#include <pexil/module.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace pexil::tool {
namespace {

using Hop = RedirectObserver::Hop;

struct Step {
    const char* name;
    StepState state;
    std::string detail;
    std::vector<std::string> debugOutput;  // what the step's module code wrote
};

uint32_t ParseID(const std::string& text) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || text[0] == '+' || value == 0 ||
        value > 0xffffffffull) {
        throw UsageError("ID must be a component ID from 1 to 4294967295, not " + text);
    }
    return static_cast<uint32_t>(value);
}

const char* const kNoCreateComponent =
    " exports no CreateComponent: build it with pexil_add_module, which exports the seven entry "
    "points";

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

class Why {
public:
    Why(uint32_t id, const std::string& hostDirectory, const std::string& registryArgument,
        bool create, bool load)
        : id_(id),
          idText_(std::to_string(id)),
          host_(hostDirectory),
          registryArgument_(registryArgument),
          create_(create),
          load_(load) {}

    Why(const Why&) = delete;
    Why& operator=(const Why&) = delete;

    // Takes the steps until one fails; the steps taken, in order. The modules
    // loaded meanwhile are freed again.
    const std::vector<Step>& Run() {
        // Modules may print as they load and unload: not onto the answer.
        DebugOutputCollector collector;
        collector_ = &collector;
        const PathBase& host = DirectoryBase(host_);
        if (FactorySteps(host) && RegistrySteps(host) && ModuleSteps()) FactoryEntryStep(host);
        FreeModules();
        collector_ = nullptr;
        return steps_;
    }

private:
    void FreeModules() {
        if (componentModule_ != nullptr) platform::FreeLibrary(componentModule_);
        componentModule_ = nullptr;
        if (factoryModule_ == nullptr) return;
        // The created component's module may have reached the factory through
        // the handle it was given: the factory then lives in this process, and
        // is shut down before its module goes (else the module would report it
        // as a leak).
        if (auto create = reinterpret_cast<CreateComponentFunction>(
                platform::GetProcAddress(factoryModule_, "CreateComponent"))) {
            if (IComponent* factory = create(kFactoryComponentID, kCreatorDirect)) {
                factory->Release(1);
            }
        }
        platform::FreeLibrary(factoryModule_);
        factoryModule_ = nullptr;
    }

    bool Pass(const char* name, const std::string& detail) {
        steps_.push_back(Step{name, StepState::Ok, detail, {}});
        return true;
    }
    bool Fail(const char* name, const std::string& detail) {
        steps_.push_back(Step{name, StepState::Failed, detail, {}});
        return false;
    }
    // A step not taken (--no-load, --no-create): neither passed nor failed.
    bool Skip(const char* name, const std::string& detail) {
        steps_.push_back(Step{name, StepState::Skipped, detail, {}});
        return true;
    }

    // pexil-ini, redirect, factory-dll: the factory search a host's holder makes.
    bool FactorySteps(const PathBase& host) {
        char start[kMaxPath] = "";
        int whole = 0;
        JoinToHostDirectory(host, "Pexil.ini", start, kMaxPath, &whole);
        if (whole == 0) {
            return Fail("pexil-ini", host_ +
                                         "/Pexil.ini does not fit in 259 characters: move "
                                         "the host to a shorter directory");
        }
        if (!IsFile(start)) {
            if (FileExists(start)) {
                return Fail("pexil-ini", std::string(start) + NotAFile(start) +
                                             ": the search reads it as empty; put a Pexil.ini "
                                             "there whose [361] section names the factory "
                                             "(DLL=Brelnor.dll)");
            }
            return Fail("pexil-ini", std::string("Pexil.ini not found at ") + start +
                                         OtherCaseHint(start) +
                                         ": put one beside the host, whose [361] section names "
                                         "the factory (DLL=Brelnor.dll)");
        }
        Pass("pexil-ini", start);

        ChainHops chain;
        char iniFile[kMaxPath] = "";
        locator::FollowRedirect(locator::Variant::FactoryHandle, start, iniFile, kMaxPath, &chain);
        for (const ChainHops::Hop& hop : chain.hops) {
            switch (hop.hop) {
                case Hop::End:
                    if (&hop == &chain.hops.front()) {
                        Pass("redirect", hop.file + " has no [Redirect]: the search reads it");
                    }
                    break;
                case Hop::Loop:
                    return Fail("redirect", hop.file + " redirects to " + hop.value +
                                                ", which the chain has already passed: break "
                                                "the loop");
                case Hop::TooLong:
                    return Fail("redirect", hop.file + " redirects to " + hop.value +
                                                ", whose full path does not fit in 259 "
                                                "characters: shorten the Path");
                case Hop::Absolute:
                case Hop::Relative:
                    if (!IsFile(hop.target)) {
                        return Fail("redirect",
                                    hop.file + " redirects to " + hop.target + ", which" +
                                        NotAFile(hop.target) +
                                        ": create it or correct [Redirect] Path=" + hop.value);
                    }
                    Pass("redirect", hop.file + " redirects to " + hop.target +
                                         (hop.hop == Hop::Relative
                                              ? " (a relative Path: the chain ends there, its own "
                                                "[Redirect] is not read)"
                                              : ""));
                    break;
            }
        }

        char dll[kMaxPath] = "";
        char value[kMaxPath] = "";
        platform::GetPrivateProfileString("361", "DLL", "", value, kMaxPath, iniFile);
        if (IsBlank(value)) {
            return Fail("factory-dll", std::string(iniFile) +
                                           " has no [361] section with a DLL= line: add [361] "
                                           "and DLL=Brelnor.dll");
        }
        if (!locator::GetFactoryDllPath(iniFile, dll, kMaxPath)) {
            return Fail("factory-dll", std::string("the factory DLL's path that ") + iniFile +
                                           " names does not fit in 259 characters");
        }
        factoryDll_ = dll;
        if (!IsFile(dll)) {
            return Fail("factory-dll", std::string("the factory DLL ") + dll + ", which " +
                                           iniFile + " names in [361]," + NotAFile(dll));
        }
        if (!load_) {
            switch (ExportOf(dll)) {
                case ExportFound::Yes:
                    return Pass("factory-dll", std::string(dll) +
                                                   " exports CreateComponent (read from the "
                                                   "file; not loaded: --no-load)");
                case ExportFound::No:
                    return Fail("factory-dll", std::string(dll) +
                                                   " exports no CreateComponent: [361] must name "
                                                   "the factory, Brelnor.dll");
                case ExportFound::NotAModule:
                    return Fail("factory-dll", std::string("the factory DLL ") + dll +
                                                   " is no module: " + exportProblem_);
            }
        }
        factoryModule_ = platform::LoadLibrary(dll);
        if (factoryModule_ == nullptr) {
            return Fail("factory-dll", std::string("the factory DLL ") + dll +
                                           " does not load: " + LoaderReason());
        }
        if (platform::GetProcAddress(factoryModule_, "CreateComponent") == nullptr) {
            return Fail("factory-dll", std::string(dll) +
                                           " exports no CreateComponent: [361] must name the "
                                           "factory, Brelnor.dll");
        }
        // Asked as the factory search asks it: a module that is no factory
        // loads and exports CreateComponent too.
        const std::string notFactory = FactoryAnswerProblem(factoryModule_, dll);
        if (!notFactory.empty()) return Fail("factory-dll", notFactory);
        return Pass("factory-dll", std::string(dll) + " loads and exports CreateComponent");
    }

    // registry, entry: the registry the factory picks for the request, and what
    // it says of the ID.
    bool RegistrySteps(const PathBase& host) {
        const bool named = !registryArgument_.empty();
        const char* asked = named ? registryArgument_.c_str() : "Pexil.ini";
        ChainHops chain;
        char file[kMaxPath] = "";
        const int found = FollowFactoryRedirect(asked, file, kMaxPath, host, &chain);
        if (found == 0) {
            const std::string why = !chain.hops.empty() && chain.hops.back().hop == Hop::Loop
                                        ? "its [Redirect] chain loops"
                                        : "its path, or a redirect's, does not fit in 259 "
                                          "characters";
            return Fail("registry", Quoted(asked) + " reads no file: " + why +
                                        "; the factory would use an empty registry");
        }
        registryFile_ = file;
        const std::string source =
            named ? registryFile_ + " (named by " + Quoted(registryArgument_) + ")"
                  : registryFile_ + ", the default registry (Pexil.ini after its redirects)";
        if (!IsFile(registryFile_)) {
            const std::string missing = NotAFile(registryFile_);
            if (!NamesNothing(missing)) {
                return Fail("registry", "the registry file " + source + missing +
                                            ": the factory would use an empty registry; make it "
                                            "a file or correct the path");
            }
            return Fail("registry", "the registry file " + source +
                                        " does not exist or cannot be read" +
                                        missing.substr(std::strlen(" does not exist")) +
                                        ": the factory would use an empty registry; create it "
                                        "or correct the path");
        }
        const std::string utf16 = Utf16ProblemOfFile(registryFile_);
        if (!utf16.empty()) return Fail("registry", source + ": " + utf16);
        Pass("registry", source);

        registry_ = std::make_unique<ComponentRegistry>(host);
        registry_->LoadFile(named ? registryArgument_.c_str() : "", registryFile_.c_str());
        const RegistryEntry* entry = registry_->FindEntry(id_);
        if (entry != nullptr) {
            if (entry->dllName[0] == '\0') {
                return Fail("entry", "section [" + idText_ + "] of " + registryFile_ +
                                         " has no DLL= line: add DLL=<its module>");
            }
            int32_t cut = 0;
            char path[kMaxPath] = "";
            registry_->FullPathOf(*entry, path, &cut);
            dllPath_ = path;
            dllPathCut_ = cut != 0;
            whereNote_ = BesideRegistryNote(*registry_, *entry);
            return Pass("entry", "section [" + idText_ + "] of " + registryFile_ +
                                     ": DLL=" + entry->dllName);
        }
        if (registry_->defaultDllPath()[0] == '\0') {
            return Fail("entry", registryFile_ + " has no section [" + idText_ +
                                     "] and no DefaultDll: add a [" + idText_ +
                                     "] section with DLL=<its module>");
        }
        dllPath_ = registry_->defaultDllPath();
        dllPathCut_ = registry_->defaultDllPathCut();
        return Pass("entry", registryFile_ + " has no section [" + idText_ +
                                 "]: its DefaultDll serves the ID");
    }

    // dll-file, dll-load, export, create: the binding's path into the module.
    bool ModuleSteps() {
        if (dllPathCut_) {
            return Fail("dll-file", "the DLL's full path " + dllPath_ +
                                        "... does not fit in 259 characters, so it is never "
                                        "loaded: shorten the registry's paths");
        }
        if (!IsFile(dllPath_)) {
            const std::string missing = NotAFile(dllPath_);
            return Fail("dll-file",
                        dllPath_ + missing +
                            (NamesNothing(missing)
                                 ? ": build or copy the module there, or correct the DLL name "
                                   "in "
                                 : ": put the module there, or correct the DLL name in ") +
                            registryFile_ + whereNote_);
        }
        Pass("dll-file", dllPath_ + whereNote_);

        if (!load_) {
            Skip("dll-load", "skipped (--no-load)");
            switch (ExportOf(dllPath_)) {
                case ExportFound::Yes:
                    Pass("export", dllPath_ + " exports CreateComponent (read from the file)");
                    return Skip("create", "skipped (--no-load)");
                case ExportFound::No:
                    return Fail("export", dllPath_ + kNoCreateComponent);
                case ExportFound::NotAModule:
                    return Fail("export", dllPath_ + " is no module: " + exportProblem_);
            }
        }
        componentModule_ = platform::LoadLibrary(dllPath_.c_str());
        if (componentModule_ == nullptr) {
            return Fail("dll-load", dllPath_ + " does not load: " + LoaderReason());
        }
        Pass("dll-load", dllPath_ + " loads");

        auto create = reinterpret_cast<CreateComponentFunction>(
            platform::GetProcAddress(componentModule_, "CreateComponent"));
        if (create == nullptr) return Fail("export", dllPath_ + kNoCreateComponent);
        Pass("export", dllPath_ + " exports CreateComponent");

        if (!create_) return Skip("create", "skipped (--no-create)");
        return CreateStep(create);
    }

    // As the factory calls a module: its registry path and the factory's
    // handle first, then CreateComponent with the factory's creator ID. What
    // the module writes on the debug output meanwhile is the step's.
    bool CreateStep(CreateComponentFunction create) {
        const size_t before = collector_->Lines().size();
        if (auto setRegistry = reinterpret_cast<SetDLLRegistryFunction>(
                platform::GetProcAddress(componentModule_, "SetDLLRegistry"))) {
            setRegistry(registryArgument_.c_str());
        }
        if (auto setFactory = reinterpret_cast<SetFactoryHandleFunction>(
                platform::GetProcAddress(componentModule_, "SetFactoryHandle"))) {
            setFactory(factoryModule_);
        }
        IComponent* component = create(id_, kCreatorFactory);
        const uint32_t made = component != nullptr ? component->GetComponentID() : 0;
        if (component != nullptr) component->Release(1);
        std::vector<std::string> written = collector_->Lines();
        written.erase(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(before));

        const std::string call = "CreateComponent(" + idText_ + ", 361) gave ";
        bool ok = true;
        if (component == nullptr) {
            ok = Fail("create", call + "null: " + WhyNull());
        } else if (made != id_) {
            ok = Fail("create", call + "component " + std::to_string(made) + ", not " + idText_ +
                                    ": the creator " + dllPath_ + " has for " + idText_ +
                                    " makes another class, and Create<T> releases such a "
                                    "component and gives nothing; correct the creator, or bind " +
                                    idText_ + " to the module whose creator makes it");
        } else {
            Pass("create", "component " + idText_ + " created and released");
        }
        steps_.back().debugOutput = written;
        return ok;
    }

    // Why the module gave no component: it registers no creator for the ID
    // (the IDs it has instead), or its creator failed.
    std::string WhyNull() {
        std::vector<uint32_t> ids;
        if (!RegisteredIDs(componentModule_, &ids)) {
            return dllPath_ + " has no creator for " + idText_ +
                   ", or its creator failed (see its messages)";
        }
        for (uint32_t id : ids) {
            if (id == id_) {
                return "the creator " + dllPath_ + " has for " + idText_ +
                       " made nothing (it returned null or threw; see its messages)";
            }
        }
        char listed[256];
        DescribeIDs(ids.data(), static_cast<int>(ids.size()), listed, sizeof(listed));
        return dllPath_ + " registers " + listed + ", not " + idText_ + ": bind " + idText_ +
               " to the module that registers it, or register a creator for it in this one";
    }

    // Read from the file's export table, for --no-load.
    ExportFound ExportOf(const std::string& file) {
        return FindExport(file, "CreateComponent", &exportProblem_);
    }

    // factory-entry: the holders' own request for 361, as the factory answers
    // it: the host's holder through the default registry, the module's
    // holders through the registry the component came from.
    void FactoryEntryStep(const PathBase& host) {
        PexilModuleHandle factory = load_ ? factoryModule_ : nullptr;
        if (!registryArgument_.empty()) {
            char file[kMaxPath] = "";
            if (FollowFactoryRedirect("Pexil.ini", file, kMaxPath, host) == 0) {
                Fail("factory-entry",
                     "the factory reads no default registry (the [Redirect] chain of Pexil.ini "
                     "loops, or a path does not fit in 259 characters): every holder the host "
                     "makes asks it for component 361 and gets none");
                return;
            }
            ComponentRegistry defaults(host);
            defaults.LoadFile("", file);
            const FactoryEntry hosts =
                CheckFactoryEntry(host, defaults, file, Asker::Host, factory, factoryDll_);
            if (hosts.state != StepState::Ok) {
                steps_.push_back(Step{"factory-entry", hosts.state, hosts.detail, {}});
                return;
            }
        }
        const FactoryEntry modules = CheckFactoryEntry(
            host, *registry_, registryFile_,
            registryArgument_.empty() ? Asker::Host : Asker::Module, factory, factoryDll_);
        steps_.push_back(Step{"factory-entry", modules.state, modules.detail, {}});
    }

    uint32_t id_;
    std::string idText_;
    std::string host_;
    std::string registryArgument_;
    bool create_;
    bool load_;
    std::string exportProblem_;
    std::string factoryDll_;
    DebugOutputCollector* collector_ = nullptr;
    std::vector<Step> steps_;
    PexilModuleHandle factoryModule_ = nullptr;
    PexilModuleHandle componentModule_ = nullptr;
    std::unique_ptr<ComponentRegistry> registry_;
    std::string registryFile_;
    std::string dllPath_;
    bool dllPathCut_ = false;
    std::string whereNote_;
};

}  // namespace

int RunWhy(const Arguments& args) {
    const uint32_t id = ParseID(args.positional[0]);
    const std::string host = HostDirectoryOption(args, "--dir");
    const std::string registry = args.Has("--registry") ? args.options.at("--registry") : "";
    if (args.Has("--registry") && registry.empty()) {
        throw UsageError("--registry needs a file name (leave it out for the default registry)");
    }
    Why why(id, host, registry, !args.Has("--no-create"), !args.Has("--no-load"));
    const std::vector<Step>& steps = why.Run();
    const Step* failed = nullptr;
    std::string skipped;  // the names of the steps not taken
    for (const Step& step : steps) {
        if (step.state == StepState::Failed) failed = &step;
        if (step.state == StepState::Skipped) {
            skipped += std::string(skipped.empty() ? "" : ", ") + step.name;
        }
    }

    if (args.json) {
        JsonWriter json;
        json.BeginObject().Key("id").Number(id).Key("ok").Bool(failed == nullptr);
        json.Key("failed_step");
        if (failed != nullptr) {
            json.String(failed->name);
        } else {
            json.Null();
        }
        json.Key("steps").BeginArray();
        for (const Step& step : steps) {
            json.BeginObject().Key("step").String(step.name).Key("ok");
            if (step.state == StepState::Skipped) {
                json.Null();  // not taken
            } else {
                json.Bool(step.state == StepState::Ok);
            }
            json.Key("detail").String(step.detail);
            if (!step.debugOutput.empty()) json.Key("debugOutput").Strings(step.debugOutput);
            json.EndObject();
        }
        json.EndArray().EndObject();
        WriteOut(json.Text());
    } else {
        std::string out =
            "component " + std::to_string(id) + " for a host in " + Shown(host) + "\n";
        for (const Step& step : steps) {
            std::string name = step.name;
            name.resize(14, ' ');
            const char* mark = step.state == StepState::Ok       ? "  ok    "
                               : step.state == StepState::Failed ? "  FAIL  "
                                                                 : "  skip  ";
            out += mark + name + Shown(step.detail) + "\n";
            for (const std::string& line : step.debugOutput)
                out += "        debug output: " + Shown(line) + "\n";
        }
        if (failed != nullptr) {
            out += std::string("fails at the step ") + failed->name + "\n";
        } else if (!skipped.empty()) {
            out += "every step taken passed; not taken: " + skipped + "\n";
        } else {
            out += "every step passed\n";
        }
        WriteOut(out);
    }
    return failed != nullptr ? kExitNo : kExitOk;
}

}  // namespace pexil::tool
