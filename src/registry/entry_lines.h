// Which lines of a registry file made one component's entry what the parser
// keeps: the headers that started its sections and the DLL= line it carries.
// Learnt from the parser itself (a RegistryObserver), for the explaining
// trace and the tools, which name the line that rebinds or empties an entry
// (a ';' line holding "[361]" starts a section: there is no comment syntax).
#ifndef PEXIL_REGISTRY_ENTRY_LINES_H
#define PEXIL_REGISTRY_ENTRY_LINES_H

#include "registry/component_registry.h"
#include "registry/registry_observer.h"

#include <stdint.h>

#include <string>

namespace pexil {

class EntryLines : public RegistryObserver {
public:
    // A line as an editor counts lines (CR LF, LF and CR each end one), with
    // its text as written; number 0: none.
    struct Line {
        int number = 0;
        std::string text;
    };

    explicit EntryLines(uint32_t componentID) : componentID_(componentID) {}

    // Reads the file through the parser into a registry of its own.
    // Throws std::bad_alloc.
    void Read(const PathBase& base, const char* registryFilePath);

    const Line& keptHeader() const { return keptHeader_; }  // the section kept
    const Line& dll() const { return dll_; }                // the kept entry's DLL=

    // What made the entry so, in words, e.g. 'line 7 of F ("; [361] stays
    // first") starts its section anew, ...'; "" when the ID has no section.
    std::string Describe(const std::string& file) const;

    void OnText(const char* text, size_t size) override;
    void OnLine(const char* text, size_t offset, size_t length) override;
    void OnOtherLine(const char*) override {}
    void OnHeader(const char* line, Header outcome, uint32_t componentID,
                  const char* afterNumber) override;
    void OnIgnoredKey(const char*, Ignored, size_t) override {}
    void OnKey(const char* key, const char* value, Keyword keyword, Section section,
               bool pathCut) override;
    void OnStore(uint32_t componentID, bool replaced) override;

private:
    uint32_t componentID_;
    std::string text_;  // the file as read
    size_t counted_ = 0;
    Line current_;            // the line being parsed, as written
    uint32_t currentID_ = 0;  // the section the parser is in
    Line lastOtherHeader_;    // [LogDefault] or [DefaultValue] since the last component header
    Line sectionStart_;       // the header that began the ID's current section
    Line pendingDll_;         // the DLL= line of the entry being read
    Line pendingDllUnder_;
    std::string pendingDllName_;  // its value, as the parser keeps it
    Line firstHeader_;            // the ID's first section
    Line keptHeader_;
    Line dll_;
    // The [LogDefault] or [DefaultValue] header the DLL= line stands under (it
    // still belongs to the component section above); none when it stands in
    // that section.
    Line dllUnder_;
    std::string dllName_;
};

}  // namespace pexil

#endif
