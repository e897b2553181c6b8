// What the pexil commands share: exit statuses, the command table and its
// argument parsing, paths made absolute the framework's way, mask letters and
// the capture of the framework's debug output.
#ifndef PEXIL_TOOLS_PEXIL_TOOL_H
#define PEXIL_TOOLS_PEXIL_TOOL_H

#include "platform/platform.h"
#include "support/base_directory.h"
#include "support/redirect_chain.h"

#include <stdint.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace pexil::tool {

constexpr int kExitOk = 0;
constexpr int kExitNo = 1;      // the answer is no: lint findings, a failed step, no factory
constexpr int kExitUsage = 2;   // bad arguments
constexpr int kExitFailed = 3;  // the command could not be carried out

// Bad arguments: one line saying what is wrong (exit status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A command that could not be carried out (exit status 3).
class CommandFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OptionRule {
    const char* name;  // "--size"
    bool takesValue;
};

struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // given options; flags map to ""
    bool json = false;

    bool Has(const char* option) const { return options.count(option) != 0; }
};

struct Command {
    const char* name;
    const char* synopsis;  // the arguments, as the help shows them
    const char* summary;   // one line, for the list of commands
    const char* help;      // the rest of the command's help: what it does, its options
    std::vector<OptionRule> options;
    size_t minPositional;
    size_t maxPositional;
    int (*run)(const Arguments& arguments);
};

// The commands, in the order the help lists them.
const std::vector<Command>& Commands();

// Splits a command's words into positionals and the options it accepts
// ("--json" always; "--" ends the options). Throws UsageError.
Arguments ParseArguments(const Command& command, const std::vector<std::string>& words);

// The current directory, native separators; the base of the paths the user names.
const PathBase& CurrentDirectoryBase();
// A base whose directory is the given one (kept until the next call).
const PathBase& DirectoryBase(const std::string& directory);
// A path made absolute the way the framework does it: an absolute one is kept,
// a relative one joined to the base's directory with the native separator.
// Throws CommandFailed when the result does not fit in 259 characters.
std::string AbsolutePath(const PathBase& base, const std::string& path);
std::string AbsolutePath(const std::string& path);
// The host directory an option names, absolute and without trailing
// separators; the current directory when the option is not given.
std::string HostDirectoryOption(const Arguments& args, const char* option);
// The path names something, asked as the framework asks (_access).
bool FileExists(const std::string& path);
// The path names a file that can be opened for reading: never a directory,
// a FIFO or a device. *why (when given) receives ": <the reason>" when the
// path names something that is no such file, and stays empty when it names
// nothing.
bool IsFile(const std::string& path, std::string* why = nullptr);

// What lies at a path where a file was expected and none can be read, as the
// end of a sentence that names the path: " does not exist" (with the name that
// differs only in case, when one exists), " is a directory, not a file",
// " cannot be read: <the reason>".
std::string NotAFile(const std::string& path);
// NotAFile's answer says the path names nothing (" does not exist...").
bool NamesNothing(const std::string& notAFile);
// " (but X exists: file names are case-sensitive on this system)" when the
// path names nothing and X, which differs from it only in case, exists; else "".
std::string OtherCaseHint(const std::string& path);
// The path names a directory (a link to one is followed).
bool IsDirectory(const std::string& path);
// Both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// Why the calling thread's last LoadLibrary failed, in the loader's words.
std::string LoaderReason();

// The component IDs a loaded module registers (GetComponentIDs); false when it
// does not export that entry point.
bool RegisteredIDs(PexilModuleHandle module, std::vector<uint32_t>* ids);

// Mask bits as their letters in the order E T V D W C; "none" for 0.
std::string MaskLetters(uint32_t mask);

// While alive, the framework's debug output (in this process's platform layer)
// is collected instead of written to standard error, and what the process
// writes to standard output goes to standard error: a module that prints as it
// loads must not spoil the command's own output.
class DebugOutputCollector {
public:
    DebugOutputCollector();
    ~DebugOutputCollector();
    DebugOutputCollector(const DebugOutputCollector&) = delete;
    DebugOutputCollector& operator=(const DebugOutputCollector&) = delete;
    // What was written so far, split into lines (the line ends dropped).
    std::vector<std::string> Lines() const;

private:
    void (*previous_)(const char*);
    platform::StandardOutputToError divertedOutput_;
};

// Writes the text to standard output, all at once.
void WriteOut(const std::string& text);

// The hops of a redirect chain, in the order the chain takes them.
class ChainHops : public RedirectObserver {
public:
    struct Hop {
        RedirectObserver::Hop hop;
        std::string file;
        std::string value;
        std::string target;
    };
    void OnHop(RedirectObserver::Hop hop, const char* file, const char* value,
               const char* target) override {
        hops.push_back(Hop{hop, file, value, target});
    }
    std::vector<Hop> hops;
};

}  // namespace pexil::tool

#endif
