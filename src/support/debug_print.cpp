#include "support/debug_print.h"

#include "platform/platform.h"
#include "support/bounded_string.h"

#include <cstring>

namespace pexil {
namespace {

struct ChannelLimits {
    int size;
    int maxCount;
};

ChannelLimits LimitsOf(DebugChannel channel) {
    switch (channel) {
        case DebugChannel::Locator:
            return {1023, 1023};
        case DebugChannel::Binding:
            return {1023, 1024};
        case DebugChannel::ModuleEntry:
        case DebugChannel::LoadedLocator:
            break;
    }
    return {1024, 1023};
}

// This module's own: each module decides when it is loaded.
bool g_explaining = false;

constexpr char kExplainPrefix[] = "Pexil[Explain]: ";

}  // namespace

void InitExplaining() {
    const char* value = platform::GetEnvironmentVariable("PEXIL_EXPLAIN");
    g_explaining = value != nullptr && std::strcmp(value, "1") == 0;
}

bool Explaining() {
    return g_explaining;
}

void Explain(const char* format, ...) {
    if (!g_explaining) return;
    char message[1024];
    std::memset(message, 0, sizeof(message));
    kBoundedStrings.Copy(message, sizeof(message), kExplainPrefix);
    const int prefix = static_cast<int>(sizeof(kExplainPrefix) - 1);
    va_list args;
    va_start(args, format);
    kBoundedStrings.Format(message + prefix, static_cast<int>(sizeof(message)) - prefix, -1, format,
                           args);
    va_end(args);
    platform::DebugOutput(message);
}

void DebugPrintf(DebugChannel channel, const char* format, ...) {
    char message[1024];
    std::memset(message, 0, sizeof(message));
    const ChannelLimits limits = LimitsOf(channel);
    va_list args;
    va_start(args, format);
    kBoundedStrings.Format(message, limits.size, limits.maxCount, format, args);
    va_end(args);
    platform::DebugOutput(message);
}

}  // namespace pexil
