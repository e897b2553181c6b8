// DebugPrintf: the one way the framework reports on the debug-output channel.
// Each message is formatted into a 1024-byte buffer and handed to the channel
// whole, with nothing added: callers write their own prefix and line end.
// Longer output is cut, never split.
#ifndef PEXIL_SUPPORT_DEBUG_PRINT_H
#define PEXIL_SUPPORT_DEBUG_PRINT_H

#include "support/format.h"

namespace pexil {

// The groups of callers differ only in how many characters they let through.
enum class DebugChannel {
    ModuleEntry,    // entry layer and live-component map: up to 1023 characters
    Locator,        // factory locator, factory-handle variant: up to 1022
    LoadedLocator,  // factory locator, loaded-module variant: up to 1023
    Binding,        // component-to-DLL binding: up to 1022
};

void DebugPrintf(DebugChannel channel, const char* format, ...) PEXIL_PRINTF(2, 3);

// The explaining trace: when the environment variable PEXIL_EXPLAIN is "1" at
// the time a module is loaded, the framework code in that module adds lines
// that explain outcomes its own messages leave silent or terse. Each is one
// write of "Pexil[Explain]: " and the formatted text (callers end it with
// "\n"), at most 1023 characters. Without the variable nothing is written.
void InitExplaining();  // reads the variable; at the module's load
bool Explaining();
void Explain(const char* format, ...) PEXIL_PRINTF(1, 2);

}  // namespace pexil

#endif
