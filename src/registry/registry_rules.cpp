#include "registry/registry_rules.h"

#include "registry/component_registry.h"
#include "support/text.h"

#include <cstring>

static_assert(pexil::kMaskE == 1u << 0 && pexil::kMaskT == 1u << 1 && pexil::kMaskV == 1u << 2 &&
                  pexil::kMaskD == 1u << 3 && pexil::kMaskW == 1u << 4 && pexil::kMaskC == 1u << 5,
              "the mask letters stand in the order of their bits");

namespace pexil::registry {

KeyLine SplitKeyLine(char* line, char* equals) {
    return SplitKeyLine(line, equals, equals + 1 + std::strlen(equals + 1));
}

bool MatchesKeyword(const char* key, const char* keyword) {
    for (; *key != '\0' && *keyword != '\0'; ++key, ++keyword) {
        char c = *key;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *keyword) return false;
    }
    return *key == '\0' && *keyword == '\0';
}

uint32_t ParseMask(const char* value) {
    uint32_t mask = 0;
    for (; *value != '\0'; ++value) {
        // Setting bit 0x20 makes an ASCII capital small and leaves a small
        // letter as it is; no other byte becomes one of the six letters.
        switch (static_cast<char>(*value | 0x20)) {
            case 'e':
                mask |= kMaskE;
                break;
            case 't':
                mask |= kMaskT;
                break;
            case 'v':
                mask |= kMaskV;
                break;
            case 'd':
                mask |= kMaskD;
                break;
            case 'w':
                mask |= kMaskW;
                break;
            case 'c':
                mask |= kMaskC;
                break;
            default:
                break;
        }
    }
    return mask;
}

bool ParseHeaderNumber(const char* text, int32_t* number, const char** end) {
    const char* const start = text;
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    const char* const digits = text;
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > int64_t{2147483648}) return false;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return false;
    *number = static_cast<int32_t>(value);
    // Without digits strtol reads nothing at all.
    if (end != nullptr) *end = text == digits ? start : text;
    return true;
}

int CountLineEnds(const char* text, size_t size, size_t from, size_t to) {
    int ends = 0;
    for (size_t i = from; i < to && i < size; ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= size || text[i + 1] != '\n'))) ++ends;
    }
    return ends;
}

bool LooksLikeComment(const char* line) {
    while (IsBlankChar(*line))
        ++line;
    return *line == ';' || *line == '#';
}

}  // namespace pexil::registry
