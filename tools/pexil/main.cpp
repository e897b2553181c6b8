// pexil: shows what the framework does with its files and modules, using the
// framework's own code: the registry parser, the factory locator, the module
// entry points, the profile-string reader and the log pruning rules.
#include "commands.h"
#include "platform/platform.h"
#include "tool.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: pexil COMMAND [ARGUMENTS] [--json]\n"
    "\n"
    "Shows what the Pexil framework does with its files and modules.\n"
    "\n"
    "commands:\n"
    "  inspect FILE [--lint]\n"
    "      the component registry FILE as the factory reads it: defaults, masks,\n"
    "      every component's DLL and the path the factory loads it from; --lint adds\n"
    "      every line the parser ignores, and why\n"
    "  locate [INI] [--host DIR]\n"
    "      the factory search a host makes: INI (default Pexil.ini) in the host\n"
    "      directory DIR (default: the current directory), its [Redirect] chain, the\n"
    "      values that name the factory DLL, and whether that DLL exports\n"
    "      CreateComponent\n"
    "  module DLL\n"
    "      loads a module and lists its entry points and component IDs\n"
    "  ini FILE SECTION KEY [--default TEXT] [--size N]\n"
    "      the value as the framework's profile-string reader returns it into a\n"
    "      buffer of N bytes (default 1024), and nothing else\n"
    "  logs [ROOT]\n"
    "      the log files in ROOT/PexilLog (default ROOT: the current directory),\n"
    "      newest first, and which of them the next pruning deletes\n"
    "\n"
    "options:\n"
    "  --json   the same as JSON, for programs\n"
    "  --help   this text\n"
    "\n"
    "Relative paths are taken against the current directory.\n"
    "\n"
    "exit status: 0 done; 1 the answer is no (lint findings, no factory that\n"
    "exports CreateComponent, a module without all seven entry points); 2 bad\n"
    "arguments; 3 the command could not be carried out.\n";

int Usage(const std::string& message) {
    std::fprintf(stderr, "pexil: %s\n\n%s", message.c_str(), kUsage);
    return pexil::tool::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // Output is the same bytes on every system: one LF ends a line, on Windows too.
    pexil::platform::UseBinaryStandardOutput();
    std::vector<std::string> words(argv + 1, argv + argc);
    for (const std::string& word : words) {
        if (word == "--help" || word == "-h") {
            std::fputs(kUsage, stdout);
            return pexil::tool::kExitOk;
        }
    }
    if (words.empty()) return Usage("no command");
    const std::string command = words[0];
    words.erase(words.begin());
    try {
        if (command == "inspect") return pexil::tool::RunRegistryReport(words);
        if (command == "locate") return pexil::tool::RunLocate(words);
        if (command == "module") return pexil::tool::RunModule(words);
        if (command == "ini") return pexil::tool::RunIni(words);
        if (command == "logs") return pexil::tool::RunLogs(words);
        return Usage("unknown command " + command);
    } catch (const pexil::tool::UsageError& error) {
        return Usage(error.what());
    } catch (const std::exception& error) {  // CommandFailed and anything unforeseen
        std::fprintf(stderr, "pexil %s: %s\n", command.c_str(), error.what());
        return pexil::tool::kExitFailed;
    }
}
