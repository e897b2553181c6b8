// The files a chain of absolute "Redirect" values has passed. Such a chain that
// names a file again would never end; both redirect rules (the locator's and
// the factory's) end it as a failed search.
#ifndef PEXIL_SUPPORT_REDIRECT_CHAIN_H
#define PEXIL_SUPPORT_REDIRECT_CHAIN_H

#include "support/debug_print.h"

#include <string>
#include <vector>

namespace pexil {

class RedirectChain {
public:
    explicit RedirectChain(DebugChannel channel) : channel_(channel) {}

    // Records that the chain reads the file.
    void Enter(const char* file) { visited_.emplace_back(file); }

    // True (after reporting which file closed the loop) when the file's value
    // names a file the chain has already passed.
    bool ClosesLoop(const char* file, const char* value) const {
        for (const std::string& seen : visited_) {
            if (seen == value) {
                DebugPrintf(channel_,
                            "[Pexil_Error] Redirect loop: %s redirects to %s, which the chain has "
                            "already passed.\n",
                            file, value);
                return true;
            }
        }
        return false;
    }

private:
    DebugChannel channel_;
    std::vector<std::string> visited_;
};

}  // namespace pexil

#endif
