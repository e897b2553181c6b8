// pexil why ID: every step a creation of component ID takes for a host whose
// executable lies in HOSTDIR, taken with the framework's own code (the
// locator's redirect chain and factory DLL path, the factory's redirect rule,
// the registry's parser and binding paths, the loader), up to the first step
// that fails, with what to change.
#include "commands.h"
#include "component/factory_locator.h"
#include "export_table.h"
#include "factory/component_factory.h"
#include "json_writer.h"
#include "output_text.h"
#include "registry/component_registry.h"
#include "support/redirect_chain.h"
#include "support/text.h"
#include "windows_hints.h"

#include <pexil/module.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace pexil::tool {
namespace {

using Hop = RedirectObserver::Hop;

struct Step {
    const char* name;
    bool ok;
    std::string detail;
};

class ChainRecorder : public RedirectObserver {
public:
    struct Hop {
        RedirectObserver::Hop hop;
        std::string file;
        std::string value;
        std::string target;
    };
    void OnHop(RedirectObserver::Hop hop, const char* file, const char* value,
               const char* target) override {
        hops.push_back(Hop{hop, file, value, target});
    }
    std::vector<Hop> hops;
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

std::string LoaderReason() {
    char reason[512] = "";
    platform::LoadFailureReason(reason, sizeof(reason));
    return reason[0] != '\0' ? reason : "the loader gives no reason";
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
        const PathBase& host = DirectoryBase(host_);
        if (FactorySteps(host) && RegistrySteps(host) && ModuleSteps()) FactoryEntryStep();
        FreeModules();
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
        steps_.push_back(Step{name, true, detail});
        return true;
    }
    bool Fail(const char* name, const std::string& detail) {
        steps_.push_back(Step{name, false, detail});
        return false;
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
            return Fail("pexil-ini", std::string("Pexil.ini not found at ") + start +
                                         ": put one beside the host, whose [361] section names "
                                         "the factory (DLL=Brelnor.dll)");
        }
        Pass("pexil-ini", start);

        ChainRecorder chain;
        char iniFile[kMaxPath] = "";
        locator::FollowRedirect(locator::Variant::FactoryHandle, start, iniFile, kMaxPath, &chain);
        for (const ChainRecorder::Hop& hop : chain.hops) {
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
                        return Fail("redirect", hop.file + " redirects to " + hop.target +
                                                    ", which does not exist: create it or "
                                                    "correct [Redirect] Path=" +
                                                    hop.value);
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
        if (!IsFile(dll)) {
            return Fail("factory-dll", std::string("the factory DLL ") + dll + ", which " +
                                           iniFile + " names in [361], does not exist");
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
        return Pass("factory-dll", std::string(dll) + " loads and exports CreateComponent");
    }

    // registry, entry: the registry the factory picks for the request, and what
    // it says of the ID.
    bool RegistrySteps(const PathBase& host) {
        const bool named = !registryArgument_.empty();
        const char* asked = named ? registryArgument_.c_str() : "Pexil.ini";
        ChainRecorder chain;
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
            return Fail("registry", "the registry file " + source +
                                        " does not exist or cannot be read: the factory would "
                                        "use an empty registry; create it or correct the path");
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
            return Fail("dll-file", dllPath_ +
                                        " does not exist: build or copy the module there, or "
                                        "correct the DLL name in " +
                                        registryFile_ + whereNote_);
        }
        Pass("dll-file", dllPath_ + whereNote_);

        if (!load_) {
            Pass("dll-load", "skipped (--no-load)");
            switch (ExportOf(dllPath_)) {
                case ExportFound::Yes:
                    Pass("export", dllPath_ + " exports CreateComponent (read from the file)");
                    return Pass("create", "skipped (--no-load)");
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

        if (!create_) return Pass("create", "skipped (--no-create)");
        // As the factory calls a module: its registry path and the factory's
        // handle first, then CreateComponent with the factory's creator ID.
        if (auto setRegistry = reinterpret_cast<SetDLLRegistryFunction>(
                platform::GetProcAddress(componentModule_, "SetDLLRegistry"))) {
            setRegistry(registryArgument_.c_str());
        }
        if (auto setFactory = reinterpret_cast<SetFactoryHandleFunction>(
                platform::GetProcAddress(componentModule_, "SetFactoryHandle"))) {
            setFactory(factoryModule_);
        }
        IComponent* component = create(id_, kCreatorFactory);
        if (component == nullptr) {
            return Fail("create", "CreateComponent(" + idText_ + ", 361) gave null: " + dllPath_ +
                                      " has no creator for " + idText_ +
                                      ", or its creator failed (see its messages)");
        }
        component->Release(1);
        return Pass("create", "component " + idText_ + " created and released");
    }

    // Read from the file's export table, for --no-load.
    ExportFound ExportOf(const std::string& file) {
        return FindExport(file, "CreateComponent", &exportProblem_);
    }

    void FactoryEntryStep() {
        if (registry_->FindEntry(kFactoryComponentID) == nullptr) {
            Fail("factory-entry",
                 registryFile_ +
                     " has no [361] section: the module's holders ask this registry for the "
                     "factory and get nothing, so its components get no log settings and it is "
                     "never unloaded; add [361] with DLL=Brelnor.dll");
            return;
        }
        Pass("factory-entry", registryFile_ + " names the factory in [361]");
    }

    uint32_t id_;
    std::string idText_;
    std::string host_;
    std::string registryArgument_;
    bool create_;
    bool load_;
    std::string exportProblem_;
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
    for (const Step& step : steps) {
        if (!step.ok) failed = &step;
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
            json.BeginObject().Key("step").String(step.name).Key("ok").Bool(step.ok);
            json.Key("detail").String(step.detail).EndObject();
        }
        json.EndArray().EndObject();
        WriteOut(json.Text());
    } else {
        std::string out =
            "component " + std::to_string(id) + " for a host in " + Shown(host) + "\n";
        for (const Step& step : steps) {
            std::string name = step.name;
            name.resize(14, ' ');
            out +=
                std::string(step.ok ? "  ok    " : "  FAIL  ") + name + Shown(step.detail) + "\n";
        }
        out += failed != nullptr ? std::string("fails at the step ") + failed->name + "\n"
                                 : "every step passed\n";
        WriteOut(out);
    }
    return failed != nullptr ? kExitNo : kExitOk;
}

}  // namespace pexil::tool
