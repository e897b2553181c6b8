# Options shared by every target of the project: warnings, sanitizers, and the
# static runtime of the MinGW builds (so that modules run under Wine without
# the MinGW runtime DLLs on the search path).
include_guard(GLOBAL)

add_library(pexil_build_options INTERFACE)
target_compile_options(pexil_build_options INTERFACE -Wall -Wextra)

# The lock annotations (src/platform/thread_annotations.h) checked by Clang,
# every warning an error: a field touched without its lock, a lock taken in
# the wrong order or left held fails the build.
option(PEXIL_THREAD_SAFETY_ANALYSIS "Check the lock annotations (Clang; warnings are errors)" OFF)
if(PEXIL_THREAD_SAFETY_ANALYSIS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "PEXIL_THREAD_SAFETY_ANALYSIS needs Clang (the clang-threads preset)")
  endif()
  target_compile_options(pexil_build_options INTERFACE
    -Wthread-safety -Wthread-safety-beta -Werror)
endif()

if(PEXIL_SANITIZE)
  list(JOIN PEXIL_SANITIZE "," _pexil_sanitizers)
  # The vptr check compares type_info across modules; each module carries its own
  # hidden copy of the interfaces' type_info, so the check would report every call
  # made from one module into a component of another.
  target_compile_options(pexil_build_options INTERFACE
    -fsanitize=${_pexil_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  if("undefined" IN_LIST PEXIL_SANITIZE)
    target_compile_options(pexil_build_options INTERFACE -fno-sanitize=vptr)
  endif()
  target_link_options(pexil_build_options INTERFACE -fsanitize=${_pexil_sanitizers})
endif()

# A STB_GNU_UNIQUE symbol (from an inline function's static, for example) makes
# glibc refuse to unload a library; unloading idle modules is a feature here.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32)
  target_compile_options(pexil_build_options INTERFACE -fno-gnu-unique)
endif()

if(MINGW)
  target_link_options(pexil_build_options INTERFACE -static)
endif()

# A 32-bit C library: 64-bit file offsets, inode numbers and times. Without
# them stat() and readdir() fail (EOVERFLOW) on a file system with 64-bit inode
# numbers, and a time after 2038 does not fit.
if(NOT WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_definitions(pexil_build_options INTERFACE _FILE_OFFSET_BITS=64 _TIME_BITS=64)
endif()
