#include "support/path.h"

#include "support/bounded_string.h"

#include <cstring>

namespace pexil {

PathStyle ResolveStyle(PathStyle style) {
    if (style != PathStyle::Native) return style;
#if defined(_WIN32)
    return PathStyle::Windows;
#else
    return PathStyle::Posix;
#endif
}

char Separator(PathStyle style) {
    return ResolveStyle(style) == PathStyle::Windows ? '\\' : '/';
}

int CopyIfFits(char* destination, int size, const char* source) {
    if (destination == nullptr || source == nullptr || size <= 0) return 0;
    if (std::strlen(source) >= static_cast<size_t>(size)) return 0;
    kBoundedStrings.Copy(destination, size, source);
    return 1;
}

int CopyNIfFits(char* destination, int size, const char* source, int n) {
    if (destination == nullptr || source == nullptr || n <= 0 || n >= size) return 0;
    kBoundedStrings.CopyN(destination, size, source, n);
    destination[n] = '\0';
    return 1;
}

int AppendIfFits(char* destination, int size, const char* source) {
    if (destination == nullptr || source == nullptr || size <= 0) return 0;
    const size_t have = ::strnlen(destination, static_cast<size_t>(size));
    if (have + std::strlen(source) >= static_cast<size_t>(size)) return 0;
    kBoundedStrings.Append(destination, size, source);
    return 1;
}

int IsAbsolutePath(const char* path, PathStyle style) {
    if (path == nullptr) return 0;
    if (ResolveStyle(style) == PathStyle::Windows) {
        return (path[0] == '\\' || std::strchr(path, ':') != nullptr) ? 1 : 0;
    }
    return (path[0] == '/' || path[0] == '\\') ? 1 : 0;
}

int LastOfEitherSeparator(const char* path) {
    if (path == nullptr) return -1;
    int last = -1;
    for (int i = 0; path[i] != '\0'; ++i) {
        if (path[i] == '\\' || path[i] == '/') last = i;
    }
    return last;
}

int LastSeparator(const char* path, PathStyle style) {
    if (path == nullptr) return -1;
    if (ResolveStyle(style) == PathStyle::Posix) return LastOfEitherSeparator(path);
    const char* backslash = std::strrchr(path, '\\');
    if (backslash != nullptr) return static_cast<int>(backslash - path);
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? static_cast<int>(slash - path) : -1;
}

int HasValidPathChars(const char* path) {
    return std::strpbrk(path, "<>\"|*?") == nullptr ? 1 : 0;
}

int JoinWithDirectoryOf(const char* file, const char* name, char* buffer, int size, PathStyle style,
                        int* whole) {
    if (whole != nullptr) *whole = 0;
    if (file == nullptr || name == nullptr || buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    const int separator = LastSeparator(file, style);
    bool fitted;
    if (separator >= 0) {
        fitted = CopyNIfFits(buffer, size, file, separator + 1);
    } else {
        // A reference without a separator is taken as a directory itself.
        const char written[2] = {Separator(style), '\0'};
        fitted = CopyIfFits(buffer, size, file);
        fitted = AppendIfFits(buffer, size, written) && fitted;
    }
    fitted = AppendIfFits(buffer, size, name) && fitted;
    if (whole != nullptr) *whole = fitted ? 1 : 0;
    return 1;
}

int GetExtension(const char* path, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    if (path == nullptr) return 1;
    const char* name = path + LastOfEitherSeparator(path) + 1;
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr) return 1;
    return CopyIfFits(buffer, size, dot);
}

}  // namespace pexil
