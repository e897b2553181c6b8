// LoadFile: the whole registry file read with one read into one buffer and
// parsed in place. Line ends, key ends, trimmed value ends and header ends
// become zero bytes, and header lines are lower-cased in the buffer. Nothing is
// reported: what the parser does not understand is ignored.
#include "platform/platform.h"
#include "registry/component_registry.h"
#include "support/path.h"

#include <cstring>

namespace pexil {

class RegistryParser {
public:
    explicit RegistryParser(ComponentRegistry& registry) : registry_(registry) {}

    void Run() {
        while (char* line = NextLine()) {
            ParseLine(line);
            if (currentID_ != previousID_) {
                if (previousID_ != 0) {
                    Store(previousID_);
                    pending_ = RegistryEntry{};
                }
                previousID_ = currentID_;
            }
        }
        if (currentID_ != 0) Store(currentID_);
    }

private:
    enum class Section { None, LogDefault, DefaultValue, Component };

    // The next line, terminated in place; null when the text is used up. A line
    // ends at the first CR or LF, and any run of them ends exactly one line.
    char* NextLine() {
        char* line = registry_.readPosition_;
        if (line == nullptr) return nullptr;
        char* const end = registry_.fileText_ + registry_.fileSize_;
        char* p = line;
        while (p < end && *p != '\r' && *p != '\n')
            ++p;
        if (p == end) {
            registry_.readPosition_ = nullptr;
            return line;
        }
        *p++ = '\0';
        while (p < end && (*p == '\r' || *p == '\n'))
            ++p;
        registry_.readPosition_ = p < end ? p : nullptr;
        return line;
    }

    static bool IsBlankLine(const char* line) {
        for (; *line != '\0'; ++line) {
            if (*line != ' ' && *line != '\t' && *line != '#') return false;
        }
        return true;
    }

    void ParseLine(char* line) {
        if (IsBlankLine(line)) return;
        if (char* equals = std::strchr(line, '=')) {
            ParseKeyLine(line, equals);
        } else if (std::strchr(line, '[') != nullptr) {
            ParseHeader(line);
        }
    }

    void ParseHeader(char* line) {
        for (char* p = line; *p != '\0'; ++p) {
            if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
        }
        if (std::strstr(line, "[logdefault]") != nullptr) {
            section_ = Section::LogDefault;
            return;
        }
        if (std::strstr(line, "[defaultvalue]") != nullptr) {
            section_ = Section::DefaultValue;
            return;
        }
        char* open = std::strchr(line, '[');
        char* close = std::strchr(line, ']');
        if (close == nullptr || close <= open + 1) return;
        *close = '\0';
        int32_t number = 0;
        // A number beyond the signed 32-bit range changes nothing.
        if (!ParseNumber(open + 1, &number) || number == 0) return;
        section_ = Section::Component;
        currentID_ = static_cast<uint32_t>(number);
    }

    // As strtol reads a signed 32-bit decimal number: leading white space, one
    // optional sign, digits up to the first other character; no digits is 0.
    static bool ParseNumber(const char* text, int32_t* number) {
        while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
            ++text;
        bool negative = false;
        if (*text == '+' || *text == '-') negative = *text++ == '-';
        int64_t value = 0;
        for (; *text >= '0' && *text <= '9'; ++text) {
            value = value * 10 + (*text - '0');
            if (value > int64_t{2147483648}) return false;
        }
        if (negative) value = -value;
        if (value > INT32_MAX || value < INT32_MIN) return false;
        *number = static_cast<int32_t>(value);
        return true;
    }

    static bool IsBlankChar(char c) { return c == ' ' || c == '\t'; }

    void ParseKeyLine(char* line, char* equals) {
        if (equals == line) return;
        *equals = '\0';
        char* key = line;
        while (IsBlankChar(*key))
            ++key;
        char* keyEnd = equals;
        while (keyEnd > key && IsBlankChar(keyEnd[-1]))
            --keyEnd;
        *keyEnd = '\0';
        if (*key == '\0') return;

        char* value = equals + 1;
        while (IsBlankChar(*value) || *value == '"')
            ++value;
        char* valueEnd = value + std::strlen(value);
        while (valueEnd > value && (IsBlankChar(valueEnd[-1]) || valueEnd[-1] == '"'))
            --valueEnd;
        *valueEnd = '\0';
        // A value too long for the value buffer has no effect on its target.
        if (!CopyIfFits(value_, kMaxPath, value)) return;
        ApplyKeyword(key);
    }

