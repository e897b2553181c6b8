// The configured root path: asked once of the configuration component (991),
// else the host directory, and kept in a module-wide cache.
#include "support/base_directory.h"
#include "support/bounded_string.h"

#include <pexil/configuration.h>
#include <pexil/holder.h>

#include <atomic>

namespace pexil {
namespace {

char g_rootPath[kMaxPath];
// Set once the cache holds a non-empty path; readers never see it half-written.
std::atomic<bool> g_rootPathReady{false};
std::atomic<bool> g_rootPathFilling{false};

void Lookup(char* path) {
    RootPathHolder holder;
    if (holder.component != nullptr) {
        auto* configuration = static_cast<IConfiguration*>(holder.component);
        uint32_t key = 0;
        if (configuration->OpenConfigKey(kConfigRoot, "pexil_rootpath", 1, kConfigRoot, &key)) {
            uint32_t type = kConfigTypeString;
            uint32_t size = kMaxPath;
            // Used as written: neither tested for being absolute nor cut.
            if (configuration->QueryConfigValue(key, "pexil_rootpath_data", &type, path, &size)) {
                path[kMaxPath - 1] = '\0';
                return;
            }
        }
    }
    ComputeHostDirectory(path, kMaxPath);
}

}  // namespace

const char* QueryRootPath() {
    if (g_rootPathReady.load(std::memory_order_acquire)) return g_rootPath;
    char path[kMaxPath];
    path[0] = '\0';
    Lookup(path);
    // An empty answer is not kept: the next call asks again.
    if (path[0] == '\0') return "";
    bool expected = false;
    if (g_rootPathFilling.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
        kBoundedStrings.Copy(g_rootPath, kMaxPath, path);
        g_rootPathReady.store(true, std::memory_order_release);
    }
    while (!g_rootPathReady.load(std::memory_order_acquire)) {
    }
    return g_rootPath;
}

}  // namespace pexil
