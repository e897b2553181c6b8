// The seven entry points every module exports.
#include "module/live_components.h"
#include "module/module_state.h"
#include "platform/platform.h"
#include "support/debug_print.h"
#include "support/diagnostic_text.h"
#include "support/path.h"

#include <pexil/module.h>

using pexil::DebugChannel;
using pexil::DebugPrintf;

namespace {

// Reports why no component is returned, with the IDs asked for; null.
pexil::IComponent* Refuse(const char* reason, uint32_t componentID, uint32_t creatorID) {
    DebugPrintf(DebugChannel::ModuleEntry, "%s", reason);
    DebugPrintf(DebugChannel::ModuleEntry, "Pexil[Error]: ComponentID=%d CreatorID=%u",
                static_cast<int>(componentID), creatorID);
    return nullptr;
}

// The explaining trace's line for an ID the module has no creator for: the
// IDs it has, so that a registry that binds the ID here can be corrected.
void ExplainRegisteredIDs(uint32_t componentID) {
    if (!pexil::Explaining()) return;
    uint32_t ids[64];
    const int count = static_cast<int>(pexil::module::CopyComponentIDs(ids, 64));
    char listed[256];
    pexil::DescribeIDs(ids, count < 64 ? count : 64, listed, sizeof(listed));
    char file[pexil::kMaxPath] = "";
    if (pexil::platform::GetModuleFileName(pexil::ModuleHandle(), file, pexil::kMaxPath) == 0) {
        pexil::CopyIfFits(file, pexil::kMaxPath, "this module");
    }
    pexil::Explain("component %u: %s registers %s, not %u\n", componentID, file, listed,
                   componentID);
}

}  // namespace

extern "C" {

PEXIL_MODULE_EXPORT pexil::IComponent* PEXIL_CDECL CreateComponent(uint32_t componentID,
                                                                   uint32_t creatorID) {
    const pexil::CreatorFunction creator = pexil::FindCreator(componentID);
    if (creator == nullptr) {
        Refuse("Pexil[Error]: Can't find the factory method of Component\n", componentID,
               creatorID);
        ExplainRegisteredIDs(componentID);
        return nullptr;
    }
    // Outside the lock: a creator may call back into the module. No exception
    // leaves an entry point: a creator that throws made no component.
    pexil::IComponent* component = nullptr;
    try {
        component = creator();
    } catch (...) {
        // no component
    }
    if (component == nullptr) {
        return Refuse("Pexil[Error]:CreateComponent method return NULL.\n", componentID, creatorID);
    }
    switch (pexil::module::RecordLiveComponent(componentID, creatorID, component)) {
        case pexil::module::RecordResult::Recorded:
            return component;
        case pexil::module::RecordResult::NoMemory:
            // An unrecorded component would not keep its module loaded, so it is
            // not handed out. Nor is it released: a single instance may already be
            // known elsewhere. It stays, unreachable, as the price of no memory.
            return Refuse("Pexil[Error]: No memory to record the component; it is not returned.\n",
                          componentID, creatorID);
        case pexil::module::RecordResult::BeingDeleted:
            break;
    }
    // A single instance that another thread is releasing at this moment: it
    // is gone as soon as its destructors end.
    return Refuse("Pexil[Error]: The component is being deleted; it is not returned.\n",
                  componentID, creatorID);
}

PEXIL_MODULE_EXPORT int PEXIL_CDECL SetDLLRegistry(const char* path) {
    pexil::module::SetRegistryPath(path);
    return 0;
}

PEXIL_MODULE_EXPORT void PEXIL_CDECL PexilDllFreeMap(void) {
    pexil::module::FreeFlaggedComponents();
}

PEXIL_MODULE_EXPORT int PEXIL_CDECL PexilDllCanUnloadNow(void) {
    return pexil::module::ModuleIsIdle() ? 1 : 0;
}

PEXIL_MODULE_EXPORT PexilModuleHandle PEXIL_CDECL SetFactoryHandle(PexilModuleHandle handle) {
    pexil::module::SetFactoryHandle(handle);
    return handle;
}

PEXIL_MODULE_EXPORT int PEXIL_CDECL PexilSetDllSafe(int flag) {
    pexil::module::SetDllSafe(flag);
    return flag;
}

PEXIL_MODULE_EXPORT int PEXIL_CDECL GetComponentIDs(uint32_t* ids, uint32_t capacity) {
    if (ids == nullptr) capacity = 0;
    return static_cast<int>(pexil::module::CopyComponentIDs(ids, capacity));
}
}
