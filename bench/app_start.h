// The application-start figure: a generated host directory (app_start.cpp
// writes it) where app_start_host starts as a real application does, finds
// the factory through Pexil.ini, creates 400 components from 40 modules over
// three registry files, and stops; beside the same work done by hand.
#ifndef PEXIL_BENCH_APP_START_H
#define PEXIL_BENCH_APP_START_H

#include <stdint.h>

namespace pexil::bench {

constexpr int kAppModules = 40;
constexpr uint32_t kAppComponents = 400;  // ten of each module
constexpr uint32_t kFirstAppID = 6000;
// Component kFirstAppID + i lies in module i / 10 and in registry:
// i % 10 < 4: the default one (reached through a [Redirect]); < 7: plugins.ini;
// else extras.ini.
constexpr int kAppRegistries = 3;

// What one run of app_start_host measured, in nanoseconds; it writes them in
// this order, one per line.
struct AppStartTimes {
    double factoryStart;       // holder, registries, modules, all 400 created
    double factoryLocate;      // of which: the holder found the factory (Pexil.ini, Brelnor.dll)
    double factoryRegistries;  // reading the two named registries
    double factoryModules;     // the first component of each module, its module loaded
    double factoryCreating;    // the other 360 components
    double factoryTeardown;    // all released and every module unloaded, pumped
    double handStart;          // dlopen, dlsym, 400 calls
    double handTeardown;       // all released, dlclose each, and the same 100 ms wait
};

}  // namespace pexil::bench

#endif
