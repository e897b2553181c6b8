// Interfaces of the test modules' components, shared by the modules and the
// tests that load them.
#ifndef PEXIL_TESTS_TEST_INTERFACES_H
#define PEXIL_TESTS_TEST_INTERFACES_H

#include <pexil/component.h>
#include <pexil/config.h>

namespace pexil::testing {

// Component IDs offered by TestComponents.dll.
constexpr uint32_t kTestComponent = 100;         // force-only (the default flags)
constexpr uint32_t kPlainComponent = 101;        // force-only flag cleared
constexpr uint32_t kNoDeleteComponent = 102;     // no-delete set, force-only cleared
constexpr uint32_t kNullCreatorComponent = 103;  // its creator returns null
constexpr uint32_t kTwiceRegistered = 104;       // two creators: "first", then "second"
constexpr uint32_t kSingleComponent = 105;       // one shared instance
constexpr uint32_t kReleaserComponent = 106;     // IReleaser
// Components of the thread scenarios (IModuleProbe::Scenario): a single
// instance whose constructor creates a component of its module; a component
// whose Shutdown asks for that single instance; one whose destructor waits;
// one freed by its own operator delete; one aligned to 64 bytes; one whose
// interface is not at the start of its allocation (a polymorphic base first).
constexpr uint32_t kWaitingSingle = 107;
constexpr uint32_t kAskingComponent = 108;
constexpr uint32_t kSlowDestructor = 109;
constexpr uint32_t kOwnDelete = 110;
constexpr uint32_t kOverAligned = 111;
// Its creator makes a component of another ID (100): the wrong class.
constexpr uint32_t kWrongClass = 112;
// Its creator hands out the kSlowDestructor whose destructor is running.
constexpr uint32_t kDyingHandout = 114;
// Its creator waits until the test lets it go (kLetCreatorsGo).
constexpr uint32_t kBlockingCreator = 115;
// Its interface is not at the start of its allocation.
constexpr uint32_t kOffsetComponent = 116;
constexpr uint32_t kModuleProbe = 199;  // IModuleProbe

// IModuleProbe::Scenario commands.
enum ScenarioCommand : int {
    kArmSingleInstanceRace = 1,  // the next kWaitingSingle waits for kAskingComponent's Shutdown
    kSingleConstructing = 2,     // 1 once a kWaitingSingle constructor waits
    kSetDestructorWait = 3,      // argument: kSlowDestructor destructors wait for that many to run
    kDestructorsRunning = 4,     // most kSlowDestructor destructors running at once, since 3
    kCallsIntoDying = 5,         // calls a kSlowDestructor took while its destructor ran
    kCreatorsWaiting = 6,        // kBlockingCreator creators waiting now
    kLetCreatorsGo = 7,          // argument 1 lets them go, 0 makes the next ones wait
};

// A test component: tags itself and logs its life into the module's event log.
class ITestComponent : public IComponent {
public:
    virtual const char* Tag() = 0;  // slot 5
    // Adds an owned object that logs "~Owned(name)" when deleted; a null name
    // adds a null entry. To the map under key, or to the list when inList.
    virtual void AddOwned(uint32_t key, int inList, const char* name) = 0;  // slot 6
    virtual void SetFlags(int noDelete, int forceOnly) = 0;                 // slot 7
    // slot 8: Shutdown, slot 9: GetRegistryPath (ComponentBase)

protected:
    ~ITestComponent() = default;
};

// A component that owns another component (of any module) and releases it,
// forced, from an owned object's destructor when it is itself released.
class IReleaser : public IComponent {
public:
    virtual void ReleaseAtItsEnd(IComponent* other) = 0;  // slot 5

protected:
    ~IReleaser() = default;
};

struct ProbeRecord {
    uint32_t componentID;
    uint32_t creatorID;
    void* component;
};

// Looks into the module that offers it: its live-component map, creator table,
// module values and event log.
class IModuleProbe : public IComponent {
public:
    virtual uint32_t LiveCount() = 0;                                       // slot 5
    virtual uint32_t Records(ProbeRecord* records, uint32_t capacity) = 0;  // slot 6
    // Registers count creators for the ID; each makes a plain test component,
    // or is null when nullCreator.
    virtual void RegisterCreators(uint32_t componentID, uint32_t count, int nullCreator) = 0;
    // The module's event log since the last call, then cleared.
    virtual int TakeEvents(char* buffer, int size) = 0;                 // slot 8
    virtual int DllSafe() = 0;                                          // slot 9
    virtual void CopyRegistryPath(char* buffer, int size) = 0;          // slot 10
    virtual PexilModuleHandle OwnModuleHandle() = 0;                    // slot 11
    virtual PexilModuleHandle OwnFactoryHandle() = 0;                   // slot 12
    virtual void RemoveRecord(void* component, int notifyFactory) = 0;  // slot 13
    // Deletes a test component directly, not through Release.
    virtual void DestroyDirectly(IComponent* component) = 0;  // slot 14
    // Drives and reads the thread scenarios (ScenarioCommand).
    virtual int Scenario(int command, int argument) = 0;  // slot 15
    // 1 when a holder of this module gets the factory (component 361) through
    // the module's registry path, as its log settings and idle notice would.
    virtual int ReachesFactory() = 0;  // slot 16

protected:
    ~IModuleProbe() = default;
};

}  // namespace pexil::testing

#endif
