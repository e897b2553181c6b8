// LoadFile: the whole registry file read with one read into one buffer and
// parsed in place. Line ends, key ends, trimmed value ends and header ends
// become zero bytes, and header lines are lower-cased in the buffer; entries
// keep their DLL names there. Nothing is reported: what the parser does not
// understand is ignored. A tool may watch the parser's decisions through a
// RegistryObserver (registry_observer.h).
#include "platform/platform.h"
#include "registry/component_registry.h"
#include "registry/registry_observer.h"
#include "registry/registry_rules.h"
#include "support/debug_print.h"
#include "support/path.h"
#include "support/windows_mistakes.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <exception>
#include <set>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// What the line scan tells apart, byte by byte.
enum ByteClass : uint8_t {
    kOther,
    kBlank,   // ' ', '\t', '#': a line of nothing else (or of nothing) is blank
    kEquals,  // the first one makes a key line
    kOpen,    // '[': a line without '=' that has one is a header
    kEnd,     // CR, LF, and the zero byte that ends a line's text
};

constexpr std::array<uint8_t, 256> MakeByteClasses() {
    std::array<uint8_t, 256> classes{};
    classes[static_cast<unsigned char>(' ')] = kBlank;
    classes[static_cast<unsigned char>('\t')] = kBlank;
    classes[static_cast<unsigned char>('#')] = kBlank;
    classes[static_cast<unsigned char>('=')] = kEquals;
    classes[static_cast<unsigned char>('[')] = kOpen;
    classes[static_cast<unsigned char>('\r')] = kEnd;
    classes[static_cast<unsigned char>('\n')] = kEnd;
    classes[0] = kEnd;
    return classes;
}
constexpr std::array<uint8_t, 256> kByteClasses = MakeByteClasses();

inline uint8_t ClassOf(const char* p) {
    return kByteClasses[static_cast<unsigned char>(*p)];
}

// The first byte from p on of class kEnd (or, with keyStops, also kEquals or
// kOpen). The text ends with a zero byte, so the search ends within it; limit
// is one past that byte. Sixteen bytes at a time where the processor has SSE2.
template <bool keyStops>
char* SkipToStop(char* p, const char* limit) {
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), zero = _mm_setzero_si128();
    const __m128i equals = _mm_set1_epi8('='), open = _mm_set1_epi8('[');
    while (limit - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i stops = _mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf));
        stops = _mm_or_si128(stops, _mm_cmpeq_epi8(bytes, zero));
        if (keyStops) {
            stops = _mm_or_si128(stops, _mm_cmpeq_epi8(bytes, equals));
            stops = _mm_or_si128(stops, _mm_cmpeq_epi8(bytes, open));
        }
        const int found = _mm_movemask_epi8(stops);
        if (found != 0) return p + __builtin_ctz(static_cast<unsigned>(found));
        p += 16;
    }
#else
    (void)limit;
#endif
    while (keyStops ? ClassOf(p) <= kBlank : ClassOf(p) != kEnd)
        ++p;
    return p;
}

// Whether the bytes at key and at word agree once bit 0x20 is set in each of
// the key's: setting it makes an ASCII capital small, and makes no other byte
// a small letter. Word is all small letters; Chunk is the width compared.
template <class Chunk>
bool SameChunk(const char* key, const char* word) {
    Chunk a = 0, b = 0, small = 0;
    std::memcpy(&a, key, sizeof(Chunk));
    std::memcpy(&b, word, sizeof(Chunk));
    std::memset(&small, 0x20, sizeof(Chunk));
    return static_cast<Chunk>(a | small) == b;
}

// The key (of the keyword's length) is the keyword without regard to ASCII
// case: compared in a few wide, overlapping chunks.
template <size_t size>
bool IsKeyword(const char* key, const char (&word)[size]) {
    constexpr size_t length = size - 1;
    static_assert(length >= 2, "keywords are longer");
    if constexpr (length >= 8) {
        for (size_t at = 0; at + 8 < length; at += 8) {
            if (!SameChunk<uint64_t>(key + at, word + at)) return false;
        }
        return SameChunk<uint64_t>(key + length - 8, word + length - 8);
    } else if constexpr (length >= 4) {
        return SameChunk<uint32_t>(key, word) &&
               SameChunk<uint32_t>(key + length - 4, word + length - 4);
    } else {
        return SameChunk<uint16_t>(key, word) &&
               SameChunk<uint16_t>(key + length - 2, word + length - 2);
    }
}

