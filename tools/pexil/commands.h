// The pexil subcommands. Each takes the words after its name and returns the
// exit status; bad arguments throw UsageError, failures CommandFailed.
#ifndef PEXIL_TOOLS_PEXIL_COMMANDS_H
#define PEXIL_TOOLS_PEXIL_COMMANDS_H

#include <string>
#include <vector>

namespace pexil::tool {

int RunRegistryReport(const std::vector<std::string>& words);
int RunLocate(const std::vector<std::string>& words);
int RunModule(const std::vector<std::string>& words);
int RunIni(const std::vector<std::string>& words);
int RunLogs(const std::vector<std::string>& words);

}  // namespace pexil::tool

#endif
