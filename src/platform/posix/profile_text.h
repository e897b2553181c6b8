// The text half of the POSIX profile-string reader (profile_reader.cpp): how
// a profile file's bytes become sections and keys, and how one key is found.
// No system call here: the reader reads the file and keeps what it parsed.
//
// A single-key question can be answered two ways, which must agree on every
// text: from the parse (Parse, then FindValue), or by scanning the text for
// the one key (ScanValue), which builds nothing. The reader scans a file it
// sees for the first time and parses one it reads again.
#ifndef PEXIL_PLATFORM_POSIX_PROFILE_TEXT_H
#define PEXIL_PLATFORM_POSIX_PROFILE_TEXT_H

#include <string>
#include <vector>

namespace pexil::platform::posix::profile {

struct Key {
    std::string name;
    bool hasValue;
    std::string value;
};

struct Section {
    std::string name;
    std::vector<Key> keys;
};

// The file's bytes as text: a UTF-8 or UTF-16 byte-order mark decodes the rest
// into Windows-1252 ('?' for what it lacks); other bytes are kept as they are.
std::string Decode(std::string bytes);

// Every section in order, the first one unnamed (the keys before any header).
std::vector<Section> Parse(const std::string& text);

// The value of key in section, one pair of matching quotes removed: the first
// section and the first key of the name win, and a first key without '=' has
// no value. False when there is no value: the caller answers its default.
// Names are compared trimmed and without regard to ASCII case.
bool FindValue(const std::vector<Section>& sections, const char* section, const char* key,
               std::string* value);
bool ScanValue(const std::string& text, const char* section, const char* key, std::string* value);

// Text trimmed of profile white space and cut at a zero byte.
std::string Trim(const char* text);

// Names compare without regard to ASCII case.
bool EqualNoCase(const std::string& a, const std::string& b);

void StripQuotes(std::string& text);

}  // namespace pexil::platform::posix::profile

#endif
