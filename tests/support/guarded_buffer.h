// A character buffer followed by guard bytes, to prove that a function wrote
// nothing past the size it was given (AddressSanitizer cannot see overruns
// that stay inside one array).
#ifndef PEXIL_TESTS_GUARDED_BUFFER_H
#define PEXIL_TESTS_GUARDED_BUFFER_H

#include <cstring>
#include <string>

namespace pexil::testing {

template <int Size>
class GuardedBuffer {
public:
    explicit GuardedBuffer(const char* initial = "") {
        std::memset(bytes_, kFill, sizeof(bytes_));
        // The initial text and its terminator (when it fits); every other byte
        // keeps the fill, so untouched bytes can be told from written ones.
        const size_t length = std::strlen(initial) + 1;
        std::memcpy(bytes_, initial, length < Size ? length : Size);
    }
    char* data() { return bytes_; }
    int size() const { return Size; }
    std::string str() const { return std::string(bytes_, strnlen(bytes_, Size)); }
    bool guardIntact() const {
        for (int i = Size; i < Size + kGuard; ++i) {
            if (bytes_[i] != kFill) return false;
        }
        return true;
    }
    char at(int i) const { return bytes_[i]; }

    static constexpr char kFill = '~';

private:
    static constexpr int kGuard = 16;
    char bytes_[Size + kGuard];
};

}  // namespace pexil::testing

#endif
