#include "support/format.h"

#include "support/bounded_string.h"

namespace pexil {

int FormatString(char* buffer, int size, const char* format, ...) {
    if (buffer == nullptr || size <= 0 || format == nullptr) return -1;
    va_list args;
    va_start(args, format);
    const int result = kBoundedStrings.Format(buffer, size, -1, format, args);
    va_end(args);
    buffer[size - 1] = '\0';
    return result;
}

int FormatStringNV(char* buffer, int size, int maxCount, const char* format, va_list args) {
    if (buffer == nullptr || size <= 0 || maxCount <= 0 || format == nullptr) return -1;
    return kBoundedStrings.Format(buffer, size, maxCount, format, args);
}

int FormatStringN(char* buffer, int size, int maxCount, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = FormatStringNV(buffer, size, maxCount, format, args);
    va_end(args);
    return result;
}

int TryFormatString(const void* /*object*/, char* buffer, int size, int allowTruncation,
                    const char* format, ...) {
    if (buffer == nullptr || size <= 0 || format == nullptr) return 0;
    buffer[size - 1] = '\0';
    va_list args;
    va_start(args, format);
    const int result = kBoundedStrings.Format(buffer, size, -1, format, args);
    va_end(args);
    if (result != -1) return 1;
    buffer[size - 1] = '\0';
    return allowTruncation != 0 ? 1 : 0;
}

}  // namespace pexil
