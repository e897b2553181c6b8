// The torture test: four threads, two component modules (TortureAlpha.dll,
// TortureBeta.dll) and the real factory (Brelnor.dll), driven by a seed.
//
// Each thread makes random calls: the seven exports of every module, creations
// and releases (Release(0) and Release(1)), chains of 40 nested releases,
// components left to PexilDllFreeMap, single-instance requests, pumping its
// timers; the thread that holds the factory role also calls the factory
// (creations, log settings and log lines, holders) and hands the role on. The components call back
// into their own module and, on the factory's thread, into the factory (torture_components.cpp).
// Between rounds the main thread, with every other thread parked, releases the
// global components, empties the modules through PexilDllFreeMap, checks that
// every component constructed was destroyed and that the modules are idle,
// checks PexilSetDllSafe(0) and (1), and sometimes shuts the factory down and
// makes a new one.
//
// The run is a child process watched by this test: a child that makes no
// progress for PEXIL_TORTURE_STALL seconds (30) is a hang, and gdb prints
// every thread's stack before it is killed. Under ThreadSanitizer the child
// runs with deadlock detection, and any report fails it. Its debug output
// must hold no framework error but the refusal of a single instance that
// ReleaseGlobalComponents is deleting.
//
// PEXIL_TORTURE_SEEDS (a list, default "1") and PEXIL_TORTURE_SECONDS (per
// seed, default 3) choose the runs; scripts/torture runs longer ones.
#include "platform/platform.h"
#include "stress/torture_interfaces.h"
#include "support/loaded_module.h"
#include "support/run_program.h"
#include "support/temp_directory.h"

#include <pexil/factory.h>
#include <pexil/platform.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace pexil::testing::torture {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWorkers = 4;
constexpr int kMainRole = -1;  // the factory role's holder between rounds
constexpr int kLongChain = 40;
constexpr size_t kMostHeld = 8;
constexpr auto kRoundLength = std::chrono::milliseconds(400);

uint64_t EnvironmentNumber(const char* name, uint64_t fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? std::strtoull(value, nullptr, 10) : fallback;
}

// splitmix64: spreads a seed over a generator's whole state.
uint64_t Mix(uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    value ^= value >> 31;
    return value != 0 ? value : 1;
}

// ---------------------------------------------------------------------------
// The child: the torture itself.

thread_local ThreadScript* t_script = nullptr;

ThreadScript* CurrentScript() {
    return t_script;
}

struct Module {
    LoadedModule* loaded;
    ITortureControl* control;  // null for Brelnor.dll
    uint32_t base;             // 0 for Brelnor.dll
};

struct Held {
    IComponent* component;
    Module* module;
};

struct Torture {
    Module modules[3];  // alpha, beta, Brelnor.dll
    std::string registries[2];
    std::string root;
    // Written by the main thread while the workers are parked.
    IComponentFactory* factory = nullptr;
    uint32_t sparseBase = 0;
    std::atomic<int> factoryOwner{kMainRole};
    std::atomic<LogSink*> sink{nullptr};
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    std::atomic<int> arrived{0};
    std::atomic<int> round{0};
    std::atomic<uint64_t> operations{0};
    std::atomic<uint64_t> callbacks{0};
    std::atomic<uint64_t> factoryCalls{0};
    std::atomic<uint64_t> timersRun{0};
    int progressFd = -1;
};

void CheckComponentIDs(const Module& module) {
    uint32_t ids[8] = {};
    const int count = module.loaded->GetComponentIDs(ids, 8);
    if (module.base == 0) {
        EXPECT_EQ(1, count);
        EXPECT_EQ(kFactoryComponentID, ids[0]);
        return;
    }
    const uint32_t expected[] = {module.base + kPlain, module.base + kChain, module.base + kSingle,
                                 module.base + kAligned, module.base + kControl};
    ASSERT_EQ(5, count);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(expected[i], ids[i]) << "module " << module.base << ", index " << i;
}

void WriteLogLine(Torture& torture, int thread) {
    LogSink* sink = torture.sink.load(std::memory_order_acquire);
    if (sink == nullptr) return;
    char line[64];
    const int length = std::snprintf(line, sizeof(line), "torture thread %d\n", thread);
    PexilLogWrite(sink->lock, sink->file, line, static_cast<unsigned>(length));
}

