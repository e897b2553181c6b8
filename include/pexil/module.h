// What a component module offers and what its code may use of its own module.
//
// Every module (the factory, each component DLL, a host that uses holders)
// links the module code and so has its own creator table, live-component map,
// module lock, registry path, factory handle and DLL-safe flag.
//
// Registering creators, at static initialisation of the module:
//
//   PEXIL_REGISTER_CREATOR(4711, pexil::NewComponent<Clock>);
//   PEXIL_REGISTER_CREATOR(4712, pexil::SingleInstance<Settings>::Create);
#ifndef PEXIL_MODULE_H
#define PEXIL_MODULE_H

#include <pexil/component.h>
#include <pexil/config.h>

#include <atomic>
#include <new>
#include <type_traits>

// The seven entry points every module exports (ordinals 1 to 7 on Windows).
extern "C" {
PEXIL_MODULE_EXPORT pexil::IComponent* PEXIL_CDECL CreateComponent(uint32_t componentID,
                                                                   uint32_t creatorID);
PEXIL_MODULE_EXPORT int PEXIL_CDECL SetDLLRegistry(const char* path);
PEXIL_MODULE_EXPORT void PEXIL_CDECL PexilDllFreeMap(void);
PEXIL_MODULE_EXPORT int PEXIL_CDECL PexilDllCanUnloadNow(void);
PEXIL_MODULE_EXPORT PexilModuleHandle PEXIL_CDECL SetFactoryHandle(PexilModuleHandle handle);
PEXIL_MODULE_EXPORT int PEXIL_CDECL PexilSetDllSafe(int flag);
PEXIL_MODULE_EXPORT int PEXIL_CDECL GetComponentIDs(uint32_t* ids, uint32_t capacity);
}

