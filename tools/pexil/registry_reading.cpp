#include "registry_reading.h"

#include "registry/registry_rules.h"

#include "support/path.h"
#include "support/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace pexil::tool {
namespace {

// The parser's own rules.
using registry::IsBlankLine;
using registry::ParseMask;

std::string Lowered(const char* text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
}

std::string TrimmedOfBlanks(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlankChar(text[begin]))
        ++begin;
    while (end > begin && IsBlankChar(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

const char kByteOrderMark[] = "\xef\xbb\xbf";

class Reader {
public:
    Reader(const std::string& bytes, const std::string& registryFilePath,
           const std::string& initialDirectory)
        : text_(bytes.begin(), bytes.end()) {
        text_.push_back('\0');
        CopyIfFits(registryFilePath_, kMaxPath, registryFilePath.c_str());
        CopyIfFits(defaultDllDirectory_, kMaxPath, initialDirectory.c_str());
    }

    RegistryReading Run() {
        char* p = text_.data();
        char* const end = p + text_.size() - 1;
        int line = 1;
        for (;;) {
            char* const start = p;
            while (p < end && *p != '\r' && *p != '\n')
                ++p;
            char* const lineEnd = p;
            // Lines as an editor counts them: CR LF, LF and CR each end one.
            int breaks = 0;
            while (p < end && (*p == '\r' || *p == '\n')) {
                p += (*p == '\r' && p + 1 < end && p[1] == '\n') ? 2 : 1;
                ++breaks;
            }
            *lineEnd = '\0';
            line_ = line;
            if (std::memchr(start, '\0', static_cast<size_t>(lineEnd - start)) != nullptr) {
                Add(line_, "zero-byte", "a zero byte ends the line's text: the rest is ignored");
            }
            ParseLine(start);
            if (currentID_ != previousID_) {
                if (previousID_ != 0) {
                    Store(previousID_);
                    pending_ = ReadEntry{};
                }
                previousID_ = currentID_;
                sectionLine_ = line_;
            }
            line += breaks;
            if (lineEnd == end || p == end) break;
        }
        if (currentID_ != 0) {
            Store(currentID_);
        } else {
            for (const auto& early : beforeAnySection_) {
                Add(early.first, "outside-section",
                    early.second + " before any component section, and none follows: ignored");
            }
        }
        Finish();
        return std::move(result_);
    }

private:
    enum class Section { None, LogDefault, DefaultValue, Component };

    void Add(int line, const char* kind, const std::string& message, bool counts = true) {
        result_.findings.push_back(LintFinding{line, kind, message, counts});
    }

    void ParseLine(char* line) {
        if (IsBlankLine(line)) return;
        comment_ = LooksLikeComment(line);
        if (char* equals = std::strchr(line, '=')) {
            ParseKeyLine(line, equals);
        } else if (std::strchr(line, '[') != nullptr) {
            ParseHeader(line);
        } else if (comment_) {
            Add(line_, "comment", "a comment (no '=' and no '['): ignored", false);
        } else {
            Add(line_, "not-key-or-header",
                "neither a key line (no '=') nor a header (no '['): ignored" + BomHint(line));
        }
    }

    // There is no comment syntax, but a line that begins with ';' or '#' is
    // meant as one: it is worth a finding only when it changes the registry.
    static bool LooksLikeComment(const char* line) {
        while (IsBlankChar(*line))
            ++line;
        return *line == ';' || *line == '#';
    }

    void ParseHeader(const char* line) {
        afterRedirect_ = false;
        const std::string lowered = Lowered(line);
        if (lowered.find("[logdefault]") != std::string::npos) {
            section_ = Section::LogDefault;
            if (comment_) AddCommentHeader("[LogDefault] section");
            return;
        }
        if (lowered.find("[defaultvalue]") != std::string::npos) {
            section_ = Section::DefaultValue;
            if (comment_) AddCommentHeader("[DefaultValue] section");
            return;
        }
        const size_t open = lowered.find('[');
        const size_t close = lowered.find(']');
        const char* reason = nullptr;
        int32_t number = 0;
        std::string name;
        if (close == std::string::npos) {
            reason = "no ']'";
        } else if (close < open) {
            reason = "its ']' comes before its '['";
        } else if (close == open + 1) {
            reason = "nothing between '[' and ']'";
        } else {
            name = lowered.substr(open + 1, close - open - 1);
            if (!registry::ParseHeaderNumber(name.c_str(), &number)) {
                reason = "a number outside the signed 32-bit range";
            } else if (number == 0) {
                reason = "not a non-zero number";
            }
        }
        if (reason == nullptr) {
            section_ = Section::Component;
            currentID_ = static_cast<uint32_t>(number);
            if (comment_) {
                AddCommentHeader("section of component " +
                                 std::to_string(static_cast<uint32_t>(number)));
            }
            return;
        }
        if (comment_) {
            Add(line_, "comment",
                std::string("a comment with '[' (") + reason +
                    "): ignored, the section before continues",
                false);
            return;
        }
        if (TrimmedOfBlanks(name) == "redirect") {
            afterRedirect_ = true;
            Add(line_, "redirect",
                "[Redirect] is read by the factory search, not by the registry parser: the "
                "section before continues",
                false);
            return;
        }
        Add(line_, "unknown-header",
            "header \"" + std::string(line) + "\" starts no section (" + reason +
                "): the section before continues");
    }

    void AddCommentHeader(const std::string& section) {
        Add(line_, "comment-header",
            "this comment is a header (there is no comment syntax): it starts the " + section);
    }

    void ParseKeyLine(char* line, char* equals) {
        if (comment_) {
            // Its key begins with ';' or '#' and so matches no keyword.
            Add(line_, "comment", "a comment with '=' (its key matches no keyword): ignored",
                false);
            return;
        }
        if (equals == line) {
            Add(line_, "empty-key", "empty key: ignored");
            return;
        }
        const registry::KeyLine split = registry::SplitKeyLine(line, equals);
        if (*split.key == '\0') {
            Add(line_, "empty-key", "empty key: ignored");
            return;
        }
        if (split.valueLength >= static_cast<size_t>(kMaxPath)) {
            Add(line_, "value-too-long",
                "value of " + std::to_string(split.valueLength) + " characters (" +
                    std::to_string(kMaxPath - 1) + " at most): ignored");
            return;
        }
        ApplyKeyword(split.key, split.value);
    }

    void ApplyKeyword(const char* key, const char* value) {
        RegistryReading& r = result_;
        const bool debugMask = registry::MatchesKeyword(key, "outputdebugstring");
        if (debugMask || registry::MatchesKeyword(key, "writetologfile")) {
            const uint32_t mask = ParseMask(value);
            if (section_ == Section::LogDefault) {
                (debugMask ? r.defaultDebugOutputMask : r.defaultLogFileMask) = mask;
            } else if (section_ == Section::Component) {
                (debugMask ? pending_.debugOutputMask : pending_.logFileMask) = mask;
                pending_.hasLogSettings = 1;
            } else {
                Add(line_, "misplaced-mask",
                    std::string(key) +
                        (section_ == Section::None ? " before any section"
                                                   : " under [DefaultValue]") +
                        " (masks belong to [LogDefault] and component sections): ignored");
            }
        } else if (registry::MatchesKeyword(key, "dllpath")) {
            if (IsAbsolutePath(value)) {
                CopyIfFits(defaultDllDirectory_, kMaxPath, value);
            } else {
                int whole = 0;
                JoinWithDirectoryOf(registryFilePath_, value, defaultDllDirectory_, kMaxPath,
                                    PathStyle::Native, &whole);
                if (whole == 0) {
                    Add(line_, "path-too-long",
                        "the DLL directory would be longer than " + std::to_string(kMaxPath - 1) +
                            " characters: it becomes \"" + defaultDllDirectory_ + "\"");
                }
            }
        } else if (registry::MatchesKeyword(key, "dll")) {
            pending_.dllName = value;
            if (currentID_ == 0) beforeAnySection_.emplace_back(line_, key);
        } else if (registry::MatchesKeyword(key, "notusedefaultdllpath")) {
            pending_.besideRegistry = value[0] == '1' ? 1 : 0;
            if (currentID_ == 0) beforeAnySection_.emplace_back(line_, key);
        } else if (registry::MatchesKeyword(key, "defaultdll")) {
            if (IsAbsolutePath(value)) {
                CopyIfFits(defaultDllPath_, kMaxPath, value);
                defaultDllPathCut_ = false;
            } else {
                // The default DLL directory as it stands when this line is read.
                defaultDllPathCut_ =
                    !JoinDirectoryAndName(defaultDllDirectory_, value, defaultDllPath_, kMaxPath);
                if (defaultDllPathCut_) {
                    Add(line_, "path-too-long",
                        "the default DLL path would be longer than " +
                            std::to_string(kMaxPath - 1) +
                            " characters: the default DLL is never loaded");
                }
            }
        } else if (afterRedirect_ && registry::MatchesKeyword(key, "path")) {
            Add(line_, "redirect",
                "Path under [Redirect] is read by the factory search, not by the registry parser",
                false);
        } else {
            Add(line_, "unknown-key",
                "unknown key \"" + std::string(key) + "\": ignored" + BomHint(key));
        }
    }

    // Why the file's first line may not read as intended.
    std::string BomHint(const char* text) const {
        if (line_ == 1 && std::strncmp(text, kByteOrderMark, 3) == 0) {
            return " (the file's byte-order mark is part of this line)";
        }
        return "";
    }

    void Store(uint32_t componentID) {
        auto earlier = result_.entries.find(componentID);
        if (earlier != result_.entries.end()) {
            Add(sectionLine_, "section-replaced",
                "the section of component " + std::to_string(componentID) +
                    " replaces the one at line " + std::to_string(earlier->second.headerLine) +
                    " as a whole");
        }
        pending_.headerLine = sectionLine_;
        result_.entries[componentID] = pending_;
    }

    void Finish() {
        result_.defaultDllDirectory = defaultDllDirectory_;
        result_.defaultDllPath = defaultDllPath_;
        result_.defaultDllPathCut = defaultDllPathCut_;
        for (const auto& item : result_.entries) {
            if (item.second.dllName.empty()) {
                Add(item.second.headerLine, "empty-dll",
                    "component " + std::to_string(item.first) +
                        " has no DLL name: requests for it fail (a component with a section "
                        "never falls back to the default DLL)");
            }
        }
        std::stable_sort(
            result_.findings.begin(), result_.findings.end(),
            [](const LintFinding& a, const LintFinding& b) { return a.line < b.line; });
    }

    std::vector<char> text_;
    RegistryReading result_;
    Section section_ = Section::None;
    uint32_t currentID_ = 0;
    uint32_t previousID_ = 0;
    ReadEntry pending_{};
    int line_ = 0;
    int sectionLine_ = 0;  // the header that started the current component's section
    bool afterRedirect_ = false;
    bool comment_ = false;  // the current line begins with ';' or '#'
    std::vector<std::pair<int, std::string>> beforeAnySection_;
    char registryFilePath_[kMaxPath] = "";
    char defaultDllDirectory_[kMaxPath] = "";
    char defaultDllPath_[kMaxPath] = "";
    bool defaultDllPathCut_ = false;
};

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%02x", value);
    return text;
}

}  // namespace

RegistryReading ReadRegistry(const std::string& bytes, const std::string& registryFilePath,
                             const std::string& initialDirectory) {
    return Reader(bytes, registryFilePath, initialDirectory).Run();
}

std::string CompareWithParser(const RegistryReading& reading, const ComponentRegistry& registry) {
    if (reading.defaultDebugOutputMask != registry.defaultDebugOutputMask()) {
        return "default debug-output mask: parser " + Hex(registry.defaultDebugOutputMask()) +
               ", lint " + Hex(reading.defaultDebugOutputMask);
    }
    if (reading.defaultLogFileMask != registry.defaultLogFileMask()) {
        return "default log-file mask: parser " + Hex(registry.defaultLogFileMask()) + ", lint " +
               Hex(reading.defaultLogFileMask);
    }
    if (reading.defaultDllDirectory != registry.defaultDllDirectory()) {
        return "default DLL directory: parser \"" + std::string(registry.defaultDllDirectory()) +
               "\", lint \"" + reading.defaultDllDirectory + "\"";
    }
    if (reading.defaultDllPath != registry.defaultDllPath()) {
        return "default DLL: parser \"" + std::string(registry.defaultDllPath()) + "\", lint \"" +
               reading.defaultDllPath + "\"";
    }
    auto parsed = registry.entries().begin();
    auto read = reading.entries.begin();
    for (; parsed != registry.entries().end() && read != reading.entries.end(); ++parsed, ++read) {
        const std::string id = std::to_string(parsed->first);
        if (parsed->first != read->first) {
            return "components: parser " + id + ", lint " + std::to_string(read->first);
        }
        const RegistryEntry& p = parsed->second;
        const ReadEntry& r = read->second;
        if (r.dllName != p.dllName) {
            return "DLL of component " + id + ": parser \"" + p.dllName + "\", lint \"" +
                   r.dllName + "\"";
        }
        if (r.besideRegistry != p.besideRegistry || r.hasLogSettings != p.hasLogSettings ||
            r.debugOutputMask != p.debugOutputMask || r.logFileMask != p.logFileMask) {
            return "settings of component " + id;
        }
    }
    if (parsed != registry.entries().end()) {
        return "component " + std::to_string(parsed->first) + " only in the parser's registry";
    }
    if (read != reading.entries.end()) {
        return "component " + std::to_string(read->first) + " only in the lint's registry";
    }
    return "";
}

std::string EntryFullPath(const ComponentRegistry& registry, const RegistryEntry& entry,
                          bool* tooLong) {
    char path[kMaxPath] = "";
    int32_t cut = 0;
    registry.FullPathOf(entry, path, &cut);
    *tooLong = cut != 0;
    return path;
}

}  // namespace pexil::tool
