// Formatting into a caller's buffer, on top of the bounded-string table.
#ifndef PEXIL_SUPPORT_FORMAT_H
#define PEXIL_SUPPORT_FORMAT_H

#include <cstdarg>

#if defined(__clang__)
#define PEXIL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#elif defined(__GNUC__)
// gnu_printf: the formats are checked as the C99 formatter reads them, also
// with MinGW, whose plain printf archetype is Microsoft's.
#define PEXIL_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define PEXIL_PRINTF(fmt, args)
#endif

namespace pexil {

// Formats at most size - 1 characters and terminates the buffer's last byte.
// Returns the count written, or -1 when cut or when the buffer or format is
// null or size <= 0 (nothing written then).
int FormatString(char* buffer, int size, const char* format, ...) PEXIL_PRINTF(3, 4);

// Formats at most min(size - 1, maxCount) characters and terminates right after
// them. Returns the count, or -1 when cut or an argument is invalid (here a
// maxCount of -1 is invalid too).
int FormatStringN(char* buffer, int size, int maxCount, const char* format, ...) PEXIL_PRINTF(4, 5);
int FormatStringNV(char* buffer, int size, int maxCount, const char* format, va_list args);

// 1 when the whole output fitted, or when it was cut and allowTruncation is
// non-zero; 0 otherwise, and for a null buffer or format or size <= 0. The
// buffer always ends up terminated (cut output included) unless the arguments
// were invalid. The object argument is not used.
int TryFormatString(const void* object, char* buffer, int size, int allowTruncation,
                    const char* format, ...) PEXIL_PRINTF(5, 6);

}  // namespace pexil

#endif
