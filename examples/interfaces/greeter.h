// The greeter (Greeter.dll): component 7101, in the default registry.
#ifndef PEXIL_EXAMPLES_INTERFACES_GREETER_H
#define PEXIL_EXAMPLES_INTERFACES_GREETER_H

#include <pexil/component.h>

namespace example {

constexpr uint32_t kGreeterID = 7101;

class IGreeter : public pexil::IComponent {
public:
    // Writes "Hello, <name>!" into the buffer; the length written, or -1 when
    // it does not fit.
    virtual int Greet(const char* name, char* buffer, int size) = 0;  // slot 5
    // The configured root path as this module sees it (pexil::QueryRootPath).
    virtual const char* RootPath() = 0;  // slot 6

protected:
    ~IGreeter() = default;
};

}  // namespace example

#endif
