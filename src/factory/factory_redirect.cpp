#include "factory/component_factory.h"
#include "platform/platform.h"
#include "support/base_directory.h"
#include "support/redirect_chain.h"
#include "support/text.h"

namespace pexil {

int FollowFactoryRedirect(const char* path, char* buffer, int size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    // A path cut to fit its buffer may name another file: such a chain reads
    // nothing, as if the file were missing.
    char current[kMaxPath];
    int whole = 0;
    if (!ToAbsolutePath(kFactoryBase, path, current, kMaxPath, &whole) || whole == 0) return 0;
    RedirectChain chain(DebugChannel::Binding);
    for (;;) {
        chain.Enter(current);
        char value[kMaxPath];
        platform::GetPrivateProfileString("Redirect", "Path", "", value, kMaxPath, current);
        if (IsEmptyAfterTrim(value)) return CopyIfFits(buffer, size, current);
        if (!IsAbsolutePath(value)) {
            JoinWithDirectoryOf(current, value, buffer, size, PathStyle::Native, &whole);
            if (whole != 0) return 1;
            if (buffer != nullptr && size > 0) buffer[0] = '\0';
            return 0;
        }
        if (chain.ClosesLoop(current, value)) return 0;
        CopyIfFits(current, kMaxPath, value);  // untrimmed, as read
    }
}

}  // namespace pexil
