// pexil lint [FILE...]: the lint of registry files (what the parser ignores,
// what fails at run time), by default of every file a host in HOSTDIR reads:
// its Pexil.ini, each file of the [Redirect] chain the factory search follows
// and of the one the factory follows to its default registry. Each module the
// files name is loaded (as pexil module loads it) unless --no-load.
#include "commands.h"
#include "component/factory_locator.h"
#include "factory/component_factory.h"
#include "json_writer.h"
#include "output_text.h"
#include "platform/platform.h"
#include "registry/component_registry.h"
#include "registry_lint.h"
#include "support/redirect_chain.h"
#include "tool.h"

#include <algorithm>

namespace pexil::tool {
namespace {

// The files a redirect chain reads, in order.
class ChainFiles : public RedirectObserver {
public:
    explicit ChainFiles(std::vector<std::string>& files) : files_(files) {}
    void OnHop(Hop hop, const char* file, const char*, const char* target) override {
        Add(file);
        if (hop == Hop::Relative) Add(target);
    }

private:
    void Add(const std::string& file) {
        if (!file.empty() && IsFile(file) &&
            std::find(files_.begin(), files_.end(), file) == files_.end()) {
            files_.push_back(file);
        }
    }
    std::vector<std::string>& files_;
};

// The files a host in the directory reads.
std::vector<std::string> HostFiles(const std::string& hostDirectory) {
    const PathBase& host = DirectoryBase(hostDirectory);
    char start[kMaxPath] = "";
    int whole = 0;
    JoinToHostDirectory(host, "Pexil.ini", start, kMaxPath, &whole);
    if (whole == 0) throw CommandFailed("path too long: " + hostDirectory + "/Pexil.ini");
    if (!IsFile(start)) throw CommandFailed(std::string("cannot read ") + start + NotAFile(start));
    std::vector<std::string> files;
    ChainFiles recorder(files);
    DebugOutputCollector quiet;  // a loop's own message
    char last[kMaxPath] = "";
    locator::FollowRedirect(locator::Variant::FactoryHandle, start, last, kMaxPath, &recorder);
    FollowFactoryRedirect("Pexil.ini", last, kMaxPath, host, &recorder);
    return files;
}

}  // namespace

int RunLint(const Arguments& args) {
    std::vector<std::string> files;
    if (args.positional.empty()) {
        files = HostFiles(HostDirectoryOption(args, "--dir"));
    } else {
        for (const std::string& argument : args.positional) {
            const std::string file = AbsolutePath(argument);
            if (!IsFile(file)) throw CommandFailed("cannot read " + file + NotAFile(file));
            files.push_back(file);
        }
    }

    size_t findings = 0;
    std::vector<std::vector<LintFinding>> results;
    for (const std::string& file : files) {
        ComponentRegistry registry(CurrentDirectoryBase());
        RegistryLint lint;
        lint.Read(registry, file.c_str(), file.c_str());
        if (!registry.fileRead()) {
            throw CommandFailed("cannot read " + file + ": it is larger than " +
                                std::to_string(platform::kMaxReadFileSize) +
                                " bytes, or could not be read whole");
        }
        lint.CheckRunTime(registry);
        lint.CheckFactoryReach(file, registry);
        lint.CheckFactoryEntry(file, registry);
        if (!args.Has("--no-load")) lint.CheckModules(registry);
        results.push_back(lint.Findings());
        findings += CountingFindings(results.back());
    }

    if (args.json) {
        JsonWriter json;
        json.BeginObject().Key("files").BeginArray();
        for (size_t i = 0; i < files.size(); ++i) {
            json.BeginObject().Key("file").String(files[i]).Key("lint");
            WriteLint(json, results[i]);
            json.EndObject();
        }
        json.EndArray().EndObject();
        WriteOut(json.Text());
    } else {
        std::string out;
        for (size_t i = 0; i < files.size(); ++i)
            out += "registry file: " + Shown(files[i]) + "\n" + LintText(results[i]);
        WriteOut(out);
    }
    return findings > 0 ? kExitNo : kExitOk;
}

}  // namespace pexil::tool
