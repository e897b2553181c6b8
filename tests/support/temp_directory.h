// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
#ifndef PEXIL_TESTS_TEMP_DIRECTORY_H
#define PEXIL_TESTS_TEMP_DIRECTORY_H

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace pexil::testing {

class TempDirectory {
public:
    TempDirectory() {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (;;) {
            path_ = std::filesystem::temp_directory_path() /
                    ("pexil-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
            std::error_code error;
            if (std::filesystem::create_directory(path_, error)) break;
        }
    }
    ~TempDirectory() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The directory as the framework writes paths: native separators, no trailing one.
    std::string str() const { return path_.string(); }
    // A path inside the directory.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

    // Writes a file (binary: the bytes exactly as given) and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << bytes;
        return file.string();
    }

private:
    std::filesystem::path path_;
};

}  // namespace pexil::testing

#endif
