#include "log/log_files.h"
#include "support/base_directory.h"
#include "support/format.h"

namespace pexil::log {

bool MakeLogDirectory(const char* rootPath, char* buffer, int size) {
    // A relative root path is made absolute first, so that the directory that is
    // created and the file that is opened lie in one place.
    char root[kMaxPath];
    int whole = 0;
    if (!ToAbsolutePath(kFactoryBase, rootPath, root, kMaxPath, &whole)) root[0] = '\0';
    const int written = Separator(PathStyle::Native) == '\\'
                            ? FormatString(buffer, size, "%s\\%s", root, "PexilLog\\")
                            : FormatString(buffer, size, "%s/%s", root, "PexilLog/");
    return whole != 0 && written >= 0;
}

void OpenLogFile(const char* rootPath, LogSink& sink) {
    char directory[kMaxPath];
    if (!MakeLogDirectory(rootPath, directory, kMaxPath)) return;

    // Without the local time there is no name to give the file: none is
    // opened, and the next request tries again.
    platform::LocalTime now{};
    if (!platform::ToLocalTime(platform::CurrentTime(), &now)) return;
    char stamp[kMaxPath] = {};
    FormatString(stamp, kMaxPath, "%04d%02d%02d_%02d%02d%02d", now.year, now.month, now.day,
                 now.hour, now.minute, now.second);

    char name[kMaxPath];
    if (!TryFormatString(nullptr, name, kMaxPath, 0, "%s%s.log", directory, stamp)) return;
    EnsureDirectoryFor(kFactoryBase, directory);
    sink.file = platform::OpenLogFile(name);
}

}  // namespace pexil::log
