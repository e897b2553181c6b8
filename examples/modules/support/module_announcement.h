// Lets a module say on standard output when it is loaded and unloaded: its
// static objects are constructed when the system loads it and destroyed while
// the system unloads it, so these lines show what really happens to the module.
// (The module code's own leak report comes after the unloading line: it is
// linked in first, so it is destroyed last.)
#ifndef PEXIL_EXAMPLES_MODULE_ANNOUNCEMENT_H
#define PEXIL_EXAMPLES_MODULE_ANNOUNCEMENT_H

namespace example {

// One per module, as a static object.
class ModuleAnnouncement {
public:
    explicit ModuleAnnouncement(const char* moduleName);
    ~ModuleAnnouncement();
    ModuleAnnouncement(const ModuleAnnouncement&) = delete;
    ModuleAnnouncement& operator=(const ModuleAnnouncement&) = delete;

private:
    const char* moduleName_;
};

// Called by every component's Shutdown: the unload line tells how long after
// the module's last release the factory unloaded it.
void NoteComponentReleased();

}  // namespace example

#endif
