// A component's log: the masks its registry sets for it, and the one log file
// the factory shares among all components (opened when the first component
// with a non-zero log-file mask asks).
//
// Writing allocates nothing and throws nothing: it is called from interface
// slots, and no exception may leave a slot into the caller's module.
#ifndef PEXIL_EXAMPLES_COMPONENT_LOG_H
#define PEXIL_EXAMPLES_COMPONENT_LOG_H

#include <pexil/factory.h>

#include <stdint.h>

namespace example {

// The mask letters this example uses (bits as the registry file sets them).
constexpr uint32_t kLogError = 0x01;  // E
constexpr uint32_t kLogTrace = 0x02;  // T

class ComponentLog {
public:
    // Asks the factory for the component's masks in the registry it was created
    // from. Without a factory nothing is ever written.
    void Open(const char* registryPath, uint32_t componentID, const char* tag);

    // Writes "[tag] " and the formatted text, as one line, to the shared log
    // file when the log-file mask has the level, and to the debug output
    // (standard error, in this example) when the debug-output mask has it. A
    // line longer than 511 characters is cut.
    void Write(uint32_t level, const char* format, ...) const
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;

private:
    char tag_[32] = "";
    uint32_t debugMask_ = 0;
    uint32_t fileMask_ = 0;
    pexil::LogSink* sink_ = nullptr;  // the factory's; null while the file mask is 0
};

}  // namespace example

#endif
