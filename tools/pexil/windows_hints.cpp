#include "windows_hints.h"

#include "platform/platform.h"
#include "support/windows_mistakes.h"

namespace pexil::tool {

std::string Utf16Problem(const char* text, size_t size) {
    const char* mark = Utf16ByteOrderMark(text, size);
    if (mark == nullptr) return "";
    return std::string("the file is ") + mark +
           " text (it begins with that byte-order mark, as Notepad's \"Unicode\" writes): the "
           "registry parser reads bytes, so no line of it is understood and it binds no "
           "component; save it as ANSI or UTF-8";
}

std::string Utf16ProblemOfFile(const std::string& file) {
    const platform::Handle handle = platform::OpenFileForRead(file.c_str());
    if (handle == platform::kInvalidHandle) return "";
    char head[2] = {};
    uint32_t read = 0;
    const int ok = platform::ReadFile(handle, head, sizeof(head), &read);
    platform::CloseFile(handle);
    return ok != 0 ? Utf16Problem(head, read) : "";
}

std::string BesideRegistryNote(const ComponentRegistry& registry, const RegistryEntry& entry) {
    char directory[kMaxPath];
    if (entry.besideRegistry == 0 || IsAbsolutePath(entry.dllName) ||
        !DirectoryCutBeforeSlash(registry.registryFilePath(), directory, kMaxPath)) {
        return "";
    }
    return std::string("; it is looked for beside the registry file, in ") + directory +
           ": the directory of " + registry.registryFilePath() +
           " ends at its last backslash, and a '/' after it does not count; write the registry "
           "path with backslashes only";
}

}  // namespace pexil::tool
