// The factory's log directory as the host sees it: old log files put there
// before the run, and what is there afterwards.
#ifndef PEXIL_EXAMPLES_HOST_LOG_DIRECTORY_H
#define PEXIL_EXAMPLES_HOST_LOG_DIRECTORY_H

#include <filesystem>
#include <string>
#include <vector>

namespace example {

// Creates the directory and count log files 20080101_000001.log, ...; each
// was last written an hour after the one before, and the last an hour ago.
// Returns the names made.
std::vector<std::string> SeedOldLogFiles(const std::filesystem::path& directory, int count);

// The names of the *.log files in the directory, sorted.
std::vector<std::string> ListLogFiles(const std::filesystem::path& directory);

// The lines of a text file; none when it cannot be read.
std::vector<std::string> ReadLines(const std::filesystem::path& file);

}  // namespace example

#endif
