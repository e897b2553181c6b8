// GetPrivateProfileStringA for POSIX, matching what the Windows function (as
// Wine implements it) returns:
// - lines end at CR or LF; each line is trimmed of white space (and ^Z);
// - a line that begins with '[' and holds a ']' starts a section whose name is
//   the text up to the last ']', trimmed; keys before the first header belong
//   to an unnamed section that always comes first;
// - any other line is a key: the text before the first '=' (trimmed), the value
//   after it (trimmed); a line without '=' is a key without a value, which
//   yields the default;
// - names compare without regard to ASCII case; the first section and the
//   first key of a name win; ';' starts no comment;
// - a value or default enclosed in a matching pair of quotes (" or ') loses
//   them; the default loses its trailing spaces (its first character stays);
// - a file that begins with a UTF-8 or UTF-16 byte-order mark is decoded and
//   handed back in Windows-1252, with '?' for what that code page lacks; any
//   other file is taken byte for byte;
// - the result is cut to size - 1 characters and its length returned.
//
// Like the Windows reader, it keeps the files it parsed and answers from them
// while the file is unchanged: one stat() per call instead of reading and
// parsing the file again. See ParsedFiles below for when a kept file is used.
#include "platform/backend.h"
#include "platform/posix/system_path.h"

#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace pexil::platform::backend {
using posix::SystemPath;
namespace {

struct Key {
    std::string name;
    bool hasValue;
    std::string value;
};

struct Section {
    std::string name;
    std::vector<Key> keys;
};

bool IsProfileSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1a;
}

std::string Trim(const char* begin, const char* end) {
    while (begin < end && IsProfileSpace(static_cast<unsigned char>(*begin)))
        ++begin;
    while (end > begin && IsProfileSpace(static_cast<unsigned char>(end[-1])))
        --end;
    // A zero byte ends a name or value, as it ends a C string.
    const void* zero = std::memchr(begin, '\0', static_cast<size_t>(end - begin));
    if (zero != nullptr) end = static_cast<const char*>(zero);
    return std::string(begin, end);
}

std::string Trim(const char* text) {
    return Trim(text, text + std::strlen(text));
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

void StripQuotes(std::string& text) {
    if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0]) {
        text = text.substr(1, text.size() - 2);
    }
}

// Windows-1252 for the code points 0x80 to 0x9F that it maps elsewhere.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char ToCp1252(uint32_t codePoint) {
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == codePoint) return static_cast<char>(0x80 + i);
    }
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<char>(codePoint);
    }
    return '?';
}

std::string FromUtf8(const std::string& bytes, size_t start) {
    std::string out;
    size_t i = start;
    while (i < bytes.size()) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        uint32_t cp = 0;
        size_t extra = 0;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1Fu;
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0Fu;
            extra = 2;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07u;
            extra = 3;
        } else {
            out += '?';
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= extra && i + j < bytes.size(); ++j) {
            unsigned char next = static_cast<unsigned char>(bytes[i + j]);
            if ((next & 0xC0u) != 0x80u) break;
            cp = (cp << 6) | (next & 0x3Fu);
        }
        if (j <= extra) {  // sequence cut short: one replacement for the lead byte
            out += '?';
            ++i;
            continue;
        }
        out += ToCp1252(cp);
        i += extra + 1;
    }
    return out;
}

std::string FromUtf16(const std::string& bytes, bool bigEndian) {
    std::string out;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        unsigned char a = static_cast<unsigned char>(bytes[i]);
        unsigned char b = static_cast<unsigned char>(bytes[i + 1]);
        uint32_t unit = bigEndian ? (a << 8 | b) : (b << 8 | a);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
            i += 2;  // a surrogate pair: beyond Windows-1252 either way
            out += '?';
            continue;
        }
        out += ToCp1252(unit);
    }
    return out;
}

// What tells one state of a file from another: a write, a truncation, a
// change of times or a new file under the name changes at least one of them.
struct FileState {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
    timespec changed;
};

