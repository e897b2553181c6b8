// pexil: shows what the framework does with its files and modules, using the
// framework's own code: the registry parser, the factory locator, the module
// entry points, the profile-string reader and the log pruning rules.
#include "commands.h"
#include "json_writer.h"
#include "output_text.h"
#include "platform/platform.h"
#include "tool.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#ifndef PEXIL_VERSION
#error "PEXIL_VERSION: the build gives the package version"
#endif

namespace pexil::tool {

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"why",
         "ID [--registry FILE] [--dir HOSTDIR] [--no-create] [--no-load]",
         "every step a creation of component ID takes, up to the first that fails",
         "Follows the path a creation of component ID takes for a host whose executable\n"
         "lies in HOSTDIR (default: the current directory), with the framework's own\n"
         "code, and stops at the first step that fails, saying what to change:\n"
         "  pexil-ini      Pexil.ini beside the host\n"
         "  redirect       each [Redirect] of its chain (a missing target or a loop fails)\n"
         "  factory-dll    the [361] DLL of the chain's last file: there, loads, exports\n"
         "                 CreateComponent, gives the factory when asked for 361\n"
         "  registry       FILE, or the default registry; missing or unreadable fails\n"
         "                 (a relative FILE is taken against HOSTDIR, as the factory does)\n"
         "  entry          a section for ID, or the DefaultDll; no DLL name fails\n"
         "  dll-file       the full path the factory would load: there, not cut\n"
         "  dll-load       it loads (else the loader's own reason)\n"
         "  export         it exports CreateComponent\n"
         "  create         CreateComponent(ID, 361) gives a component, released at once\n"
         "                 (skipped with --no-create)\n"
         "  factory-entry  the factory's own lookup of 361, which every holder makes:\n"
         "                 through the default registry for the host's holder, through\n"
         "                 FILE for the module's; a [361] that the registry lacks, or\n"
         "                 that a later line starts anew or binds elsewhere, fails\n"
         "It loads the factory DLL and the module, which runs their code (the constructors\n"
         "of their static objects; create runs a component's too): use it on modules you\n"
         "trust, or with --no-load, which reads each export table from the file and loads\n"
         "nothing (dll-load and create are then skipped).\n"
         "A step not taken (dll-load and create with --no-load, create with --no-create)\n"
         "is shown as skip, neither passed nor failed.\n"
         "With --json: {\"id\": N, \"ok\": true|false, \"failed_step\": null|\"NAME\",\n"
         "\"steps\": [{\"step\": \"NAME\", \"ok\": true|false|null, \"detail\": \"...\"}, ...]},\n"
         "the steps after a failure left out; \"ok\" is null for a step not taken, and a\n"
         "step whose module code wrote debug output has \"debugOutput\": [\"...\", ...].\n"
         "Exit status: 0 no step failed, 1 a step failed, 2 bad arguments.\n",
         {{"--registry", true}, {"--dir", true}, {"--no-create", false}, {"--no-load", false}},
         1,
         1,
         RunWhy},
        {"inspect",
         "FILE [--lint]",
         "the registry FILE as the factory reads it; --lint adds what fails or is ignored",
         "Shows the component registry FILE as the factory reads it, with the\n"
         "framework's parser: defaults, masks, every component's DLL and the path the\n"
         "factory loads it from. --lint adds every line the parser ignores, and why,\n"
         "and what fails at run time: a DLL that does not exist or whose path does not\n"
         "fit, components without a [361] section to reach the factory, a [361] that a\n"
         "later line starts anew or binds elsewhere, a [Redirect] chain that ends\n"
         "nowhere or whose last file has no [361]. (pexil lint also loads the modules.)\n"
         "Exit status: 0; with --lint 1 when there are findings.\n",
         {{"--lint", false}},
         1,
         1,
         RunRegistryReport},
        {"lint",
         "[FILE...] [--dir HOSTDIR] [--no-load]",
         "what the parser ignores in registry files, and what fails at run time",
         "The lint of each registry FILE; without FILE, of every file a host in HOSTDIR\n"
         "(default: the current directory) reads: its Pexil.ini and the files of the\n"
         "[Redirect] chains that the factory search and the factory follow from it.\n"
         "It lists every line the parser ignores, and why, and what fails at run time:\n"
         "a DLL that does not exist or whose path does not fit, a [Redirect] chain that\n"
         "ends nowhere, components without a [361] section to reach the factory, a\n"
         "[361] that a later line starts anew or binds elsewhere (the factory search\n"
         "finds the factory, and every holder then gets none), a module that does not\n"
         "load or does not register the ID its section binds to it.\n"
         "It loads each module the files name, which runs its code (the constructors of\n"
         "its static objects): with --no-load nothing is loaded, and the modules are not\n"
         "checked. (pexil inspect FILE --lint is the lint of one file without them.)\n"
         "With --json: {\"files\": [{\"file\": \"...\", \"lint\": [{\"line\": N|null,\n"
         "\"kind\": \"...\", \"message\": \"...\", \"note\": true|false}, ...]}, ...]}.\n"
         "Exit status: 0 no findings (notes are none), 1 findings, 3 a file cannot be read.\n",
         {{"--dir", true}, {"--no-load", false}},
         0,
         SIZE_MAX,
         RunLint},
        {"locate",
         "[INI] [--host DIR] [--no-load]",
         "the factory search a host makes",
         "The factory search a host makes: INI (default Pexil.ini) in the host\n"
         "directory DIR (default: the current directory), its [Redirect] chain, the\n"
         "values that name the factory DLL, and whether that DLL loads and exports\n"
         "CreateComponent.\n"
         "Loading the DLL runs its code (the constructors of its static objects): with\n"
         "--no-load its export table is read from the file instead, and nothing is loaded.\n"
         "Then the holder's request for component 361: to the DLL, which must give the\n"
         "factory, and through its registry (INI, or the default registry), as the\n"
         "factory answers it with its own parser: shown when the DLL gives no factory, or\n"
         "a [361] there is missing, emptied or bound elsewhere (the holder then gets no\n"
         "factory although the DLL loads).\n"
         "Exit status: 0 the factory is found and answers; 1 it is not, or does not.\n",
         {{"--host", true}, {"--no-load", false}},
         0,
         1,
         RunLocate},
        {"module",
         "DLL",
         "a module's entry points and component IDs",
         "Loads the module DLL, which runs its code (the constructors of its static\n"
         "objects), and lists which of the seven entry points it exports and the\n"
         "component IDs its creator table holds.\n"
         "Exit status: 0; 1 when an entry point is missing.\n",
         {},
         1,
         1,
         RunModule},
        {"ini",
         "FILE SECTION KEY [--default TEXT] [--size N]",
         "a value exactly as the profile reader returns it",
         "The value of KEY in SECTION of FILE as the framework's profile-string reader\n"
         "returns it into a buffer of N bytes (default 1024), and nothing else.\n"
         "Exit status: 0; 1 when FILE does not exist (the value is then the default).\n",
         {{"--default", true}, {"--size", true}},
         3,
         3,
         RunIni},
        {"logs",
         "[ROOT]",
         "the log files, and those the next pruning deletes",
         "The log files in ROOT/PexilLog (default ROOT: the current directory), newest\n"
         "first, and which of them the next pruning deletes.\n"
         "Exit status: 0; 1 when the log directory is no directory or cannot be made.\n",
         {},
         0,
         1,
         RunLogs},
    };
    return commands;
}

