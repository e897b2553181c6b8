// The pexil commands. Each takes its parsed arguments and returns the exit
// status; bad arguments throw UsageError, failures CommandFailed.
#ifndef PEXIL_TOOLS_PEXIL_COMMANDS_H
#define PEXIL_TOOLS_PEXIL_COMMANDS_H

#include "tool.h"

namespace pexil::tool {

int RunWhy(const Arguments& arguments);
int RunRegistryReport(const Arguments& arguments);
int RunLint(const Arguments& arguments);
int RunLocate(const Arguments& arguments);
int RunModule(const Arguments& arguments);
int RunIni(const Arguments& arguments);
int RunLogs(const Arguments& arguments);

}  // namespace pexil::tool

#endif
