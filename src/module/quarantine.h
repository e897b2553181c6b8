// The quarantine of released components, in the explaining mode only
// (PEXIL_EXPLAIN=1 when the module loads). A component that Release deleted is
// not freed at once: its memory is kept, its interface's table of functions
// replaced by one whose every slot reports the call and ends the process. A
// second Release (or any call through a pointer kept past the first) then
// names the component instead of corrupting the heap. The quarantine holds a
// bounded number of components; the oldest is freed when it is full. Without
// the explaining mode nothing is kept.
#ifndef PEXIL_MODULE_QUARANTINE_H
#define PEXIL_MODULE_QUARANTINE_H

#include <pexil/component.h>

#include <cstddef>
#include <new>

namespace pexil::module {

// How a quarantined component's memory is freed in the end.
struct Deallocation {
    void (*plain)(void*);        // its class's deallocation, or null
    std::align_val_t alignment;  // for the aligned global operator delete
};

// True when quarantining: the module was loaded in the explaining mode.
bool Quarantining();

// Keeps the component's memory instead of freeing it; its destructors have
// run. Frees the oldest kept component when the quarantine is full.
void Quarantine(void* memory, IComponent* key, uint32_t componentID, uint32_t creatorID,
                Deallocation deallocation);

// Frees everything kept (when the module unloads).
void EmptyQuarantine();

}  // namespace pexil::module

#endif