// The six keywords differ in length: one comparison tells a key apart.
RegistryObserver::Keyword KeywordOf(const char* key, size_t length) {
    using Keyword = RegistryObserver::Keyword;
    switch (length) {
        case 3:
            return IsKeyword(key, "dll") ? Keyword::Dll : Keyword::None;
        case 7:
            return IsKeyword(key, "dllpath") ? Keyword::DllPath : Keyword::None;
        case 10:
            return IsKeyword(key, "defaultdll") ? Keyword::DefaultDll : Keyword::None;
        case 14:
            return IsKeyword(key, "writetologfile") ? Keyword::WriteToLogFile : Keyword::None;
        case 17:
            return IsKeyword(key, "outputdebugstring") ? Keyword::OutputDebugString : Keyword::None;
        case 20:
            return IsKeyword(key, "notusedefaultdllpath") ? Keyword::NotUseDefaultDllPath
                                                          : Keyword::None;
        default:
            return Keyword::None;
    }
}

// The text holds the bracketed word (lower case, brackets included) anywhere.
inline bool HoldsWord(const char* text, const char* end, const char* word, size_t length) {
    if (end - text < static_cast<ptrdiff_t>(length)) return false;  // most headers: "[123]"
    for (const char* p = text; end - p >= static_cast<ptrdiff_t>(length); ++p) {
        p = static_cast<const char*>(std::memchr(p, '[', static_cast<size_t>(end - p)));
        if (p == nullptr) return false;
        if (end - p >= static_cast<ptrdiff_t>(length) && std::memcmp(p, word, length) == 0)
            return true;
    }
    return false;
}

// At most how many entries the text can store: each needs a header line of its
// own, which holds a '[' and takes at least four bytes ("[1]" and a line end),
// except the last.
size_t MostEntries(const char* text, uint32_t size) {
    size_t opens = 0;
    const char* const end = text + size;
    for (const char* p = text; p < end; ++p, ++opens) {
        p = static_cast<const char*>(std::memchr(p, '[', static_cast<size_t>(end - p)));
        if (p == nullptr) break;
    }
    return std::min(opens, (static_cast<size_t>(size) + 1) / 4);
}

// Entries by ID and, within an ID, by their place in the file: one 64-bit
// comparison (the two fields side by side, the ID the more significant).
inline uint64_t SortKey(const RegistryEntry& entry) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    static_assert(offsetof(RegistryEntry, componentID) == offsetof(RegistryEntry, binding) + 4,
                  "the place, then the ID");
    uint64_t key = 0;
    std::memcpy(&key, &entry.binding, sizeof(key));
    return key;
#else
    return uint64_t{entry.componentID} << 32 | entry.binding;
#endif
}

struct ByIDThenPlace {
    bool operator()(const RegistryEntry& a, const RegistryEntry& b) const {
        return SortKey(a) < SortKey(b);
    }
};

struct ByID {
    bool operator()(const RegistryEntry& a, const RegistryEntry& b) const {
        return a.componentID < b.componentID;
    }
};

RegistryEntry EmptyEntry() {
    RegistryEntry entry{};
    entry.dllName = "";
    return entry;
}

}  // namespace

template <class Observer>
class RegistryParser {
public:
    using Section = RegistryObserver::Section;
    using Keyword = RegistryObserver::Keyword;
    using Header = RegistryObserver::Header;

    RegistryParser(ComponentRegistry& registry, Observer& observer)
        : registry_(registry),
          observer_(observer),
          earlier_(registry.entries_.size()),
          pending_(EmptyEntry()) {}

