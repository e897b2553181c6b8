#include "support/diagnostic_text.h"

#include "platform/platform.h"
#include "support/debug_print.h"
#include "support/format.h"
#include "support/path.h"

#include <cstring>

namespace pexil {
namespace {

bool SameIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = *a;
        char y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return *a == *b;
}

// The path itself when it names something, else its variant in case; 1 when
// either was found. The depth bounds the search by the path's levels.
int Resolve(const char* path, char* buffer, int size, int depth) {
    if (platform::Access(path, 0) == 0) return CopyIfFits(buffer, size, path);
    const int separator = LastOfEitherSeparator(path);
    if (separator < 0 || path[separator + 1] == '\0' || depth > 64) return 0;
    char parent[kMaxPath] = "";
    if (separator > 0) {
        char asWritten[kMaxPath];
        if (!CopyNIfFits(asWritten, kMaxPath, path, separator) ||
            !Resolve(asWritten, parent, kMaxPath, depth + 1)) {
            return 0;
        }
    }
    const char* name = path + separator + 1;
    const char joint[2] = {path[separator], '\0'};
    char pattern[kMaxPath];
    if (TryFormatString(nullptr, pattern, kMaxPath, 0, "%s%s*", parent, joint) == 0) return 0;
    platform::FindData entry;
    const platform::Handle search = platform::FindFirstFile(pattern, &entry);
    if (search == platform::kInvalidHandle) return 0;
    int found = 0;
    do {
        if (SameIgnoringCase(entry.name, name)) {
            found = TryFormatString(nullptr, buffer, size, 0, "%s%s%s", parent, joint, entry.name);
        }
    } while (found == 0 && platform::FindNextFile(search, &entry) != 0);
    platform::FindClose(search);
    return found;
}

}  // namespace

int FindOtherCase(const char* path, char* buffer, int size) {
    if (path == nullptr || buffer == nullptr || size <= 0) return 0;
    if (platform::Access(path, 0) == 0) return 0;
    char found[kMaxPath];
    if (Resolve(path, found, kMaxPath, 0) == 0 || std::strcmp(found, path) == 0) return 0;
    return CopyIfFits(buffer, size, found);
}

void ExplainOtherCase(const char* path) {
    if (!Explaining()) return;
    char other[kMaxPath];
    if (FindOtherCase(path, other, kMaxPath) == 0) return;
    Explain("%s does not exist, but %s does: file names are case-sensitive on this system\n", path,
            other);
}

void DescribeIDs(const uint32_t* ids, int count, char* buffer, int size) {
    constexpr int kShown = 8;
    if (buffer == nullptr || size <= 0) return;
    buffer[0] = '\0';
    uint32_t distinct[kShown];
    int shown = 0;
    int more = 0;
    for (int i = 0; i < count; ++i) {
        bool seen = false;
        for (int j = 0; j < i && !seen; ++j)
            seen = ids[j] == ids[i];
        if (seen) continue;
        if (shown < kShown) {
            distinct[shown++] = ids[i];
        } else {
            ++more;
        }
    }
    if (shown == 0) {
        CopyIfFits(buffer, size, "no component");
        return;
    }
    char number[32];
    for (int i = 0; i < shown; ++i) {
        const bool last = i == shown - 1 && more == 0;
        const char* joint = i == 0 ? "" : last ? " and " : ", ";
        FormatString(number, sizeof(number), "%s%u", joint, static_cast<unsigned>(distinct[i]));
        AppendIfFits(buffer, size, number);
    }
    if (more > 0) {
        FormatString(number, sizeof(number), " and %d more", more);
        AppendIfFits(buffer, size, number);
    }
}

}  // namespace pexil