namespace {

std::string Overview() {
    std::string text =
        "usage: pexil COMMAND [ARGUMENTS] [--json]\n"
        "       pexil help [COMMAND] | --help | --version\n"
        "\n"
        "Shows what the Pexil framework does with its files and modules.\n"
        "\n"
        "commands:\n";
    for (const Command& command : Commands()) {
        std::string name = command.name;
        name.resize(9, ' ');
        text += "  " + name + command.summary + "\n";
    }
    text +=
        "\n"
        "options:\n"
        "  --json      the answer as JSON, for programs (a failure too: {\"error\": ...})\n"
        "  --help      this text, or a command's (pexil COMMAND --help)\n"
        "  --version   the package version\n"
        "\n"
        "Relative paths are taken against the current directory. Names and values from\n"
        "files are written as they are, their control characters as \\xHH.\n"
        "Exit status: 0 done; 1 the answer is no; 2 bad arguments; 3 the command could\n"
        "not be carried out.\n";
    return text;
}

std::string HelpOf(const Command& command) {
    return std::string("usage: pexil ") + command.name + " " + command.synopsis + " [--json]\n\n" +
           command.help;
}

const Command* Find(const std::string& name) {
    for (const Command& command : Commands()) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

// A failure: one line on standard error, and with --json one object on
// standard output.
int Fail(int status, bool json, const std::string& line, const std::string& message) {
    std::fputs((line + "\n").c_str(), stderr);
    if (json) {
        JsonWriter writer;
        writer.BeginObject().Key("error").String(message).EndObject();
        WriteOut(writer.Text());
    }
    return status;
}

int UsageFailure(bool json, const std::string& message, const std::string& command) {
    const std::string help = command.empty() ? "pexil --help" : "pexil " + command + " --help";
    return Fail(kExitUsage, json, "pexil: " + Shown(message) + "\nsee '" + help + "'", message);
}

}  // namespace

int Main(const std::vector<std::string>& words) {
    bool json = false;
    bool help = false;
    bool version = false;
    size_t commandAt = words.size();
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--json") {
            json = true;
        } else if (word == "--help" || word == "-h") {
            help = true;
        } else if (word == "--version") {
            version = true;
        } else if (commandAt == words.size() && word.compare(0, 1, "-") != 0) {
            commandAt = i;
        }
    }
    if (commandAt == words.size()) {
        for (const std::string& word : words) {
            if (word != "--json" && word != "--help" && word != "-h" && word != "--version") {
                return UsageFailure(json, "unknown option " + word, "");
            }
        }
        if (version) {
            WriteOut(std::string("pexil ") + PEXIL_VERSION + "\n");
            return kExitOk;
        }
        if (help) {
            WriteOut(Overview());
            return kExitOk;
        }
        return UsageFailure(json, "no command", "");
    }

    const std::string name = words[commandAt];
    std::vector<std::string> rest;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i != commandAt) rest.push_back(words[i]);
    }
    if (name == "help") {
        std::vector<std::string> topics;
        for (const std::string& word : rest) {
            if (word.compare(0, 1, "-") != 0) topics.push_back(word);
        }
        if (topics.size() > 1)
            return UsageFailure(json, "help: unexpected argument " + topics[1], "");
        if (topics.empty()) {
            WriteOut(Overview());
            return kExitOk;
        }
        const Command* command = Find(topics[0]);
        if (command == nullptr) return UsageFailure(json, "unknown command " + topics[0], "");
        WriteOut(HelpOf(*command));
        return kExitOk;
    }
    const Command* command = Find(name);
    if (command == nullptr) return UsageFailure(json, "unknown command " + name, "");
    if (help) {
        WriteOut(HelpOf(*command));
        return kExitOk;
    }
    try {
        Arguments arguments = ParseArguments(*command, rest);
        return command->run(arguments);
    } catch (const UsageError& error) {
        return UsageFailure(json, name + ": " + error.what(), name);
    } catch (const std::exception& error) {  // CommandFailed and anything unforeseen
        return Fail(kExitFailed, json, "pexil " + name + ": " + Shown(error.what()), error.what());
    }
}

}  // namespace pexil::tool

int main(int argc, char** argv) {
    // Output is the same bytes on every system: one LF ends a line, on Windows too.
    pexil::platform::UseBinaryStandardOutput();
    return pexil::tool::Main(std::vector<std::string>(argv + 1, argv + argc));
}
