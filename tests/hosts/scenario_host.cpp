// The scenario host: a real host process that the end-to-end tests run in a
// directory of their own (the host directory is where this program lies). Each
// argument is one command; the host narrates on standard output, and the
// framework's debug output reaches standard error.
//
//   load NAME                 LoadLibrary(<host directory>/NAME)
//   free NAME                 FreeLibrary once
//   loaded NAME               whether NAME is still loaded
//   create NAME ID CREATOR    the module's CreateComponent; the result becomes #1, #2, ...
//   release #N FORCE          Release(FORCE) on #N
//   flag #N VALUE             SetFreeMapFlag(VALUE) on #N
//   freemap NAME              the module's PexilDllFreeMap
//   canunload NAME            the module's PexilDllCanUnloadNow
//   setregistry PATH          the host's own registry path ("-": empty)
//   sethandle NAME|none       the host's own factory handle: that loaded module's
//   locate [INI]              the locator, factory-handle variant ("-": empty argument);
//                             the factory found becomes the next #N
//   locate-loaded             the locator, loaded-module variant
//   resolve [INI]             the ini file the locator would read
//   dllpath [INI]             the factory DLL path the locator would load
//   holder keeping|releasing|rootpath
//                             constructs a holder, reports it, destroys it
//   rootpath                  QueryRootPath
//   fcreate ID [REGISTRY]     the factory's CreateComponentByID (REGISTRY: "null", "-" for
//                             empty, or a path; absent: the host's registry path)
//   logsettings REGISTRY ID DEBUG LOG
//                             GetLogSettings with the masks preset (hexadecimal)
//   logwrite TEXT...          writes TEXT and a line end through the last LogSink
//   setroot PATH | getroot    the factory's root path
//   globals                   ReleaseGlobalComponents
//   schedule NAME             ScheduleDllUnload with that loaded module's handle
//   schedule-thread NAME      the same on a new thread, which then ends
//   unloadidle NAME           UnloadDllIfIdle with that loaded module's handle
//   pump MS                   pumps messages for MS milliseconds
//   pumpuntil NAME MS         pumps until NAME is unloaded, at most MS milliseconds
//   ptr ID [REGISTRY]         as a host creates: a releasing holder, then
//                             Create<IComponent> (REGISTRY absent: the default one); says
//                             whether the component's module reaches the factory through
//                             its registry path (asked of the module's probe, 199, when it
//                             has one); the component is released at once
//   shutdown                  the factory's forced release (through a keeping holder)
//   fshutdown                 the factory's Shutdown alone: the factory stays
//   sleep MS                  waits without pumping
//   write FILE TEXT...        writes a file in the host directory ("\n": line end)
//   probe-regpath #N          the registry path TestComponents' probe #N reports
//   probe-answer NAME N       UnloadProbe's PexilDllCanUnloadNow answer
//
// Paths in the narration show the host directory as <host>.
#include "component/factory_locator.h"
#include "module/module_state.h"
#include "modules/test_interfaces.h"
#include "platform/debug_capture.h"
#include "platform/platform.h"
#include "support/base_directory.h"

#include <pexil/component_ptr.h>
#include <pexil/factory.h>
#include <pexil/holder.h>
#include <pexil/module.h>
#include <pexil/platform.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using pexil::IComponent;

std::map<std::string, PexilModuleHandle> g_modules;
// Never destroyed: components a scenario leaves alive stay reachable to the
// end, where the modules' leak reports list them.
std::vector<IComponent*>& g_components = *new std::vector<IComponent*>;
pexil::LogSink* g_lastSink = nullptr;
std::chrono::steady_clock::time_point g_lastRelease;

std::string ModulePath(const std::string& name) {
    return std::string(pexil::RecomputedHostDirectory()) +
           pexil::Separator(pexil::PathStyle::Native) + name;
}

PexilModuleHandle Module(const std::string& name) {
    auto it = g_modules.find(name);
    return it != g_modules.end() ? it->second : nullptr;
}

template <typename Function>
Function Export(const std::string& name, const char* symbol) {
    return reinterpret_cast<Function>(pexil::platform::GetProcAddress(Module(name), symbol));
}

IComponent* Component(const std::string& reference) {
    const size_t index = std::strtoul(reference.c_str() + 1, nullptr, 10);
    return index >= 1 && index <= g_components.size() ? g_components[index - 1] : nullptr;
}

// The path with the host directory shown as <host>.
std::string Shown(std::string text) {
    const std::string host = pexil::RecomputedHostDirectory();
    for (size_t at = text.find(host); !host.empty() && at != std::string::npos;
         at = text.find(host, at)) {
        text.replace(at, host.size(), "<host>");
    }
    return text;
}

