#include "tool.h"

#include "platform/platform.h"
#include "registry/registry_rules.h"
#include "support/diagnostic_text.h"

#include <pexil/module.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace pexil::tool {
namespace {

std::string g_currentDirectory;
std::string g_debugOutput;

const char* CurrentDirectory() {
    return g_currentDirectory.c_str();
}

const PathBase kCurrentDirectoryBase = {CurrentDirectory, PathStyle::Native, false};

std::string g_givenDirectory;
const char* GivenDirectory() {
    return g_givenDirectory.c_str();
}
const PathBase kGivenDirectoryBase = {GivenDirectory, PathStyle::Native, false};

void CollectDebugOutput(const char* text) {
    if (text != nullptr) g_debugOutput += text;
}

}  // namespace

Arguments ParseArguments(const Command& command, const std::vector<std::string>& words) {
    Arguments arguments;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word.compare(0, 2, "--") != 0) {
            arguments.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "--json") {
            arguments.json = true;
            continue;
        }
        const OptionRule* option = nullptr;
        for (const OptionRule& candidate : command.options) {
            if (word == candidate.name) option = &candidate;
        }
        if (option == nullptr) throw UsageError(std::string("unknown option ") + word);
        if (arguments.Has(option->name)) throw UsageError(word + " given twice");
        if (!option->takesValue) {
            arguments.options[option->name] = "";
            continue;
        }
        // A word that is itself an option is no value.
        if (i + 1 == words.size() || words[i + 1].compare(0, 2, "--") == 0) {
            throw UsageError(word + " needs a value");
        }
        arguments.options[option->name] = words[++i];
    }
    if (arguments.positional.size() < command.minPositional) {
        throw UsageError("too few arguments");
    }
    if (arguments.positional.size() > command.maxPositional) {
        throw UsageError("unexpected argument " + arguments.positional[command.maxPositional]);
    }
    return arguments;
}

const PathBase& CurrentDirectoryBase() {
    if (g_currentDirectory.empty()) {
        std::error_code error;
        g_currentDirectory = std::filesystem::current_path(error).string();
    }
    return kCurrentDirectoryBase;
}

const PathBase& DirectoryBase(const std::string& directory) {
    g_givenDirectory = directory;
    return kGivenDirectoryBase;
}

std::string AbsolutePath(const PathBase& base, const std::string& path) {
    if (ResolveStyle(base.style) == PathStyle::Windows && !path.empty() && path[0] == '/') {
        // Rooted on the current drive, as Windows (and Wine, for a POSIX path
        // typed in a shell) reads it; the framework's rule would glue it to
        // the directory.
        std::error_code error;
        const std::string rooted = std::filesystem::absolute(path, error).string();
        if (!error && !rooted.empty() && rooted[0] != '/') return AbsolutePath(base, rooted);
    }
    char buffer[kMaxPath];
    // A relative path joined and cut to fit would name another file.
    int whole = 0;
    if (!ToAbsolutePath(base, path.c_str(), buffer, kMaxPath, &whole) || whole == 0) {
        throw CommandFailed("path too long: " + path);
    }
    return buffer;
}

std::string AbsolutePath(const std::string& path) {
    return AbsolutePath(CurrentDirectoryBase(), path);
}

std::string HostDirectoryOption(const Arguments& args, const char* option) {
    if (!args.Has(option)) return CurrentDirectoryBase().directory();
    std::string path = AbsolutePath(args.options.at(option));
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\') &&
           path[path.size() - 2] != ':') {
        path.pop_back();
    }
    return path;
}

bool FileExists(const std::string& path) {
    return platform::Access(path.c_str(), 0) == 0;
}

bool IsFile(const std::string& path, std::string* why) {
    const platform::Handle file = platform::OpenFileForRead(path.c_str());
    if (file == platform::kInvalidHandle) {
        if (why != nullptr) {
            char reason[256] = "";
            platform::LastErrorText(reason, sizeof(reason));
            *why = FileExists(path) ? std::string(": ") + reason : std::string();
        }
        return false;
    }
    platform::CloseFile(file);
    return true;
}

namespace {

// The path as the system takes it: on POSIX the framework's '\' is a '/'.
std::filesystem::path SystemPath(std::string path) {
#if !defined(_WIN32)
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
#endif
    return std::filesystem::path(path);
}

}  // namespace

std::string OtherCaseHint(const std::string& path) {
    char other[kMaxPath];
    if (FindOtherCase(path.c_str(), other, kMaxPath) == 0) return "";
    return std::string(" (but ") + other + " exists: file names are case-sensitive on this system)";
}

std::string NotAFile(const std::string& path) {
    std::string why;
    if (IsFile(path, &why)) return "";
    if (!FileExists(path)) return " does not exist" + OtherCaseHint(path);
    if (IsDirectory(path)) return " is a directory, not a file";
    return " cannot be read" + why;
}

bool NamesNothing(const std::string& notAFile) {
    return notAFile.compare(0, 15, " does not exist") == 0;
}

bool IsDirectory(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(SystemPath(path), error);
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(SystemPath(a), SystemPath(b), error) && !error;
}

std::string LoaderReason() {
    char reason[512] = "";
    platform::LoadFailureReason(reason, sizeof(reason));
    return reason[0] != '\0' ? reason : "the loader gives no reason";
}

bool RegisteredIDs(PexilModuleHandle module, std::vector<uint32_t>* ids) {
    auto getIDs = reinterpret_cast<GetComponentIDsFunction>(
        platform::GetProcAddress(module, "GetComponentIDs"));
    if (getIDs == nullptr) return false;
    // The first call counts, the second copies.
    const int count = getIDs(nullptr, 0);
    ids->assign(static_cast<size_t>(count > 0 ? count : 0), 0);
    const int copied = getIDs(ids->data(), static_cast<uint32_t>(ids->size()));
    if (copied >= 0 && static_cast<size_t>(copied) < ids->size()) ids->resize(copied);
    return true;
}

std::string MaskLetters(uint32_t mask) {
    std::string letters;
    for (uint32_t bit = 0; registry::kMaskLetters[bit] != '\0'; ++bit) {
        if ((mask & (1u << bit)) != 0) letters += registry::kMaskLetters[bit];
    }
    return letters.empty() ? "none" : letters;
}

DebugOutputCollector::DebugOutputCollector() : previous_(platform::System().debugOutput) {
    g_debugOutput.clear();
    platform::System().debugOutput = CollectDebugOutput;
}

DebugOutputCollector::~DebugOutputCollector() {
    platform::System().debugOutput = previous_;
}

std::vector<std::string> DebugOutputCollector::Lines() const {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < g_debugOutput.size()) {
        size_t end = g_debugOutput.find('\n', start);
        if (end == std::string::npos) end = g_debugOutput.size();
        lines.push_back(g_debugOutput.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void WriteOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace pexil::tool
