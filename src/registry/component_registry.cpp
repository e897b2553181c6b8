#include "registry/component_registry.h"

#include "platform/platform.h"
#include "support/bounded_string.h"

#include <pexil/holder.h>

#include <cstring>

namespace pexil {
namespace {

const PathBase kRootPathBase = {QueryRootPath, PathStyle::Native, false};

}  // namespace

const PathBase& ComponentRegistry::RegistryPathBase() {
    return kRootPathBase;
}

ComponentRegistry::ComponentRegistry(const PathBase& base) : base_(base) {
    registryFilePath_[0] = '\0';
    registryPath_[0] = '\0';
    defaultDllDirectory_[0] = '\0';
    defaultDllPath_[0] = '\0';
}

// Frees the file text and the entries; no module is freed.
ComponentRegistry::~ComponentRegistry() {
    platform::Deallocate(fileText_);
    for (char* text : retiredTexts_)
        platform::Deallocate(text);
    for (DllBinding* dll : bindings_)
        delete dll;
}

void* ComponentRegistry::operator new(size_t size) noexcept {
    return platform::Allocate(size);
}
void ComponentRegistry::operator delete(void* memory) noexcept {
    platform::Deallocate(memory);
}

namespace {

// Writes count characters of text at *at, as many as fit before the buffer's
// last byte; false when some did not.
bool PutCut(char* buffer, int size, int* at, const char* text, size_t count) {
    const size_t room = static_cast<size_t>(size - 1 - *at);
    const size_t taken = count < room ? count : room;
    if (taken > 0) {
        kBoundedStrings.CopyN(buffer + *at, size - *at, text, static_cast<int>(taken));
        *at += static_cast<int>(taken);
    }
    return taken == count;
}

}  // namespace

// Put together piece by piece rather than formatted: the same result, cut the
// same way, at a fraction of the cost (a registry joins one path per entry).
int JoinDirectoryAndName(const char* directory, const char* name, char* buffer, int size,
                         PathStyle style) {
    if (directory == nullptr || name == nullptr || buffer == nullptr || size <= 0) return 0;
    const size_t length = std::strlen(directory);
    const char last = length > 0 ? directory[length - 1] : '\0';
    const bool endsWithSeparator =
        last == '\\' || (ResolveStyle(style) == PathStyle::Posix && last == '/');
    const char separator[2] = {Separator(style), '\0'};
    if (length + 1 + std::strlen(name) < static_cast<size_t>(size)) {
        // It fits (as nearly every join does): whole copies.
        kBoundedStrings.Copy(buffer, size, directory);
        if (!endsWithSeparator) kBoundedStrings.Append(buffer, size, separator);
        kBoundedStrings.Append(buffer, size, name);
        return 1;
    }
    int at = 0;
    bool whole = PutCut(buffer, size, &at, directory, length);
    if (!endsWithSeparator) whole = PutCut(buffer, size, &at, separator, 1) && whole;
    whole = PutCut(buffer, size, &at, name, std::strlen(name)) && whole;
    buffer[at] = '\0';
    return whole ? 1 : 0;
}

}  // namespace pexil
