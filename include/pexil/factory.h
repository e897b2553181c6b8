// The factory interface: the 15 slots of the ComponentFactory (component 361),
// in the order separately built modules rely on. Slots 0 to 4 are IComponent's,
// 5 to 12 the factory's own, 13 and 14 the two that ComponentBase adds.
#ifndef PEXIL_FACTORY_H
#define PEXIL_FACTORY_H

#include <pexil/component.h>
#include <pexil/config.h>
#include <pexil/platform.h>

#include <stddef.h>
#include <stdint.h>

namespace pexil {

// What the factory hands a component that logs to the shared log file. The
// layout is fixed: components in other modules read it. A writer holds the lock
// while it writes through the file. The file is a HANDLE value on Windows and a
// file descriptor on POSIX; -1 while no log file is open.
struct LogSink {
    PexilLock* lock;
    intptr_t file;
};

// Two pointer-sized fields, the lock first, on every system and width.
static_assert(sizeof(LogSink) == 2 * sizeof(void*) && offsetof(LogSink, lock) == 0 &&
                  offsetof(LogSink, file) == sizeof(void*),
              "the LogSink is read by other modules");

constexpr intptr_t kNoLogFile = -1;

class IComponentFactory : public IComponent {
public:
    // slot 5: the component of that ID, from the registry of the named file (the
    // default registry for null or empty); null on failure.
    virtual IComponent* CreateComponentByID(uint32_t componentID, const char* registryPath) = 0;
    // slot 6: the component's debug-output and log-file masks, and the LogSink
    // when its log-file mask is non-zero (null otherwise).
    virtual void GetLogSettings(const char* registryPath, uint32_t componentID,
                                uint32_t* debugOutputMask, uint32_t* logFileMask,
                                LogSink** logSink) = 0;
    // slot 7: registers a single-instance component for ReleaseGlobalComponents.
    virtual void RegisterGlobalComponent(IComponent* component) = 0;
    // slot 8: releases the global components, forced, in their fixed order.
    virtual void ReleaseGlobalComponents() = 0;
    // slot 9: 1 when the module said it can unload and the registries freed it.
    virtual int UnloadDllIfIdle(PexilModuleHandle module) = 0;
    // slot 10: schedules an unload check 100 ms later; the new timer ID or 0.
    virtual uint32_t ScheduleDllUnload(PexilModuleHandle module) = 0;
    // slot 11: the directory under which the log directory lies.
    virtual void SetRootPath(const char* path) = 0;
    // slot 12: copies the root path into a 260-byte buffer; 0 for a null buffer.
    virtual int GetRootPath(char* buffer) = 0;
    // slot 13: final clean-up, run by a forced Release.
    virtual void Shutdown() = 0;
    // slot 14: the preferred path when given, else the module's registry path.
    virtual void GetRegistryPath(const char* preferredPath, char* buffer, int size) = 0;

protected:
    ~IComponentFactory() = default;
};

}  // namespace pexil

#endif
