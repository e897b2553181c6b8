// pexil logs [ROOT]: the log files in ROOT/PexilLog, newest first, and which of
// them the factory's next pruning deletes. The directory is found and walked
// with the factory's own functions; the choice follows PruneLogFiles: files
// whose extension is exactly ".log", directories skipped, one file per
// last-write time (the first the walk meets), the five newest kept.
#include "commands.h"
#include "json_writer.h"
#include "log/log_files.h"
#include "output_text.h"
#include "platform/platform.h"
#include "tool.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace pexil::tool {
namespace {

class RecordingCallback : public log::LogDirectoryCallback {
public:
    void CollectLogFile(const platform::FindData& entry, void* context) override {
        static_cast<std::vector<platform::FindData>*>(context)->push_back(entry);
    }
};

struct LogFile {
    std::string name;
    uint64_t time;
    const char* action;      // "keep", "delete" or "skip"
    std::string sameTimeAs;  // for "skip": the file pruning lists instead
};

struct OtherEntry {
    std::string name;
    const char* reason;
};

// A last-write time (100 ns units since 1601-01-01) as UTC in ISO 8601.
std::string FormatTime(uint64_t fileTime) {
    constexpr int64_t kUnitsPerSecond = 10000000;
    constexpr int64_t kEpochDifference = 11644473600;  // seconds from 1601 to 1970
    const int64_t seconds = static_cast<int64_t>(fileTime / kUnitsPerSecond) - kEpochDifference;
    const int64_t fraction = static_cast<int64_t>(fileTime % kUnitsPerSecond);
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[64];
    std::snprintf(text, sizeof(text), "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%07lldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60),
                  static_cast<long long>(fraction));
    return text;
}

// Why an entry of the log directory is no log file to pruning.
const char* ReasonFor(log::LogEntryKind kind) {
    switch (kind) {
        case log::LogEntryKind::Directory:
            return "a directory";
        case log::LogEntryKind::PathTooLong:
            return "full path longer than 259 characters";
        case log::LogEntryKind::NotRegularFile:
            return "a link or a special file: pruning never deletes or follows one";
        case log::LogEntryKind::LogFile:
        case log::LogEntryKind::OtherFile:
            break;
    }
    return "extension is not exactly \".log\"";
}

}  // namespace

int RunLogs(const Arguments& args) {
    const std::string root = args.positional.empty()
                                 ? std::string(CurrentDirectoryBase().directory())
                                 : AbsolutePath(args.positional[0]);
    char directory[kMaxPath] = "";
    if (!log::MakeLogDirectory(root.c_str(), directory, kMaxPath)) {
        throw CommandFailed("the log directory under " + root + " is longer than " +
                            std::to_string(kMaxPath - 1) + " characters");
    }
    std::vector<platform::FindData> entries;
    RecordingCallback callback;
    log::EnumerateDirectory(directory, callback, &entries);
    // A directory's walk always meets "." and "..".
    const bool exists = !entries.empty();
    // Why the factory could not log there: the name is taken by something
    // else, or the directory cannot be made (only its last level is made).
    std::string problem;
    std::string named = directory;
    named.pop_back();  // the separator it ends with
    if (!exists && FileExists(named)) {
        problem = named + " is not a directory: the factory cannot open a log file there";
    } else if (!exists && !FileExists(root)) {
        problem = "the root path " + root + " does not exist: the factory makes only the last " +
                  "level, PexilLog, so it cannot open a log file there";
    } else if (!exists && !IsDirectory(root)) {
        problem = "the root path " + root + " is not a directory: the factory cannot make " +
                  "PexilLog in it, so it cannot open a log file there";
    } else if (!exists && platform::Access(root.c_str(), 2) != 0) {
        // The factory would make it, and the system would refuse.
        char reason[256] = "";
        platform::LastErrorText(reason, sizeof(reason));
        problem =
            named + " cannot be created: " + reason + "; the factory cannot open a log file there";
    }

    std::vector<LogFile> files;
    std::vector<OtherEntry> others;
    std::map<uint64_t, std::string> listed;  // what pruning lists: one file per time
    for (const platform::FindData& entry : entries) {
        if (std::strcmp(entry.name, ".") == 0 || std::strcmp(entry.name, "..") == 0) continue;
        const log::LogEntryKind kind = log::KindOfLogEntry(directory, entry);
        if (kind != log::LogEntryKind::LogFile) {
            others.push_back({entry.name, ReasonFor(kind)});
            continue;
        }
        const auto added = listed.emplace(entry.lastWriteTime, entry.name);
        files.push_back({entry.name, entry.lastWriteTime, added.second ? "" : "skip",
                         added.second ? "" : added.first->second});
    }
    // Newest first; a file of the same time follows the one pruning lists.
    std::stable_sort(files.begin(), files.end(),
                     [](const LogFile& a, const LogFile& b) { return a.time > b.time; });
    int rank = 0;
    for (LogFile& file : files) {
        if (file.action[0] == '\0') file.action = ++rank <= log::kKeptLogFiles ? "keep" : "delete";
    }
    std::sort(others.begin(), others.end(),
              [](const OtherEntry& a, const OtherEntry& b) { return a.name < b.name; });

    if (args.json) {
        JsonWriter json;
        json.BeginObject().Key("directory").String(directory).Key("exists").Bool(exists);
        json.Key("problem");
        if (problem.empty()) {
            json.Null();
        } else {
            json.String(problem);
        }
        json.Key("kept").Number(log::kKeptLogFiles).Key("files").BeginArray();
        for (const LogFile& file : files) {
            json.BeginObject().Key("name").String(file.name);
            json.Key("time").String(FormatTime(file.time)).Key("action").String(file.action);
            json.Key("sameTimeAs");
            if (file.sameTimeAs.empty()) {
                json.Null();
            } else {
                json.String(file.sameTimeAs);
            }
            json.EndObject();
        }
        json.EndArray().Key("others").BeginArray();
        for (const OtherEntry& other : others) {
            json.BeginObject().Key("name").String(other.name);
            json.Key("reason").String(other.reason).EndObject();
        }
        json.EndArray().EndObject();
        WriteOut(json.Text());
        return problem.empty() ? kExitOk : kExitNo;
    }

    std::string out = "log directory: " + Shown(directory) +
                      (exists            ? ""
                       : problem.empty() ? " (missing: the factory makes it at its first log file)"
                                         : "") +
                      "\n";
    if (!problem.empty()) out += "  " + Shown(problem) + "\n";
    if (exists && files.empty()) out += "  no log files\n";
    for (const LogFile& file : files) {
        std::string action = file.action;
        action.resize(8, ' ');
        out += "  " + action + FormatTime(file.time) + "  " + Shown(file.name);
        if (!file.sameTimeAs.empty()) {
            out += " (same time as " + Shown(file.sameTimeAs) + ": pruning does not list it)";
        }
        out += "\n";
    }
    if (!others.empty()) out += "not log files:\n";
    for (const OtherEntry& other : others)
        out += "  " + Shown(other.name) + " (" + other.reason + ")\n";
    WriteOut(out);
    return problem.empty() ? kExitOk : kExitNo;
}

}  // namespace pexil::tool
