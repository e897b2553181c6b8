// ComponentBase: the class every component is built on. It implements the five
// IComponent slots once for all components and adds two slots right after the
// interface's own: Shutdown and GetRegistryPath.
//
//   class Clock : public pexil::ComponentBase<IClock, 4711> {
//   public:
//       void Shutdown() override { /* final clean-up, called once by Release */ }
//       ...IClock's own operations...
//   };
//
// A component lives from its creator until Release deletes it. Release(0) is
// ignored while the force-only flag is set (the default); Release(1) calls
// Shutdown once, deletes the owned objects in the map, deletes the component
// and removes it from the module's live-component map.
#ifndef PEXIL_COMPONENT_BASE_H
#define PEXIL_COMPONENT_BASE_H

#include <pexil/component.h>
#include <pexil/module.h>
#include <pexil/owned_objects.h>

#include <atomic>

namespace pexil {

// The flags are 32-bit ints in memory whichever type holds them.
static_assert(sizeof(std::atomic<int32_t>) == sizeof(int32_t), "an atomic flag is a 32-bit int");

template <class Interface, uint32_t ID>
class ComponentBase : public Interface, public OwnedObjects {
public:
    static constexpr uint32_t kComponentID = ID;
    using ComponentBaseType = ComponentBase;

    uint32_t GetComponentID() override { return ID; }
    int GetVersion() override { return 1; }
    void Release(int force) override;
    // Setting the flag hands the component to PexilDllFreeMap, which may run
    // on another thread: what the setter did before happens before the walk
    // releases it.
    int GetFreeMapFlag() override { return freeMapFlag_.load(std::memory_order_acquire); }
    void SetFreeMapFlag(int value) override {
        freeMapFlag_.store(value, std::memory_order_release);
    }

    // The two slots every component adds after its interface's own. They are
    // declared before the destructor so that they take exactly those slots. An
    // interface may declare them itself (the factory's does, to show all its
    // slots); here they are then overrides, which clang would ask to be marked.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Winconsistent-missing-override"
#endif
    virtual void Shutdown() = 0;
    // Copies the preferred path when it is non-null and not empty, else this
    // module's registry path; nothing for a null buffer or size <= 0, and a path
    // that does not fit leaves the buffer as it was.
    virtual void GetRegistryPath(const char* preferredPath, char* buffer, int size) {
        CopyRegistryPath(preferredPath, buffer, size);
    }
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

    ~ComponentBase() override {
        // Destroyed other than through Release, or while it must stay.
        if (cleanupPending_ != 0 || noDelete_ != 0) {
            ReportComponentDestroyedOutsideRelease(this, ID);
        }
    }

    // The deallocation of a component that Release deletes also removes its
    // live record, both under the module lock, once every destructor has run
    // outside it. A class with its own operator delete calls
    // FreeComponentMemory with its own deallocation function the same way, and
    // says so (kFreesThroughFreeComponentMemory, module.h). An over-aligned
    // class (an alignas(64) member) is freed with the aligned global operator
    // delete, as it was allocated.
    static void operator delete(void* memory) noexcept {
        FreeComponentMemory(memory, DeleteWithGlobalOperator);
    }
    static void operator delete(void* memory, const std::nothrow_t&) noexcept {
        FreeComponentMemory(memory, DeleteWithGlobalOperator);
    }
    static void operator delete(void* memory, std::align_val_t alignment) noexcept {
        FreeComponentMemory(memory, alignment);
    }
    static void operator delete(void* memory, std::align_val_t alignment,
                                const std::nothrow_t&) noexcept {
        FreeComponentMemory(memory, alignment);
    }

protected:
    ComponentBase() = default;

    // Destroys a component that was made but never handed out (a single
    // instance that lost the race to be published): its Shutdown runs, and it
    // is deleted without a record to remove. A class whose Shutdown must not
    // run for such a component hides this with its own.
    void DiscardUnpublished() {
        if (cleanupPending_ != 0) {
            Shutdown();
            DeleteMappedObjects();
            cleanupPending_ = 0;
        }
        noDelete_ = 0;
        delete this;
    }

    int32_t cleanupPending_ = 1;  // Shutdown has not run yet
    int32_t noDelete_ = 0;        // Release cleans up but neither deletes nor unrecords
    int32_t forceOnly_ = 1;       // Release(0) does nothing
    // Set by the holder that acquired the component. Atomic: the factory's is
    // set by every module's idle notification, on whatever thread it runs.
    std::atomic<int32_t> freeMapFlag_{0};
};

template <class Interface, uint32_t ID>
void ComponentBase<Interface, ID>::Release(int force) {
    if (IsDllSafe() == 0) return;
    if (forceOnly_ != 0 && force == 0) return;
    if (cleanupPending_ != 0) {
        Shutdown();
        DeleteMappedObjects();
        cleanupPending_ = 0;
    }
    if (noDelete_ != 0) return;
    ComponentDeletion deletion;
    deletion.componentID = this->GetComponentID();
    // The record's key; used only as a key once the object is gone.
    deletion.key = static_cast<IComponent*>(this);
    deletion.memory = dynamic_cast<void*>(this);
    deletion.notifyFactory = deletion.componentID != kFactoryComponentID ? 1 : 0;
    // The destructors run outside the module lock: an owned object may release
    // a component of another module, whose lock must not be taken under this
    // one (two threads doing so in opposite orders deadlock).
    // The memory is freed and the record removed together, under the lock
    // (FreeComponentMemory): otherwise another thread could create a component
    // at the freed address in between, and this removal would take its record.
    BeginComponentDeletion(&deletion);
    delete this;
    EndComponentDeletion(&deletion);
}

}  // namespace pexil

#endif
