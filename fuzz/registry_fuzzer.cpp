// The registry file parser on arbitrary bytes, and every query a user can make
// of what it read: the entries, FindEntry, GetLogMasks, and CreateByID, which
// resolves each entry's full path and hands it to the loader. The loader is
// the system table's: here it records the path and either fails or hands out a
// made-up handle (whose exports are never found), so nothing is really loaded.
//
// Input: three bytes of settings (path style and lengths of the root and
// registry paths, so that joins meet the 260-byte limit), then the file.
#include "fuzz_support.h"

#include "platform/platform.h"
#include "registry/component_registry.h"
#include "registry/registry_observer.h"
#include "support/base_directory.h"
#include "support/path.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace pexil::fuzz {
namespace {

constexpr uint32_t kAllMasks = 0x3F;

std::string g_root;                          // the configured root path of this run
std::string g_realFile;                      // where the input's file bytes are written
std::string g_expectedOpen;                  // the registry file path handed to LoadFile
int g_opens = 0;                             // openFileForRead calls since the last reset
bool g_loadsSucceed = false;                 // the loader hands out handles
std::vector<std::string> g_loaderPaths;      // every path the loader was given, in order
std::map<std::string, uintptr_t> g_handles;  // one made-up handle per distinct path
std::vector<uintptr_t> g_freed;              // every handle given back, in order

const char* RootDirectory() {
    return g_root.c_str();
}

platform::Handle OpenRegistryFile(const char* path) {
    ++g_opens;
    if (path == nullptr) return platform::kInvalidHandle;
    FUZZ_CHECK(g_expectedOpen == path);
    // Whatever its spelling, the registry file is the one the input was written to.
    return platform::OriginalSystem().openFileForRead(g_realFile.c_str());
}

PexilModuleHandle RecordLoad(const char* path) {
    FUZZ_CHECK(path != nullptr);
    // Handed over as a path, so it is terminated within a path buffer.
    FUZZ_CHECK(TerminatedWithin(path, kMaxPath));
    g_loaderPaths.emplace_back(path);
    if (!g_loadsSucceed) return nullptr;
    auto it = g_handles.find(path);
    if (it == g_handles.end()) {
        it = g_handles.emplace(path, 0x10000 + 0x10 * g_handles.size()).first;
    }
    return reinterpret_cast<PexilModuleHandle>(it->second);
}

bool IsMadeUpHandle(PexilModuleHandle module) {
    for (const auto& entry : g_handles) {
        if (reinterpret_cast<PexilModuleHandle>(entry.second) == module) return true;
    }
    return false;
}

void* NoExports(PexilModuleHandle module, const char* name) {
    FUZZ_CHECK(IsMadeUpHandle(module));
    FUZZ_CHECK(name != nullptr);
    return nullptr;
}

int RecordFree(PexilModuleHandle module) {
    FUZZ_CHECK(IsMadeUpHandle(module));
    g_freed.push_back(reinterpret_cast<uintptr_t>(module));
    return 1;
}

// Watches the parser: lines come in order inside the text, and the entries it
// stores are those the registry ends with.
class WatchingObserver : public RegistryObserver {
public:
    void OnText(const char*, size_t size) override {
        FUZZ_CHECK(!sawText);
        sawText = true;
        size_ = size;
    }
    void OnLine(const char*, size_t offset, size_t length) override {
        FUZZ_CHECK(sawText);
        FUZZ_CHECK(offset >= next_ && offset + length <= size_);
        next_ = offset + length;
    }
    void OnOtherLine(const char* text) override { FUZZ_CHECK(text != nullptr); }
    void OnHeader(const char*, Header outcome, uint32_t componentID, const char* after) override {
        FUZZ_CHECK((outcome == Header::Component) == (componentID != 0));
        FUZZ_CHECK(after != nullptr);
    }
    void OnIgnoredKey(const char* key, Ignored, size_t) override { FUZZ_CHECK(key != nullptr); }
    void OnKey(const char* key, const char* value, Keyword, Section, bool) override {
        FUZZ_CHECK(key != nullptr && key[0] != '\0');
        FUZZ_CHECK(TerminatedWithin(value, kMaxPath));
    }
    void OnStore(uint32_t componentID, bool replaced) override {
        FUZZ_CHECK(componentID != 0);
        FUZZ_CHECK(replaced == (stored_.count(componentID) != 0));
        stored_.insert(componentID);
    }
    bool sawText = false;
    std::set<uint32_t> stored_;

private:
    size_t size_ = 0;
    size_t next_ = 0;
};

bool SameEntry(const RegistryEntry& a, const RegistryEntry& b) {
    return a.besideRegistry == b.besideRegistry && std::string(a.dllName) == b.dllName &&
           a.hasLogSettings == b.hasLogSettings && a.debugOutputMask == b.debugOutputMask &&
           a.logFileMask == b.logFileMask;
}

bool SameRegistry(const ComponentRegistry& a, const ComponentRegistry& b) {
    if (a.defaultDebugOutputMask() != b.defaultDebugOutputMask() ||
        a.defaultLogFileMask() != b.defaultLogFileMask() ||
        std::string(a.defaultDllDirectory()) != b.defaultDllDirectory() ||
        std::string(a.defaultDllPath()) != b.defaultDllPath() ||
        a.defaultDllPathCut() != b.defaultDllPathCut() ||
        a.entries().size() != b.entries().size()) {
        return false;
    }
    auto other = b.entries().begin();
    for (const RegistryEntry& entry : a.entries()) {
        if (entry.componentID != other->componentID || !SameEntry(entry, *other)) return false;
        ++other;
    }
    return true;
}

void QuietDebugOutput(const char* text) {
    // DebugPrintf formats into 1024 bytes and hands the message over whole.
    FUZZ_CHECK(TerminatedWithin(text, 1024));
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The full path an entry's DLL should get, by the rules of docs/registry-file.md;
// longer than 259 characters when it does not fit.
std::string ExpectedFullPath(const ComponentRegistry& registry, const RegistryEntry& entry,
                             PathStyle style) {
    const std::string name = entry.dllName;
    if (IsAbsolutePath(entry.dllName, style)) return name;
    const char separator = Separator(style);
    if (entry.besideRegistry != 0) {
        // Beside the registry file: its path up to its last separator.
        const std::string file = registry.registryFilePath();
        const int last = LastSeparator(file.c_str(), style);
        if (last < 0) return file + separator + name;
        return file.substr(0, static_cast<size_t>(last) + 1) + name;
    }
    const std::string directory = registry.defaultDllDirectory();
    const char end = directory.empty() ? '\0' : directory.back();
    const bool endsWithSeparator =
        end == '\\' || (ResolveStyle(style) == PathStyle::Posix && end == '/');
    return endsWithSeparator ? directory + name : directory + separator + name;
}

void CheckEntryFields(ComponentRegistry& registry, const RegistryEntry& entry) {
    FUZZ_CHECK(entry.componentID != 0);
    FUZZ_CHECK(TerminatedWithin(entry.dllName, kMaxPath));
    const EntryState state = registry.StateOf(entry);
    FUZZ_CHECK(TerminatedWithin(state.fullPath, kMaxPath));
    FUZZ_CHECK(state.resolved || (state.fullPath[0] == '\0' && state.module == nullptr));
    FUZZ_CHECK(entry.debugOutputMask <= kAllMasks);
    FUZZ_CHECK(entry.logFileMask <= kAllMasks);
    FUZZ_CHECK(entry.hasLogSettings == 0 || entry.hasLogSettings == 1);
    FUZZ_CHECK(entry.besideRegistry == 0 || entry.besideRegistry == 1);
    if (entry.hasLogSettings == 0) {
        FUZZ_CHECK(entry.debugOutputMask == 0 && entry.logFileMask == 0);
    }
}

void CheckQueries(ComponentRegistry& registry, uint32_t id) {
    const RegistryEntry* expected = nullptr;
    for (const RegistryEntry& entry : registry.entries()) {
        if (entry.componentID == id) expected = &entry;
    }
    RegistryEntry* found = registry.FindEntry(id);
    FUZZ_CHECK(found == expected);

    uint32_t debugMask = 0xDEADBEEF;
    uint32_t fileMask = 0xDEADBEEF;
    registry.GetLogMasks(id, &debugMask, &fileMask);
    FUZZ_CHECK(debugMask <= kAllMasks && fileMask <= kAllMasks);
    if (found != nullptr && found->hasLogSettings != 0) {
        FUZZ_CHECK(debugMask == found->debugOutputMask && fileMask == found->logFileMask);
    } else {
        FUZZ_CHECK(debugMask == registry.defaultDebugOutputMask());
        FUZZ_CHECK(fileMask == registry.defaultLogFileMask());
    }
}

// The module held through the given full path by any entry, or null.
PexilModuleHandle HeldThrough(ComponentRegistry& registry, const std::string& fullPath) {
    for (const RegistryEntry& entry : registry.entries()) {
        const EntryState state = registry.StateOf(entry);
        if (state.resolved && state.module != nullptr && fullPath == state.fullPath)
            return state.module;
    }
    return nullptr;
}

// Two requests for an entry: the path is resolved once, handed to the loader
// only when it is whole and no entry of the same path holds its module, and
// tried again after a failed load.
void CheckEntryRequests(ComponentRegistry& registry, uint32_t id, PathStyle style) {
    RegistryEntry& entry = *registry.FindEntry(id);
    for (int request = 0; request < 2; ++request) {
        const size_t loadsBefore = g_loaderPaths.size();
        const std::string expected = ExpectedFullPath(registry, entry, style);
        const PexilModuleHandle heldBefore = HeldThrough(registry, expected);
        FUZZ_CHECK(registry.CreateByID(id) == nullptr);  // no module has a CreateComponent here
        const EntryState state = registry.StateOf(entry);
        FUZZ_CHECK(state.resolved);
        CheckEntryFields(registry, entry);

        const bool fits = expected.size() < static_cast<size_t>(kMaxPath);
        const size_t loads = g_loaderPaths.size() - loadsBefore;
        if (!fits) {
            // A path that does not fit is marked and never handed to the loader.
            FUZZ_CHECK(state.fullPathCut);
            FUZZ_CHECK(loads == 0);
            FUZZ_CHECK(state.module == nullptr);
            continue;
        }
        FUZZ_CHECK(!state.fullPathCut);
        FUZZ_CHECK(expected == state.fullPath);
        if (heldBefore != nullptr) {
            FUZZ_CHECK(loads == 0);  // loaded once for the path, then kept
            FUZZ_CHECK(state.module == heldBefore);
            continue;
        }
        FUZZ_CHECK(loads == 1);
        FUZZ_CHECK(g_loaderPaths.back() == state.fullPath);
        FUZZ_CHECK(EndsWith(g_loaderPaths.back(), entry.dllName));
        FUZZ_CHECK((state.module != nullptr) == g_loadsSucceed);
    }
}

// Requests without an entry go to the default DLL, which is tried once.
void CheckDefaultRequests(ComponentRegistry& registry, uint32_t id) {
    if (registry.FindEntry(id) != nullptr) return;
    const size_t loadsBefore = g_loaderPaths.size();
    const PexilModuleHandle before = registry.defaultDllHandle();
    FUZZ_CHECK(registry.CreateByID(id) == nullptr);
    const size_t loads = g_loaderPaths.size() - loadsBefore;
    FUZZ_CHECK(TerminatedWithin(registry.defaultDllPath(), kMaxPath));
    if (before != nullptr) {
        FUZZ_CHECK(loads == 0);
        FUZZ_CHECK(registry.defaultDllHandle() == before);
        return;
    }
    FUZZ_CHECK(loads <= 1);
    if (loads == 1) {
        FUZZ_CHECK(registry.defaultDllPath()[0] != '\0');
        FUZZ_CHECK(g_loaderPaths.back() == registry.defaultDllPath());
    } else {
        FUZZ_CHECK(registry.defaultDllHandle() == ComponentRegistry::FailedHandle());
    }
    if (!g_loadsSucceed) {
        FUZZ_CHECK(registry.defaultDllHandle() == ComponentRegistry::FailedHandle());
    }
}

// Giving back a module: one reference per full path that holds it, however
// many entries resolved to the path; the default DLL's own reference stays.
void CheckUnload(ComponentRegistry& registry) {
    std::set<PexilModuleHandle> held;
    for (const RegistryEntry& entry : registry.entries()) {
        const EntryState state = registry.StateOf(entry);
        if (state.module != nullptr) held.insert(state.module);
    }
    const PexilModuleHandle defaultHandle = registry.defaultDllHandle();
    for (PexilModuleHandle module : held) {
        std::set<std::string> paths;
        for (const RegistryEntry& entry : registry.entries()) {
            const EntryState state = registry.StateOf(entry);
            if (state.module == module) paths.insert(state.fullPath);
        }
        const size_t freedBefore = g_freed.size();
        registry.UnloadModule(module);
        FUZZ_CHECK(g_freed.size() - freedBefore == paths.size());
        for (size_t i = freedBefore; i < g_freed.size(); ++i) {
            FUZZ_CHECK(g_freed[i] == reinterpret_cast<uintptr_t>(module));
        }
        for (const RegistryEntry& entry : registry.entries())
            FUZZ_CHECK(registry.StateOf(entry).module != module);
        FUZZ_CHECK(registry.defaultDllHandle() == defaultHandle);
    }
}

}  // namespace
}  // namespace pexil::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    using namespace pexil::fuzz;
    g_realFile = (ScratchDirectory("pexil-registry-fuzz-") / "registry.ini").string();

    pexil::platform::SystemCalls& system = pexil::platform::System();
    system.openFileForRead = OpenRegistryFile;
    system.loadLibrary = RecordLoad;
    system.getProcAddress = NoExports;
    system.freeLibrary = RecordFree;
    system.debugOutput = QuietDebugOutput;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pexil;
    using namespace pexil::fuzz;
    uint8_t flags = 0, rootLength = 0, directoryLength = 0;
    if (size >= 3) {
        flags = data[0];
        rootLength = data[1];
        directoryLength = data[2];
        data += 3;
        size -= 3;
    }
    const PathStyle style = (flags & 0x01) != 0 ? PathStyle::Windows : PathStyle::Posix;
    const bool relativeFile = (flags & 0x02) != 0;
    const bool namedRegistryPath = (flags & 0x04) != 0;
    const bool nullFile = (flags & 0x18) == 0x18;
    g_loadsSucceed = (flags & 0x20) != 0;

    const char separator = Separator(style);
    g_root = (style == PathStyle::Windows ? "C:\\Root" : "/root") + std::string(rootLength, 'r');
    const std::string relative = std::string(directoryLength, 'd') + separator + "registry.ini";
    const std::string file = relativeFile ? relative : g_root + separator + relative;
    const std::string registryPath = namedRegistryPath ? file : std::string();
    WriteBytes(g_realFile, reinterpret_cast<const char*>(data), size);

    const PathBase base{RootDirectory, style, false};
    ComponentRegistry registry(base);
    g_expectedOpen = file;
    g_opens = 0;
    g_loaderPaths.clear();
    g_handles.clear();
    g_freed.clear();

    FUZZ_CHECK(registry.LoadFile(registryPath.c_str(), nullFile ? nullptr : file.c_str()) == 1);
    FUZZ_CHECK(g_opens == 1);
    FUZZ_CHECK(g_loaderPaths.empty());

    // The same file read with an observer (as pexil inspect --lint reads it):
    // the same registry, and a consistent account of every decision.
    {
        ComponentRegistry observed(base);
        WatchingObserver watcher;
        FUZZ_CHECK(observed.LoadFile(registryPath.c_str(), nullFile ? nullptr : file.c_str(),
                                     watcher) == 1);
        FUZZ_CHECK(g_opens == 2);
        FUZZ_CHECK(SameRegistry(registry, observed));
        FUZZ_CHECK(watcher.stored_.size() == registry.entries().size());
        for (const RegistryEntry& entry : registry.entries())
            FUZZ_CHECK(watcher.stored_.count(entry.componentID) == 1);
        if (!nullFile && registry.fileRead()) FUZZ_CHECK(watcher.sawText);
    }

    // Every string field terminated within its buffer; masks within the six letters.
    FUZZ_CHECK(TerminatedWithin(registry.registryPath(), kMaxPath));
    FUZZ_CHECK(TerminatedWithin(registry.registryFilePath(), kMaxPath));
    FUZZ_CHECK(TerminatedWithin(registry.defaultDllDirectory(), kMaxPath));
    FUZZ_CHECK(TerminatedWithin(registry.defaultDllPath(), kMaxPath));
    FUZZ_CHECK(registry.registryPath() ==
               (registryPath.size() < size_t(kMaxPath) ? registryPath : std::string()));
    FUZZ_CHECK(registry.registryFilePath() ==
               (!nullFile && file.size() < size_t(kMaxPath) ? file : std::string()));
    FUZZ_CHECK(registry.defaultDebugOutputMask() <= kAllMasks);
    FUZZ_CHECK(registry.defaultLogFileMask() <= kAllMasks);
    FUZZ_CHECK(registry.defaultDllHandle() == nullptr);
    if (nullFile) FUZZ_CHECK(registry.entries().empty());
    for (const RegistryEntry& entry : registry.entries()) {
        CheckEntryFields(registry, entry);
        FUZZ_CHECK(!registry.StateOf(entry).resolved);
    }

    // IDs with and without an entry: those of the file, some fixed ones, and
    // one from the input's last bytes.
    std::vector<uint32_t> ids = {0u, 1u, 361u, 991u, 0x7FFFFFFFu, 0xFFFFFFFFu};
    if (size >= 4) {
        ids.push_back(uint32_t{data[size - 4]} | uint32_t{data[size - 3]} << 8 |
                      uint32_t{data[size - 2]} << 16 | uint32_t{data[size - 1]} << 24);
    }
    std::vector<uint32_t> entryIDs;
    uint32_t previous = 0;
    for (const RegistryEntry& entry : registry.entries()) {
        FUZZ_CHECK(entry.componentID > previous);  // ascending, one per ID
        previous = entry.componentID;
        entryIDs.push_back(entry.componentID);
    }
    for (uint32_t id : entryIDs)
        CheckQueries(registry, id);
    for (uint32_t id : ids)
        CheckQueries(registry, id);

    for (uint32_t id : entryIDs)
        CheckEntryRequests(registry, id, style);
    for (uint32_t id : ids)
        CheckDefaultRequests(registry, id);
    for (uint32_t id : ids)
        CheckDefaultRequests(registry, id);
    FUZZ_CHECK(g_freed.empty());
    CheckUnload(registry);

    // Queries after the requests answer as before.
    for (uint32_t id : entryIDs)
        CheckQueries(registry, id);
    return 0;
}
