// The explaining trace (PEXIL_EXPLAIN=1) of the test program's own framework
// code, switched on for the life of the object.
#ifndef PEXIL_TESTS_EXPLAINING_H
#define PEXIL_TESTS_EXPLAINING_H

#include "platform/debug_capture.h"
#include "support/debug_print.h"

namespace pexil::testing {

struct Explaining {
    Explaining() {
        platform::testing::SetEnvironmentVariable("PEXIL_EXPLAIN", "1");
        InitExplaining();
    }
    ~Explaining() {
        platform::testing::SetEnvironmentVariable("PEXIL_EXPLAIN", nullptr);
        InitExplaining();
    }
    Explaining(const Explaining&) = delete;
    Explaining& operator=(const Explaining&) = delete;
};

}  // namespace pexil::testing

#endif
