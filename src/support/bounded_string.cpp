#include "support/bounded_string.h"

#include <cstdio>
#include <cstring>

namespace pexil {
namespace {

int BoundedFormat(char* buffer, int size, int maxCount, const char* format, va_list args) {
    // A va_list cannot be tested for null portably; callers always pass one.
    if (buffer == nullptr || size <= 0 || format == nullptr) return -1;
    if (maxCount <= 0 && maxCount != -1) return -1;
    const int effective = (maxCount == -1 || maxCount > size - 1) ? size - 1 : maxCount;
    va_list copy;
    va_copy(copy, args);
    // vsnprintf never writes more than effective characters plus a terminator.
    const int produced = std::vsnprintf(buffer, static_cast<size_t>(effective) + 1, format, copy);
    va_end(copy);
    buffer[effective] = '\0';
    // Some C libraries return -1 on truncation, others the length the whole
    // output would have had; both mean "cut" here.
    if (produced < 0 || produced > effective) return -1;
    return produced;
}

int BoundedAppend(char* destination, int size, const char* source) {
    if (destination == nullptr || size <= 0 || source == nullptr) {
        return size == 0 ? kBoundedTooLong : kBoundedInvalid;
    }
    const size_t have = ::strnlen(destination, static_cast<size_t>(size));
    const size_t add = std::strlen(source);
    if (static_cast<size_t>(size) < have + add + 1) return kBoundedTooLong;
    std::memcpy(destination + have, source, add);
    destination[have + add] = '\0';
    return kBoundedOk;
}

int BoundedCopyN(char* destination, int size, const char* source, int count) {
    if (destination == nullptr || size <= 0 || source == nullptr || count <= 0) {
        return kBoundedInvalid;
    }
    if (count > size - 1) {
        destination[0] = '\0';
        return kBoundedInvalid;
    }
    int i = 0;
    for (; i < count && source[i] != '\0'; ++i)
        destination[i] = source[i];
    for (; i < count; ++i)
        destination[i] = '\0';
    destination[count] = '\0';
    return kBoundedOk;
}

int BoundedCopy(char* destination, int size, const char* source) {
    if (destination == nullptr || size <= 0 || source == nullptr) {
        return size == 0 ? kBoundedTooLong : kBoundedInvalid;
    }
    const size_t length = std::strlen(source);
    if (length > static_cast<size_t>(size - 1)) return kBoundedTooLong;
    std::memmove(destination, source, length + 1);
    return kBoundedOk;
}

}  // namespace

const BoundedStringTable kBoundedStrings = {BoundedFormat, BoundedAppend, BoundedCopyN,
                                            BoundedCopy};

}  // namespace pexil
