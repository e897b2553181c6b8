// Paths written in tests with '/' and turned into the build's own separators.
#ifndef PEXIL_TESTS_NATIVE_PATH_H
#define PEXIL_TESTS_NATIVE_PATH_H

#include "support/path.h"

#include <string>

namespace pexil::testing {

inline std::string Native(std::string path) {
    const char separator = Separator(PathStyle::Native);
    for (char& c : path) {
        if (c == '/') c = separator;
    }
    return path;
}

}  // namespace pexil::testing

#endif
