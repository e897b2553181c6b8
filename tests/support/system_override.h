// Replaces one entry of the platform's system-call table for the life of the
// object, to make a system call fail (or record it) on purpose.
#ifndef PEXIL_TESTS_SYSTEM_OVERRIDE_H
#define PEXIL_TESTS_SYSTEM_OVERRIDE_H

#include "platform/platform.h"

namespace pexil::testing {

template <typename Function>
class SystemOverride {
public:
    SystemOverride(Function platform::SystemCalls::*entry, Function replacement)
        : entry_(entry), saved_(platform::System().*entry) {
        platform::System().*entry_ = replacement;
    }
    ~SystemOverride() { platform::System().*entry_ = saved_; }
    SystemOverride(const SystemOverride&) = delete;
    SystemOverride& operator=(const SystemOverride&) = delete;

private:
    Function platform::SystemCalls::*entry_;
    Function saved_;
};

template <typename Function>
SystemOverride(Function platform::SystemCalls::*, Function) -> SystemOverride<Function>;

}  // namespace pexil::testing

#endif
