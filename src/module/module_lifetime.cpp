// Process attach and detach of a module. On every system these are the static
// initialisation and destruction of the module's image: the live-component map
// is constructed first and destroyed last, and between them the attach handler
// records the module's own handle and the detach handler writes the leak
// report and deletes the module lock. (Creators registered by the module's
// other files initialise the module lock on first use, whichever runs first.)
#include "module/live_map_storage.h"
#include "module/module_state.h"
#include "module/quarantine.h"
#include "platform/platform.h"
#include "support/debug_print.h"

#include <atomic>

namespace pexil::module {
namespace {

LiveComponentMap g_liveComponents;
// Constant-initialised: readable from any static initialiser or destructor.
std::atomic<bool> g_liveMapReady{false};

struct ModuleLifetime {
    ModuleLifetime() {
        g_liveMapReady.store(true, std::memory_order_relaxed);
        SetModuleHandle(platform::ModuleFromAddress(&g_liveComponents));
        InitModuleLock();
        InitExplaining();
    }
    ~ModuleLifetime() {
        if (ModuleLockInitialised() != 0) {
            ReportLeaks();
            EmptyQuarantine();
            DeleteModuleLock();
        }
        g_liveMapReady.store(false, std::memory_order_relaxed);
    }
};

// Defined after the map: constructed after it, destroyed before it.
ModuleLifetime g_lifetime;

}  // namespace

LiveComponentMap& LiveMap() {
    return g_liveComponents;
}

bool LiveMapReady() {
    return g_liveMapReady.load(std::memory_order_relaxed);
}

}  // namespace pexil::module