// A command's path argument: absent is null, "-" the empty string.
const char* PathArgument(const std::vector<std::string>& words, size_t index) {
    if (index >= words.size()) return nullptr;
    return words[index] == "-" ? "" : words[index].c_str();
}

void ReportHolder(const char* form, const pexil::ComponentHolder& holder) {
    std::printf("holder %s: component %s, factory %s", form, holder.component ? "yes" : "no",
                holder.factory ? "yes" : "no");
    if (holder.component != nullptr) {
        std::printf(", flag %d", holder.component->GetFreeMapFlag());
    }
    std::printf("\n");
}

// The factory, found as a module finds it; null after saying so.
pexil::IComponentFactory* Factory(pexil::ReleasingFactoryHolder& holder) {
    if (holder.component == nullptr) std::printf("no factory\n");
    return static_cast<pexil::IComponentFactory*>(holder.component);
}

// A registry argument: "null", "-" (empty) or a path.
const char* RegistryArgument(const std::vector<std::string>& words, size_t index) {
    if (index >= words.size()) return pexil::ModuleRegistryPath();
    if (words[index] == "null") return nullptr;
    return PathArgument(words, index);
}

std::string RestOf(const std::vector<std::string>& words, size_t from) {
    std::string text;
    for (size_t i = from; i < words.size(); ++i)
        text += (i > from ? " " : "") + words[i];
    return text;
}

long ElapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - since)
                                 .count());
}

// Whether the module of the component reaches the factory as its holders
// would: "yes", "no", or "unknown" when the module has no probe.
const char* ModuleReachesFactory(pexil::IComponent* component) {
    // The object's first word points into its module's image (its vtable).
    const PexilModuleHandle module =
        pexil::platform::ModuleFromAddress(*reinterpret_cast<void**>(component));
    auto create = reinterpret_cast<pexil::CreateComponentFunction>(
        pexil::platform::GetProcAddress(module, "CreateComponent"));
    // Asked directly: the registry path the factory gave the module stays.
    pexil::IComponent* probe =
        create != nullptr ? create(pexil::testing::kModuleProbe, pexil::kCreatorDirect) : nullptr;
    if (probe == nullptr || probe->GetComponentID() != pexil::testing::kModuleProbe) {
        return "unknown";
    }
    const int reaches = static_cast<pexil::testing::IModuleProbe*>(probe)->ReachesFactory();
    probe->Release(1);
    return reaches != 0 ? "yes" : "no";
}

// ptr ID [REGISTRY]
void CreateAsAHostDoes(const std::vector<std::string>& words) {
    const uint32_t id = std::stoul(words[1]);
    pexil::ReleasingFactoryHolder holder;
    auto* factory = static_cast<pexil::IComponentFactory*>(holder.component);
    pexil::ComponentPtr<pexil::IComponent> component = pexil::Create<pexil::IComponent>(
        factory, id, words.size() > 2 ? words[2].c_str() : nullptr);
    if (!component) {
        std::printf("ptr %u: none\n", id);
        return;
    }
    std::printf("ptr %u: component %u, module reaches the factory: %s\n", id,
                component->GetComponentID(), ModuleReachesFactory(component.get()));
}

