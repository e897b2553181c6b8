#include "registry_lint.h"

#include "json_writer.h"
#include "output_text.h"
#include "tool.h"
#include "windows_hints.h"

#include "component/factory_locator.h"
#include "platform/platform.h"
#include "registry/entry_lines.h"
#include "registry/registry_rules.h"
#include "support/diagnostic_text.h"
#include "support/redirect_chain.h"
#include "support/text.h"

#include <pexil/module.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace pexil::tool {
namespace {

const char kByteOrderMark[] = "\xef\xbb\xbf";

std::string TrimmedOfBlanks(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlankChar(text[begin]))
        ++begin;
    while (end > begin && IsBlankChar(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool NamesFactory(const std::string& file) {
    ComponentRegistry registry(CurrentDirectoryBase());
    registry.LoadFile("", file.c_str());
    return registry.FindEntry(kFactoryComponentID) != nullptr;
}

bool IsPexilIni(const std::string& file) {
    const int separator = LastOfEitherSeparator(file.c_str());
    return registry::MatchesKeyword(file.c_str() + separator + 1, "pexil.ini");
}

std::string Plural(size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

size_t CountingFindings(const std::vector<LintFinding>& findings) {
    size_t counting = 0;
    for (const LintFinding& finding : findings) {
        if (finding.counts) ++counting;
    }
    return counting;
}

std::string LintText(const std::vector<LintFinding>& findings) {
    if (findings.empty()) return "lint: no findings\n";
    const size_t counting = CountingFindings(findings);
    std::string out = "lint: " + Plural(counting, "finding", "findings") + ", " +
                      Plural(findings.size() - counting, "note", "notes") + "\n";
    for (const LintFinding& finding : findings) {
        out += (finding.line > 0 ? "  line " + std::to_string(finding.line) : "  file") + ": " +
               (finding.counts ? "" : "note: ") + Shown(finding.message) + "\n";
    }
    return out;
}

void WriteLint(JsonWriter& json, const std::vector<LintFinding>& findings) {
    json.BeginArray();
    for (const LintFinding& finding : findings) {
        json.BeginObject().Key("line");
        if (finding.line > 0) {
            json.Number(finding.line);
        } else {
            json.Null();  // the file as a whole
        }
        json.Key("kind").String(finding.kind).Key("message").String(finding.message);
        json.Key("note").Bool(!finding.counts).EndObject();
    }
    json.EndArray();
}

void RegistryLint::CheckFactoryReach(const std::string& file, const ComponentRegistry& registry) {
    RegistryLint& lint = *this;
    const int line = RedirectLine();
    ChainHops chain;
    char last[kMaxPath] = "";
    {
        DebugOutputCollector quiet;  // the framework's own loop message
        locator::FollowRedirect(locator::Variant::FactoryHandle, file.c_str(), last, kMaxPath,
                                &chain);
    }
    using Hop = RedirectObserver::Hop;
    bool reached = true;
    for (const ChainHops::Hop& step : chain.hops) {
        if (step.hop == Hop::Loop) {
            lint.Add(line, "redirect-loop",
                     step.file + " redirects to " + step.value +
                         ", which the chain has already passed: the factory search fails");
            reached = false;
        } else if (step.hop == Hop::TooLong) {
            lint.Add(line, "redirect-too-long",
                     step.file + " redirects to " + step.value +
                         ", whose full path does not fit in 259 characters: the factory search "
                         "fails");
            reached = false;
        } else if ((step.hop == Hop::Absolute || step.hop == Hop::Relative) &&
                   !IsFile(step.target)) {
            // A FIFO, a device or a directory there reads as missing.
            lint.Add(line, "redirect-missing",
                     step.file + " redirects to " + step.target + ", which" +
                         NotAFile(step.target) + ": the factory search finds no factory DLL");
            reached = false;
        }
    }
    const bool redirected =
        chain.hops.size() > 1 || (!chain.hops.empty() && chain.hops.front().hop != Hop::End);
    if (redirected) {
        if (reached && !NamesFactory(last)) {
            lint.Add(line, "chain-no-factory",
                     std::string("the last file of the [Redirect] chain, ") + last +
                         ", has no [361] section: the factory search finds no factory DLL; add "
                         "[361] with DLL=Brelnor.dll there");
        }
        return;
    }
    if (registry.FindEntry(kFactoryComponentID) != nullptr) return;
    if (!registry.entries().empty()) {
        lint.Add(0, "no-factory-entry",
                 "components have sections here but there is no [361] section: the modules "
                 "created from this registry ask it for the factory and get nothing, so they "
                 "get no log settings and are never unloaded; add [361] with DLL=Brelnor.dll");
    } else if (IsPexilIni(file)) {
        lint.Add(0, "no-factory-entry",
                 "Pexil.ini has no [361] section: the factory search finds no factory DLL; add "
                 "[361] with DLL=Brelnor.dll");
    }
}

void RegistryLint::Read(ComponentRegistry& registry, const char* registryPath, const char* file) {
    registry.LoadFile(registryPath, file, *this);
    if (currentID_ == 0) {
        for (const auto& early : beforeAnySection_) {
            Add(early.first, "outside-section",
                early.second + " before any component section, and none follows: ignored");
        }
    }
}

void RegistryLint::Add(int line, const char* kind, const std::string& message, bool counts) {
    findings_.push_back(LintFinding{line, kind, message, counts});
}

std::vector<LintFinding> RegistryLint::Findings() const {
    std::vector<LintFinding> sorted = findings_;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const LintFinding& a, const LintFinding& b) { return a.line < b.line; });
    return sorted;
}

int RegistryLint::HeaderLineOf(uint32_t componentID) const {
    auto it = headerLines_.find(componentID);
    return it != headerLines_.end() ? it->second : 0;
}

void RegistryLint::OnText(const char* text, size_t size) {
    text_.assign(text, size);
    const std::string utf16 = Utf16Problem(text, size);
    if (!utf16.empty()) Add(1, "utf-16", utf16);
}

void RegistryLint::OnLine(const char* text, size_t offset, size_t length) {
    // Lines as an editor counts them: CR LF, LF and CR each end one.
    if (line_ == 0) line_ = 1;
    line_ += registry::CountLineEnds(text_.data(), text_.size(), counted_, offset);
    counted_ = offset;
    lineText_.assign(text, ::strnlen(text, length));
    // A line meant as a comment is worth a finding only when it changes the
    // registry.
    comment_ = registry::LooksLikeComment(lineText_.c_str());
    if (std::memchr(text_.data() + offset, '\0', length) != nullptr) {
        Add(line_, "zero-byte", "a zero byte ends the line's text: the rest is ignored");
    }
}

std::string RegistryLint::BomHint(const char* text) const {
    if (line_ == 1 && std::strncmp(text, kByteOrderMark, 3) == 0) {
        return " (the file's byte-order mark is part of this line)";
    }
    return "";
}

void RegistryLint::OnOtherLine(const char* text) {
    if (comment_) {
        Add(line_, "comment", "a comment (no '=' and no '['): ignored", false);
    } else {
        Add(line_, "not-key-or-header",
            "neither a key line (no '=') nor a header (no '['): ignored" + BomHint(text));
    }
}

void RegistryLint::OnHeader(const char* line, Header outcome, uint32_t componentID,
                            const char* afterNumber) {
    afterRedirect_ = false;
    auto commentHeader = [&](const std::string& section) {
        Add(line_, "comment-header",
            "this comment is a header (there is no comment syntax): it starts the " + section);
    };
    const char* reason = nullptr;
    switch (outcome) {
        case Header::LogDefault:
            if (comment_) commentHeader("[LogDefault] section");
            return;
        case Header::DefaultValue:
            if (comment_) commentHeader("[DefaultValue] section");
            return;
        case Header::Component: {
            // A header of the current ID continues its section.
            if (componentID != currentID_) sectionStart_[componentID] = line_;
            currentID_ = componentID;
            if (comment_) commentHeader("section of component " + std::to_string(componentID));
            // The text after the number, as written (the parser lower-cased the line).
            const size_t at = static_cast<size_t>(afterNumber - line);
            const std::string after = TrimmedOfBlanks(
                at <= lineText_.size() ? lineText_.substr(at, std::strlen(afterNumber))
                                       : std::string(afterNumber));
            if (!after.empty()) {
                Add(line_, "header-trailing-text",
                    "header \"" + TrimmedOfBlanks(lineText_) + "\" is read as component " +
                        std::to_string(componentID) + ": \"" + after +
                        "\" after the number is ignored");
            }
            return;
        }
        case Header::NoClose:
            reason = "no ']'";
            break;
        case Header::CloseFirst:
            reason = "its ']' comes before its '['";
            break;
        case Header::Empty:
            reason = "nothing between '[' and ']'";
            break;
        case Header::OutOfRange:
            reason = "a number outside the signed 32-bit range";
            break;
        case Header::Zero:
            reason = "not a non-zero number";
            break;
    }
    if (comment_) {
        Add(line_, "comment",
            std::string("a comment with '[' (") + reason +
                "): ignored, the section before continues",
            false);
        return;
    }
    const char* open = std::strchr(line, '[');
    const char* close = open != nullptr ? std::strchr(open, '\0') : nullptr;
    const std::string name =
        open != nullptr ? TrimmedOfBlanks(std::string(open + 1, close)) : std::string();
    if (outcome == Header::Zero && name == "redirect") {
        afterRedirect_ = true;
        Add(line_, "redirect",
            "[Redirect] is read by the factory search, not by the registry parser: the "
            "section before continues",
            false);
        return;
    }
    Add(line_, "unknown-header",
        "header \"" + lineText_ + "\" starts no section (" + reason +
            "): the section before continues");
}

void RegistryLint::OnIgnoredKey(const char*, Ignored why, size_t valueLength) {
    if (comment_) {
        // Its key begins with ';' or '#' and so matches no keyword.
        Add(line_, "comment", "a comment with '=' (its key matches no keyword): ignored", false);
        return;
    }
    if (why == Ignored::ValueTooLong) {
        Add(line_, "value-too-long",
            "value of " + std::to_string(valueLength) + " characters (" +
                std::to_string(kMaxPath - 1) + " at most): ignored");
        return;
    }
    Add(line_, "empty-key", "empty key: ignored");
}

void RegistryLint::OnKey(const char* key, const char*, Keyword keyword, Section section,
                         bool pathCut) {
    if (comment_) {
        Add(line_, "comment", "a comment with '=' (its key matches no keyword): ignored", false);
        return;
    }
    switch (keyword) {
        case Keyword::OutputDebugString:
        case Keyword::WriteToLogFile:
            if (section == Section::None || section == Section::DefaultValue) {
                Add(line_, "misplaced-mask",
                    std::string(key) +
                        (section == Section::None ? " before any section"
                                                  : " under [DefaultValue]") +
                        " (masks belong to [LogDefault] and component sections): ignored");
            }
            return;
        case Keyword::DllPath:
            if (pathCut) {
                Add(line_, "path-too-long",
                    "the DLL directory would be longer than " + std::to_string(kMaxPath - 1) +
                        " characters: it is cut");
            }
            return;
        case Keyword::Dll:
        case Keyword::NotUseDefaultDllPath:
            if (currentID_ == 0) beforeAnySection_.emplace_back(line_, key);
            return;
        case Keyword::DefaultDll:
            if (pathCut) {
                Add(line_, "path-too-long",
                    "the default DLL path would be longer than " + std::to_string(kMaxPath - 1) +
                        " characters: the default DLL is never loaded");
            }
            return;
        case Keyword::None:
            break;
    }
    if (afterRedirect_ && registry::MatchesKeyword(key, "path")) {
        redirectLine_ = line_;
        Add(line_, "redirect",
            "Path under [Redirect] is read by the factory search, not by the registry parser",
            false);
        return;
    }
    Add(line_, "unknown-key", "unknown key \"" + std::string(key) + "\": ignored" + BomHint(key));
}

void RegistryLint::OnStore(uint32_t componentID, bool replaced) {
    const int line = sectionStart_[componentID];
    if (replaced) {
        Add(line, "section-replaced",
            "the section of component " + std::to_string(componentID) +
                " replaces the one at line " + std::to_string(HeaderLineOf(componentID)) +
                " as a whole");
    }
    headerLines_[componentID] = line;
}

void RegistryLint::CheckRunTime(const ComponentRegistry& registry) {
    for (const RegistryEntry& entry : registry.entries()) {
        const uint32_t id = entry.componentID;
        const int line = HeaderLineOf(id);
        if (entry.dllName[0] == '\0') {
            Add(line, "empty-dll",
                "component " + std::to_string(id) +
                    " has no DLL name: requests for it fail (a component with a section never "
                    "falls back to the default DLL)");
            continue;
        }
        char path[kMaxPath] = "";
        int32_t cut = 0;
        registry.FullPathOf(entry, path, &cut);
        if (cut != 0) {
            Add(line, "dll-too-long",
                "component " + std::to_string(id) + ": the full path of its DLL " + entry.dllName +
                    " does not fit in 259 characters: it is never loaded");
        } else if (!IsFile(path)) {
            Add(line, "dll-missing",
                "component " + std::to_string(id) + ": its DLL " + path + NotAFile(path) +
                    BesideRegistryNote(registry, entry));
        }
    }
    const std::string defaultDll = registry.defaultDllPath();
    if (!defaultDll.empty() && !registry.defaultDllPathCut() && !IsFile(defaultDll)) {
        Add(0, "default-dll-missing", "the default DLL " + defaultDll + NotAFile(defaultDll));
    }
}

void RegistryLint::CheckModules(const ComponentRegistry& registry) {
    // Each module once, loaded as pexil module loads it; what it prints and
    // writes meanwhile stays off the lint.
    std::map<std::string, std::vector<uint32_t>> asked;  // module path -> IDs bound to it
    for (const RegistryEntry& entry : registry.entries()) {
        if (entry.componentID == kFactoryComponentID || entry.dllName[0] == '\0') continue;
        char path[kMaxPath] = "";
        int32_t cut = 0;
        registry.FullPathOf(entry, path, &cut);
        if (cut == 0 && IsFile(path)) asked[path].push_back(entry.componentID);
    }
    DebugOutputCollector quiet;
    for (const auto& module : asked) {
        const std::string& path = module.first;
        const int line = HeaderLineOf(module.second.front());
        const PexilModuleHandle loaded = platform::LoadLibrary(path.c_str());
        if (loaded == nullptr) {
            Add(line, "dll-not-loading",
                "component " + std::to_string(module.second.front()) + ": its DLL " + path +
                    " does not load: " + LoaderReason());
            continue;
        }
        std::vector<uint32_t> ids;
        if (platform::GetProcAddress(loaded, "CreateComponent") == nullptr) {
            Add(line, "no-create-component",
                "component " + std::to_string(module.second.front()) + ": its DLL " + path +
                    " exports no CreateComponent: it is no module");
        } else if (RegisteredIDs(loaded, &ids)) {
            char listed[256];
            DescribeIDs(ids.data(), static_cast<int>(ids.size()), listed, sizeof(listed));
            for (uint32_t id : module.second) {
                if (std::find(ids.begin(), ids.end(), id) != ids.end()) continue;
                Add(HeaderLineOf(id), "id-not-registered",
                    "component " + std::to_string(id) + ": its DLL " + path + " registers " +
                        listed + ", not " + std::to_string(id) + ": requests for it get nothing");
            }
        }
        platform::FreeLibrary(loaded);
    }
}

void RegistryLint::CheckFactoryEntry(const std::string& file, const ComponentRegistry& registry) {
    // The factory search reads [361] with the profile reader; every holder then
    // asks the factory for 361 through this registry, which the parser read.
    char value[kMaxPath] = "";
    platform::GetPrivateProfileString("361", "DLL", "", value, kMaxPath, file.c_str());
    char searched[kMaxPath] = "";
    TrimBlanks(value, searched, kMaxPath);
    if (searched[0] == '\0') return;
    const RegistryEntry* found = registry.FindEntry(kFactoryComponentID);
    std::string parsed;
    if (found != nullptr) parsed = found->dllName;
    if (parsed == searched) return;
    EntryLines lines(kFactoryComponentID);
    lines.Read(CurrentDirectoryBase(), file.c_str());
    const int line = lines.dll().number != 0 ? lines.dll().number : lines.keptHeader().number;
    const std::string how = lines.Describe(file);
    Add(line, "factory-entry-rebound",
        std::string("the factory search reads DLL=") + searched +
            " in [361], but the parser, through which every holder asks the factory for "
            "component 361, " +
            (how.empty() ? std::string("keeps no [361] section") : "binds it otherwise: " + how) +
            "; so the holders that ask this registry for the factory get none");
}

}  // namespace pexil::tool
