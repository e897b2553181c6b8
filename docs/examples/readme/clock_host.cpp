// A host: finds the factory, creates a clock, and ends with the factory's
// forced release.
#include "clock.h"

#include <pexil/component_ptr.h>
#include <pexil/holder.h>
#include <pexil/platform.h>

#include <cstdio>

int main() {
    int status = 1;
    {
        pexil::ReleasingFactoryHolder holder;  // reads Pexil.ini beside the program
        auto* factory = static_cast<pexil::IComponentFactory*>(holder.component);
        auto clock = pexil::Create<IClock>(factory, kClockID);  // empty on failure, and says why
        if (clock) {
            std::printf("the clock says %ld\n", clock->Now());
            status = 0;
        }
    }  // the clock's Release(1) here, and the holder's Release(0), which the factory ignores
    PexilPumpMessages(150);  // on Linux: lets the 100 ms unload timer run
    // The factory's forced release: it closes the log file and prunes the log
    // directory. Without it, Brelnor.dll reports the factory as a leak at exit.
    pexil::KeepingFactoryHolder keeping;
    if (keeping.component != nullptr) keeping.component->Release(1);
    return status;
}
