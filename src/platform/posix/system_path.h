// A path as the system takes it: the framework may write '\' as a separator,
// the system only knows '/'. Paths of ordinary length need no allocation.
// Private to src/platform/posix.
#ifndef PEXIL_PLATFORM_POSIX_SYSTEM_PATH_H
#define PEXIL_PLATFORM_POSIX_SYSTEM_PATH_H

#include <string>

namespace pexil::platform::posix {

class SystemPath {
public:
    explicit SystemPath(const char* path);
    SystemPath(const SystemPath&) = delete;
    SystemPath& operator=(const SystemPath&) = delete;
    const char* c_str() const { return text_; }
    std::string str() const { return text_; }

private:
    char buffer_[512];
    std::string long_;
    const char* text_;
};

}  // namespace pexil::platform::posix

#endif