bool RunFactoryCommand(const std::vector<std::string>& words) {
    const std::string& command = words[0];
    auto arg = [&](size_t i) { return i < words.size() ? words[i] : std::string(); };
    pexil::ReleasingFactoryHolder holder;
    pexil::IComponentFactory* factory = Factory(holder);
    if (factory == nullptr) return true;
    if (command == "fcreate") {
        pexil::IComponent* component =
            factory->CreateComponentByID(std::stoul(arg(1)), RegistryArgument(words, 2));
        g_components.push_back(component);
        std::printf("#%zu = %s\n", g_components.size(),
                    component != nullptr ? "component" : "null");
    } else if (command == "logsettings") {
        uint32_t debug = std::stoul(arg(3), nullptr, 16);
        uint32_t log = std::stoul(arg(4), nullptr, 16);
        pexil::LogSink* sink = nullptr;
        factory->GetLogSettings(RegistryArgument(words, 1), std::stoul(arg(2)), &debug, &log,
                                &sink);
        if (sink != nullptr) g_lastSink = sink;
        std::printf("logsettings: debug 0x%02x log 0x%02x sink %s file %s\n", debug, log,
                    sink != nullptr ? "yes" : "no",
                    sink != nullptr && sink->file != pexil::kNoLogFile ? "open" : "none");
    } else if (command == "logwrite") {
        const std::string text = RestOf(words, 1) + "\n";
        const int ok =
            g_lastSink != nullptr && PexilLogWrite(g_lastSink->lock, g_lastSink->file, text.c_str(),
                                                   static_cast<unsigned int>(text.size()));
        std::printf("logwrite: %s\n", ok ? "ok" : "failed");
    } else if (command == "setroot") {
        factory->SetRootPath(PathArgument(words, 1));
    } else if (command == "getroot") {
        char root[pexil::kMaxPath] = "";
        factory->GetRootPath(root);
        std::printf("root: %s\n", Shown(root).c_str());
    } else if (command == "globals") {
        // Taken before: the unload timer starts inside the release, and a
        // loaded machine may return from it long after.
        g_lastRelease = std::chrono::steady_clock::now();
        factory->ReleaseGlobalComponents();
        std::printf("globals released\n");
    } else if (command == "schedule") {
        const uint32_t timer = factory->ScheduleDllUnload(Module(arg(1)));
        std::printf("schedule %s: %s\n", arg(1).c_str(),
                    timer != 0 ? "timer started" : "no new timer");
    } else if (command == "schedule-thread") {
        uint32_t timer = 0;
        std::thread([&] { timer = factory->ScheduleDllUnload(Module(arg(1))); }).join();
        std::printf("schedule %s on a thread that ended: %s\n", arg(1).c_str(),
                    timer != 0 ? "timer started" : "no new timer");
    } else if (command == "fshutdown") {
        factory->Shutdown();
        std::printf("factory shut down\n");
    } else if (command == "unloadidle") {
        std::printf("unloadidle %s: %d\n", arg(1).c_str(),
                    factory->UnloadDllIfIdle(Module(arg(1))));
    } else {
        return false;
    }
    return true;
}

