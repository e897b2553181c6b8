#include "support/windows_mistakes.h"

#include "support/debug_print.h"

#include <cstring>

namespace pexil {

const char* Utf16ByteOrderMark(const char* text, size_t size) {
    if (text == nullptr || size < 2) return nullptr;
    const unsigned char first = static_cast<unsigned char>(text[0]);
    const unsigned char second = static_cast<unsigned char>(text[1]);
    if (first == 0xff && second == 0xfe) return "UTF-16 LE";
    if (first == 0xfe && second == 0xff) return "UTF-16 BE";
    return nullptr;
}

int DirectoryCutBeforeSlash(const char* path, char* buffer, int size, PathStyle style) {
    if (path == nullptr || ResolveStyle(style) != PathStyle::Windows) return 0;
    const char* backslash = std::strrchr(path, '\\');
    if (backslash == nullptr || std::strchr(backslash, '/') == nullptr) return 0;
    return CopyNIfFits(buffer, size, path, static_cast<int>(backslash - path));
}

int HasUnrepresentableCharacter(const char* path, PathStyle style) {
    if (path == nullptr || ResolveStyle(style) != PathStyle::Windows) return 0;
    const char* rest = std::strncmp(path, "\\\\?\\", 4) == 0 ? path + 4 : path;
    return std::strchr(rest, '?') != nullptr ? 1 : 0;
}

void ExplainUtf16File(const char* file, const char* text, size_t size) {
    if (!Explaining()) return;
    const char* mark = Utf16ByteOrderMark(text, size);
    if (mark == nullptr) return;
    Explain(
        "the registry file %s is %s text (it begins with that byte-order mark, as Notepad's "
        "\"Unicode\" writes): it is read as bytes, so no line of it is understood and it binds "
        "no component; save it as ANSI or UTF-8\n",
        file, mark);
}

void ExplainUnrepresentable(const char* what, const char* path) {
    if (!Explaining() || !HasUnrepresentableCharacter(path)) return;
    Explain(
        "%s %s holds '?' where the ANSI code page could not represent a character of a name: "
        "the framework's ANSI calls cannot reach that file; use a directory whose name the code "
        "page can write (plain ASCII always can)\n",
        what, path);
}

}  // namespace pexil