// A call of the factory's, on the thread that holds the role.
void FactoryStep(Torture& torture, int thread, ThreadScript& script, Choices& op,
                 std::vector<Held>& held) {
    IComponentFactory* factory = script.factory;
    torture.factoryCalls.fetch_add(1, std::memory_order_relaxed);
    Module& module = torture.modules[op.Next(2)];
    const uint32_t kind = kKinds[op.Next(kKindCount)];
    const uint32_t pick = op.Next(40);
    if (pick < 20) {
        const bool sparse = module.base == script.sparseBase;
        if (kind == kSingle && sparse) return;
        IComponent* made = factory->CreateComponentByID(module.base + kind, script.registry);
        if (kind == kSingle) return;  // the factory's global list owns it
        if (made == nullptr) {
            ADD_FAILURE() << "the factory made no component " << module.base + kind;
        } else if (held.size() < kMostHeld && !sparse) {
            held.push_back(Held{made, &module});
        } else {
            made->Release(op.Next(2));
        }
    } else if (pick < 24) {
        uint32_t debugMask = 0;
        uint32_t fileMask = 0;
        LogSink* sink = nullptr;
        factory->GetLogSettings(script.registry, module.base + kPlain, &debugMask, &fileMask,
                                &sink);
        // A registry not yet read by this factory gives no masks and no sink.
        if (sink != nullptr && sink->file != kNoLogFile) {
            torture.sink.store(sink, std::memory_order_release);
        }
    } else if (pick < 28) {
        EXPECT_EQ(1, module.control->UseHolders());
    } else if (pick < 31) {
        IComponent* self = factory->CreateComponentByID(kFactoryComponentID, script.registry);
        EXPECT_EQ(static_cast<IComponent*>(factory), self);
        if (self != nullptr) self->Release(0);  // force-only: nothing happens
    } else if (pick < 33) {
        char path[kMaxPath];
        EXPECT_EQ(1, factory->GetRootPath(path));
        EXPECT_EQ(torture.root, path);
    } else if (pick < 34) {
        // Not ReleaseGlobalComponents: releasing a single instance while other
        // threads may ask for it would hand them a component about to be freed
        // (components carry no reference count); between rounds it is done
        // with every other thread parked.
        EXPECT_EQ(1, factory->GetVersion());
    } else {
        // The role goes to another thread (or stays): the store publishes
        // everything this thread did with the factory.
        const int next = static_cast<int>(op.Next(kWorkers));
        if (next == thread) return;
        script.factory = nullptr;
        torture.factoryOwner.store(next, std::memory_order_release);
    }
}

