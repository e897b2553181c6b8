// The bounded-string table: the four functions through which every copy,
// append and format into a fixed-size buffer goes. Each never writes past the
// size it is given and leaves a terminated string whenever it succeeds.
//
// Sizes count the whole buffer including the terminator. Result codes of the
// copy and append functions: kBoundedOk, kBoundedInvalid (an invalid argument)
// and kBoundedTooLong (the result does not fit).
#ifndef PEXIL_SUPPORT_BOUNDED_STRING_H
#define PEXIL_SUPPORT_BOUNDED_STRING_H

#include <cstdarg>

namespace pexil {

constexpr int kBoundedOk = 0;
constexpr int kBoundedInvalid = 22;
constexpr int kBoundedTooLong = 34;

struct BoundedStringTable {
    // Formats at most min(size - 1, maxCount) characters (maxCount -1: size - 1)
    // and terminates right after them. Returns the count written, or -1 when
    // the output was cut or an argument is invalid (null buffer or format,
    // size <= 0, maxCount <= 0 other than -1).
    //   Format(buf, 4, -1, "%s", "abcdef") -> -1, buf "abc"
    //   Format(buf, 4, 2, "%s", "abcdef")  -> -1, buf "ab"
    int (*Format)(char* buffer, int size, int maxCount, const char* format, va_list args);
    // Appends source to the string in destination. 34 (destination unchanged)
    // when the result needs more than size bytes; 34 for size 0; 22 for a null
    // pointer or a negative size.
    int (*Append)(char* destination, int size, const char* source);
    // Copies exactly count characters (zero-filling after a shorter source) and
    // terminates at count. 22 for any invalid argument (size 0 included); when
    // count > size - 1 the destination becomes empty and the result is 22.
    int (*CopyN)(char* destination, int size, const char* source, int count);
    // Copies source. 34 (destination untouched) when it needs more than size
    // bytes; 34 for size 0; 22 for a null pointer or a negative size.
    int (*Copy)(char* destination, int size, const char* source);
};

// The module-wide table; constant, filled at load.
extern const BoundedStringTable kBoundedStrings;

}  // namespace pexil

#endif
