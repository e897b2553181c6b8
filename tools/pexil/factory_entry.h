// The factory's own lookup of component 361, as every holder makes it after
// the locator has found the factory DLL: CreateComponentByID(361, its registry
// path) through the registry as the factory's parser reads it. The profile
// reader that the locator uses may see a [361] that the parser has emptied or
// bound elsewhere (a later "; [361]" line, a reopened section, a DLL= line
// under [DefaultValue]): then the factory DLL loads, and every holder comes
// back empty. Shared by pexil why and pexil locate.
#ifndef PEXIL_TOOLS_PEXIL_FACTORY_ENTRY_H
#define PEXIL_TOOLS_PEXIL_FACTORY_ENTRY_H

#include "registry/component_registry.h"

#include <pexil/module.h>

#include <string>

namespace pexil::tool {

enum class StepState { Ok, Failed, Skipped };

// Whose holders make the request: the host's (through the default registry:
// without 361 the host gets no factory at all), or the module's (through the
// registry it was created from: it gets no log settings, is never unloaded).
enum class Asker { Host, Module };

struct FactoryEntry {
    StepState state;
    std::string detail;  // the pass detail, or what fails and what to change
};

// What the factory DLL gives when the factory search asks it for component
// 361 (CreateComponent(361, 0)): "" when it gives the factory; else what it
// gives instead and what to change. A DLL that loads and exports
// CreateComponent may still be no factory.
std::string FactoryAnswerProblem(PexilModuleHandle module, const std::string& dll);

// The answer the factory gives for 361 through the registry read from file.
// factoryModule: the factory DLL as the locator loaded it, factoryDll its
// path; null with --no-load, when nothing is loaded (the DLL 361 names is then
// compared with the factory DLL's file only).
FactoryEntry CheckFactoryEntry(const PathBase& base, const ComponentRegistry& registry,
                               const std::string& file, Asker asker,
                               PexilModuleHandle factoryModule, const std::string& factoryDll);

}  // namespace pexil::tool

#endif
