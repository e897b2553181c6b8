// The files a chain of absolute "Redirect" values has passed. Such a chain that
// names a file again would never end; both redirect rules (the locator's and
// the factory's) end it as a failed search.
#ifndef PEXIL_SUPPORT_REDIRECT_CHAIN_H
#define PEXIL_SUPPORT_REDIRECT_CHAIN_H

#include "support/debug_print.h"

#include <new>
#include <string>
#include <vector>

namespace pexil {

// What a redirect chain does at each file it reads, for tools that show the
// chain step by step (pexil why, pexil locate). Null inside the framework.
class RedirectObserver {
public:
    enum class Hop {
        End,       // the file has no redirect: the chain ends at it
        Absolute,  // an absolute Path: the chain goes on in target
        Relative,  // a relative Path: the chain ends at target, beside the file
        Loop,      // the Path names a file the chain has passed: the search fails
        TooLong,   // the joined target does not fit in 259 characters: the search fails
    };
    virtual void OnHop(Hop hop, const char* file, const char* value, const char* target) = 0;

protected:
    ~RedirectObserver() = default;
};

class RedirectChain {
public:
    explicit RedirectChain(DebugChannel channel) : channel_(channel) {}

    // Records that the chain reads the file. Without memory to record it the
    // chain could no longer tell a loop, so it ends at the next redirect.
    void Enter(const char* file) noexcept {
        try {
            visited_.emplace_back(file);
        } catch (const std::bad_alloc&) {
            untracked_ = true;
        }
    }

    // True (after reporting which file closed the loop) when the file's value
    // names a file the chain has already passed, or when the chain could not
    // record its files.
    bool ClosesLoop(const char* file, const char* value) const {
        if (untracked_) {
            DebugPrintf(channel_, "[Pexil_Error] Redirect chain: out of memory at %s.\n", file);
            return true;
        }
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
    bool untracked_ = false;
};

}  // namespace pexil

#endif
