#include "factory/component_factory.h"
#include "platform/platform.h"
#include "support/base_directory.h"
#include "support/redirect_chain.h"
#include "support/text.h"

namespace pexil {

int FollowFactoryRedirect(const char* path, char* buffer, int size, const PathBase& base,
                          RedirectObserver* observer) {
    using Hop = RedirectObserver::Hop;
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    // A path cut to fit its buffer may name another file: such a chain reads
    // nothing, as if the file were missing.
    char current[kMaxPath];
    int whole = 0;
    if (!ToAbsolutePath(base, path, current, kMaxPath, &whole) || whole == 0) {
        if (observer != nullptr) observer->OnHop(Hop::TooLong, "", path, current);
        return 0;
    }
    RedirectChain chain(DebugChannel::Binding);
    for (;;) {
        chain.Enter(current);
        char value[kMaxPath];
        platform::GetPrivateProfileString("Redirect", "Path", "", value, kMaxPath, current);
        if (IsEmptyAfterTrim(value)) {
            if (observer != nullptr) observer->OnHop(Hop::End, current, value, current);
            return CopyIfFits(buffer, size, current);
        }
        if (!IsAbsolutePath(value)) {
            JoinWithDirectoryOf(current, value, buffer, size, PathStyle::Native, &whole);
            if (observer != nullptr) {
                observer->OnHop(whole != 0 ? Hop::Relative : Hop::TooLong, current, value, buffer);
            }
            if (whole != 0) return 1;
            if (buffer != nullptr && size > 0) buffer[0] = '\0';
            return 0;
        }
        if (chain.ClosesLoop(current, value)) {
            if (observer != nullptr) observer->OnHop(Hop::Loop, current, value, value);
            return 0;
        }
        if (observer != nullptr) observer->OnHop(Hop::Absolute, current, value, value);
        CopyIfFits(current, kMaxPath, value);  // untrimmed, as read
    }
}

}  // namespace pexil
