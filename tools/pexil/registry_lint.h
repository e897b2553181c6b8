// The lint of a component registry file: what the framework's own parser did
// with each line (watched through a RegistryObserver, so the lint cannot
// drift from the parser), and what will fail at run time.
#ifndef PEXIL_TOOLS_PEXIL_REGISTRY_LINT_H
#define PEXIL_TOOLS_PEXIL_REGISTRY_LINT_H

#include "registry/component_registry.h"
#include "registry/registry_observer.h"

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

class JsonWriter;

// How many of the findings count (notes do not).
size_t CountingFindings(const std::vector<LintFinding>& findings);
// "lint: 2 findings, 1 note" (or "lint: no findings") and a line per finding.
std::string LintText(const std::vector<LintFinding>& findings);
// The findings as a JSON array.
void WriteLint(JsonWriter& json, const std::vector<LintFinding>& findings);

class RegistryLint : public RegistryObserver {
public:
    // Reads the file into the registry through the parser, watching it.
    void Read(ComponentRegistry& registry, const char* registryPath, const char* file);

    // Adds what fails at run time: an entry without a DLL or whose DLL's path
    // does not exist or is too long, the same for the default DLL, and a
    // registry whose components cannot reach the factory (no [361]).
    void CheckRunTime(const ComponentRegistry& registry);
    // Adds what the factory search meets: a [Redirect] chain that ends
    // nowhere, loops or ends at a file without [361]; no [361] section here.
    void CheckFactoryReach(const std::string& file, const ComponentRegistry& registry);
    // Adds a [361] that the parser binds otherwise than the profile reader
    // reads it (emptied or rebound by a later line): the factory DLL is found,
    // and every holder's request for 361 through this registry gets nothing.
    void CheckFactoryEntry(const std::string& file, const ComponentRegistry& registry);
    // Loads each module the entries name (running its code) and adds those
    // that do not load or export no CreateComponent, and each entry whose ID
    // its module does not register.
    void CheckModules(const ComponentRegistry& registry);
    // A finding of the caller's own (the redirect chain's).
    void Add(int line, const char* kind, const std::string& message, bool counts = true);

    // In line order.
    std::vector<LintFinding> Findings() const;
    // The line of the header that gave the component its entry.
    int HeaderLineOf(uint32_t componentID) const;
    // The line of the [Redirect] section's Path, 0 when there is none.
    int RedirectLine() const { return redirectLine_; }

    void OnText(const char* text, size_t size) override;
    void OnLine(const char* text, size_t offset, size_t length) override;
    void OnOtherLine(const char* text) override;
    void OnHeader(const char* line, Header outcome, uint32_t componentID,
                  const char* afterNumber) override;
    void OnIgnoredKey(const char* key, Ignored why, size_t valueLength) override;
    void OnKey(const char* key, const char* value, Keyword keyword, Section section,
               bool pathCut) override;
    void OnStore(uint32_t componentID, bool replaced) override;

private:
    std::string BomHint(const char* text) const;

    std::string text_;  // the file as read
    size_t counted_ = 0;
    int line_ = 0;
    std::string lineText_;  // the current line as written (case kept)
    bool comment_ = false;  // the current line begins with ';' or '#'
    bool afterRedirect_ = false;
    uint32_t currentID_ = 0;
    std::map<uint32_t, int> sectionStart_;  // the header that began each ID's latest section
    int redirectLine_ = 0;
    std::map<uint32_t, int> headerLines_;
    std::vector<std::pair<int, std::string>> beforeAnySection_;
    std::vector<LintFinding> findings_;
};

}  // namespace pexil::tool

#endif