void Step(Torture& torture, int thread, ThreadScript& script, Choices& op,
          std::vector<Held>& held) {
    Module& module = torture.modules[op.Next(2)];
    Module& any = torture.modules[op.Next(3)];
    const uint32_t pick = op.Next(100);
    if (pick < 26) {
        if (held.size() >= kMostHeld) return;
        const uint32_t kinds[] = {kPlain, kPlain, kAligned, kChain};
        const uint32_t kind = kinds[op.Next(4)];
        script.chainRemaining = kind == kChain ? (pick < 4 ? kLongChain : 2) : 0;
        IComponent* made = module.loaded->CreateComponent(module.base + kind, kCreatorDirect);
        script.chainRemaining = 0;
        if (made == nullptr) {
            ADD_FAILURE() << "no component " << module.base + kind;
        } else if (module.base == script.sparseBase) {
            made->Release(op.Next(2));  // the module goes idle again
        } else {
            held.push_back(Held{made, &module});
        }
    } else if (pick < 46) {
        if (held.empty()) return;
        const size_t index = op.Next(static_cast<uint32_t>(held.size()));
        IComponent* component = held[index].component;
        held[index] = held.back();
        held.pop_back();
        component->Release(op.Next(4) == 0 ? 1 : 0);
    } else if (pick < 52) {
        if (module.base == script.sparseBase) return;
        // Left to PexilDllFreeMap.
        script.flagNext = 1;
        IComponent* made = module.loaded->CreateComponent(module.base + kPlain, kCreatorDirect);
        script.flagNext = 0;
        EXPECT_NE(nullptr, made);
    } else if (pick < 56) {
        // A single instance; never used: a PexilDllFreeMap on another thread
        // may release what it makes.
        if (module.base == script.sparseBase) return;
        module.loaded->CreateComponent(module.base + kSingle, kCreatorDirect);
    } else if (pick < 62) {
        any.loaded->PexilDllFreeMap();
    } else if (pick < 64) {
        any.loaded->PexilDllCanUnloadNow();
    } else if (pick < 66) {
        CheckComponentIDs(any);
    } else if (pick < 68) {
        // Both registries name every component: a path read while another
        // thread sets the other one names a registry either way.
        EXPECT_EQ(0, any.loaded->SetDLLRegistry(torture.registries[op.Next(2)].c_str()));
    } else if (pick < 70) {
        const PexilModuleHandle factoryModule = torture.modules[2].loaded->handle();
        EXPECT_EQ(factoryModule, any.loaded->SetFactoryHandle(factoryModule));
    } else if (pick < 74) {
        const int ran = PexilPumpMessages(op.Next(3));
        torture.timersRun.fetch_add(static_cast<uint64_t>(ran), std::memory_order_relaxed);
    } else if (pick < 96) {
        if (script.factory != nullptr) FactoryStep(torture, thread, script, op, held);
    } else {
        WriteLogLine(torture, thread);
    }
}

void WorkerThread(Torture& torture, int thread, uint64_t seed) {
    ThreadScript script{};
    script.registry = torture.registries[0].c_str();
    script.sleeps = 1;
    t_script = &script;
    Choices steps{Mix(seed * 16 + static_cast<uint64_t>(thread) + 1)};
    std::vector<Held> held;
    for (int round = 0;; ++round) {
        while (torture.round.load() == round)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (torture.finished.load()) break;
        // Runs the timers of a factory shut down since this thread last pumped.
        PexilPumpMessages(0);
        script.sparseBase = torture.sparseBase;
        while (!torture.stop.load(std::memory_order_acquire)) {
            if (script.factory == nullptr &&
                torture.factoryOwner.load(std::memory_order_acquire) == thread) {
                script.factory = torture.factory;
            }
            // One draw per step: a step's own choices, and those of the
            // callbacks it causes on this thread, come from its own value.
            steps.Next(1);
            const uint64_t value = Mix(steps.state);
            Choices op{value};
            script.choices.state = Mix(value);
            script.registry = torture.registries[op.Next(2)].c_str();
            Step(torture, thread, script, op, held);
            torture.operations.fetch_add(1, std::memory_order_relaxed);
        }
        for (const Held& entry : held)
            entry.component->Release(0);
        held.clear();
        script.factory = nullptr;
        torture.operations.fetch_add(1, std::memory_order_relaxed);
        torture.arrived.fetch_add(1);
    }
    torture.callbacks.fetch_add(script.callbacks);
    t_script = nullptr;
}

void ReportProgress(Torture& torture, uint64_t& reported) {
    const uint64_t now = torture.operations.load(std::memory_order_relaxed);
    if (now == reported || torture.progressFd < 0) return;
    reported = now;
    const char byte = 'p';
    [[maybe_unused]] const ssize_t written = ::write(torture.progressFd, &byte, 1);
}

std::string CountsText(const Module& module) {
    KindCounts counts[kKindCount];
    module.control->Counts(counts);
    std::ostringstream text;
    text << "module " << module.base << ":";
    for (int kind = 0; kind < kKindCount; ++kind)
        text << " kind " << kKinds[kind] << " " << counts[kind].constructed << " made, "
             << counts[kind].destroyed << " destroyed;";
    text << " idle " << module.loaded->PexilDllCanUnloadNow();
    return text.str();
}

bool AllDestroyed(const Module& module) {
    KindCounts counts[kKindCount];
    module.control->Counts(counts);
    for (const KindCounts& kind : counts) {
        if (kind.constructed != kind.destroyed) return false;
    }
    return true;
}

