#include "support/text.h"

#include "support/bounded_string.h"
#include "support/path.h"

#include <cstring>

namespace pexil {

int IsBlank(const char* text) {
    if (text == nullptr) return 1;
    for (; *text != '\0'; ++text) {
        if (!IsBlankChar(*text)) return 0;
    }
    return 1;
}

int TrimBlanks(const char* text, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    if (text == nullptr) return 0;
    while (IsBlankChar(*text))
        ++text;
    const size_t length = std::strlen(text);
    size_t kept = length;
    while (kept > 0 && IsBlankChar(text[kept - 1]))
        --kept;
    if (kept == 0) return 0;
    if (kept == length) return CopyIfFits(buffer, size, text);
    return CopyNIfFits(buffer, size, text, static_cast<int>(kept));
}

int TrimSpaces(const char* text, char* buffer, int size) {
    if (text == nullptr || buffer == nullptr || size <= 0) return 0;
    const char* begin = text;
    while (*begin == ' ')
        ++begin;
    size_t length = std::strlen(begin);
    while (length > 0 && begin[length - 1] == ' ')
        --length;
    if (length == 0 || length >= static_cast<size_t>(size)) {
        buffer[0] = '\0';
        return 0;
    }
    // The buffer may be the text itself; CopyN copies front to back, which is
    // safe for a move towards the start.
    kBoundedStrings.CopyN(buffer, size, begin, static_cast<int>(length));
    return static_cast<int>(length);
}

int IsEmptyAfterTrim(const char* text) {
    if (text == nullptr) return 1;
    // Looked at in place: a trimmed copy in a fixed buffer would leave a text
    // too long for it empty.
    for (; *text != '\0'; ++text) {
        if (*text != ' ') return 0;
    }
    return 1;
}

}  // namespace pexil