FileState StateOf(const struct stat& info) {
    return FileState{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool SameState(const FileState& a, const FileState& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           SameTime(a.modified, b.modified) && SameTime(a.changed, b.changed);
}

// Reads the file; *state receives the state of a regular file after the read
// (when *haveState is set).
bool ReadText(const char* file, std::string& text, FileState* state, bool* haveState) {
    *haveState = false;
    Handle handle = OpenFileForRead(file);
    if (handle == kInvalidHandle) return false;
    uint32_t size = GetFileSize(handle);
    bool ok = size != UINT32_MAX;
    std::string bytes;
    if (ok) {
        try {
            bytes.resize(size);
        } catch (const std::bad_alloc&) {
            CloseFile(handle);
            throw;
        }
        uint32_t got = 0;
        ok = ReadFile(handle, bytes.data(), size, &got) != 0;
        bytes.resize(got);
    }
    struct stat info;
    if (ok && ::fstat(static_cast<int>(handle), &info) == 0 && S_ISREG(info.st_mode)) {
        *state = StateOf(info);
        *haveState = true;
    }
    CloseFile(handle);
    if (!ok) return false;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = FromUtf8(bytes, 3);
    } else if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        text = FromUtf16(bytes, false);
    } else if (bytes.compare(0, 2, "\xFE\xFF") == 0) {
        text = FromUtf16(bytes, true);
    } else {
        text = std::move(bytes);
    }
    return true;
}

std::vector<Section> Parse(const std::string& text) {
    std::vector<Section> sections(1);  // the unnamed section before any header
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        const char* lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r')
            ++lineEnd;
        const char* begin = p;
        const char* stop = lineEnd;
        p = lineEnd < end ? lineEnd + 1 : end;
        while (begin < stop && IsProfileSpace(static_cast<unsigned char>(*begin)))
            ++begin;
        while (stop > begin && IsProfileSpace(static_cast<unsigned char>(stop[-1])))
            --stop;
        if (begin == stop) continue;

        if (*begin == '[') {
            const char* close = stop;
            while (close > begin && close[-1] != ']')
                --close;
            if (close > begin + 1) {  // close points past the last ']'
                sections.push_back(Section{Trim(begin + 1, close - 1), {}});
                continue;
            }
        }
        const void* equals = std::memchr(begin, '=', static_cast<size_t>(stop - begin));
        if (equals == nullptr) {
            sections.back().keys.push_back(Key{Trim(begin, stop), false, {}});
        } else {
            const char* eq = static_cast<const char*>(equals);
            sections.back().keys.push_back(Key{Trim(begin, eq), true, Trim(eq + 1, stop)});
        }
    }
    return sections;
}

// A file's sections as Parse gave them, and the state of the file they came from.
struct ParsedFile {
    FileState state;
    std::vector<Section> sections;
};

// The parsed files kept for reuse, most recently used first; any thread may
// call. A kept file is used while stat() finds the file in the state it was
// read in. That alone would miss a rewrite within one tick of the file
// system's clock (a few milliseconds, or whole seconds on some file systems)
// that keeps the size: such a rewrite leaves every field as it was. So a file
// is kept only when its last change (its status-change time, which no program
// can set back) lies more than kSettledSeconds before the read began: any
// later write stamps a time past that and so is seen. A file changed more
// recently is read and parsed at every call, as it is when not kept.
class ParsedFiles {
public:
    // The kept parse of the file, whatever the file's state now; null when none.
    std::shared_ptr<const ParsedFile> Find(const char* file) {
        std::lock_guard<std::mutex> guard(mutex_);
        for (auto it = files_.begin(); it != files_.end(); ++it) {
            if (it->first != file) continue;
            files_.splice(files_.begin(), files_, it);
            return it->second;
        }
        return nullptr;
    }

    // Keeps the parse, or forgets the file when parsed is null.
    void Keep(const char* file, std::shared_ptr<const ParsedFile> parsed) {
        std::lock_guard<std::mutex> guard(mutex_);
        for (auto it = files_.begin(); it != files_.end(); ++it) {
            if (it->first == file) {
                files_.erase(it);
                break;
            }
        }
        if (parsed == nullptr) return;
        files_.emplace_front(file, std::move(parsed));
        if (files_.size() > kMaxFiles) files_.pop_back();
    }

    static bool Settled(const FileState& state, const timespec& readStart) {
        const time_t limit = readStart.tv_sec - kSettledSeconds;
        return state.changed.tv_sec < limit ||
               (state.changed.tv_sec == limit && state.changed.tv_nsec < readStart.tv_nsec);
    }

private:
    // As many as Wine keeps.
    static constexpr size_t kMaxFiles = 10;
    // Above the coarsest time stamps of the file systems in use (2 s on FAT)
    // plus a clock tick.
    static constexpr time_t kSettledSeconds = 3;

    std::mutex mutex_;
    std::list<std::pair<std::string, std::shared_ptr<const ParsedFile>>> files_;
};

// Never destroyed: a module's static destructor may still read a profile
// string while the process exits.
ParsedFiles& KeptFiles() {
    static ParsedFiles* const files = new ParsedFiles();
    return *files;
}