// With every worker parked: everything goes, and each module must be idle.
void EmptyEverything(Torture& torture, ThreadScript& script, uint64_t& reported) {
    torture.sink.store(nullptr);
    Module* components[2] = {&torture.modules[0], &torture.modules[1]};
    bool idle = false;
    // The callbacks of what goes may make more; after three passes they stop.
    for (int pass = 0; pass < 10 && !idle; ++pass) {
        script.quiet = pass >= 3 ? 1 : 0;
        torture.factory->ReleaseGlobalComponents();
        for (Module* module : components)
            module->loaded->PexilDllFreeMap();
        idle = true;
        for (Module* module : components) {
            idle = idle && module->loaded->PexilDllCanUnloadNow() == 1 && AllDestroyed(*module);
        }
        torture.operations.fetch_add(1, std::memory_order_relaxed);
        ReportProgress(torture, reported);
    }
    script.quiet = 1;
    for (Module* module : components) {
        EXPECT_EQ(1, module->loaded->PexilDllCanUnloadNow()) << CountsText(*module);
        EXPECT_TRUE(AllDestroyed(*module)) << CountsText(*module);
    }
}

// PexilSetDllSafe(0) makes Release do nothing until PexilSetDllSafe(1).
void CheckDllSafe(Module& module) {
    KindCounts before[kKindCount];
    module.control->Counts(before);
    IComponent* component = module.loaded->CreateComponent(module.base + kPlain, kCreatorDirect);
    ASSERT_NE(nullptr, component);
    EXPECT_EQ(0, module.loaded->PexilDllCanUnloadNow());
    EXPECT_EQ(0, module.loaded->PexilSetDllSafe(0));
    component->Release(1);
    KindCounts after[kKindCount];
    module.control->Counts(after);
    EXPECT_EQ(before[0].destroyed, after[0].destroyed);
    EXPECT_EQ(0, module.loaded->PexilDllCanUnloadNow());
    EXPECT_EQ(1, module.loaded->PexilSetDllSafe(1));
    component->Release(0);
    module.control->Counts(after);
    EXPECT_EQ(before[0].destroyed + 1, after[0].destroyed);
    EXPECT_EQ(1, module.loaded->PexilDllCanUnloadNow());
}

IComponentFactory* MakeFactory(Torture& torture) {
    auto* factory = static_cast<IComponentFactory*>(
        torture.modules[2].loaded->CreateComponent(kFactoryComponentID, kCreatorDirect));
    // Before any log file is opened: the log directory lies in the run's own.
    if (factory != nullptr) factory->SetRootPath(torture.root.c_str());
    return factory;
}

std::string RegistryText(const std::string& brelnor, const std::string& alpha,
                         const std::string& beta) {
    std::string text = "[361]\nDLL=" + brelnor + "\n";
    for (uint32_t kind : kKinds) {
        // The plain components get a log-file mask: GetLogSettings opens the log.
        const std::string log = kind == kPlain ? "WriteToLogFile=EWI\n" : "";
        text += "[" + std::to_string(kAlphaBase + kind) + "]\nDLL=" + alpha + "\n" + log;
        text += "[" + std::to_string(kBetaBase + kind) + "]\nDLL=" + beta + "\n" + log;
    }
    return text;
}

