// The parts of ComponentBase that are not templates.
#include "platform/platform.h"
#include "support/bounded_string.h"
#include "support/format.h"
#include "support/path.h"

#include <pexil/module.h>

#include <cinttypes>

namespace pexil {

void CopyRegistryPath(const char* preferredPath, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return;
    if (preferredPath != nullptr && preferredPath[0] != '\0') {
        kBoundedStrings.Copy(buffer, size, preferredPath);
        return;
    }
    // Copied whole first: SetDLLRegistry may write it on another thread.
    char modulePath[kMaxPath];
    CopyModuleRegistryPath(modulePath);
    kBoundedStrings.Copy(buffer, size, modulePath);
}

void ReportComponentDestroyedOutsideRelease(const void* component, uint32_t componentID) {
    char report[256];
    FormatString(report, sizeof(report),
                 "Pexil[Error]: Component 0x%0*" PRIXPTR
                 " (ComponentID=%u) destroyed other than by Release, before its Shutdown or "
                 "while it must stay.\n",
                 static_cast<int>(sizeof(void*) * 2), reinterpret_cast<uintptr_t>(component),
                 componentID);
    platform::DebugBreak(report);
}

}  // namespace pexil