namespace pexil {

// Function types of the exports, for GetProcAddress.
using CreateComponentFunction = IComponent*(PEXIL_CDECL*)(uint32_t, uint32_t);
using SetDLLRegistryFunction = int(PEXIL_CDECL*)(const char*);
using PexilDllFreeMapFunction = void(PEXIL_CDECL*)();
using PexilDllCanUnloadNowFunction = int(PEXIL_CDECL*)();
using SetFactoryHandleFunction = PexilModuleHandle(PEXIL_CDECL*)(PexilModuleHandle);
using PexilSetDllSafeFunction = int(PEXIL_CDECL*)(int);
using GetComponentIDsFunction = int(PEXIL_CDECL*)(uint32_t*, uint32_t);

// A creator: no arguments, a new component or null.
using CreatorFunction = IComponent* (*)();

// Most creators a module's table holds.
constexpr uint32_t kMaxCreators = 512;

// Appends a creator to this module's table. Dropped silently when the table is
// full, the ID is 0 or the creator is null; duplicates are kept, and the first
// registered for an ID is the one CreateComponent uses.
void RegisterCreator(uint32_t componentID, CreatorFunction creator);
// The first creator registered for the ID, or null.
CreatorFunction FindCreator(uint32_t componentID);

// The module lock (recursive for its owning thread); initialised on first entry.
void EnterModuleLock();
void LeaveModuleLock();

// This module's values.
PexilModuleHandle ModuleHandle();   // the module's own handle
PexilModuleHandle FactoryHandle();  // as SetFactoryHandle stored it; null when never set
int IsDllSafe();                    // while 0, Release of this module's components does nothing
// As SetDLLRegistry stored it (260 bytes). The factory calls SetDLLRegistry at
// every creation it makes in this module, on whatever thread: read the buffer
// only where no other thread can; CopyModuleRegistryPath copies it whole.
const char* ModuleRegistryPath();
// Copies the registry path into a buffer of 260 bytes, under the module lock.
void CopyModuleRegistryPath(char* buffer);

// Removes a component's record after Release deleted it; when the map becomes
// empty and notifyFactory is set, tells the factory that this module is idle.
void RemoveLiveComponent(IComponent* component, int notifyFactory);

// Used by ComponentBase.
void CopyRegistryPath(const char* preferredPath, char* buffer, int size);
void ReportComponentDestroyedOutsideRelease(const void* component, uint32_t componentID);

// How Release deletes a component with its destructors outside the module lock.
// A ComponentDeletion lives on Release's stack. BeginComponentDeletion marks
// the component's record as being deleted (PexilDllFreeMap then calls nothing
// on it) and notes the deletion. The object's deallocation calls
// FreeComponentMemory, which frees a noted object's memory and removes its
// record together under the module lock (anything else it just frees).
// EndComponentDeletion, after the delete, removes the record itself, loudly,
// if the deallocation did not go through FreeComponentMemory.
struct ComponentDeletion {
    void* memory = nullptr;     // the whole allocation (dynamic_cast<void*>)
    IComponent* key = nullptr;  // its record's key, used only as a key
    uint32_t componentID = 0;
    int notifyFactory = 0;
    int freed = 0;                      // set by FreeComponentMemory
    ComponentDeletion* next = nullptr;  // the module's deletions in progress
};
void BeginComponentDeletion(ComponentDeletion* deletion);
// For a class's own operator delete: frees with deallocate.
void FreeComponentMemory(void* memory, void (*deallocate)(void*));
// Frees with ::operator delete(memory, alignment), for over-aligned classes.
void FreeComponentMemory(void* memory, std::align_val_t alignment);
void EndComponentDeletion(ComponentDeletion* deletion);
// ::operator delete, as a deallocation function for FreeComponentMemory.
void DeleteWithGlobalOperator(void* memory);

// True when T frees its memory through FreeComponentMemory: it keeps
// ComponentBase's operator delete, or declares its own and says that it calls
// FreeComponentMemory with
//   static constexpr bool kFreesThroughFreeComponentMemory = true;
// A component freed another way loses the guarantee that a component made at
// its address on another thread keeps its record (docs/module-guide.md).
template <class T, class = void>
struct DeclaresFreeComponentMemory : std::false_type {};
template <class T>
struct DeclaresFreeComponentMemory<T, std::void_t<decltype(T::kFreesThroughFreeComponentMemory)>>
    : std::bool_constant<T::kFreesThroughFreeComponentMemory> {};
template <class T>
constexpr bool FreesThroughFreeComponentMemory() {
    using Plain = void (*)(void*) noexcept;
    return DeclaresFreeComponentMemory<T>::value ||
           static_cast<Plain>(&T::operator delete) ==
               static_cast<Plain>(&T::ComponentBaseType::operator delete);
}

// Registers a new single instance with the factory as a global component
// (through a releasing factory holder). Nothing happens when no factory can
// be found.
void RegisterGlobalComponentWithFactory(IComponent* component);

// A creator that makes a new T each time.
template <class T>
IComponent* NewComponent() {
    static_assert(FreesThroughFreeComponentMemory<T>(),
                  "a component class with its own operator delete must free through "
                  "pexil::FreeComponentMemory and declare kFreesThroughFreeComponentMemory");
    return new (std::nothrow) T();
}

// A creator that hands out one shared instance of T: made on the first call
// and registered with the factory as a global component (unless it is the
// factory itself); every later call returns the same pointer. When the
// instance is destroyed the next call makes a new one.
//
// No lock is held while T is made or registered: its constructor may create
// components of this module (taking the module lock) while another thread,
// holding that lock in PexilDllFreeMap, asks for this instance. Threads that
// ask at the same moment may each make one; the first to publish it wins, and
// the others discard theirs (its Shutdown runs, it is never recorded or
// registered) and return the winner.
template <class T>
class SingleInstance final : public T {
public:
    static_assert(FreesThroughFreeComponentMemory<T>(),
                  "a component class with its own operator delete must free through "
                  "pexil::FreeComponentMemory and declare kFreesThroughFreeComponentMemory");

    static IComponent* Create() {
        if (SingleInstance* current = instance_.load(std::memory_order_acquire)) return current;
        SingleInstance* made = new (std::nothrow) SingleInstance();
        if (made == nullptr) return nullptr;
        SingleInstance* published = nullptr;
        if (!instance_.compare_exchange_strong(published, made, std::memory_order_acq_rel,
                                               std::memory_order_acquire)) {
            made->DiscardUnpublished();
            return published;
        }
        if (made->GetComponentID() != kFactoryComponentID) {
            RegisterGlobalComponentWithFactory(made);
        }
        return made;
    }
    static SingleInstance* Current() { return instance_.load(std::memory_order_acquire); }
    ~SingleInstance() override {
        // Only the record's own instance clears it.
        SingleInstance* self = this;
        instance_.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    }

private:
    SingleInstance() = default;
    static inline std::atomic<SingleInstance*> instance_{nullptr};
};

// Registers a creator while the module is initialised.
struct CreatorRegistration {
    CreatorRegistration(uint32_t componentID, CreatorFunction creator) {
        RegisterCreator(componentID, creator);
    }
};

}  // namespace pexil

#define PEXIL_CONCAT_INNER(a, b) a##b
#define PEXIL_CONCAT(a, b) PEXIL_CONCAT_INNER(a, b)
#define PEXIL_REGISTER_CREATOR(componentID, creator)                                  \
    static const ::pexil::CreatorRegistration PEXIL_CONCAT(pexilCreator_, __LINE__) { \
        (componentID), (creator)                                                      \
    }

#endif