void RunTorture(uint64_t seed, uint64_t seconds, int progressFd) {
    TempDirectory directory;
    LoadedModule brelnor("Brelnor.dll");
    LoadedModule alpha("TortureAlpha.dll");
    LoadedModule beta("TortureBeta.dll");
    ASSERT_NE(nullptr, brelnor.handle());
    ASSERT_NE(nullptr, alpha.handle());
    ASSERT_NE(nullptr, beta.handle());

    Torture torture;
    torture.progressFd = progressFd;
    torture.root = directory.str();
    // Two registries whose paths differ in one character.
    const std::string text = RegistryText(brelnor.path(), alpha.path(), beta.path());
    torture.registries[0] = directory.Write("registry-a.ini", text);
    torture.registries[1] = directory.Write("registry-b.ini", text);
    LoadedModule* loaded[3] = {&alpha, &beta, &brelnor};
    const uint32_t bases[3] = {kAlphaBase, kBetaBase, 0};
    for (int m = 0; m < 3; ++m) {
        torture.modules[m] = Module{loaded[m], nullptr, bases[m]};
        // As the factory's binding would, before any holder of the module runs.
        loaded[m]->SetDLLRegistry(torture.registries[0].c_str());
        loaded[m]->SetFactoryHandle(brelnor.handle());
        if (m == 2) continue;
        torture.modules[m].control = static_cast<ITortureControl*>(
            loaded[m]->CreateComponent(bases[m] + kControl, kCreatorDirect));
        ASSERT_NE(nullptr, torture.modules[m].control);
        torture.modules[m].control->SetScriptSource(CurrentScript);
    }

    ThreadScript mainScript{};
    mainScript.choices.state = Mix(seed);
    mainScript.registry = torture.registries[0].c_str();
    mainScript.quiet = 1;
    t_script = &mainScript;
    Choices mainChoices{Mix(seed ^ 0x5EED)};
    torture.factory = MakeFactory(torture);
    ASSERT_NE(nullptr, torture.factory);

    std::vector<std::thread> threads;
    for (int t = 0; t < kWorkers; ++t)
        threads.emplace_back(WorkerThread, std::ref(torture), t, seed);

    const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    uint64_t reported = 0;
    int rounds = 0;
    int factories = 1;
    for (bool last = false; !last; ++rounds) {
        last = Clock::now() + kRoundLength >= end;
        // A round: the role starts with one of the workers.
        mainScript.factory = nullptr;
        torture.factoryOwner.store(static_cast<int>(mainChoices.Next(kWorkers)));
        const uint32_t sparse[3] = {0, kAlphaBase, kBetaBase};
        torture.sparseBase = sparse[mainChoices.Next(3)];
        torture.stop.store(false);
        torture.arrived.store(0);
        torture.round.fetch_add(1);
        const Clock::time_point roundEnd = Clock::now() + kRoundLength;
        while (Clock::now() < roundEnd) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ReportProgress(torture, reported);
        }
        torture.stop.store(true, std::memory_order_release);
        while (torture.arrived.load() < kWorkers) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ReportProgress(torture, reported);
        }
        // Every worker is parked: the role is the main thread's.
        torture.factoryOwner.store(kMainRole);
        mainScript.factory = torture.factory;
        EmptyEverything(torture, mainScript, reported);
        CheckDllSafe(torture.modules[rounds % 2]);
        for (int m = 0; m < 3; ++m)
            CheckComponentIDs(torture.modules[m]);
        if (last || mainChoices.Next(3) == 0) {
            // The factory's forced release, as a host's shutdown ends.
            torture.factory->Release(1);
            torture.factory = nullptr;
            mainScript.factory = nullptr;
            EXPECT_EQ(1, brelnor.PexilDllCanUnloadNow());
            if (!last) {
                torture.factory = MakeFactory(torture);
                // Not ASSERT: the workers must be let go and joined first.
                if (torture.factory == nullptr) {
                    ADD_FAILURE() << "no new factory";
                    break;
                }
                ++factories;
            }
        }
        PexilPumpMessages(0);
        ReportProgress(torture, reported);
        if (::testing::Test::HasFailure()) break;
    }
    torture.finished.store(true);
    torture.round.fetch_add(1);
    for (std::thread& thread : threads)
        thread.join();
    if (torture.factory != nullptr) {
        torture.factory->Release(1);
        torture.factory = nullptr;
    }
    PexilPumpMessages(0);
    t_script = nullptr;
    for (int m = 0; m < 2; ++m) {
        EXPECT_EQ(1, torture.modules[m].loaded->PexilDllCanUnloadNow())
            << CountsText(torture.modules[m]);
    }
    EXPECT_EQ(1, brelnor.PexilDllCanUnloadNow());
    std::cout << "seed " << seed << ": " << torture.operations.load() << " operations in " << rounds
              << " rounds, " << factories << " factories, " << torture.factoryCalls.load()
              << " factory steps, " << torture.callbacks.load() << " callbacks, "
              << torture.timersRun.load() << " unload timers run on workers\n"
              << CountsText(torture.modules[0]) << "\n"
              << CountsText(torture.modules[1]) << std::endl;
}