    void Run() {
        ComponentRegistry& r = registry_;
        if (r.readPosition_ != nullptr) {
            observer_.OnText(r.fileText_, r.fileSize_);
            // Room for every entry the text can hold, so that the entries are
            // never copied to a larger block while they are read.
            r.entries_.reserve(earlier_ + MostEntries(r.fileText_, r.fileSize_));
        }
        while (char* line = r.readPosition_) {
            ParseLine(line);
            if (currentID_ != previousID_) {
                if (previousID_ != 0) {
                    Store(previousID_);
                    pending_ = EmptyEntry();
                }
                previousID_ = currentID_;
            }
        }
        if (currentID_ != 0) Store(currentID_);
        Order();
    }

private:
    // Takes the next line off the text and parses it. A line ends at the first
    // CR or LF, and any run of them ends exactly one line; its text ends there
    // or at a zero byte before. One scan finds the text's end and the first '='
    // (or, in a line without one, the first '['): all the classification needs.
    void ParseLine(char* line) {
        ComponentRegistry& r = registry_;
        char* const end = r.fileText_ + r.fileSize_;
        char* p = line;
        char* equals = nullptr;
        char* open = nullptr;
        char* const limit = end + 1;
        while (ClassOf(p) == kBlank)
            ++p;
        const bool blank = ClassOf(p) == kEnd;
        if (!blank) {
            for (;;) {
                p = SkipToStop<true>(p, limit);
                if (ClassOf(p) != kOpen) break;
                if (open == nullptr) open = p;
                ++p;
            }
            if (ClassOf(p) == kEquals) {
                equals = p;
                p = SkipToStop<false>(p + 1, limit);
            }
        }
        char* const textEnd = p;
        // A zero byte cut the text short: the rest of the line is skipped.
        if (*p == '\0') {
            while (p < end && *p != '\r' && *p != '\n')
                ++p;
        }
        observer_.OnLine(line, static_cast<size_t>(line - r.fileText_),
                         static_cast<size_t>(p - line));
        if (p == end) {
            r.readPosition_ = nullptr;
        } else {
            *p++ = '\0';
            while (p < end && (*p == '\r' || *p == '\n'))
                ++p;
            r.readPosition_ = p < end ? p : nullptr;
        }

        if (blank) return;
        if (equals != nullptr) {
            ParseKeyLine(line, equals, textEnd);
        } else if (open != nullptr) {
            ParseHeader(line, open, textEnd);
        } else {
            observer_.OnOtherLine(line);
        }
    }

