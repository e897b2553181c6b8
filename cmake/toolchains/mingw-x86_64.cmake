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