bool Run(const std::vector<std::string>& words) {
    const std::string& command = words[0];
    auto arg = [&](size_t i) { return i < words.size() ? words[i] : std::string(); };
    if (command == "load") {
        PexilModuleHandle handle = pexil::platform::LoadLibrary(ModulePath(arg(1)).c_str());
        if (handle != nullptr) g_modules[arg(1)] = handle;
        std::printf("load %s: %s\n", arg(1).c_str(), handle != nullptr ? "ok" : "failed");
    } else if (command == "free") {
        pexil::platform::FreeLibrary(Module(arg(1)));
        std::printf("free %s\n", arg(1).c_str());
    } else if (command == "loaded") {
        const bool loaded = pexil::platform::IsModuleLoaded(ModulePath(arg(1)).c_str());
        std::printf("%s loaded: %s\n", arg(1).c_str(), loaded ? "yes" : "no");
    } else if (command == "create") {
        auto create = Export<pexil::CreateComponentFunction>(arg(1), "CreateComponent");
        if (create == nullptr) return false;
        IComponent* component = create(std::stoul(arg(2)), std::stoul(arg(3)));
        g_components.push_back(component);
        std::printf("#%zu = %s\n", g_components.size(),
                    component != nullptr ? "component" : "null");
    } else if (command == "release") {
        IComponent* component = Component(arg(1));
        if (component == nullptr) return false;
        g_lastRelease = std::chrono::steady_clock::now();  // before: the timer starts inside
        component->Release(std::stoi(arg(2)));
        std::printf("release %s %s\n", arg(1).c_str(), arg(2).c_str());
    } else if (command == "flag") {
        IComponent* component = Component(arg(1));
        if (component == nullptr) return false;
        component->SetFreeMapFlag(std::stoi(arg(2)));
    } else if (command == "freemap") {
        auto freeMap = Export<pexil::PexilDllFreeMapFunction>(arg(1), "PexilDllFreeMap");
        if (freeMap == nullptr) return false;
        freeMap();
        std::printf("freemap %s\n", arg(1).c_str());
    } else if (command == "canunload") {
        auto canUnload =
            Export<pexil::PexilDllCanUnloadNowFunction>(arg(1), "PexilDllCanUnloadNow");
        if (canUnload == nullptr) return false;
        std::printf("canunload %s: %d\n", arg(1).c_str(), canUnload());
    } else if (command == "setregistry") {
        pexil::module::SetRegistryPath(PathArgument(words, 1));
    } else if (command == "sethandle") {
        pexil::module::SetFactoryHandle(arg(1) == "none" ? nullptr : Module(arg(1)));
    } else if (command == "locate" || command == "locate-loaded") {
        const auto variant = command == "locate" ? pexil::locator::Variant::FactoryHandle
                                                 : pexil::locator::Variant::LoadedModule;
        pexil::IComponent* factory = pexil::locator::LocateFactory(variant, PathArgument(words, 1));
        if (factory == nullptr) {
            std::printf("%s: null\n", command.c_str());
        } else {
            g_components.push_back(factory);
            std::printf("%s: component %u as #%zu\n", command.c_str(), factory->GetComponentID(),
                        g_components.size());
        }
    } else if (command == "resolve" || command == "dllpath") {
        char ini[pexil::kMaxPath] = "";
        const int resolved = pexil::locator::ResolveIniFile(
            pexil::locator::Variant::FactoryHandle, PathArgument(words, 1), ini, pexil::kMaxPath);
        if (command == "resolve") {
            std::printf("resolve: %s\n", resolved ? Shown(ini).c_str() : "(failed)");
        } else {
            char dll[pexil::kMaxPath] = "";
            pexil::locator::GetFactoryDllPath(ini, dll, pexil::kMaxPath);
            std::printf("dllpath: %s\n", Shown(dll).c_str());
        }
    } else if (command == "holder") {
        if (arg(1) == "keeping") {
            pexil::KeepingFactoryHolder holder;
            ReportHolder("keeping", holder);
        } else if (arg(1) == "releasing") {
            pexil::ReleasingFactoryHolder holder;
            ReportHolder("releasing", holder);
        } else if (arg(1) == "rootpath") {
            pexil::RootPathHolder holder;
            ReportHolder("rootpath", holder);
        } else {
            return false;
        }
    } else if (command == "rootpath") {
        std::printf("rootpath: %s\n", Shown(pexil::QueryRootPath()).c_str());
    } else if (command == "fcreate" || command == "logsettings" || command == "logwrite" ||
               command == "setroot" || command == "getroot" || command == "globals" ||
               command == "schedule" || command == "schedule-thread" || command == "unloadidle" ||
               command == "fshutdown") {
        return RunFactoryCommand(words);
    } else if (command == "ptr" && words.size() >= 2) {
        CreateAsAHostDoes(words);
    } else if (command == "shutdown") {
        pexil::KeepingFactoryHolder holder;
        if (holder.component != nullptr) holder.component->Release(1);
        std::printf("shutdown\n");
    } else if (command == "pump") {
        const auto start = std::chrono::steady_clock::now();
        const long total = std::stol(arg(1));
        int events = 0;
        for (long left = total; left > 0; left = total - ElapsedMs(start)) {
            events += PexilPumpMessages(static_cast<unsigned int>(left));
        }
        std::printf("pump %s: %d timer events\n", arg(1).c_str(), events);
    } else if (command == "pumpuntil") {
        const auto start = std::chrono::steady_clock::now();
        const long total = std::stol(arg(2));
        const std::string path = ModulePath(arg(1));
        while (pexil::platform::IsModuleLoaded(path.c_str()) && ElapsedMs(start) < total) {
            PexilPumpMessages(10);
        }
        const bool unloaded = !pexil::platform::IsModuleLoaded(path.c_str());
        std::printf("%s unloaded: %s\n", arg(1).c_str(), unloaded ? "yes" : "no");
        if (unloaded) {
            std::printf("not before 100 ms after the last release: %s\n",
                        ElapsedMs(g_lastRelease) >= 100 ? "yes" : "no");
        }
    } else if (command == "sleep") {
        pexil::platform::Sleep(std::stoul(arg(1)));
    } else if (command == "write") {
        std::string text = RestOf(words, 2);
        for (size_t at = text.find("\\n"); at != std::string::npos; at = text.find("\\n", at)) {
            text.replace(at, 2, "\n");
        }
        std::ofstream(ModulePath(arg(1)), std::ios::binary) << text;
    } else if (command == "probe-regpath") {
        auto* probe = static_cast<pexil::testing::IModuleProbe*>(Component(arg(1)));
        if (probe == nullptr) return false;
        char path[pexil::kMaxPath] = "";
        probe->CopyRegistryPath(path, pexil::kMaxPath);
        std::printf("regpath: \"%s\"\n", Shown(path).c_str());
    } else if (command == "probe-answer") {
        using SetAnswer = void(PEXIL_CDECL*)(int);
        auto set = Export<SetAnswer>(arg(1), "UnloadProbeSetAnswer");
        if (set == nullptr) return false;
        set(std::stoi(arg(2)));
    } else {
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    pexil::platform::testing::ForwardDebugOutputToStandardError();
    pexil::platform::UseBinaryStandardOutput();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    for (int i = 1; i < argc; ++i) {
        std::istringstream stream(argv[i]);
        std::vector<std::string> words;
        for (std::string word; stream >> word;)
            words.push_back(word);
        if (words.empty()) continue;
        if (!Run(words)) {
            std::printf("bad command: %s\n", argv[i]);
            return 2;
        }
    }
    return 0;
}
