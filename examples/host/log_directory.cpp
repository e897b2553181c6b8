#include "host/log_directory.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace example {

namespace fs = std::filesystem;

std::vector<std::string> SeedOldLogFiles(const fs::path& directory, int count) {
    std::vector<std::string> made;
    std::error_code error;
    fs::create_directories(directory, error);
    const fs::file_time_type now = fs::file_time_type::clock::now();
    for (int i = 1; i <= count; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "20080101_%06d.log", i);
        const fs::path file = directory / name;
        std::ofstream(file) << "an old log\n";
        // Pruning goes by last-write time, and keeps one file per time.
        fs::last_write_time(file, now - std::chrono::hours(count + 1 - i), error);
        if (!error && fs::exists(file)) made.push_back(name);
    }
    return made;
}

std::vector<std::string> ListLogFiles(const fs::path& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().extension() == ".log") names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ReadLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream stream(file);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace example
