#include "registry/component_registry.h"

#include "platform/platform.h"
#include "support/format.h"

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
}

void* ComponentRegistry::operator new(size_t size) noexcept {
    return platform::Allocate(size);
}
void ComponentRegistry::operator delete(void* memory) noexcept {
    platform::Deallocate(memory);
}

int JoinDirectoryAndName(const char* directory, const char* name, char* buffer, int size,
                         PathStyle style) {
    const size_t length = std::strlen(directory);
    const char last = length > 0 ? directory[length - 1] : '\0';
    const bool endsWithSeparator =
        last == '\\' || (ResolveStyle(style) == PathStyle::Posix && last == '/');
    if (endsWithSeparator)
        return TryFormatString(nullptr, buffer, size, 0, "%s%s", directory, name);
    if (Separator(style) == '\\') {
        return TryFormatString(nullptr, buffer, size, 0, "%s\\%s", directory, name);
    }
    return TryFormatString(nullptr, buffer, size, 0, "%s/%s", directory, name);
}

}  // namespace pexil
