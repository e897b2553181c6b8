// Faults forced through the platform's system-call table: allocations, files,
// directories and timers that fail on purpose. The factory is built in this
// process (its creator registered here), so the faults reach it on every system.
#include "factory/component_factory.h"
#include "log/log_files.h"
#include "platform/debug_capture.h"
#include "registry/component_registry.h"
#include "support/loaded_module.h"
#include "support/native_path.h"
#include "support/system_override.h"
#include "support/temp_directory.h"

#include <pexil/module.h>
#include <pexil/platform.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <thread>
#include <vector>

namespace pexil {

PEXIL_REGISTER_CREATOR(kFactoryComponentID, SingleInstance<ComponentFactory>::Create);

namespace testing {
namespace fs = std::filesystem;
namespace {

using platform::testing::DebugCapture;

void* FailAllocation(size_t) {
    return nullptr;
}

IComponentFactory* NewFactory() {
    return static_cast<IComponentFactory*>(::CreateComponent(kFactoryComponentID, 0));
}

TEST(FaultInjection, AFactoryThatCannotBeAllocatedIsNullAndReported) {
    DebugCapture capture;
    {
        SystemOverride failing(&platform::SystemCalls::allocate, FailAllocation);
        EXPECT_EQ(nullptr, ::CreateComponent(kFactoryComponentID, 0));
    }
    EXPECT_EQ(
        "Pexil[Error]:CreateComponent method return NULL.\n"
        "Pexil[Error]: ComponentID=361 CreatorID=0",
        capture.Text());
    // Nothing was kept: the next request builds the factory.
    IComponentFactory* factory = NewFactory();
    ASSERT_NE(nullptr, factory);
    factory->Release(1);
}

TEST(FaultInjection, ARegistryThatCannotBeAllocatedIsNotCached) {
    TempDirectory temp;
    const std::string file =
        temp.Write("plugins.ini", "[101]\nDLL=" + BesideProgram("TestComponents.dll") + "\n");
    IComponentFactory* factory = NewFactory();
    ASSERT_NE(nullptr, factory);
    {
        SystemOverride failing(&platform::SystemCalls::allocate, FailAllocation);
        EXPECT_EQ(nullptr, factory->CreateComponentByID(101, file.c_str()));
    }
    EXPECT_EQ(0u, static_cast<ComponentFactory*>(factory)->cachedRegistryCount());
    IComponent* component = factory->CreateComponentByID(101, file.c_str());
    ASSERT_NE(nullptr, component);
    EXPECT_EQ(1u, static_cast<ComponentFactory*>(factory)->cachedRegistryCount());
    component->Release(0);
    factory->Release(1);
}

int g_loadCalls = 0;
void* FailOnce(size_t size) {
    return g_loadCalls++ == 0 ? nullptr : platform::OriginalSystem().allocate(size);
}

TEST(FaultInjection, RegistryFileTextThatCannotBeAllocatedLeavesNoEntries) {
    TempDirectory temp;
    const std::string file =
        temp.Write("r.ini", "[LogDefault]\nOutputDebugString=E\n[5]\nDLL=x.dll\n");
    ComponentRegistry registry;
    g_loadCalls = 0;
    {
        SystemOverride failing(&platform::SystemCalls::allocate, FailOnce);
        EXPECT_EQ(1, registry.LoadFile("", file.c_str()));
    }
    EXPECT_TRUE(registry.entries().empty());
    EXPECT_EQ(0u, registry.defaultDebugOutputMask());
    EXPECT_EQ(temp.str(), registry.defaultDllDirectory());  // from the path, before reading
}

platform::Handle RefuseOpen(const char*) {
    return platform::kInvalidHandle;
}

// The open refused through the system table, so that the test runs for every
// user (a file without permissions is still readable by the superuser).
TEST(FaultInjection, ARegistryFileThatCannotBeOpenedLeavesNoEntries) {
    TempDirectory temp;
    const std::string file =
        temp.Write("r.ini", "[LogDefault]\nOutputDebugString=E\n[5]\nDLL=x.dll\n");
    ComponentRegistry registry;
    {
        SystemOverride refusing(&platform::SystemCalls::openFileForRead, RefuseOpen);
        EXPECT_EQ(1, registry.LoadFile("", file.c_str()));
    }
    EXPECT_TRUE(registry.entries().empty());
    EXPECT_EQ(0u, registry.defaultDebugOutputMask());
    // Readable again, the same file gives its entry: the refusal was the cause.
    ComponentRegistry readable;
    readable.LoadFile("", file.c_str());
    EXPECT_EQ(1u, readable.entries().size());
}

int ShortRead(platform::Handle file, void* buffer, uint32_t size, uint32_t* read) {
    // The file shrank between its size and the read.
    return platform::OriginalSystem().readFile(file, buffer, size > 0 ? size - 1 : 0, read);
}

TEST(FaultInjection, AFileThatShrinksBeforeItIsReadLeavesNoEntries) {
    TempDirectory temp;
    const std::string file = temp.Write("r.ini", "[5]\nDLL=x.dll\n");
    ComponentRegistry registry;
    SystemOverride shrinking(&platform::SystemCalls::readFile, ShortRead);
    registry.LoadFile("", file.c_str());
    EXPECT_TRUE(registry.entries().empty());
}

TEST(FaultInjection, APruningListThatCannotBeAllocatedDeletesNothing) {
    TempDirectory temp;
    for (int i = 1; i <= 7; ++i) {
        const std::string path = temp.Write(Native("PexilLog/" + std::to_string(i) + ".log"), "x");
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(i));
    }
    log::LogDirectoryCallback callback;
    {
        SystemOverride failing(&platform::SystemCalls::allocate, FailAllocation);
        log::PruneLogFiles(temp.str().c_str(), callback);
    }
    size_t count = 0;
    for (const auto& entry : fs::directory_iterator(temp / "PexilLog"))
        count += entry.exists();
    EXPECT_EQ(7u, count);
    log::PruneLogFiles(temp.str().c_str(), callback);
    EXPECT_FALSE(fs::exists(temp / Native("PexilLog/6.log")));
    EXPECT_FALSE(fs::exists(temp / Native("PexilLog/7.log")));
    EXPECT_TRUE(fs::exists(temp / Native("PexilLog/5.log")));
}

int RefuseDirectory(const char*) {
    return 0;
}

TEST(FaultInjection, ALogDirectoryThatCannotBeCreatedGivesNoFile) {
    TempDirectory temp;
    LogSink sink{nullptr, kNoLogFile};
    {
        SystemOverride refusing(&platform::SystemCalls::createDirectory, RefuseDirectory);
        log::OpenLogFile(temp.str().c_str(), sink);
    }
    EXPECT_EQ(kNoLogFile, sink.file);
    EXPECT_FALSE(fs::exists(temp / "PexilLog"));
}

uintptr_t RefuseTimer(uint32_t, platform::TimerProc) {
    return 0;
}

TEST(FaultInjection, ATimerThatCannotBeStartedIsTriedAgainByTheNextSchedule) {
    IComponentFactory* factory = NewFactory();
    ASSERT_NE(nullptr, factory);
    auto* state = static_cast<ComponentFactory*>(factory);
    const auto module = reinterpret_cast<PexilModuleHandle>(static_cast<uintptr_t>(0x1000));
    {
        SystemOverride refusing(&platform::SystemCalls::setTimer, RefuseTimer);
        EXPECT_EQ(0u, factory->ScheduleDllUnload(module));
    }
    EXPECT_EQ(0u, state->timerId());
    EXPECT_EQ(1u, state->pendingUnloadCount());
    const uint32_t timer = factory->ScheduleDllUnload(module);
    EXPECT_NE(0u, timer);
    EXPECT_EQ(timer, state->timerId());
    EXPECT_EQ(1u, state->pendingUnloadCount());
    // Shutdown drops the pending module and stops the timer.
    factory->Release(1);
}

// Only the thread that started a thread timer can stop it. When the factory
// shuts down on another thread, the timer's next event stops it instead of
// acquiring a factory, which would build a new one at every event for ever.
TEST(FaultInjection, ATimerThatShutdownCouldNotStopStopsItself) {
    IComponentFactory* factory = NewFactory();
    ASSERT_NE(nullptr, factory);
    const auto module = reinterpret_cast<PexilModuleHandle>(static_cast<uintptr_t>(0x1000));
    std::promise<void> scheduled;
    std::promise<void> shutDown;
    std::future<void> shutDownSeen = shutDown.get_future();
    uint32_t timer = 0;
    int firstPump = -1, secondPump = -1;
    std::thread worker([&] {
        timer = factory->ScheduleDllUnload(module);  // the timer is this thread's
        scheduled.set_value();
        shutDownSeen.wait();
        firstPump = PexilPumpMessages(2000);  // the one event, which stops the timer
        secondPump = PexilPumpMessages(400);  // more than three periods: nothing more
    });
    scheduled.get_future().wait();
    factory->Release(1);  // Shutdown here cannot stop the worker's timer
    shutDown.set_value();
    worker.join();
    EXPECT_NE(0u, timer);
    EXPECT_EQ(1, firstPump);
    EXPECT_EQ(0, secondPump);
    EXPECT_EQ(nullptr, SingleInstance<ComponentFactory>::Current());
}

// A hundred factory lifetimes, each shut down while its unload timer belongs
// to a worker that ends without pumping: every lifetime still starts a timer
// (the Windows timer table kept the slot of a timer that Shutdown, on another
// thread, could not stop, and after 64 lifetimes it was full).
TEST(FaultInjection, AHundredFactoriesShutDownBesideTheirTimersThreadEachStartATimer) {
    const auto module = reinterpret_cast<PexilModuleHandle>(static_cast<uintptr_t>(0x1000));
    for (int lifetime = 0; lifetime < 100; ++lifetime) {
        IComponentFactory* factory = NewFactory();
        ASSERT_NE(nullptr, factory);
        std::promise<void> scheduled;
        std::promise<void> shutDown;
        std::future<void> shutDownSeen = shutDown.get_future();
        uint32_t timer = 0;
        std::thread worker([&] {
            timer = factory->ScheduleDllUnload(module);
            scheduled.set_value();
            shutDownSeen.wait();  // then ends without pumping
        });
        scheduled.get_future().wait();
        factory->Release(1);
        shutDown.set_value();
        worker.join();
        ASSERT_NE(0u, timer) << "lifetime " << lifetime;
    }
}

#if !defined(_WIN32)
int FailClock(uint64_t*) {
    return 0;
}
int g_clockReads = 0;
int FailSecondClockRead(uint64_t* nanoseconds) {
    return ++g_clockReads == 2 ? 0 : platform::OriginalSystem().monotonicClock(nanoseconds);
}
void PEXIL_CALLBACK IgnoreEvent(void*, unsigned int, uintptr_t, unsigned long) {}

// A clock that cannot be read ends the pump's wait (and starts no timer)
// instead of waiting on a garbage time: a single failed read once hung a host.
TEST(FaultInjection, AClockThatCannotBeReadEndsThePumpInsteadOfHangingIt) {
    const uintptr_t timer = platform::SetTimer(600000, IgnoreEvent);  // due in ten minutes
    ASSERT_NE(0u, timer);
    {
        SystemOverride failing(&platform::SystemCalls::monotonicClock, FailClock);
        EXPECT_EQ(0u, platform::SetTimer(100, IgnoreEvent));
        EXPECT_EQ(0, PexilPumpMessages(600000));
    }
    {
        SystemOverride failingLater(&platform::SystemCalls::monotonicClock, FailSecondClockRead);
        EXPECT_EQ(0, PexilPumpMessages(20));  // the read after the wait fails
        EXPECT_EQ(2, g_clockReads);
    }
    EXPECT_EQ(1, platform::KillTimer(timer));
}
#endif

#if defined(_WIN32)
// The pump leaves a quit request to the host's own loop: it is there after the
// pump as before it. (POSIX threads have no message queue.)
TEST(FaultInjection, ThePumpLeavesTheHostsQuitRequestInPlace) {
    platform::testing::PostQuitRequest(7);
    EXPECT_EQ(0, PexilPumpMessages(50));
    EXPECT_EQ(7, platform::testing::TakeQuitRequest());
    EXPECT_EQ(-1, platform::testing::TakeQuitRequest());
}
#endif

// A module scheduled while the unload pass runs (here: by the module the pass
// is asking) is dropped with the others when the pass ends, unchecked.
ComponentFactory* g_passFactory = nullptr;
std::vector<uintptr_t> g_askedInPass;
int PEXIL_CDECL AnswerNoAndScheduleAnother() {
    g_passFactory->ScheduleDllUnload(reinterpret_cast<PexilModuleHandle>(uintptr_t{0x2000}));
    return 0;
}
void* LookUpCanUnloadNow(PexilModuleHandle module, const char*) {
    g_askedInPass.push_back(reinterpret_cast<uintptr_t>(module));
    return reinterpret_cast<void*>(&AnswerNoAndScheduleAnother);
}

TEST(FaultInjection, AModuleScheduledDuringAnUnloadPassIsDroppedWhenThePassEnds) {
    IComponentFactory* factory = NewFactory();
    ASSERT_NE(nullptr, factory);
    g_passFactory = static_cast<ComponentFactory*>(factory);
    EXPECT_NE(0u, factory->ScheduleDllUnload(
                      reinterpret_cast<PexilModuleHandle>(static_cast<uintptr_t>(0x1000))));
    g_askedInPass.clear();
    {
        SystemOverride lookups(&platform::SystemCalls::getProcAddress, LookUpCanUnloadNow);
        g_passFactory->RunUnloadCheck();
    }
    EXPECT_EQ(std::vector<uintptr_t>{0x1000}, g_askedInPass);
    EXPECT_EQ(0u, g_passFactory->pendingUnloadCount());
    EXPECT_EQ(0u, g_passFactory->timerId());
    factory->Release(1);
}

// A module that the unload pass frees may shut the factory down (a forced
// release) as it goes: its static destructors run on the pass's thread, the
// factory's own. The pass then touches the factory no more; it went on to ask
// the next pending module through the deleted factory.
IComponentFactory* g_factoryToRelease = nullptr;
void* g_keptFactoryMemory = nullptr;
bool g_factoryReleased = false;
int g_lookUpsAfterRelease = 0;
const auto kLaterModule = reinterpret_cast<PexilModuleHandle>(UINTPTR_MAX - 0xfff);
int FreeLibraryReleasingTheFactory(PexilModuleHandle module) {
    if (!g_factoryReleased) {
        g_factoryReleased = true;
        g_factoryToRelease->Release(1);
    }
    return platform::OriginalSystem().freeLibrary(module);
}
void KeepTheFactorysMemory(void* memory) {
    if (memory != g_keptFactoryMemory) platform::OriginalSystem().deallocate(memory);
}
void* CountLookUpsAfterTheRelease(PexilModuleHandle module, const char* name) {
    if (g_factoryReleased) ++g_lookUpsAfterRelease;
    return module == kLaterModule ? nullptr
                                  : platform::OriginalSystem().getProcAddress(module, name);
}

TEST(FaultInjection, AnUnloadPassWhoseModuleShutsTheFactoryDownTouchesItNoMore) {
    TempDirectory temp;
    const std::string copy = temp / "Releasing.dll";
    fs::copy_file(BesideProgram("TestComponents.dll"), copy);
    const std::string file = temp.Write("plugins.ini", "[101]\nDLL=" + copy + "\n");
    IComponentFactory* factory = NewFactory();
    ASSERT_NE(nullptr, factory);
    DebugCapture quiet;
    IComponent* component = factory->CreateComponentByID(101, file.c_str());
    ASSERT_NE(nullptr, component);
    component->Release(0);
    const PexilModuleHandle module = platform::GetModuleHandle(copy.c_str());
    ASSERT_NE(nullptr, module);
    factory->ScheduleDllUnload(module);
    factory->ScheduleDllUnload(kLaterModule);  // asked after it
    g_factoryToRelease = factory;
    g_keptFactoryMemory = dynamic_cast<void*>(factory);  // kept: a stray use reads no other object
    {
        SystemOverride frees(&platform::SystemCalls::freeLibrary, FreeLibraryReleasingTheFactory);
        SystemOverride lookups(&platform::SystemCalls::getProcAddress, CountLookUpsAfterTheRelease);
        SystemOverride keeps(&platform::SystemCalls::deallocate, KeepTheFactorysMemory);
        static_cast<ComponentFactory*>(factory)->RunUnloadCheck();
    }
    EXPECT_TRUE(g_factoryReleased);
    EXPECT_EQ(0, g_lookUpsAfterRelease);
    EXPECT_FALSE(platform::IsModuleLoaded(copy.c_str()));
    EXPECT_EQ(nullptr, SingleInstance<ComponentFactory>::Current());
    platform::OriginalSystem().deallocate(g_keptFactoryMemory);
}

// The unload check asks a module whether it is idle, then gives back the
// references its registries' entries hold. A component created through such
// an entry on the factory's thread in between (after the answer, before the
// references go) keeps its module loaded: it was unloaded under it.
std::atomic<int> g_checkStage{0};  // 1: the module answered; 2: the creation is done
PexilDllCanUnloadNowFunction g_realCanUnloadNow = nullptr;
int PEXIL_CDECL AnswerThenWaitForACreation() {
    const int answer = g_realCanUnloadNow();
    g_checkStage = 1;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (g_checkStage.load() != 2 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return answer;
}
void* LookUpWaitingCanUnloadNow(PexilModuleHandle module, const char* name) {
    void* found = platform::OriginalSystem().getProcAddress(module, name);
    if (found == nullptr || std::string(name) != "PexilDllCanUnloadNow") return found;
    g_realCanUnloadNow = reinterpret_cast<PexilDllCanUnloadNowFunction>(found);
    return reinterpret_cast<void*>(&AnswerThenWaitForACreation);
}

#if !defined(_WIN32)
std::atomic<int> g_creationStage{0};  // 1: held in the module; 2: let go
thread_local bool t_holdTheFirstLockEnter = false;
void HoldTheFirstLockEnter(PexilLock* lock) {
    if (t_holdTheFirstLockEnter) {
        t_holdTheFirstLockEnter = false;
        g_creationStage = 1;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (g_creationStage.load() != 2 && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    platform::OriginalSystem().lockEnter(lock);
}
#endif

TEST(FaultInjection, AComponentCreatedWhileTheUnloadCheckRunsKeepsItsModuleLoaded) {
    TempDirectory temp;
    const std::string copy = temp / "Checked.dll";  // loaded by the registry alone
    fs::copy_file(BesideProgram("TestComponents.dll"), copy);
    const std::string file = temp.Write("plugins.ini", "[101]\nDLL=" + copy + "\n");
    IComponentFactory* factory = NewFactory();
    ASSERT_NE(nullptr, factory);
    DebugCapture quiet;
    IComponent* first = factory->CreateComponentByID(101, file.c_str());
    ASSERT_NE(nullptr, first);
    first->Release(0);  // the module is idle
    const PexilModuleHandle module = platform::GetModuleHandle(copy.c_str());
    ASSERT_NE(nullptr, module);
    g_checkStage = 0;
    IComponent* second = nullptr;
    {
        SystemOverride lookups(&platform::SystemCalls::getProcAddress, LookUpWaitingCanUnloadNow);
        // The check as a worker's timer runs it.
        std::thread check([&] { factory->UnloadDllIfIdle(module); });
        while (g_checkStage.load() != 1)
            std::this_thread::yield();
        second = factory->CreateComponentByID(101, file.c_str());
        g_checkStage = 2;
        check.join();
    }
    ASSERT_NE(nullptr, second);
    // Unloaded, the module would have taken the component's code with it.
    ASSERT_TRUE(platform::IsModuleLoaded(copy.c_str()));
    second->Release(0);
#if !defined(_WIN32)
    // A creation that entered the module before the check marked its entries
    // and recorded its component only after the module answered, ending
    // before the references go. (POSIX: the creation is held at the module's
    // first lock, which this program's table reaches.)
    g_checkStage = 0;
    g_creationStage = 0;
    IComponent* third = nullptr;
    {
        SystemOverride lookups(&platform::SystemCalls::getProcAddress, LookUpWaitingCanUnloadNow);
        SystemOverride locks(&platform::SystemCalls::lockEnter, HoldTheFirstLockEnter);
        std::thread creation([&] {
            t_holdTheFirstLockEnter = true;
            third = factory->CreateComponentByID(101, file.c_str());
        });
        while (g_creationStage.load() != 1)
            std::this_thread::yield();
        std::thread check([&] { factory->UnloadDllIfIdle(module); });
        while (g_checkStage.load() != 1)
            std::this_thread::yield();
        g_creationStage = 2;
        creation.join();
        g_checkStage = 2;
        check.join();
    }
    ASSERT_NE(nullptr, third);
    ASSERT_TRUE(platform::IsModuleLoaded(copy.c_str()));
    third->Release(0);
#endif
    factory->Release(1);
}

#if !defined(_WIN32)
// A module's release goes on after its last record is gone: the idle
// notification (which holds the module's locks while it finds the factory)
// and the return into the module's code. An unload check on another thread
// meanwhile must find the module busy: it freed the module under that code,
// and its static destructors waited for the locks the notification held
// while the notification waited for the loader's lock. (POSIX: the
// module's own system calls reach this program's table.)
std::atomic<int> g_notificationStage{0};  // 1: held in the notification; 2: let go
thread_local bool t_holdTheNotification = false;
void* HoldTheIdleNotification(PexilModuleHandle module, const char* name) {
    if (t_holdTheNotification && std::string(name) == "CreateComponent") {
        t_holdTheNotification = false;
        g_notificationStage = 1;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (g_notificationStage.load() != 2 && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return platform::OriginalSystem().getProcAddress(module, name);
}

TEST(FaultInjection, AModuleWhoseReleaseIsStillRunningIsNotUnloaded) {
    TempDirectory temp;
    const std::string copy = temp / "Releasing.dll";  // loaded by the registry alone
    fs::copy_file(BesideProgram("TestComponents.dll"), copy);
    const std::string file = temp.Write("plugins.ini", "[101]\nDLL=" + copy + "\n");
    IComponentFactory* factory = NewFactory();
    ASSERT_NE(nullptr, factory);
    DebugCapture quiet;
    IComponent* last = factory->CreateComponentByID(101, file.c_str());
    ASSERT_NE(nullptr, last);
    const PexilModuleHandle module = platform::GetModuleHandle(copy.c_str());
    ASSERT_NE(nullptr, module);
    g_notificationStage = 0;
    std::atomic<int> answer{-1};
    SystemOverride lookups(&platform::SystemCalls::getProcAddress, HoldTheIdleNotification);
    auto released = std::async(std::launch::async, [&] {
        t_holdTheNotification = true;
        last->Release(0);  // the module's last component
    });
    while (g_notificationStage.load() != 1)
        std::this_thread::yield();
    std::thread check([&] { answer = factory->UnloadDllIfIdle(module); });
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (answer.load() == -1 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int answered = answer.load();
    g_notificationStage = 2;
    if (released.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::fputs("the release and the unload check deadlocked\n", stdout);  // stderr is captured
        std::_Exit(1);
    }
    check.join();
    EXPECT_EQ(0, answered);
    EXPECT_TRUE(platform::IsModuleLoaded(copy.c_str()));
    factory->Release(1);
}
#endif

}  // namespace
}  // namespace testing
}  // namespace pexil
