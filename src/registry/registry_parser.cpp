// LoadFile: the whole registry file read with one read into one buffer and
// parsed in place. Line ends, key ends, trimmed value ends and header ends
// become zero bytes, and header lines are lower-cased in the buffer. Nothing is
// reported: what the parser does not understand is ignored. A tool may watch
// the parser's decisions through a RegistryObserver (registry_observer.h).
#include "platform/platform.h"
#include "registry/component_registry.h"
#include "registry/registry_observer.h"
#include "registry/registry_rules.h"
#include "support/debug_print.h"
#include "support/path.h"
#include "support/windows_mistakes.h"

#include <cstring>
#include <new>

namespace pexil {
namespace {

// The parser's observer inside the framework: nothing, at no cost.
struct NoObserver {
    void OnText(const char*, size_t) {}
    void OnLine(const char*, size_t, size_t) {}
    void OnOtherLine(const char*) {}
    void OnHeader(const char*, RegistryObserver::Header, uint32_t, const char*) {}
    void OnIgnoredKey(const char*, RegistryObserver::Ignored, size_t) {}
    void OnKey(const char*, const char*, RegistryObserver::Keyword, RegistryObserver::Section,
               bool) {}
    void OnStore(uint32_t, bool) {}
};

}  // namespace

template <class Observer>
class RegistryParser {
public:
    using Section = RegistryObserver::Section;
    using Keyword = RegistryObserver::Keyword;
    using Header = RegistryObserver::Header;

    RegistryParser(ComponentRegistry& registry, Observer& observer)
        : registry_(registry), observer_(observer) {}

