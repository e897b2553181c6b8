// Clock.dll: one component, the clock.
#include "clock.h"

#include <pexil/component_base.h>

class Clock : public pexil::ComponentBase<IClock, kClockID> {
public:
    long Now() override { return 42; }
    void Shutdown() override {}  // final clean-up, run once by Release(1)
};

PEXIL_REGISTER_CREATOR(kClockID, pexil::NewComponent<Clock>);