// ---------------------------------------------------------------------------
// The parent: runs each seed in a child process and watches it.

// Every thread's stack of a hung child: gdb's, or what /proc tells without it.
void PrintStacks(pid_t child) {
    std::cout << "---- the stacks of every thread of process " << child << " ----" << std::endl;
    const std::string pid = std::to_string(child);
    const pid_t gdb = ::fork();
    if (gdb == 0) {
        ::dup2(1, 2);
        ::execlp("gdb", "gdb", "-p", pid.c_str(), "-batch", "-ex", "thread apply all bt",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(120);
    while (gdb > 0 && ::waitpid(gdb, &status, WNOHANG) == 0) {
        if (Clock::now() > limit) {
            ::kill(gdb, SIGKILL);
            ::waitpid(gdb, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (gdb > 0 && WIFEXITED(status) && WEXITSTATUS(status) != 127) return;
    std::cout << "(no gdb: each thread's state and kernel wait channel)" << std::endl;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + pid + "/task", error)) {
        const std::string dir = task.path().string();
        std::cout << task.path().filename().string() << ": "
                  << ReadFileBytes(dir + "/stat").substr(0, 80) << " wchan "
                  << ReadFileBytes(dir + "/wchan") << std::endl;
    }
}

// The framework's debug output of a run, without the one error the run may
// cause on purpose: a single instance asked for while
// ReleaseGlobalComponents deletes it is refused (through the factory, the
// registry adds its own line). Counts those in refused.
std::string UnexpectedErrors(const std::string& output, int* refused) {
    static const std::string refusal =
        "Pexil[Error]: The component is being deleted; it is not returned.\n"
        "Pexil[Error]: ComponentID=";
    std::string rest;
    *refused = 0;
    size_t from = 0;
    for (size_t at = output.find(refusal); at != std::string::npos;
         at = output.find(refusal, at + 1)) {
        size_t end = at + refusal.size();
        const size_t idEnd = output.find_first_not_of("0123456789", end);
        const std::string id = output.substr(end, idEnd - end);
        if ((id != "6103" && id != "6203") || idEnd == std::string::npos) continue;
        const std::string creator = output.compare(idEnd, 12, " CreatorID=0") == 0 ? "0" : "361";
        if (output.compare(idEnd, 11 + creator.size(), " CreatorID=" + creator) != 0) continue;
        end = idEnd + 11 + creator.size();
        const std::string registryLine =
            "[Pexil_Error] CreateComponent(ComponentId=" + id + ") return null.\n";
        if (creator == "361" && output.compare(end, registryLine.size(), registryLine) == 0) {
            end += registryLine.size();
        }
        rest.append(output, from, at - from);
        from = end;
        ++*refused;
    }
    rest.append(output, from, std::string::npos);
    std::istringstream lines(rest);
    std::string line;
    std::string errors;
    while (std::getline(lines, line)) {
        if (line.find("Pexil[Error]") != std::string::npos ||
            line.find("[Pexil_Error]") != std::string::npos) {
            errors += line + "\n";
        }
    }
    return errors;
}

// Runs one seed in a child process; "" when it passed, else why not.
std::string RunSeed(uint64_t seed, uint64_t seconds, uint64_t stallSeconds) {
    TempDirectory directory;
    const std::string errorFile = directory / "stderr.txt";
    int progress[2];
    if (::pipe(progress) != 0) return "no pipe";
    ::fcntl(progress[0], F_SETFD, FD_CLOEXEC);
    ::setenv("PEXIL_TORTURE_CHILD", "1", 1);
    ::setenv("PEXIL_TORTURE_SEED", std::to_string(seed).c_str(), 1);
    ::setenv("PEXIL_TORTURE_SECONDS", std::to_string(seconds).c_str(), 1);
    ::setenv("PEXIL_TORTURE_PROGRESS_FD", std::to_string(progress[1]).c_str(), 1);
    const std::string program = BesideProgram("torture_test");
    const char* emulator = std::getenv("PEXIL_TEST_EMULATOR");
    std::cout << std::flush;
    const pid_t child = ::fork();
    if (child == 0) {
        const int error = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (error >= 0) ::dup2(error, 2);
        const char* filter = "--gtest_filter=Torture.SeededRunsEndWithoutFaultOrHang";
        if (emulator != nullptr) {
            ::execl(emulator, emulator, program.c_str(), filter, static_cast<char*>(nullptr));
        } else {
            ::execl(program.c_str(), program.c_str(), filter, static_cast<char*>(nullptr));
        }
        ::_exit(127);
    }
    ::unsetenv("PEXIL_TORTURE_CHILD");
    ::close(progress[1]);
    if (child < 0) {
        ::close(progress[0]);
        return "no child process";
    }
    std::string failure;
    Clock::time_point lastProgress = Clock::now();
    for (;;) {
        pollfd watched{progress[0], POLLIN, 0};
        const int ready = ::poll(&watched, 1, 1000);
        if (ready > 0) {
            char bytes[256];
            const ssize_t count = ::read(progress[0], bytes, sizeof(bytes));
            if (count <= 0) break;  // the child has ended
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress > std::chrono::seconds(stallSeconds)) {
            failure = "a hang: no progress for " + std::to_string(stallSeconds) + " s";
            PrintStacks(child);
            ::kill(child, SIGKILL);
            break;
        }
    }
    ::close(progress[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    const std::string output = ReadFileBytes(errorFile);
    std::cerr << output << std::flush;
    if (failure.empty() && WIFSIGNALED(status)) {
        failure = "killed by signal " + std::to_string(WTERMSIG(status));
    } else if (failure.empty() && WEXITSTATUS(status) != 0) {
        failure = "exit code " + std::to_string(WEXITSTATUS(status)) +
                  " (a sanitizer's report or a failed check, above)";
    }
    int refused = 0;
    const std::string errors = UnexpectedErrors(output, &refused);
    if (failure.empty() && !errors.empty()) failure = "framework errors:\n" + errors;
    std::cout << "seed " << seed << ": " << refused << " single instances refused while deleted"
              << std::endl;
    return failure;
}

std::vector<uint64_t> Seeds() {
    std::vector<uint64_t> seeds;
    const char* list = std::getenv("PEXIL_TORTURE_SEEDS");
    std::istringstream words(list != nullptr ? list : "1");
    std::string word;
    while (std::getline(words, word, ',')) {
        std::istringstream more(word);
        uint64_t seed = 0;
        while (more >> seed)
            seeds.push_back(seed);
    }
    return seeds;
}

TEST(Torture, SeededRunsEndWithoutFaultOrHang) {
    const uint64_t seconds = EnvironmentNumber("PEXIL_TORTURE_SECONDS", 3);
    if (std::getenv("PEXIL_TORTURE_CHILD") != nullptr) {
        RunTorture(EnvironmentNumber("PEXIL_TORTURE_SEED", 1), seconds,
                   static_cast<int>(EnvironmentNumber("PEXIL_TORTURE_PROGRESS_FD", 0)));
        return;
    }
    // Lock-order inversions are reported, and any report ends the child.
    const char* tsan = std::getenv("TSAN_OPTIONS");
    const std::string options = std::string(tsan != nullptr ? tsan : "") +
                                ":detect_deadlocks=1:second_deadlock_stack=1:halt_on_error=1";
    ::setenv("TSAN_OPTIONS", options.c_str(), 1);
    const uint64_t stall = EnvironmentNumber("PEXIL_TORTURE_STALL", 30);
    const std::vector<uint64_t> seeds = Seeds();
    ASSERT_FALSE(seeds.empty());
    for (uint64_t seed : seeds) {
        std::cout << "seed " << seed << ", " << seconds << " s" << std::endl;
        const std::string failure = RunSeed(seed, seconds, stall);
        EXPECT_EQ("", failure) << "seed " << seed << " failed; replay it with scripts/torture "
                               << seconds << " " << seed;
    }
}

}  // namespace
}  // namespace pexil::testing::torture
