#include "factory/component_factory.h"
#include "platform/platform.h"
#include "support/base_directory.h"
#include "support/redirect_chain.h"
#include "support/text.h"

namespace pexil {

int FollowFactoryRedirect(const char* path, char* buffer, int size) {
    char current[kMaxPath];
    if (!IsAbsolutePath(path)) {
        if (!JoinToHostDirectory(kFactoryBase, path, current, kMaxPath)) current[0] = '\0';
    } else if (!CopyIfFits(current, kMaxPath, path)) {
        current[0] = '\0';
    }
    RedirectChain chain(DebugChannel::Binding);
    for (;;) {
        chain.Enter(current);
        char value[kMaxPath];
        platform::GetPrivateProfileString("Redirect", "Path", "", value, kMaxPath, current);
        if (IsEmptyAfterTrim(value)) return CopyIfFits(buffer, size, current);
        if (!IsAbsolutePath(value)) return JoinWithDirectoryOf(current, value, buffer, size);
        if (chain.ClosesLoop(current, value)) {
            if (buffer != nullptr && size > 0) buffer[0] = '\0';
            return 0;
        }
        CopyIfFits(current, kMaxPath, value);  // untrimmed, as read
    }
}

}  // namespace pexil
