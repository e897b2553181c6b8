// The clock (Clock.dll): component 7201, in a registry file of its own,
// plugins.ini.
#ifndef PEXIL_EXAMPLES_INTERFACES_CLOCK_H
#define PEXIL_EXAMPLES_INTERFACES_CLOCK_H

#include <pexil/component.h>

namespace example {

constexpr uint32_t kClockID = 7201;

class IClock : public pexil::IComponent {
public:
    // Writes the local time as HH:MM:SS into the buffer (at least 9 bytes).
    virtual void Now(char* buffer, int size) = 0;  // slot 5

protected:
    ~IClock() = default;
};

}  // namespace example

#endif
