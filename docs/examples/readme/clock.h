// The clock's ID and interface, shared by its module and every program that
// uses it.
#ifndef CLOCK_H
#define CLOCK_H

#include <pexil/component.h>

constexpr uint32_t kClockID = 4711;

class IClock : public pexil::IComponent {
public:
    virtual long Now() = 0;  // slot 5, after the five common slots

protected:
    ~IClock() = default;  // destroyed only through Release
};

#endif
