// The POSIX profile-string reader (GetPrivateProfileStringA's contract) on
// arbitrary file text, section, key and default, null or not, at every buffer
// size from 0 to 64 and some larger ones. Each answer is compared with the
// answer into a buffer large enough for anything the file can give:
// - nothing is written at or past the size; size 0 writes nothing;
// - a value (or default) is cut to size - 1 characters, terminated, and its
//   length is the result;
// - a list of names (null section or key) that fits is the whole list; one
//   that does not is cut and ends with two zero bytes, the result size - 2;
//   below 3 bytes a list is empty.
// And the reader's two ways to one key, scanning the text and looking in its
// parse, give the same answer.
#include "fuzz_support.h"

#include "platform/platform.h"
#include "platform/posix/profile_text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace pexil::fuzz {
namespace {

std::string g_file;     // the file the input's text is written to
std::string g_missing;  // a path where no file is

constexpr uint32_t kSizes[] = {100, 255, 259, 260, 261, 1000, 4095, 4096, 4097};

struct Query {
    const char* section;
    const char* key;
    const char* defaultValue;
    const char* file;
};

uint32_t Ask(const Query& q, char* buffer, uint32_t size) {
    return platform::GetPrivateProfileString(q.section, q.key, q.defaultValue, buffer, size,
                                             q.file);
}

void CheckSize(const Query& q, uint32_t size, const std::string& full, bool list) {
    GuardedBuffer buffer(static_cast<int>(size));
    const uint32_t result = Ask(q, buffer.data(), size);
    FUZZ_CHECK(buffer.GuardIntact());
    if (size == 0) {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(buffer.Untouched());
        return;
    }
    FUZZ_CHECK(result < size);
    FUZZ_CHECK(buffer.At(result) == '\0');
    if (!list) {
        // A value or the default: cut to size - 1 characters.
        const size_t expected = full.size() < size - 1 ? full.size() : size - 1;
        FUZZ_CHECK(result == expected);
        FUZZ_CHECK(std::strlen(buffer.data()) == result);
        FUZZ_CHECK(full.compare(0, result, buffer.data(), result) == 0);
        FUZZ_CHECK(buffer.UntouchedFrom(result + 1));
        return;
    }
    if (size < 3) {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(buffer.UntouchedFrom(1));
        return;
    }
    if (full.size() + 1 <= size) {
        // The whole list and its final zero.
        FUZZ_CHECK(result == full.size());
        FUZZ_CHECK(std::memcmp(buffer.data(), full.data(), full.size()) == 0);
        FUZZ_CHECK(buffer.UntouchedFrom(result + 1));
        return;
    }
    FUZZ_CHECK(result == size - 2);
    FUZZ_CHECK(std::memcmp(buffer.data(), full.data(), size - 2) == 0);
    FUZZ_CHECK(buffer.At(size - 2) == '\0' && buffer.At(size - 1) == '\0');
}

}  // namespace
}  // namespace pexil::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    using namespace pexil::fuzz;
    const std::filesystem::path directory = ScratchDirectory("pexil-profile-fuzz-");
    g_file = (directory / "profile.ini").string();
    g_missing = (directory / "missing.ini").string();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pexil::fuzz;
    FuzzedDataProvider provider(data, size);
    const uint8_t flags = provider.ConsumeIntegral<uint8_t>();
    const std::string section = provider.ConsumeRandomLengthString(64);
    const std::string key = provider.ConsumeRandomLengthString(64);
    const std::string defaultValue = provider.ConsumeRandomLengthString(300);
    const std::string text = provider.ConsumeRemainingBytesAsString();
    WriteBytes(g_file, text.data(), text.size());

    Query q;
    q.section = (flags & 0x03) == 0x03 ? nullptr : section.c_str();
    q.key = (flags & 0x0C) == 0x0C ? nullptr : key.c_str();
    q.defaultValue = (flags & 0x30) == 0x30 ? nullptr : defaultValue.c_str();
    q.file = (flags & 0xC0) == 0xC0   ? g_missing.c_str()
             : (flags & 0xC0) == 0x80 ? nullptr
                                      : g_file.c_str();

    // No buffer: nothing to answer into.
    FUZZ_CHECK(Ask(q, nullptr, 10) == 0);

    // Room for anything: names and values come from the file, each at most as
    // long as the file, and the default from the input.
    const uint32_t large = static_cast<uint32_t>(size + 1024);
    GuardedBuffer whole(static_cast<int>(large));
    const uint32_t fullResult = Ask(q, whole.data(), large);
    FUZZ_CHECK(whole.GuardIntact());
    FUZZ_CHECK(fullResult + 2 < large);
    FUZZ_CHECK(whole.At(fullResult) == '\0');
    // A list ends with an empty name; a value or default holds no zero byte.
    const bool list = q.section == nullptr ||
                      (q.key == nullptr && fullResult > 0 && whole.At(fullResult - 1) == '\0');
    if (!list) FUZZ_CHECK(std::strlen(whole.data()) == fullResult);
    const std::string full(whole.data(), fullResult);

    for (uint32_t s = 0; s <= 64; ++s)
        CheckSize(q, s, full, list);
    for (uint32_t s : kSizes)
        CheckSize(q, s, full, list);

    if (q.section != nullptr && q.key != nullptr) {
        namespace profile = pexil::platform::posix::profile;
        const std::string decoded = profile::Decode(text);
        std::string scanned, looked;
        const bool byScan = profile::ScanValue(decoded, q.section, q.key, &scanned);
        const bool byParse = profile::FindValue(profile::Parse(decoded), q.section, q.key, &looked);
        FUZZ_CHECK(byScan == byParse);
        FUZZ_CHECK(scanned == looked);
    }
    return 0;
}
