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
// A file asked for one key is first scanned for it instead of parsed (and its
// text kept): most files are asked once or twice (a registry's [Redirect]),
// and only a file asked more often is worth its parse (profile_text.h). A file
// over 64 KiB is scanned at every one-key question: its parse would cost many
// times its size.
#include "platform/backend.h"
#include "platform/mutex.h"
#include "platform/posix/profile_text.h"
#include "platform/posix/system_path.h"

#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <exception>
#include <list>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace pexil::platform::backend {
using posix::SystemPath;
using posix::profile::Section;
namespace {

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
    // A file too large to read (4 GiB or more, over the limit, or more than a
    // string holds in 32 bits) reads as missing.
    std::string bytes;
    bool ok = size != UINT32_MAX && size <= kMaxReadFileSize && size < bytes.max_size();
    if (ok) {
        try {
            bytes.resize(size);
        } catch (...) {
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
    text = posix::profile::Decode(std::move(bytes));
    return true;
}

// What is kept of a file, and the state of the file it came from: its parse,
// or until it is worth parsing its text (parsed false).
struct ParsedFile {
    FileState state;
    bool parsed;
    std::vector<Section> sections;
    std::string text;
    // Questions answered from the kept text; at kParseAfterAsks it is parsed.
    mutable std::atomic<uint32_t> asks{0};
};

// A file asked this often in one state is parsed: a stat() and a lookup then
// answer, whatever the file's size. Fewer questions scan the text: a file
// asked once or twice (a registry's [Redirect], a locator's two keys) costs
// no parse.
constexpr uint32_t kParseAfterAsks = 3;
// Larger files are never kept as text, and parsed only for a list of names:
// a parse costs many times the file's size (about 70 times for a file of
// short lines), so a one-key question scans a larger file at every call.
constexpr size_t kMaxKeptText = 64 * 1024;

class ParsedFiles {
public:
    // The kept parse of the file, whatever the file's state now; null when none.
    std::shared_ptr<const ParsedFile> Find(const char* file) {
        MutexLock guard(mutex_);
        for (auto it = files_.begin(); it != files_.end(); ++it) {
            if (it->first != file) continue;
            files_.splice(files_.begin(), files_, it);
            return it->second;
        }
        return nullptr;
    }

    // Keeps the parse, or forgets the file when parsed is null.
    void Keep(const char* file, std::shared_ptr<const ParsedFile> parsed) {
        MutexLock guard(mutex_);
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

    Mutex mutex_;
    std::list<std::pair<std::string, std::shared_ptr<const ParsedFile>>> files_
        PEXIL_GUARDED_BY(mutex_);
};

// Never destroyed: a module's static destructor may still read a profile
// string while the process exits.
ParsedFiles& KeptFiles() {
    static ParsedFiles* const files = new ParsedFiles();
    return *files;
}

// What a question is answered from: a parse, or the text to scan for one key.
struct Source {
    bool read = false;                       // false: the file could not be read (no sections)
    std::shared_ptr<const ParsedFile> kept;  // a parse, or the kept text
    std::string text;                        // a text not kept

    const std::vector<Section>* Sections() const {
        return kept != nullptr && kept->parsed ? &kept->sections : nullptr;
    }
    const std::string& Text() const { return kept != nullptr ? kept->text : text; }
};

std::shared_ptr<const ParsedFile> Parsed(const FileState& state, const std::string& text) {
    auto parsed = std::make_shared<ParsedFile>();
    parsed->state = state;
    parsed->parsed = true;
    parsed->sections = posix::profile::Parse(text);
    return parsed;
}

// The file's sections or text: from what is kept while the file is unchanged,
// else read. Parsed when wholeFile (a list of names), else when the file's
// kept text has been asked often enough in this state.
Source LoadFile(const char* file, bool wholeFile) {
    ParsedFiles& kept = KeptFiles();
    bool parse = wholeFile;
    if (std::shared_ptr<const ParsedFile> found = kept.Find(file)) {
        struct stat info;
        if (::stat(SystemPath(file).c_str(), &info) == 0 &&
            SameState(StateOf(info), found->state)) {
            const bool hasText = !found->parsed && !found->text.empty();
            if (hasText && (wholeFile || found->asks.fetch_add(1) + 1 >= kParseAfterAsks)) {
                found = Parsed(found->state, found->text);
                kept.Keep(file, found);
            }
            if (found->parsed || hasText) return Source{true, std::move(found), {}};
        }
    }
    timespec readStart{};
    ::clock_gettime(CLOCK_REALTIME, &readStart);
    Source source;
    FileState state{};
    bool haveState = false;
    if (!ReadText(file, source.text, &state, &haveState)) {
        kept.Keep(file, nullptr);
        return source;
    }
    source.read = true;
    const bool keep = haveState && ParsedFiles::Settled(state, readStart);
    if (parse) {
        // Kept in the list only when settled; the source holds it either way.
        source.kept = Parsed(state, source.text);
        source.text.clear();
        kept.Keep(file, keep ? source.kept : nullptr);
        return source;
    }
    if (!keep || source.text.size() > kMaxKeptText) return source;
    auto text = std::make_shared<ParsedFile>();
    text->state = state;
    text->parsed = false;
    text->asks.store(1, std::memory_order_relaxed);
    text->text = std::move(source.text);
    source.text.clear();
    source.kept = text;
    kept.Keep(file, std::move(text));
    return source;
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
    posix::profile::StripQuotes(value);
    return value;
}

uint32_t ReadProfileString(const char* section, const char* key, const char* defaultValue,
                           char* buffer, uint32_t size, const char* file) {
    const bool list = section == nullptr || key == nullptr;
    const Source source = file != nullptr ? LoadFile(file, list) : Source{};
    const std::vector<Section>* parsed = source.Sections();

    if (!list) {
        std::string value;
        const bool found =
            parsed != nullptr
                ? posix::profile::FindValue(*parsed, section, key, &value)
                : source.read && posix::profile::ScanValue(source.Text(), section, key, &value);
        return CopyResult(found ? value : PrepareDefault(defaultValue), buffer, size);
    }

    const std::vector<Section> noSections;
    const std::vector<Section>& sections = parsed != nullptr ? *parsed : noSections;
    if (section == nullptr) {
        std::vector<const std::string*> names;
        for (size_t i = 1; i < sections.size(); ++i)
            names.push_back(&sections[i].name);
        return CopyList(names, buffer, size);
    }

    const std::string wantedSection = posix::profile::Trim(section);
    for (const Section& candidate : sections) {
        if (!posix::profile::EqualNoCase(candidate.name, wantedSection)) continue;
        std::vector<const std::string*> names;
        for (const auto& k : candidate.keys) {
            if (k.hasValue) names.push_back(&k.name);
        }
        if (!names.empty()) return CopyList(names, buffer, size);
        break;
    }
    return CopyResult(PrepareDefault(defaultValue), buffer, size);
}

}  // namespace

uint32_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                 char* buffer, uint32_t size, const char* file) {
    if (buffer == nullptr) return 0;
    try {
        return ReadProfileString(section, key, defaultValue, buffer, size, file);
    } catch (const std::exception&) {
        // Every module calls in here: no exception may leave. Without memory
        // to read the file (std::bad_alloc, or std::length_error for a size no
        // string holds), nothing is read.
        if (size > 0) buffer[0] = '\0';
        return 0;
    }
}

}  // namespace pexil::platform::backend
