#include "log/log_files.h"
#include "support/base_directory.h"
#include "support/debug_print.h"
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
    if (!MakeLogDirectory(rootPath, directory, kMaxPath)) {
        // The host's executable path could not be had or did not fit.
        if (!IsAbsolutePath(rootPath) && RecomputedHostDirectory()[0] == '\0') {
            if (rootPath == nullptr || rootPath[0] == '\0') {
                Explain(
                    "no log file: the root path is the host directory, which is unknown; its "
                    "log lines are lost\n");
            } else {
                Explain(
                    "no log file: the root path %s lies in the host directory, which is "
                    "unknown; its log lines are lost\n",
                    rootPath);
            }
            return;
        }
        Explain(
            "no log file: the log directory under the root path %s does not fit in 259 "
            "characters; its log lines are lost\n",
            rootPath);
        return;
    }

    // Without the local time there is no name to give the file: none is
    // opened, and the next request tries again.
    platform::LocalTime now{};
    if (!platform::ToLocalTime(platform::CurrentTime(), &now)) {
        Explain(
            "no log file: the local time could not be converted; the next request that "
            "asks for the log file tries again\n");
        return;
    }
    char stamp[kMaxPath] = {};
    FormatString(stamp, kMaxPath, "%04d%02d%02d_%02d%02d%02d", now.year, now.month, now.day,
                 now.hour, now.minute, now.second);

    char name[kMaxPath];
    if (!TryFormatString(nullptr, name, kMaxPath, 0, "%s%s.log", directory, stamp)) {
        Explain(
            "no log file: its name %s%s.log does not fit in 259 characters; its log lines "
            "are lost\n",
            directory, stamp);
        return;
    }
    const int directoryReady = EnsureDirectoryFor(kFactoryBase, directory);
    char directoryError[256] = "";
    if (directoryReady == 0 && Explaining()) {
        platform::LastErrorText(directoryError, sizeof(directoryError));
    }
    int locked = 1;
    sink.file = platform::OpenLogFile(name, &locked);
    if (sink.file != platform::kInvalidHandle && locked == 0) {
        Explain(
            "the log file %s is written without its lock (another process has held it for "
            "longer than a deleter does, or the file system has no locks), so pruning "
            "elsewhere may delete it while it is written\n",
            name);
    }
    if (sink.file == platform::kInvalidHandle && Explaining()) {
        char error[256] = "";
        platform::LastErrorText(error, sizeof(error));
        if (directoryReady == 0) {
            Explain(
                "no log file: the log directory %s could not be created (%s), and %s could "
                "not be opened: %s; the next request that asks for the log file tries "
                "again\n",
                directory, directoryError, name, error);
        } else {
            Explain(
                "no log file: %s could not be opened: %s; the next request that asks for the "
                "log file tries again\n",
                name, error);
        }
    }
}

}  // namespace pexil::log
