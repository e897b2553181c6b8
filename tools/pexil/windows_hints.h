// What the commands add for Windows mistakes that the framework's rules leave
// silent: a UTF-16 registry file, and a DLL looked for beside a registry whose
// path mixes separators. Each returns "" when the case does not apply.
#ifndef PEXIL_TOOLS_PEXIL_WINDOWS_HINTS_H
#define PEXIL_TOOLS_PEXIL_WINDOWS_HINTS_H

#include "registry/component_registry.h"

#include <cstddef>
#include <string>

namespace pexil::tool {

// The file's text, or the file (its first bytes read), is UTF-16: what that
// does to the registry and what to do.
std::string Utf16Problem(const char* text, size_t size);
std::string Utf16ProblemOfFile(const std::string& file);

// Where an entry's DLL is looked for when the registry's directory is cut at a
// backslash that a '/' follows, and why; for entries whose DLL lies beside the
// registry file.
std::string BesideRegistryNote(const ComponentRegistry& registry, const RegistryEntry& entry);

}  // namespace pexil::tool

#endif