    static bool Matches(const char* key, const char* keyword) {
        for (; *key != '\0' && *keyword != '\0'; ++key, ++keyword) {
            char c = *key;
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != *keyword) return false;
        }
        return *key == '\0' && *keyword == '\0';
    }

    static uint32_t ParseMask(const char* value) {
        uint32_t mask = 0;
        for (; *value != '\0'; ++value) {
            switch (*value) {
                case 'E':
                case 'e':
                    mask |= kMaskE;
                    break;
                case 'T':
                case 't':
                    mask |= kMaskT;
                    break;
                case 'V':
                case 'v':
                    mask |= kMaskV;
                    break;
                case 'D':
                case 'd':
                    mask |= kMaskD;
                    break;
                case 'W':
                case 'w':
                    mask |= kMaskW;
                    break;
                case 'C':
                case 'c':
                    mask |= kMaskC;
                    break;
                default:
                    break;
            }
        }
        return mask;
    }

    void ApplyKeyword(const char* key) {
        ComponentRegistry& r = registry_;
        if (Matches(key, "outputdebugstring")) {
            if (section_ == Section::LogDefault) {
                r.defaultDebugOutputMask_ = ParseMask(value_);
            } else if (section_ == Section::Component) {
                pending_.debugOutputMask = ParseMask(value_);
                pending_.hasLogSettings = 1;
            }
        } else if (Matches(key, "writetologfile")) {
            if (section_ == Section::LogDefault) {
                r.defaultLogFileMask_ = ParseMask(value_);
            } else if (section_ == Section::Component) {
                pending_.logFileMask = ParseMask(value_);
                pending_.hasLogSettings = 1;
            }
        } else if (Matches(key, "dllpath")) {
            if (IsAbsolutePath(value_, r.base_.style)) {
                CopyIfFits(r.defaultDllDirectory_, kMaxPath, value_);
            } else {
                JoinWithDirectoryOf(r.registryFilePath_, value_, r.defaultDllDirectory_, kMaxPath,
                                    r.base_.style);
            }
        } else if (Matches(key, "dll")) {
            CopyIfFits(pending_.dllName, kMaxPath, value_);
        } else if (Matches(key, "notusedefaultdllpath")) {
            pending_.besideRegistry = value_[0] == '1' ? 1 : 0;
        } else if (Matches(key, "defaultdll")) {
            if (IsAbsolutePath(value_, r.base_.style)) {
                CopyIfFits(r.defaultDllPath_, kMaxPath, value_);
                r.defaultDllPathCut_ = false;
            } else {
                // The default DLL directory as it stands when this line is read.
                r.defaultDllPathCut_ = !JoinDirectoryAndName(
                    r.defaultDllDirectory_, value_, r.defaultDllPath_, kMaxPath, r.base_.style);
            }
        }
    }

    void Store(uint32_t componentID) { registry_.entries_[componentID] = pending_; }

    ComponentRegistry& registry_;
    Section section_ = Section::None;
    uint32_t currentID_ = 0;
    uint32_t previousID_ = 0;
    RegistryEntry pending_{};
    char value_[kMaxPath];
};

void ComponentRegistry::ReadFile(const char* registryFilePath) {
    const platform::Handle file = platform::System().openFileForRead(registryFilePath);
    if (file == platform::kInvalidHandle) return;
    platform::Deallocate(fileText_);
    fileText_ = nullptr;
    fileSize_ = 0;
    readPosition_ = nullptr;

    const uint32_t size = platform::System().getFileSize(file);
    // The failure value would make the buffer size wrap around to 0.
    if (size != UINT32_MAX) {
        fileText_ = static_cast<char*>(platform::Allocate(static_cast<size_t>(size) + 1));
    }
    if (fileText_ != nullptr) {
        fileSize_ = size;
        fileText_[size] = '\0';
        uint32_t read = 0;
        if (platform::System().readFile(file, fileText_, size, &read) != 0 && read == size) {
            readPosition_ = fileText_;
        }
    }
    platform::System().closeFile(file);
}

int ComponentRegistry::LoadFile(const char* registryPath, const char* registryFilePath) {
    CopyIfFits(registryPath_, kMaxPath, registryPath);
    CopyIfFits(registryFilePath_, kMaxPath, registryFilePath);
    // From the file's own path, before the file is read.
    GetDirectoryPart(base_, registryFilePath, defaultDllDirectory_, kMaxPath);
    ReadFile(registryFilePath);
    RegistryParser(*this).Run();
    return 1;
}

}  // namespace pexil
