// What the fuzz targets share: a check that stops the run (libFuzzer keeps the
// input as a crash), and a buffer that remembers its bytes, so that a target
// can tell written bytes from untouched ones up to and past the size it gave.
#ifndef PEXIL_FUZZ_FUZZ_SUPPORT_H
#define PEXIL_FUZZ_FUZZ_SUPPORT_H

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace pexil::fuzz {

[[noreturn]] inline void Fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::pexil::fuzz::Fail(#condition, __FILE__, __LINE__))

// True when the text has a terminator among its first size bytes.
inline bool TerminatedWithin(const char* text, size_t size) {
    return std::memchr(text, '\0', size) != nullptr;
}

// A heap buffer of size bytes (a negative size counts as none) followed by
// guard bytes. Every byte starts as a fill that no function writes by chance,
// except the initial text placed at the front. AddressSanitizer sees writes
// beyond the guard; Untouched() sees those inside it.
class GuardedBuffer {
public:
    static constexpr int kGuard = 32;
    static constexpr char kFill = '\x7f';

    // terminated: the initial text gets its terminator (when it fits).
    GuardedBuffer(int size, const std::string& initial = std::string(), bool terminated = true)
        : size_(size > 0 ? size : 0), bytes_(static_cast<size_t>(size_) + kGuard, kFill) {
        const size_t room = static_cast<size_t>(size_);
        const size_t length = initial.size() < room ? initial.size() : room;
        std::memcpy(bytes_.data(), initial.data(), length);
        if (terminated && length < room) bytes_[length] = '\0';
        before_ = bytes_;
    }

    char* data() { return bytes_.data(); }
    const char* data() const { return bytes_.data(); }
    int size() const { return size_; }

    // Bytes from index from on are as they were before the call.
    bool UntouchedFrom(size_t from) const {
        for (size_t i = from; i < bytes_.size(); ++i) {
            if (bytes_[i] != before_[i]) return false;
        }
        return true;
    }
    bool Untouched() const { return UntouchedFrom(0); }
    // Nothing was written at or past the size.
    bool GuardIntact() const { return UntouchedFrom(static_cast<size_t>(size_)); }
    // A terminator within the size; then the text.
    bool Terminated() const { return size_ > 0 && TerminatedWithin(bytes_.data(), size_); }
    // The string at the front (call only when Terminated()).
    std::string Text() const { return std::string(bytes_.data()); }
    char At(size_t i) const { return bytes_[i]; }

private:
    int size_;
    std::vector<char> bytes_;
    std::vector<char> before_;
};

// Writes the bytes as the whole file.
inline void WriteBytes(const std::string& path, const char* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
    FUZZ_CHECK(out.good());
}

// A new directory under the system's temporary directory, named with the
// prefix and the time, removed with everything in it when the process exits.
// Called once per process.
inline std::filesystem::path ScratchDirectory(const std::string& prefix) {
    namespace fs = std::filesystem;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path directory = fs::temp_directory_path() / (prefix + std::to_string(stamp));
    fs::create_directories(directory);
    static const struct Cleanup {
        fs::path directory;
        ~Cleanup() {
            std::error_code error;
            fs::remove_all(directory, error);
        }
    } cleanup{directory};
    return directory;
}

}  // namespace pexil::fuzz

#endif