// The file's sections, from the kept parse when the file is unchanged, else
// read and parsed; null when the file cannot be read.
std::shared_ptr<const ParsedFile> LoadFile(const char* file) {
    ParsedFiles& kept = KeptFiles();
    if (std::shared_ptr<const ParsedFile> parsed = kept.Find(file)) {
        struct stat info;
        if (::stat(SystemPath(file).c_str(), &info) == 0 &&
            SameState(StateOf(info), parsed->state)) {
            return parsed;
        }
    }
    timespec readStart{};
    ::clock_gettime(CLOCK_REALTIME, &readStart);
    std::string text;
    FileState state{};
    bool haveState = false;
    if (!ReadText(file, text, &state, &haveState)) {
        kept.Keep(file, nullptr);
        return nullptr;
    }
    auto parsed = std::make_shared<ParsedFile>(ParsedFile{state, Parse(text)});
    const bool keep = haveState && ParsedFiles::Settled(state, readStart);
    kept.Keep(file, keep ? parsed : nullptr);
    return parsed;
}

uint32_t CopyResult(const std::string& value, char* buffer, uint32_t size) {
    if (size == 0) return 0;
    size_t count = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(buffer, value.data(), count);
    buffer[count] = '\0';
    return static_cast<uint32_t>(count);
}

// A list of names, each followed by a zero byte, and one more zero at the end.
// A list that does not fit is cut and ends with two zero bytes; the result is
// then size - 2.
uint32_t CopyList(const std::vector<const std::string*>& names, char* buffer, uint32_t size) {
    if (size < 3) {
        if (size > 0) buffer[0] = '\0';
        return 0;
    }
    uint32_t used = 0;
    for (const std::string* name : names) {
        size_t length = std::strlen(name->c_str());
        if (used + length + 1 > size - 1) {
            // The names before may already fill all but the last byte.
            size_t room = used + 2 <= size ? size - 2 - used : 0;
            std::memcpy(buffer + used, name->data(), room);
            buffer[size - 2] = '\0';
            buffer[size - 1] = '\0';
            return size - 2;
        }
        std::memcpy(buffer + used, name->data(), length);
        used += static_cast<uint32_t>(length);
        buffer[used++] = '\0';
    }
    buffer[used] = '\0';
    return used;
}

std::string PrepareDefault(const char* defaultValue) {
    std::string value = defaultValue != nullptr ? defaultValue : "";
    size_t keep = value.size();
    while (keep > 1 && value[keep - 1] == ' ')
        --keep;
    value.resize(keep);
    StripQuotes(value);
    return value;
}

uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue,
                           char* buffer, uint32_t size, const char* file) {
    const std::shared_ptr<const ParsedFile> parsed = file != nullptr ? LoadFile(file) : nullptr;
    const std::vector<Section> noSections;
    const std::vector<Section>& sections = parsed != nullptr ? parsed->sections : noSections;

    if (section == nullptr) {
        std::vector<const std::string*> names;
        for (size_t i = 1; i < sections.size(); ++i)
            names.push_back(&sections[i].name);
        return CopyList(names, buffer, size);
    }

    std::string wantedSection = Trim(section);
    const Section* found = nullptr;
    for (const Section& candidate : sections) {
        if (EqualNoCase(candidate.name, wantedSection)) {
            found = &candidate;
            break;
        }
    }

    if (key == nullptr) {
        std::vector<const std::string*> names;
        if (found != nullptr) {
            for (const Key& k : found->keys) {
                if (k.hasValue) names.push_back(&k.name);
            }
        }
        if (!names.empty()) return CopyList(names, buffer, size);
        return CopyResult(PrepareDefault(defaultValue), buffer, size);
    }

    if (found != nullptr) {
        std::string wantedKey = Trim(key);
        for (const Key& k : found->keys) {
            if (!EqualNoCase(k.name, wantedKey)) continue;
            if (!k.hasValue) break;  // the first key of the name wins, even without a value
            std::string value = k.value;
            StripQuotes(value);
            return CopyResult(value, buffer, size);
        }
    }
    return CopyResult(PrepareDefault(defaultValue), buffer, size);
}

}  // namespace

uint32_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                 char* buffer, uint32_t size, const char* file) {
    if (buffer == nullptr) return 0;
    try {
        return ReadProfileString(section, key, defaultValue, buffer, size, file);
    } catch (const std::bad_alloc&) {
        // Every module calls in here: no exception may leave. Without memory
        // to read the file, nothing is read.
        if (size > 0) buffer[0] = '\0';
        return 0;
    }
}

}  // namespace pexil::platform::backend
