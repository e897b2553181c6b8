// The registry file's line rules, shared by the parser and by the tools that
// explain what the parser did (pexil inspect --lint).
#ifndef PEXIL_REGISTRY_REGISTRY_RULES_H
#define PEXIL_REGISTRY_REGISTRY_RULES_H

#include "support/text.h"

#include <stddef.h>
#include <stdint.h>

namespace pexil::registry {

// A key line split in place at its '=': the key trimmed of blanks, the value
// trimmed of blanks and double quotes at both ends. The key is empty when only
// blanks stood before the '='.
struct KeyLine {
    char* key;
    size_t keyLength;
    char* value;
    size_t valueLength;
};
KeyLine SplitKeyLine(char* line, char* equals);
// The same when the caller knows where the line's text ends (its zero byte, or
// the line end about to become one). Inline: the parser splits every key line.
inline KeyLine SplitKeyLine(char* line, char* equals, char* end) {
    *equals = '\0';
    char* key = line;
    while (IsBlankChar(*key))
        ++key;
    char* keyEnd = equals;
    while (keyEnd > key && IsBlankChar(keyEnd[-1]))
        --keyEnd;
    *keyEnd = '\0';
    char* value = equals + 1;
    while (value < end && (IsBlankChar(*value) || *value == '"'))
        ++value;
    char* valueEnd = end;
    while (valueEnd > value && (IsBlankChar(valueEnd[-1]) || valueEnd[-1] == '"'))
        --valueEnd;
    *valueEnd = '\0';
    return KeyLine{key, static_cast<size_t>(keyEnd - key), value,
                   static_cast<size_t>(valueEnd - value)};
}

// The whole key equals the keyword (lower case) without regard to ASCII case.
bool MatchesKeyword(const char* key, const char* keyword);

// The mask letters in the order of their bits: E is bit 0 (kMaskE), C bit 5.
constexpr char kMaskLetters[] = "ETVDWC";

// The mask of the letters E T V D W C (either case) in the value; every other
// character is ignored.
uint32_t ParseMask(const char* value);

// A header's number as strtol reads a signed 32-bit decimal number: leading
// white space, one optional sign, digits up to the first other character; no
// digits is 0. False (nothing written) beyond the signed 32-bit range. *end
// (when given) receives where the number ended.
bool ParseHeaderNumber(const char* text, int32_t* number, const char** end = nullptr);

// The line ends in text[from, to) as an editor counts lines: CR LF, LF and a
// CR alone each end one. size is the whole text's, so that a CR just before
// `to` is told from the CR of a CR LF.
int CountLineEnds(const char* text, size_t size, size_t from, size_t to);

// The line's first character after blanks is ';' or '#': there is no comment
// syntax, but such a line is meant as one.
bool LooksLikeComment(const char* line);

}  // namespace pexil::registry

#endif
