// pexil module DLL: loads a module, lists which of the seven entry points it
// exports and the component IDs its creator table holds (GetComponentIDs).
#include "commands.h"
#include "json_writer.h"
#include "output_text.h"
#include "platform/platform.h"
#include "tool.h"

#include <pexil/module.h>

namespace pexil::tool {
namespace {

const char* const kEntryPoints[] = {"CreateComponent",      "SetDLLRegistry",   "PexilDllFreeMap",
                                    "PexilDllCanUnloadNow", "SetFactoryHandle", "PexilSetDllSafe",
                                    "GetComponentIDs"};

}  // namespace

int RunModule(const Arguments& args) {
    const std::string path = AbsolutePath(args.positional[0]);
    if (!FileExists(path)) throw CommandFailed("no such file: " + path);

    std::vector<bool> present;
    std::vector<uint32_t> ids;
    bool listed = false;
    std::vector<std::string> debugLines;
    {
        DebugOutputCollector capture;
        const PexilModuleHandle module = platform::LoadLibrary(path.c_str());
        if (module == nullptr) {
            char reason[512] = "";
            platform::LoadFailureReason(reason, sizeof(reason));
            throw CommandFailed("cannot load " + path + (reason[0] != '\0' ? ": " : "") + reason);
        }
        for (const char* name : kEntryPoints)
            present.push_back(platform::GetProcAddress(module, name) != nullptr);
        listed = RegisteredIDs(module, &ids);
        platform::FreeLibrary(module);
        debugLines = capture.Lines();
    }
    bool complete = true;
    for (bool has : present)
        complete = complete && has;

    if (args.json) {
        JsonWriter json;
        json.BeginObject().Key("module").String(path).Key("exports").BeginObject();
        for (size_t i = 0; i < present.size(); ++i)
            json.Key(kEntryPoints[i]).Bool(present[i]);
        json.EndObject().Key("componentIDs");
        if (listed) {
            json.BeginArray();
            for (uint32_t id : ids)
                json.Number(id);
            json.EndArray();
        } else {
            json.Null();
        }
        json.Key("debugOutput").Strings(debugLines).EndObject();
        WriteOut(json.Text());
    } else {
        std::string out = "module: " + Shown(path) + "\nexports:\n";
        for (size_t i = 0; i < present.size(); ++i) {
            std::string name = kEntryPoints[i];
            name.resize(22, ' ');
            out += "  " + name + (present[i] ? "yes" : "no") + "\n";
        }
        if (!listed) {
            out += "component IDs: unknown (no GetComponentIDs)\n";
        } else {
            out += "component IDs (" + std::to_string(ids.size()) + "):";
            for (uint32_t id : ids)
                out += " " + std::to_string(id);
            out += "\n";
        }
        for (const std::string& line : debugLines)
            out += "debug output: " + Shown(line) + "\n";
        WriteOut(out);
    }
    return complete ? kExitOk : kExitNo;
}

}  // namespace pexil::tool
