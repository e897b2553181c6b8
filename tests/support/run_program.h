// Running a program of the build as a child process, its standard output and
// error caught in files, and reading files whole.
#ifndef PEXIL_TESTS_SUPPORT_RUN_PROGRAM_H
#define PEXIL_TESTS_SUPPORT_RUN_PROGRAM_H

#include "platform/platform.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace pexil::testing {

// A file's bytes; "" when it cannot be read.
inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ProgramResult {
    int exitCode = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs the program with the words as its arguments in the directory cwd;
// standard output and error go to the files outFile and errFile, which are
// then read back. Under an emulator (PEXIL_TEST_EMULATOR, set by CTest for a
// build whose programs this machine cannot run itself) the program runs
// through it, as the test itself does.
inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& words,
                                const std::string& cwd, const std::string& outFile,
                                const std::string& errFile) {
    const char* emulator = platform::GetEnvironmentVariable("PEXIL_TEST_EMULATOR");
    const std::string executable = emulator != nullptr ? emulator : program;
    std::vector<const char*> arguments;
    if (emulator != nullptr) arguments.push_back(program.c_str());
    for (const std::string& word : words)
        arguments.push_back(word.c_str());
    arguments.push_back(nullptr);
    platform::ProcessOptions options{executable.c_str(), arguments.data(), cwd.c_str(),
                                     outFile.c_str(), errFile.c_str()};
    ProgramResult result;
    result.exitCode = platform::RunProcess(&options);
    result.out = ReadFileBytes(outFile);
    result.err = ReadFileBytes(errFile);
    return result;
}

}  // namespace pexil::testing

#endif