    void Run() {
        if (registry_.readPosition_ != nullptr) {
            observer_.OnText(registry_.fileText_, registry_.fileSize_);
        }
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
    // The next line, terminated in place; null when the text is used up. A line
    // ends at the first CR or LF, and any run of them ends exactly one line.
    char* NextLine() {
        char* line = registry_.readPosition_;
        if (line == nullptr) return nullptr;
        char* const end = registry_.fileText_ + registry_.fileSize_;
        char* p = line;
        while (p < end && *p != '\r' && *p != '\n')
            ++p;
        observer_.OnLine(line, static_cast<size_t>(line - registry_.fileText_),
                         static_cast<size_t>(p - line));
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

    void ParseLine(char* line) {
        if (registry::IsBlankLine(line)) return;
        if (char* equals = std::strchr(line, '=')) {
            ParseKeyLine(line, equals);
        } else if (std::strchr(line, '[') != nullptr) {
            ParseHeader(line);
        } else {
            observer_.OnOtherLine(line);
        }
    }

    void ParseHeader(char* line) {
        for (char* p = line; *p != '\0'; ++p) {
            if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
        }
        if (std::strstr(line, "[logdefault]") != nullptr) {
            section_ = Section::LogDefault;
            observer_.OnHeader(line, Header::LogDefault, 0, "");
            return;
        }
        if (std::strstr(line, "[defaultvalue]") != nullptr) {
            section_ = Section::DefaultValue;
            observer_.OnHeader(line, Header::DefaultValue, 0, "");
            return;
        }
        char* open = std::strchr(line, '[');
        char* close = std::strchr(line, ']');
        if (close == nullptr || close <= open + 1) {
            observer_.OnHeader(line,
                               close == nullptr ? Header::NoClose
                               : close < open   ? Header::CloseFirst
                                                : Header::Empty,
                               0, "");
            return;
        }
        *close = '\0';
        int32_t number = 0;
        const char* afterNumber = close;
        // A number beyond the signed 32-bit range changes nothing.
        if (!registry::ParseHeaderNumber(open + 1, &number, &afterNumber)) {
            observer_.OnHeader(line, Header::OutOfRange, 0, "");
            return;
        }
        if (number == 0) {
            observer_.OnHeader(line, Header::Zero, 0, "");
            return;
        }
        section_ = Section::Component;
        currentID_ = static_cast<uint32_t>(number);
        observer_.OnHeader(line, Header::Component, currentID_, afterNumber);
    }

    void ParseKeyLine(char* line, char* equals) {
        if (equals == line) {
            observer_.OnIgnoredKey("", RegistryObserver::Ignored::EqualsFirst, 0);
            return;
        }
        const registry::KeyLine split = registry::SplitKeyLine(line, equals);
        if (*split.key == '\0') {
            observer_.OnIgnoredKey(split.key, RegistryObserver::Ignored::EmptyKey,
                                   split.valueLength);
            return;
        }
        // A value too long for the value buffer has no effect on its target.
        if (!CopyIfFits(value_, kMaxPath, split.value)) {
            observer_.OnIgnoredKey(split.key, RegistryObserver::Ignored::ValueTooLong,
                                   split.valueLength);
            return;
        }
        ApplyKeyword(split.key);
    }

    void ApplyKeyword(const char* key) {
        ComponentRegistry& r = registry_;
        Keyword keyword = Keyword::None;
        bool pathCut = false;
        if (registry::MatchesKeyword(key, "outputdebugstring")) {
            keyword = Keyword::OutputDebugString;
            if (section_ == Section::LogDefault) {
                r.defaultDebugOutputMask_ = registry::ParseMask(value_);
            } else if (section_ == Section::Component) {
                pending_.debugOutputMask = registry::ParseMask(value_);
                pending_.hasLogSettings = 1;
            }
        } else if (registry::MatchesKeyword(key, "writetologfile")) {
            keyword = Keyword::WriteToLogFile;
            if (section_ == Section::LogDefault) {
                r.defaultLogFileMask_ = registry::ParseMask(value_);
            } else if (section_ == Section::Component) {
                pending_.logFileMask = registry::ParseMask(value_);
                pending_.hasLogSettings = 1;
            }
        } else if (registry::MatchesKeyword(key, "dllpath")) {
            keyword = Keyword::DllPath;
            if (IsAbsolutePath(value_, r.base_.style)) {
                CopyIfFits(r.defaultDllDirectory_, kMaxPath, value_);
            } else {
                int whole = 0;
                JoinWithDirectoryOf(r.registryFilePath_, value_, r.defaultDllDirectory_, kMaxPath,
                                    r.base_.style, &whole);
                pathCut = whole == 0;
            }
        } else if (registry::MatchesKeyword(key, "dll")) {
            keyword = Keyword::Dll;
            CopyIfFits(pending_.dllName, kMaxPath, value_);
        } else if (registry::MatchesKeyword(key, "notusedefaultdllpath")) {
            keyword = Keyword::NotUseDefaultDllPath;
            pending_.besideRegistry = value_[0] == '1' ? 1 : 0;
        } else if (registry::MatchesKeyword(key, "defaultdll")) {
            keyword = Keyword::DefaultDll;
            if (IsAbsolutePath(value_, r.base_.style)) {
                CopyIfFits(r.defaultDllPath_, kMaxPath, value_);
                r.defaultDllPathCut_ = false;
            } else {
                // The default DLL directory as it stands when this line is read.
                r.defaultDllPathCut_ = !JoinDirectoryAndName(
                    r.defaultDllDirectory_, value_, r.defaultDllPath_, kMaxPath, r.base_.style);
                pathCut = r.defaultDllPathCut_;
            }
        }
        observer_.OnKey(key, value_, keyword, section_, pathCut);
    }

    void Store(uint32_t componentID) {
        auto stored = registry_.entries_.insert_or_assign(componentID, pending_);
        observer_.OnStore(componentID, !stored.second);
    }

    ComponentRegistry& registry_;
    Observer& observer_;
    Section section_ = Section::None;
    uint32_t currentID_ = 0;
    uint32_t previousID_ = 0;
    RegistryEntry pending_{};
    char value_[kMaxPath];
};

void ComponentRegistry::ReadFile(const char* registryFilePath) {
    fileRead_ = false;
    const platform::Handle file = platform::OpenFileForRead(registryFilePath);
    if (file == platform::kInvalidHandle) {
        // What is there but is no file to read (a FIFO, a device) reads as missing.
        if (Explaining() && registryFilePath != nullptr) {
            char why[256] = "";
            platform::LastErrorText(why, sizeof(why));
            if (platform::Access(registryFilePath, 0) == 0) {
                Explain("the registry file %s cannot be read: %s; it reads as missing\n",
                        registryFilePath, why);
            }
            ExplainUnrepresentable("the registry file", registryFilePath);
        }
        return;
    }
    platform::Deallocate(fileText_);
    fileText_ = nullptr;
    fileSize_ = 0;
    readPosition_ = nullptr;

    const uint32_t size = platform::GetFileSize(file);
    // The failure value (a file of 4 GiB or more) would make the buffer size
    // wrap around to 0; a file beyond the limit is not worth the memory.
    if (size == UINT32_MAX || size > platform::kMaxReadFileSize) {
        Explain("the registry file %s is larger than %u bytes: it is not read\n", registryFilePath,
                platform::kMaxReadFileSize);
    } else {
        fileText_ = static_cast<char*>(platform::Allocate(static_cast<size_t>(size) + 1));
        if (fileText_ == nullptr) {
            Explain("no memory for the %u bytes of the registry file %s: it is not read\n", size,
                    registryFilePath);
        }
    }
    if (fileText_ != nullptr) {
        fileSize_ = size;
        fileText_[size] = '\0';
        uint32_t read = 0;
        if (platform::ReadFile(file, fileText_, size, &read) != 0 && read == size) {
            readPosition_ = fileText_;
            fileRead_ = true;
            ExplainUtf16File(registryFilePath, fileText_, size);
        }
    }
    platform::CloseFile(file);
}

template <class Observer>
int ComponentRegistry::Load(const char* registryPath, const char* registryFilePath,
                            Observer& observer) {
    CopyIfFits(registryPath_, kMaxPath, registryPath);
    CopyIfFits(registryFilePath_, kMaxPath, registryFilePath);
    // From the file's own path, before the file is read.
    GetDirectoryPart(base_, registryFilePath, defaultDllDirectory_, kMaxPath);
    ReadFile(registryFilePath);
    try {
        RegistryParser<Observer>(*this, observer).Run();
    } catch (const std::bad_alloc&) {
        // Without memory for every entry, none: half a registry would bind
        // some IDs and silently not others.
        entries_.clear();
    }
    return 1;
}

int ComponentRegistry::LoadFile(const char* registryPath, const char* registryFilePath) {
    NoObserver none;
    return Load(registryPath, registryFilePath, none);
}

int ComponentRegistry::LoadFile(const char* registryPath, const char* registryFilePath,
                                RegistryObserver& observer) {
    return Load(registryPath, registryFilePath, observer);
}

}  // namespace pexil
