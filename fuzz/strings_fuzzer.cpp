// The bounded-string table, the formatters, the path functions (both styles)
// and the text functions, on arbitrary strings and sizes. Each check is a
// promise of the function's header comment: result codes, contents, a
// destination left untouched where that is promised, a terminator on success,
// and never a byte written at or past the size.
#include "fuzz_support.h"

#include "platform/platform.h"
#include "support/base_directory.h"
#include "support/bounded_string.h"
#include "support/format.h"
#include "support/path.h"
#include "support/text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdarg>
#include <cstdint>
#include <string>

namespace pexil::fuzz {
namespace {

struct Inputs {
    std::string a;        // the main text (a C string: no zero byte inside)
    std::string b;        // a second text
    std::string initial;  // what a destination holds before the call
    bool terminated;      // the initial text has its terminator
    int size;             // the size handed to the function
    int count;            // a count or maxCount
    PathStyle style;
    bool nullA;
    bool nullB;
    bool nullBuffer;
};

std::string CString(const std::string& bytes) {
    return std::string(bytes.c_str());
}

const char* Pointer(const std::string& text, bool null) {
    return null ? nullptr : text.c_str();
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

int CallBoundedFormat(char* buffer, int size, int maxCount, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = kBoundedStrings.Format(buffer, size, maxCount, format, args);
    va_end(args);
    return result;
}

// --- the bounded-string table ----------------------------------------------

void CheckBoundedFormat(const Inputs& in) {
    GuardedBuffer buffer(in.size, in.initial, in.terminated);
    char* target = in.nullBuffer ? nullptr : buffer.data();
    const int result = CallBoundedFormat(target, in.size, in.count, "%s", in.a.c_str());
    if (target == nullptr || in.size <= 0 || (in.count <= 0 && in.count != -1)) {
        FUZZ_CHECK(result == -1);
        FUZZ_CHECK(buffer.Untouched());
        return;
    }
    FUZZ_CHECK(buffer.GuardIntact());
    const size_t effective =
        static_cast<size_t>(in.count == -1 || in.count > in.size - 1 ? in.size - 1 : in.count);
    FUZZ_CHECK(buffer.At(effective) == '\0');
    if (in.a.size() <= effective) {
        FUZZ_CHECK(result == static_cast<int>(in.a.size()));
        FUZZ_CHECK(buffer.Text() == in.a);
    } else {
        FUZZ_CHECK(result == -1);
        FUZZ_CHECK(buffer.Text() == in.a.substr(0, effective));
    }
}

// The result Append and Copy give for their arguments alone: a negative size
// is invalid, size 0 too long, a null buffer or source invalid. False when
// the arguments decide nothing.
bool CheckArgumentResult(const Inputs& in, const char* target, const char* source, int result) {
    if (in.size < 0) {
        FUZZ_CHECK(result == kBoundedInvalid);
    } else if (in.size == 0) {
        FUZZ_CHECK(result == kBoundedTooLong);
    } else if (target == nullptr || source == nullptr) {
        FUZZ_CHECK(result == kBoundedInvalid);
    } else {
        return false;
    }
    return true;
}

void CheckBoundedAppend(const Inputs& in) {
    GuardedBuffer buffer(in.size, in.initial, in.terminated);
    char* target = in.nullBuffer ? nullptr : buffer.data();
    const char* source = Pointer(in.a, in.nullA);
    const int result = kBoundedStrings.Append(target, in.size, source);
    CheckArgumentResult(in, target, source, result);
    if (result != kBoundedOk) {
        FUZZ_CHECK(result == kBoundedInvalid || result == kBoundedTooLong);
        FUZZ_CHECK(buffer.Untouched());
        if (result == kBoundedTooLong && in.size > 0 && target != nullptr && source != nullptr) {
            // Refused only when the whole result would not fit.
            const size_t have = ::strnlen(buffer.data(), static_cast<size_t>(in.size));
            FUZZ_CHECK(have + in.a.size() + 1 > static_cast<size_t>(in.size));
        }
        return;
    }
    FUZZ_CHECK(in.size > 0 && target != nullptr && source != nullptr);
    FUZZ_CHECK(buffer.GuardIntact());
    FUZZ_CHECK(buffer.Terminated());
    const std::string before = in.terminated ? CString(in.initial) : std::string();
    FUZZ_CHECK(in.terminated && in.initial.size() < static_cast<size_t>(in.size));
    FUZZ_CHECK(buffer.Text() == before + in.a);
}

void CheckBoundedCopyN(const Inputs& in) {
    GuardedBuffer buffer(in.size, in.initial, in.terminated);
    char* target = in.nullBuffer ? nullptr : buffer.data();
    const char* source = Pointer(in.a, in.nullA);
    const int result = kBoundedStrings.CopyN(target, in.size, source, in.count);
    if (target == nullptr || in.size <= 0 || source == nullptr || in.count <= 0) {
        FUZZ_CHECK(result == kBoundedInvalid);
        FUZZ_CHECK(buffer.Untouched());
        return;
    }
    if (in.count > in.size - 1) {
        FUZZ_CHECK(result == kBoundedInvalid);
        FUZZ_CHECK(buffer.At(0) == '\0');
        FUZZ_CHECK(buffer.UntouchedFrom(1));
        return;
    }
    FUZZ_CHECK(result == kBoundedOk);
    const size_t count = static_cast<size_t>(in.count);
    for (size_t i = 0; i < count; ++i) {
        FUZZ_CHECK(buffer.At(i) == (i < in.a.size() ? in.a[i] : '\0'));
    }
    FUZZ_CHECK(buffer.At(count) == '\0');
    FUZZ_CHECK(buffer.UntouchedFrom(count + 1));
}

void CheckBoundedCopy(const Inputs& in) {
    GuardedBuffer buffer(in.size, in.initial, in.terminated);
    char* target = in.nullBuffer ? nullptr : buffer.data();
    const char* source = Pointer(in.a, in.nullA);
    const int result = kBoundedStrings.Copy(target, in.size, source);
    if (!CheckArgumentResult(in, target, source, result)) {
        const bool fits = in.a.size() + 1 <= static_cast<size_t>(in.size);
        FUZZ_CHECK(result == (fits ? kBoundedOk : kBoundedTooLong));
    }
    if (result != kBoundedOk) {
        FUZZ_CHECK(buffer.Untouched());
        return;
    }
    FUZZ_CHECK(buffer.GuardIntact());
    FUZZ_CHECK(buffer.Text() == in.a);
}

// --- the formatters ----------------------------------------------------------

void CheckFormatters(const Inputs& in) {
    const bool invalid = in.nullBuffer || in.size <= 0;
    const size_t room = in.size > 0 ? static_cast<size_t>(in.size - 1) : 0;
    const std::string cut = in.a.substr(0, room);
    {
        GuardedBuffer buffer(in.size, in.initial, in.terminated);
        const int result =
            FormatString(in.nullBuffer ? nullptr : buffer.data(), in.size, "%s", in.a.c_str());
        if (invalid) {
            FUZZ_CHECK(result == -1);
            FUZZ_CHECK(buffer.Untouched());
        } else {
            FUZZ_CHECK(buffer.GuardIntact());
            FUZZ_CHECK(buffer.At(room) == '\0');
            FUZZ_CHECK(buffer.Text() == cut);
            FUZZ_CHECK(result == (in.a.size() <= room ? static_cast<int>(in.a.size()) : -1));
        }
    }
    {
        GuardedBuffer buffer(in.size, in.initial, in.terminated);
        const int result = FormatStringN(in.nullBuffer ? nullptr : buffer.data(), in.size, in.count,
                                         "%s", in.a.c_str());
        if (invalid || in.count <= 0) {  // here -1 is invalid too
            FUZZ_CHECK(result == -1);
            FUZZ_CHECK(buffer.Untouched());
        } else {
            const size_t limit = static_cast<size_t>(in.count) < room ? in.count : room;
            FUZZ_CHECK(buffer.GuardIntact());
            FUZZ_CHECK(buffer.At(in.a.size() < limit ? in.a.size() : limit) == '\0');
            FUZZ_CHECK(buffer.Text() == in.a.substr(0, limit));
            FUZZ_CHECK(result == (in.a.size() <= limit ? static_cast<int>(in.a.size()) : -1));
        }
    }
    for (int allowTruncation = 0; allowTruncation <= 1; ++allowTruncation) {
        GuardedBuffer buffer(in.size, in.initial, in.terminated);
        const int result = TryFormatString(nullptr, in.nullBuffer ? nullptr : buffer.data(),
                                           in.size, allowTruncation, "%s", in.a.c_str());
        if (invalid) {
            FUZZ_CHECK(result == 0);
            FUZZ_CHECK(buffer.Untouched());
            continue;
        }
        FUZZ_CHECK(buffer.GuardIntact());
        FUZZ_CHECK(buffer.Terminated());
        FUZZ_CHECK(buffer.Text() == cut);
        const bool fits = in.a.size() <= room;
        FUZZ_CHECK(result == (fits || allowTruncation != 0 ? 1 : 0));
    }
}

// --- path functions ----------------------------------------------------------

void CheckCopyAndAppend(const Inputs& in) {
    const char* source = Pointer(in.a, in.nullA);
    {
        GuardedBuffer buffer(in.size, in.initial, in.terminated);
        const int result = CopyIfFits(in.nullBuffer ? nullptr : buffer.data(), in.size, source);
        const bool fits =
            !in.nullBuffer && source != nullptr && in.size > 0 && in.a.size() < size_t(in.size);
        FUZZ_CHECK(result == (fits ? 1 : 0));
        if (result == 0) {
            FUZZ_CHECK(buffer.Untouched());
        } else {
            FUZZ_CHECK(buffer.GuardIntact());
            FUZZ_CHECK(buffer.Text() == in.a);
        }
    }
    {
        GuardedBuffer buffer(in.size, in.initial, in.terminated);
        const int result =
            CopyNIfFits(in.nullBuffer ? nullptr : buffer.data(), in.size, source, in.count);
        const bool fits = !in.nullBuffer && source != nullptr && in.count > 0 && in.count < in.size;
        FUZZ_CHECK(result == (fits ? 1 : 0));
        if (result == 0) {
            FUZZ_CHECK(buffer.Untouched());
        } else {
            const size_t n = static_cast<size_t>(in.count);
            for (size_t i = 0; i < n; ++i)
                FUZZ_CHECK(buffer.At(i) == (i < in.a.size() ? in.a[i] : '\0'));
            FUZZ_CHECK(buffer.At(n) == '\0');
            FUZZ_CHECK(buffer.GuardIntact());
        }
    }
    {
        GuardedBuffer buffer(in.size, in.initial, in.terminated);
        bool fits = !in.nullBuffer && source != nullptr && in.size > 0;
        if (fits) {
            const size_t have = ::strnlen(buffer.data(), static_cast<size_t>(in.size));
            fits = have + in.a.size() < static_cast<size_t>(in.size);
        }
        const int result = AppendIfFits(in.nullBuffer ? nullptr : buffer.data(), in.size, source);
        FUZZ_CHECK(result == (fits ? 1 : 0));
        if (result == 0) {
            FUZZ_CHECK(buffer.Untouched());
        } else {
            FUZZ_CHECK(buffer.GuardIntact());
            FUZZ_CHECK(buffer.Text() == CString(in.initial) + in.a);
        }
    }
}

// The rules of the path header, written out plainly.
int ExpectedLastSeparator(const std::string& path, PathStyle style) {
    if (ResolveStyle(style) == PathStyle::Windows) {
        const size_t backslash = path.rfind('\\');
        if (backslash != std::string::npos) return static_cast<int>(backslash);
        const size_t slash = path.rfind('/');
        return slash != std::string::npos ? static_cast<int>(slash) : -1;
    }
    const size_t last = path.find_last_of("/\\");
    return last != std::string::npos ? static_cast<int>(last) : -1;
}

void CheckPathQueries(const Inputs& in) {
    const PathStyle resolved = ResolveStyle(in.style);
    FUZZ_CHECK(resolved == PathStyle::Windows || resolved == PathStyle::Posix);
    FUZZ_CHECK(in.style == PathStyle::Native || resolved == in.style);
    FUZZ_CHECK(Separator(in.style) == (resolved == PathStyle::Windows ? '\\' : '/'));

    const char* path = Pointer(in.a, in.nullA);
    const int absolute = IsAbsolutePath(path, in.style);
    if (path == nullptr) {
        FUZZ_CHECK(absolute == 0);
        FUZZ_CHECK(LastSeparator(path, in.style) == -1);
        FUZZ_CHECK(LastOfEitherSeparator(path) == -1);
        return;
    }
    bool expected;
    if (resolved == PathStyle::Windows) {
        expected = in.a[0] == '\\' || in.a.find(':') != std::string::npos;
    } else {
        expected = in.a[0] == '/' || in.a[0] == '\\';
    }
    FUZZ_CHECK(absolute == (expected ? 1 : 0));
    FUZZ_CHECK(LastSeparator(path, in.style) == ExpectedLastSeparator(in.a, in.style));
    FUZZ_CHECK(LastOfEitherSeparator(path) == ExpectedLastSeparator(in.a, PathStyle::Posix));
    const bool invalid = in.a.find_first_of("<>\"|*?") != std::string::npos;
    FUZZ_CHECK(HasValidPathChars(path) == (invalid ? 0 : 1));
}

void CheckJoinWithDirectoryOf(const Inputs& in) {
    GuardedBuffer buffer(in.size, in.initial, in.terminated);
    const char* file = Pointer(in.a, in.nullA);
    const char* name = Pointer(in.b, in.nullB);
    const int result =
        JoinWithDirectoryOf(file, name, in.nullBuffer ? nullptr : buffer.data(), in.size, in.style);
    if (file == nullptr || name == nullptr || in.nullBuffer || in.size <= 0) {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(buffer.Untouched());
        return;
    }
    FUZZ_CHECK(result == 1);
    FUZZ_CHECK(buffer.GuardIntact());
    FUZZ_CHECK(buffer.Terminated());
    const int separator = ExpectedLastSeparator(in.a, in.style);
    const std::string full = separator >= 0
                                 ? in.a.substr(0, static_cast<size_t>(separator) + 1) + in.b
                                 : in.a + Separator(in.style) + in.b;
    if (full.size() < static_cast<size_t>(in.size)) FUZZ_CHECK(buffer.Text() == full);
}

void CheckGetExtension(const Inputs& in) {
    GuardedBuffer buffer(in.size, in.initial, in.terminated);
    const char* path = Pointer(in.a, in.nullA);
    const int result = GetExtension(path, in.nullBuffer ? nullptr : buffer.data(), in.size);
    if (in.nullBuffer || in.size <= 0) {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(buffer.Untouched());
        return;
    }
    FUZZ_CHECK(buffer.GuardIntact());
    FUZZ_CHECK(buffer.Terminated());
    std::string extension;
    if (path != nullptr) {
        const std::string name = in.a.substr(in.a.find_last_of("/\\") + 1);
        const size_t dot = name.rfind('.');
        if (dot != std::string::npos) extension = name.substr(dot);
    }
    if (extension.size() < static_cast<size_t>(in.size)) {
        FUZZ_CHECK(result == 1);
        FUZZ_CHECK(buffer.Text() == extension);
    } else {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(buffer.Text().empty());
    }
}

// --- paths against a base directory ------------------------------------------

std::string g_baseDirectory;

const char* BaseDirectory() {
    return g_baseDirectory.c_str();
}

// What the system layer was asked while EnsureDirectoryFor ran.
struct DirectoryCalls {
    bool exists = false;
    int accessCalls = 0;
    int createCalls = 0;
    bool terminated = true;
    std::string accessed;
    std::string created;
} g_directoryCalls;

int FakeAccess(const char* path, int) {
    ++g_directoryCalls.accessCalls;
    g_directoryCalls.terminated &= TerminatedWithin(path, kMaxPath);
    g_directoryCalls.accessed = path;
    return g_directoryCalls.exists ? 0 : -1;
}

int FakeCreateDirectory(const char* path) {
    ++g_directoryCalls.createCalls;
    g_directoryCalls.terminated &= TerminatedWithin(path, kMaxPath);
    g_directoryCalls.created = path;
    return 1;
}

void CheckBaseDirectory(const Inputs& in, bool keepsOneLess, bool exists) {
    // The base is a 260-byte buffer in every real user.
    g_baseDirectory = in.b.substr(0, kMaxPath - 1);
    const PathBase base{BaseDirectory, in.style, keepsOneLess};
    const char* name = Pointer(in.a, in.nullA);

    const std::string joined = g_baseDirectory + Separator(in.style) + in.a;
    {
        GuardedBuffer buffer(in.size, in.initial, in.terminated);
        const int result =
            JoinToHostDirectory(base, name, in.nullBuffer ? nullptr : buffer.data(), in.size);
        if (name == nullptr || in.nullBuffer || in.size < 2) {
            FUZZ_CHECK(result == 0);
            FUZZ_CHECK(buffer.Untouched());
        } else {
            FUZZ_CHECK(result == 1);
            FUZZ_CHECK(buffer.GuardIntact());
            FUZZ_CHECK(buffer.At(static_cast<size_t>(in.size - 1)) == '\0');
            const size_t keep = static_cast<size_t>(keepsOneLess ? in.size - 2 : in.size - 1);
            FUZZ_CHECK(buffer.Text() == joined.substr(0, keep));
        }
    }

    // ToAbsolutePath and GetDirectoryPart into a path buffer, as their users call them.
    GuardedBuffer absolute(kMaxPath);
    const int made = ToAbsolutePath(base, name, absolute.data(), kMaxPath);
    FUZZ_CHECK(absolute.GuardIntact());
    if (name == nullptr) {
        FUZZ_CHECK(made == 0);
    } else if (IsAbsolutePath(name, in.style)) {
        FUZZ_CHECK(made == (in.a.size() < size_t(kMaxPath) ? 1 : 0));
        if (made == 0) FUZZ_CHECK(absolute.Untouched());
        if (made == 1) FUZZ_CHECK(absolute.Text() == in.a);
    } else {
        FUZZ_CHECK(made == 1);
        FUZZ_CHECK(absolute.Text() == joined.substr(0, keepsOneLess ? kMaxPath - 2 : kMaxPath - 1));
    }

    // A join cut to fit, or made to an unknown (empty) base, names no directory.
    const size_t joinKeeps = static_cast<size_t>(keepsOneLess ? kMaxPath - 2 : kMaxPath - 1);
    const bool wholePath = made == 1 && (IsAbsolutePath(name, in.style) ||
                                         (!g_baseDirectory.empty() && joined.size() <= joinKeeps));
    GuardedBuffer directory(in.size, in.initial, in.terminated);
    const int found =
        GetDirectoryPart(base, name, in.nullBuffer ? nullptr : directory.data(), in.size);
    FUZZ_CHECK(directory.GuardIntact());
    if (found == 1) FUZZ_CHECK(wholePath);
    if (found == 0) {
        FUZZ_CHECK(directory.Untouched());
    } else {
        FUZZ_CHECK(found == 1 && made == 1);
        FUZZ_CHECK(directory.Terminated());
        const std::string part = directory.Text();
        const std::string whole = absolute.Text();
        FUZZ_CHECK(!part.empty() && part.size() < whole.size());
        FUZZ_CHECK(whole.compare(0, part.size(), part) == 0);
        FUZZ_CHECK(IsSeparator(whole[part.size()]));
        FUZZ_CHECK(whole.find_first_of("/\\", part.size() + 1) == std::string::npos);
    }
    if (wholePath && found == 0 && !in.nullBuffer) {
        // Refused only for the reasons the header gives.
        const int separator = LastOfEitherSeparator(absolute.data());
        FUZZ_CHECK(separator <= 0 || separator >= in.size);
    }

    // EnsureDirectoryFor, with the system's answers made up.
    if (name == nullptr) return;
    g_directoryCalls = DirectoryCalls{};
    g_directoryCalls.exists = exists;
    platform::SystemCalls& system = platform::System();
    const platform::SystemCalls saved = system;
    system.access = FakeAccess;
    system.createDirectory = FakeCreateDirectory;
    const int ensured = EnsureDirectoryFor(base, name);
    system = saved;
    FUZZ_CHECK(g_directoryCalls.terminated);
    if (in.a.empty() || !HasValidPathChars(name)) {
        FUZZ_CHECK(ensured == 0);
        FUZZ_CHECK(g_directoryCalls.accessCalls == 0 && g_directoryCalls.createCalls == 0);
        return;
    }
    FUZZ_CHECK(g_directoryCalls.createCalls <= 1);
    if (exists) FUZZ_CHECK(g_directoryCalls.createCalls == 0);
    // The directory created is the one found missing.
    if (g_directoryCalls.createCalls == 1) {
        FUZZ_CHECK(g_directoryCalls.created == g_directoryCalls.accessed);
    }
    FUZZ_CHECK(ensured == (g_directoryCalls.accessCalls > 0 ? 1 : 0));
}

// --- text functions ------------------------------------------------------------

std::string Trimmed(const std::string& text, const char* blanks) {
    const size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(blanks);
    return text.substr(begin, end - begin + 1);
}

void CheckText(const Inputs& in) {
    const char* text = Pointer(in.a, in.nullA);
    const std::string blanksTrimmed = Trimmed(in.a, " \t");
    const std::string spacesTrimmed = Trimmed(in.a, " ");

    FUZZ_CHECK(IsBlank(text) == (text == nullptr || blanksTrimmed.empty() ? 1 : 0));
    FUZZ_CHECK(IsEmptyAfterTrim(text) == (text == nullptr || spacesTrimmed.empty() ? 1 : 0));
    {
        GuardedBuffer buffer(in.size, in.initial, in.terminated);
        const int result = TrimBlanks(text, in.nullBuffer ? nullptr : buffer.data(), in.size);
        if (in.nullBuffer || in.size <= 0) {
            FUZZ_CHECK(result == 0);
            FUZZ_CHECK(buffer.Untouched());
        } else {
            FUZZ_CHECK(buffer.GuardIntact());
            FUZZ_CHECK(buffer.Terminated());
            const bool copied = text != nullptr && !blanksTrimmed.empty() &&
                                blanksTrimmed.size() < static_cast<size_t>(in.size);
            FUZZ_CHECK(result == (copied ? 1 : 0));
            FUZZ_CHECK(buffer.Text() == (copied ? blanksTrimmed : std::string()));
        }
    }
    {
        GuardedBuffer buffer(in.size, in.initial, in.terminated);
        const int result = TrimSpaces(text, in.nullBuffer ? nullptr : buffer.data(), in.size);
        if (text == nullptr || in.nullBuffer || in.size <= 0) {
            FUZZ_CHECK(result == 0);
            FUZZ_CHECK(buffer.Untouched());
        } else {
            FUZZ_CHECK(buffer.GuardIntact());
            FUZZ_CHECK(buffer.Terminated());
            const bool fits = spacesTrimmed.size() < static_cast<size_t>(in.size);
            FUZZ_CHECK(result == (fits ? static_cast<int>(spacesTrimmed.size()) : 0));
            FUZZ_CHECK(buffer.Text() == (fits ? spacesTrimmed : std::string()));
        }
    }
    if (text != nullptr && in.size > 0 && in.a.size() < static_cast<size_t>(in.size)) {
        // In place: the buffer holds the text itself.
        GuardedBuffer buffer(in.size, in.a);
        const int result = TrimSpaces(buffer.data(), buffer.data(), in.size);
        FUZZ_CHECK(buffer.GuardIntact());
        FUZZ_CHECK(result == static_cast<int>(spacesTrimmed.size()));
        FUZZ_CHECK(buffer.Text() == spacesTrimmed);
    }
}

}  // namespace
}  // namespace pexil::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pexil::fuzz;
    FuzzedDataProvider provider(data, size);
    Inputs in;
    in.size = provider.ConsumeIntegralInRange<int>(-3, 1100);
    // Counts near the size are the interesting ones.
    in.count = provider.ConsumeBool() ? in.size + provider.ConsumeIntegralInRange<int>(-3, 3)
                                      : provider.ConsumeIntegralInRange<int>(-3, 1100);
    in.style = provider.PickValueInArray(
        {pexil::PathStyle::Windows, pexil::PathStyle::Posix, pexil::PathStyle::Native});
    const uint8_t flags = provider.ConsumeIntegral<uint8_t>();
    in.nullA = (flags & 0x07) == 0x07;
    in.nullB = (flags & 0x38) == 0x38;
    in.nullBuffer = (flags & 0xC0) == 0xC0;
    in.terminated = (flags & 0x03) != 0x02;
    const bool keepsOneLess = (flags & 0x10) != 0;
    const bool exists = (flags & 0x20) != 0;
    in.initial = CString(provider.ConsumeRandomLengthString(1200));
    in.b = CString(provider.ConsumeRandomLengthString(1200));
    in.a = CString(provider.ConsumeRemainingBytesAsString());

    CheckBoundedFormat(in);
    CheckBoundedAppend(in);
    CheckBoundedCopyN(in);
    CheckBoundedCopy(in);
    CheckFormatters(in);
    CheckCopyAndAppend(in);
    CheckPathQueries(in);
    CheckJoinWithDirectoryOf(in);
    CheckGetExtension(in);
    CheckBaseDirectory(in, keepsOneLess, exists);
    CheckText(in);
    return 0;
}