    void ParseHeader(char* line, char* open, char* textEnd) {
        for (char* p = line; p < textEnd; ++p) {
            if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
        }
        if (HoldsWord(open, textEnd, "[logdefault]", 12)) {
            section_ = Section::LogDefault;
            observer_.OnHeader(line, Header::LogDefault, 0, "");
            return;
        }
        if (HoldsWord(open, textEnd, "[defaultvalue]", 14)) {
            section_ = Section::DefaultValue;
            observer_.OnHeader(line, Header::DefaultValue, 0, "");
            return;
        }
        char* close =
            static_cast<char*>(std::memchr(line, ']', static_cast<size_t>(textEnd - line)));
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

    void ParseKeyLine(char* line, char* equals, char* textEnd) {
        if (equals == line) {
            observer_.OnIgnoredKey("", RegistryObserver::Ignored::EqualsFirst, 0);
            return;
        }
        const registry::KeyLine split = registry::SplitKeyLine(line, equals, textEnd);
        if (split.keyLength == 0) {
            observer_.OnIgnoredKey(split.key, RegistryObserver::Ignored::EmptyKey,
                                   split.valueLength);
            return;
        }
        // A value too long for a path buffer has no effect on its target.
        if (split.valueLength >= static_cast<size_t>(kMaxPath)) {
            observer_.OnIgnoredKey(split.key, RegistryObserver::Ignored::ValueTooLong,
                                   split.valueLength);
            return;
        }
        ApplyKeyword(split.key, KeywordOf(split.key, split.keyLength), split.value);
    }

    // A mask key sets the default under [LogDefault], the entry's own in a
    // component section, and nothing elsewhere.
    void ApplyMask(const char* value, uint32_t* defaultMask, uint8_t* entryMask) {
        if (section_ == Section::LogDefault) {
            *defaultMask = registry::ParseMask(value);
        } else if (section_ == Section::Component) {
            *entryMask = static_cast<uint8_t>(registry::ParseMask(value));
            pending_.hasLogSettings = 1;
        }
    }

    // The value is used where it stands in the text, terminated there.
    void ApplyKeyword(const char* key, Keyword keyword, char* value) {
        ComponentRegistry& r = registry_;
        bool pathCut = false;
        switch (keyword) {
            case Keyword::OutputDebugString:
                ApplyMask(value, &r.defaultDebugOutputMask_, &pending_.debugOutputMask);
                break;
            case Keyword::WriteToLogFile:
                ApplyMask(value, &r.defaultLogFileMask_, &pending_.logFileMask);
                break;
            case Keyword::DllPath:
                if (IsAbsolutePath(value, r.base_.style)) {
                    CopyIfFits(r.defaultDllDirectory_, kMaxPath, value);
                } else {
                    int whole = 0;
                    JoinWithDirectoryOf(r.registryFilePath_, value, r.defaultDllDirectory_,
                                        kMaxPath, r.base_.style, &whole);
                    pathCut = whole == 0;
                }
                break;
            case Keyword::Dll:
                pending_.dllName = value;
                break;
            case Keyword::NotUseDefaultDllPath:
                pending_.besideRegistry = value[0] == '1' ? 1 : 0;
                break;
            case Keyword::DefaultDll:
                if (IsAbsolutePath(value, r.base_.style)) {
                    CopyIfFits(r.defaultDllPath_, kMaxPath, value);
                    r.defaultDllPathCut_ = false;
                } else {
                    // The default DLL directory as it stands when this line is read.
                    r.defaultDllPathCut_ = !JoinDirectoryAndName(
                        r.defaultDllDirectory_, value, r.defaultDllPath_, kMaxPath, r.base_.style);
                    pathCut = r.defaultDllPathCut_;
                }
                break;
            case Keyword::None:
                break;
        }
        observer_.OnKey(key, value, keyword, section_, pathCut);
    }

    // Entries are kept in the order of the file while it is read, each with
    // its place in it; Order sorts them by ID and keeps the last of each ID.
    void Store(uint32_t componentID) {
        std::vector<RegistryEntry>& entries = registry_.entries_;
        if constexpr (!std::is_same_v<Observer, NoObserver>) {
            const bool earlier = std::binary_search(
                entries.begin(), entries.begin() + static_cast<ptrdiff_t>(earlier_),
                RegistryEntry{0, componentID, nullptr, 0, 0, 0, 0}, ByID{});
            const bool replaced = !storedIDs_.insert(componentID).second || earlier;
            observer_.OnStore(componentID, replaced);
        }
        if (entries.size() > earlier_ && componentID <= entries.back().componentID)
            inOrder_ = false;
        RegistryEntry entry = pending_;
        entry.componentID = componentID;
        entry.binding = stored_++;
        entries.push_back(entry);
    }

    void Order() {
        std::vector<RegistryEntry>& entries = registry_.entries_;
        const auto first = entries.begin() + static_cast<ptrdiff_t>(earlier_);
        if (!inOrder_) {
            std::sort(first, entries.end(), ByIDThenPlace{});
            // The last section of an ID replaces the earlier ones as a whole.
            auto kept = first;
            for (auto it = first; it != entries.end(); ++it) {
                if (it + 1 != entries.end() && (it + 1)->componentID == it->componentID) continue;
                *kept++ = *it;
            }
            entries.erase(kept, entries.end());
        }
        for (auto it = entries.begin() + static_cast<ptrdiff_t>(earlier_); it != entries.end();
             ++it)
            it->binding = 0;
        if (earlier_ != 0) MergeWithEarlier();
    }

    // A file read into a registry that has entries already (LoadFile called
    // again): a section replaces the entry of its ID as a whole.
    void MergeWithEarlier() {
        std::vector<RegistryEntry>& entries = registry_.entries_;
        const auto middle = entries.begin() + static_cast<ptrdiff_t>(earlier_);
        for (auto it = middle; it != entries.end(); ++it) {
            const auto found = std::lower_bound(entries.begin(), middle, *it, ByID{});
            if (found != middle && found->componentID == it->componentID) {
                *found = *it;
                it->componentID = 0;  // stored IDs are never 0
            }
        }
        entries.erase(std::remove_if(middle, entries.end(),
                                     [](const RegistryEntry& e) { return e.componentID == 0; }),
                      entries.end());
        std::inplace_merge(entries.begin(), entries.begin() + static_cast<ptrdiff_t>(earlier_),
                           entries.end(), ByID{});
    }

    ComponentRegistry& registry_;
    Observer& observer_;
    const size_t earlier_;  // entries of an earlier load, sorted
    Section section_ = Section::None;
    uint32_t currentID_ = 0;
    uint32_t previousID_ = 0;
    RegistryEntry pending_;
    uint32_t stored_ = 0;
    bool inOrder_ = true;
    std::set<uint32_t> storedIDs_;  // only for an observer
};

void ComponentRegistry::RetireFileText() {
    if (fileText_ != nullptr && !entries_.empty()) {
        // Entries of the earlier load point into it.
        retiredTexts_.push_back(fileText_);
    } else {
        platform::Deallocate(fileText_);
    }
    fileText_ = nullptr;
}

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
    try {
        RetireFileText();
    } catch (const std::bad_alloc&) {
        // The earlier text stays: entries still point into it.
        platform::CloseFile(file);
        return;
    }
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
    } catch (const std::exception&) {
        // Without memory for every entry, none: half a registry would bind
        // some IDs and silently not others.
        entries_.clear();
        readPosition_ = nullptr;
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
