// The components of Tally.dll: their IDs and interfaces, shared by the module
// and every program that uses them.
#ifndef TALLY_H
#define TALLY_H

#include <pexil/component.h>

namespace tally {

constexpr uint32_t kCounterID = 5101;  // a new counter for every request
constexpr uint32_t kTotalID = 5102;    // one total for the whole process

class ICounter : public pexil::IComponent {
public:
    // Counts: 1 at the first call, then 2, 3...
    virtual int Next() = 0;  // slot 5, after the five common slots

protected:
    ~ICounter() = default;
};

class ITotal : public pexil::IComponent {
public:
    virtual int Add(int amount) = 0;  // slot 5: the new value
    virtual int Value() = 0;          // slot 6

protected:
    ~ITotal() = default;
};

}  // namespace tally

#endif
