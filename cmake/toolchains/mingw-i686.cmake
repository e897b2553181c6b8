# Cross-build for 32-bit Windows, the framework's native target. The mingw-x86
# preset runs the tests under 32-bit Wine (its CMAKE_CROSSCOMPILING_EMULATOR,
# wine32-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(PEXIL_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${PEXIL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PEXIL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PEXIL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PEXIL_MINGW_TRIPLE})
# Installed with the Pexil SDK (<prefix>/lib/cmake/Pexil/toolchains), this file
# lets find_package(Pexil) find that SDK as it finds the MinGW root's packages.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/../PexilConfig.cmake)
  get_filename_component(PEXIL_SDK_PREFIX ${CMAKE_CURRENT_LIST_DIR}/../../../.. ABSOLUTE)
  list(APPEND CMAKE_FIND_ROOT_PATH ${PEXIL_SDK_PREFIX})
  list(APPEND CMAKE_PREFIX_PATH ${PEXIL_SDK_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
