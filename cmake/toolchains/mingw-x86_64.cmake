# Cross-build for 64-bit Windows with MinGW-w64. The mingw-x64 preset runs the
# tests under Wine (its CMAKE_CROSSCOMPILING_EMULATOR, wine-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PEXIL_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix threading variant is the one whose libstdc++ has std::thread and std::mutex.
set(CMAKE_C_COMPILER ${PEXIL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PEXIL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PEXIL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PEXIL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
