// A second reading of a component registry file with the parser's rules
// (src/registry/registry_parser.cpp), line by line, recording what each line
// did and why a line had no effect. The parser reports nothing, so this is
// how `pexil inspect --lint` learns it; `pexil inspect` compares the registry
// this reading gives with the parser's own result and refuses to answer when
// they differ, so that the two cannot drift apart unnoticed.
#ifndef PEXIL_TOOLS_PEXIL_REGISTRY_READING_H
#define PEXIL_TOOLS_PEXIL_REGISTRY_READING_H

#include "registry/component_registry.h"

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

namespace pexil::tool {

struct LintFinding {
    int line;             // as an editor counts lines: every CR LF, LF or CR ends one
    std::string kind;     // a short stable name, e.g. "unknown-key"
    std::string message;  // what happened, for people
    bool counts;          // false for notes that need no change
};

struct ReadEntry {
    int headerLine;  // the header of the section that gave the entry
    std::string dllName;
    int32_t besideRegistry = 0;
    int32_t hasLogSettings = 0;
    uint32_t debugOutputMask = 0;
    uint32_t logFileMask = 0;
};

struct RegistryReading {
    uint32_t defaultDebugOutputMask = 0;
    uint32_t defaultLogFileMask = 0;
    std::string defaultDllDirectory;
    std::string defaultDllPath;
    bool defaultDllPathCut = false;  // never loaded
    std::map<uint32_t, ReadEntry> entries;
    std::vector<LintFinding> findings;  // in line order
};

// Reads the file's bytes as the parser reads them. The registry file path and
// the initial default DLL directory are the ones LoadFile starts from.
RegistryReading ReadRegistry(const std::string& bytes, const std::string& registryFilePath,
                             const std::string& initialDirectory);

// "" when the reading gives the registry the parser gave, else the first difference.
std::string CompareWithParser(const RegistryReading& reading, const ComponentRegistry& registry);

// The full path the binding loads for an entry (ComponentRegistry::FullPathOf),
// and whether it is too long to be loaded at all.
std::string EntryFullPath(const ComponentRegistry& registry, const RegistryEntry& entry,
                          bool* tooLong);

}  // namespace pexil::tool

#endif
