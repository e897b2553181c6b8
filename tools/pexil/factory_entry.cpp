#include "factory_entry.h"

#include "platform/platform.h"
#include "registry/entry_lines.h"
#include "tool.h"

namespace pexil::tool {
namespace {

const char* const kFix =
    "; bind [361] to the factory (DLL=Brelnor.dll) in one section that no later line starts "
    "anew or binds elsewhere";

std::string WithoutIt(Asker asker) {
    return asker == Asker::Host
               ? "every holder the host makes asks the factory for component 361 through this "
                 "registry and gets none: the host gets no factory at all"
               : "the module's holders ask this registry for the factory and get nothing, so "
                 "its components get no log settings and it is never unloaded";
}

// What the module gives when asked for component 361 by that creator: the
// ID of the component it made (released again at once), 0 for nothing.
uint32_t AnswerFor361(PexilModuleHandle module, uint32_t creatorID) {
    auto create = reinterpret_cast<CreateComponentFunction>(
        platform::GetProcAddress(module, "CreateComponent"));
    IComponent* made = create != nullptr ? create(kFactoryComponentID, creatorID) : nullptr;
    if (made == nullptr) return 0;
    const uint32_t id = made->GetComponentID();
    made->Release(1);
    return id;
}

// The module at the path gives component 361 when asked as the factory asks.
bool GivesTheFactory(PexilModuleHandle module) {
    return AnswerFor361(module, kCreatorFactory) == kFactoryComponentID;
}

}  // namespace

std::string FactoryAnswerProblem(PexilModuleHandle module, const std::string& dll) {
    const uint32_t made = AnswerFor361(module, kCreatorDirect);
    if (made == kFactoryComponentID) return "";
    const std::string fix = ": [361] must name the factory, Brelnor.dll";
    if (made == 0) {
        return dll +
               " gives no component 361 (CreateComponent(361) returns null), so the host "
               "gets no factory" +
               fix;
    }
    return dll + " gives component " + std::to_string(made) +
           " when asked for 361, not the factory, and the host would call it as the factory" + fix;
}

FactoryEntry CheckFactoryEntry(const PathBase& base, const ComponentRegistry& registry,
                               const std::string& file, Asker asker,
                               PexilModuleHandle factoryModule, const std::string& factoryDll) {
    if (!registry.fileRead()) {
        return {StepState::Failed, "the registry file " + file + NotAFile(file) + ": " +
                                       WithoutIt(asker) +
                                       "; give it a [361] section with DLL=Brelnor.dll"};
    }
    const RegistryEntry* found = registry.FindEntry(kFactoryComponentID);
    if (found == nullptr) {
        // The registry's default DLL is asked for 361 instead.
        const std::string defaultDll = registry.defaultDllPath();
        if (!defaultDll.empty() && !registry.defaultDllPathCut() && factoryModule != nullptr &&
            IsFile(defaultDll)) {
            const PexilModuleHandle module = platform::LoadLibrary(defaultDll.c_str());
            const bool same = module != nullptr && module == factoryModule;
            if (module != nullptr) platform::FreeLibrary(module);
            if (same) {
                return {StepState::Ok, file + " has no [361] section; its DefaultDll " +
                                           defaultDll + " is the factory DLL, which gives 361"};
            }
        }
        return {StepState::Failed, file + " has no [361] section: " + WithoutIt(asker) +
                                       "; add [361] with DLL=Brelnor.dll"};
    }
    const RegistryEntry& entry = *found;
    // What binds 361 so, and what to change; the file is read again for the
    // lines that did it only when the entry fails.
    const std::string binds = file + " binds component 361 to ";
    auto failed = [&](const std::string& what) {
        EntryLines lines(kFactoryComponentID);
        lines.Read(base, file.c_str());
        return FactoryEntry{StepState::Failed, binds + what + ": " + lines.Describe(file) +
                                                   "; so " + WithoutIt(asker) + kFix};
    };
    if (entry.dllName[0] == '\0') return failed("no DLL");
    char path[kMaxPath] = "";
    int32_t cut = 0;
    registry.FullPathOf(entry, path, &cut);
    if (cut != 0) {
        return failed(std::string(entry.dllName) +
                      ", whose full path does not fit in 259 characters");
    }
    const std::string missing = NotAFile(path);
    if (!missing.empty()) {
        return failed(std::string(path) + ", which" + missing);
    }
    if (factoryModule == nullptr) {
        if (SameFile(path, factoryDll)) {
            return {StepState::Ok, file + " names the factory in [361]"};
        }
        return {StepState::Skipped,
                binds + path + ", not to the factory DLL " + factoryDll +
                    ": whether it gives component 361 only loading it tells (--no-load)"};
    }
    const PexilModuleHandle module = platform::LoadLibrary(path);
    if (module == nullptr) {
        return failed(std::string(path) + ", which does not load: " + LoaderReason());
    }
    if (module == factoryModule) {
        platform::FreeLibrary(module);
        return {StepState::Ok, file + " names the factory in [361]"};
    }
    // Another module: a copy of the factory serves as well.
    const bool factory = GivesTheFactory(module);
    platform::FreeLibrary(module);
    if (factory) {
        return {StepState::Ok, file + " names in [361] " + path + ", a factory module other than " +
                                   factoryDll + ": it gives component 361"};
    }
    return failed(std::string(path) + ", which gives no component 361 (the factory DLL is " +
                  factoryDll + ")");
}

}  // namespace pexil::tool
