// The live-component map: every component this module created and has not yet
// released, keyed by its pointer in ascending address order. It only records
// pointers; it owns nothing.
#ifndef PEXIL_MODULE_LIVE_COMPONENTS_H
#define PEXIL_MODULE_LIVE_COMPONENTS_H

#include <pexil/component.h>

namespace pexil::module {

// Stores (componentID, creatorID, component) under the pointer, replacing a
// record already stored there. Takes the module lock.
enum class RecordResult {
    Recorded,
    NoMemory,      // no memory for a new record
    BeingDeleted,  // the pointer's record belongs to a component Release is deleting
};
RecordResult RecordLiveComponent(uint32_t componentID, uint32_t creatorID, IComponent* component);

// Number of records; read without the lock.
uint32_t LiveComponentCount();

// PexilDllCanUnloadNow's answer: no record, and no release still running
// after removing one. Read without the lock.
bool ModuleIsIdle();

// Calls Release(0) on every record whose free-map flag is set, restarting from
// the first record after each removal. Holds the module lock throughout, so
// the flagged components' Shutdown and destructors run under it; a component
// whose deletion another thread has begun is passed by.
void FreeFlaggedComponents();

// Writes the leak report for the records still in the map (nothing when empty).
void ReportLeaks();

// Copies up to capacity records in key order; returns the number of records.
struct ComponentRecord {
    uint32_t componentID;
    uint32_t creatorID;
    IComponent* component;
};
uint32_t CopyLiveComponents(ComponentRecord* records, uint32_t capacity);

}  // namespace pexil::module

#endif
