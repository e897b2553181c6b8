# Cross-build for 32-bit Windows, the framework's native target. Build only: this
# machine cannot execute 32-bit code, so no emulator is set and nothing is run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(PEXIL_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${PEXIL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PEXIL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PEXIL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PEXIL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
