// pexil ini FILE SECTION KEY [--default TEXT] [--size N]: a value exactly as
// the framework's profile-string reader returns it (on Windows the system's
// GetPrivateProfileStringA), read into a buffer of N bytes (default 1024).
#include "commands.h"
#include "json_writer.h"
#include "output_text.h"
#include "platform/platform.h"
#include "tool.h"

#include <cstdio>

namespace pexil::tool {
namespace {

constexpr uint32_t kDefaultSize = 1024;
constexpr uint32_t kLargestSize = 1 << 20;

uint32_t ParseSize(const std::string& text) {
    uint64_t size = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || size > kLargestSize) {
            size = kLargestSize + 1;
            break;
        }
        size = size * 10 + static_cast<uint64_t>(c - '0');
    }
    if (text.empty() || size > kLargestSize) {
        throw UsageError("--size takes a number from 0 to " + std::to_string(kLargestSize));
    }
    return static_cast<uint32_t>(size);
}

}  // namespace

int RunIni(const Arguments& args) {
    const uint32_t size = args.Has("--size") ? ParseSize(args.options.at("--size")) : kDefaultSize;
    const std::string defaultValue = args.Has("--default") ? args.options.at("--default") : "";
    const std::string file = AbsolutePath(args.positional[0]);

    // One byte more than the reader may use, so that the value ends even for size 0.
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    const uint32_t length =
        platform::GetPrivateProfileString(args.positional[1].c_str(), args.positional[2].c_str(),
                                          defaultValue.c_str(), buffer.data(), size, file.c_str());
    const std::string value = buffer.data();

    if (args.json) {
        JsonWriter json;
        json.BeginObject().Key("value").String(value).Key("length").Number(length).EndObject();
        WriteOut(json.Text());
    } else {
        WriteOut(Shown(value) + "\n");
    }
    // The reader answers a missing file with the default, as it answers a
    // missing key: only the command can tell the two apart.
    if (!FileExists(file)) {
        std::fputs(("pexil ini: " + Shown(file) + " does not exist\n").c_str(), stderr);
        return kExitNo;
    }
    return kExitOk;
}

}  // namespace pexil::tool
