#include "log/log_files.h"
#include "support/base_directory.h"
#include "support/format.h"

namespace pexil::log {

void MakeLogDirectory(const char* rootPath, char* buffer, int size) {
    // A relative root path is made absolute first, so that the directory that is
    // created and the file that is opened lie in one place.
    char root[kMaxPath];
    if (!ToAbsolutePath(kFactoryBase, rootPath, root, kMaxPath)) root[0] = '\0';
    if (Separator(PathStyle::Native) == '\\') {
        FormatString(buffer, size, "%s\\%s", root, "PexilLog\\");
    } else {
        FormatString(buffer, size, "%s/%s", root, "PexilLog/");
    }
}

void OpenLogFile(const char* rootPath, LogSink& sink) {
    char directory[kMaxPath];
    MakeLogDirectory(rootPath, directory, kMaxPath);

    platform::LocalTime now{};
    platform::System().toLocalTime(platform::System().currentTime(), &now);
    char stamp[kMaxPath] = {};
    FormatString(stamp, kMaxPath, "%04d%02d%02d_%02d%02d%02d", now.year, now.month, now.day,
                 now.hour, now.minute, now.second);

    char name[kMaxPath];
    if (!TryFormatString(nullptr, name, kMaxPath, 0, "%s%s.log", directory, stamp)) return;
    EnsureDirectoryFor(kFactoryBase, directory);
    sink.file = platform::System().openLogFile(name);
}

}  // namespace pexil::log
