#include "platform/posix/profile_text.h"

#include <cstdint>
#include <cstring>

namespace pexil::platform::posix::profile {
namespace {

bool IsProfileSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1a;
}

// A piece of the text, not copied.
struct Span {
    const char* begin;
    const char* end;

    std::string ToString() const { return std::string(begin, end); }
};

// Trimmed; a zero byte ends a name or value, as it ends a C string.
Span TrimSpan(const char* begin, const char* end) {
    while (begin < end && IsProfileSpace(static_cast<unsigned char>(*begin)))
        ++begin;
    while (end > begin && IsProfileSpace(static_cast<unsigned char>(end[-1])))
        --end;
    const void* zero = std::memchr(begin, '\0', static_cast<size_t>(end - begin));
    if (zero != nullptr) end = static_cast<const char*>(zero);
    return Span{begin, end};
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const char* a, size_t aSize, const char* b, size_t bSize) {
    if (aSize != bSize) return false;
    for (size_t i = 0; i < aSize; ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

bool EqualNoCase(Span a, const std::string& b) {
    return EqualNoCase(a.begin, static_cast<size_t>(a.end - a.begin), b.data(), b.size());
}

// One line of the text that is not blank: a header, or a key.
struct Line {
    bool header;
    Span name;  // of the section or the key
    // Keys only: the line holds '=', and the text after it is the value.
    bool hasValue;
    const char* afterEquals;
    const char* stop;  // the line's end, trimmed
};

// The next line that is not blank, from *p on; false at the end of the text.
// A key's name and value are left for the caller to trim (KeyName,
// KeyValue): the scan needs them only in the section it looks for.
bool NextLine(const char** p, const char* end, Line* line) {
    while (*p < end) {
        const char* lineEnd = *p;
        while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r')
            ++lineEnd;
        const char* begin = *p;
        const char* stop = lineEnd;
        *p = lineEnd < end ? lineEnd + 1 : end;
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
                line->header = true;
                line->name = TrimSpan(begin + 1, close - 1);
                return true;
            }
        }
        line->header = false;
        line->name = Span{begin, stop};
        line->afterEquals = nullptr;
        line->stop = stop;
        return true;
    }
    return false;
}

// Splits a key line at its first '=' (once, when the caller needs it).
void SplitKey(Line* line) {
    const char* begin = line->name.begin;
    const void* equals = std::memchr(begin, '=', static_cast<size_t>(line->stop - begin));
    line->hasValue = equals != nullptr;
    if (equals == nullptr) {
        line->name = TrimSpan(begin, line->stop);
        line->afterEquals = line->stop;
    } else {
        const char* eq = static_cast<const char*>(equals);
        line->name = TrimSpan(begin, eq);
        line->afterEquals = eq + 1;
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

}  // namespace

bool EqualNoCase(const std::string& a, const std::string& b) {
    return EqualNoCase(a.data(), a.size(), b.data(), b.size());
}

std::string Trim(const char* text) {
    return TrimSpan(text, text + std::strlen(text)).ToString();
}

void StripQuotes(std::string& text) {
    if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0]) {
        text = text.substr(1, text.size() - 2);
    }
}

std::string Decode(std::string bytes) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return FromUtf8(bytes, 3);
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) return FromUtf16(bytes, false);
    if (bytes.compare(0, 2, "\xFE\xFF") == 0) return FromUtf16(bytes, true);
    return bytes;
}

std::vector<Section> Parse(const std::string& text) {
    std::vector<Section> sections(1);  // the unnamed section before any header
    const char* p = text.data();
    const char* const end = p + text.size();
    Line line;
    while (NextLine(&p, end, &line)) {
        if (line.header) {
            sections.push_back(Section{line.name.ToString(), {}});
            continue;
        }
        SplitKey(&line);
        sections.back().keys.push_back(
            Key{line.name.ToString(), line.hasValue,
                line.hasValue ? TrimSpan(line.afterEquals, line.stop).ToString() : std::string()});
    }
    return sections;
}

bool FindValue(const std::vector<Section>& sections, const char* section, const char* key,
               std::string* value) {
    // Compared in place: a kept parse answers without building a string.
    const Span wantedSection = TrimSpan(section, section + std::strlen(section));
    for (const Section& candidate : sections) {
        if (!EqualNoCase(wantedSection, candidate.name)) continue;
        const Span wantedKey = TrimSpan(key, key + std::strlen(key));
        for (const Key& k : candidate.keys) {
            if (!EqualNoCase(wantedKey, k.name)) continue;
            if (!k.hasValue) return false;  // the first key of the name wins, even without a value
            *value = k.value;
            StripQuotes(*value);
            return true;
        }
        return false;  // only the first section of the name counts
    }
    return false;
}

bool ScanValue(const std::string& text, const char* section, const char* key, std::string* value) {
    const std::string wantedSection = Trim(section);
    const std::string wantedKey = Trim(key);
    const char* p = text.data();
    const char* const end = p + text.size();
    // The unnamed section comes first and so wins for an empty name.
    bool inWanted = wantedSection.empty();
    Line line;
    while (NextLine(&p, end, &line)) {
        if (line.header) {
            // The wanted section ended: a later one of the name does not count.
            if (inWanted) return false;
            inWanted = EqualNoCase(line.name, wantedSection);
            continue;
        }
        if (!inWanted) continue;
        SplitKey(&line);
        if (!EqualNoCase(line.name, wantedKey)) continue;
        if (!line.hasValue) return false;
        *value = TrimSpan(line.afterEquals, line.stop).ToString();
        StripQuotes(*value);
        return true;
    }
    return false;
}

}  // namespace pexil::platform::posix::profile
