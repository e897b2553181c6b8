// The shared log file: where it lies, how it is named and created, and the
// pruning that keeps the five newest log files.
#ifndef PEXIL_LOG_LOG_FILES_H
#define PEXIL_LOG_LOG_FILES_H

#include "platform/platform.h"

#include <pexil/factory.h>

namespace pexil::log {

// How many log files pruning keeps.
constexpr int kKeptLogFiles = 5;

// The log directory under a root path, always ending with a separator:
// "<root>\PexilLog\". A relative root path is taken against the host directory.
// False when the path does not fit the buffer whole: a cut directory is
// another directory, and nothing is created, opened or deleted in it.
bool MakeLogDirectory(const char* rootPath, char* buffer, int size);

// Opens the log file "<log directory><YYYYmmdd_HHMMSS>.log" for the current
// local time, creating the log directory (one level) when it is missing, and
// stores its handle in the sink; kNoLogFile when the name does not fit or the
// file cannot be opened. An existing file of that name is appended to when it
// is this process's own (platform::OpenLogFile says what is refused).
void OpenLogFile(const char* rootPath, LogSink& sink);

// What an entry of the log directory is to pruning: only log files, those whose
// extension is exactly ".log" (byte for byte: "x.LOG" is none), take part. A
// log file whose full path (the directory and its name) does not fit in 259
// characters is never deleted and does not count: cut, the path would name
// another file. Nor does a link (pruning never acts through one) or, on POSIX,
// a FIFO, socket or device: only regular files are log files.
enum class LogEntryKind { LogFile, Directory, OtherFile, PathTooLong, NotRegularFile };
LogEntryKind KindOfLogEntry(const char* directory, const platform::FindData& entry);

// The per-entry callback of a log-directory walk.
class LogDirectoryCallback {
public:
    virtual ~LogDirectoryCallback() = default;
    // Adds the entry to the pruning walk (the context) when it is a log file
    // (KindOfLogEntry) and no file of the same last-write time is listed yet.
    virtual void CollectLogFile(const platform::FindData& entry, void* context);
};

// Calls the callback once for every entry of a directory, "." and ".." too;
// never when the search pattern ("<directory>*") does not fit in 259 characters.
void EnumerateDirectory(const char* directory, LogDirectoryCallback& callback, void* context);

// Deletes all but the five newest log files of the log directory under the root
// path. A file that cannot be deleted stays; if the list of files cannot be
// made, nothing is deleted.
void PruneLogFiles(const char* rootPath, LogDirectoryCallback& callback);

}  // namespace pexil::log

#endif
