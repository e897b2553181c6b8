# A MinGW project configured against the installed Windows SDK tree, as a
# Windows developer starts one: with the toolchain file installed with the SDK
# alone it finds Pexil (no Pexil_DIR) and pexil_deploy writes Pexil.ini with
# CR LF; with a compiler of the win32 thread model find_package stops with one
# message that names the thread model needed and how to pick it.
#
#   -DBUILD_DIR=... -DWORK_DIR=... -DGENERATOR=... -DMAKE_PROGRAM=...
#   -DTRIPLE=...    the MinGW target (x86_64-w64-mingw32, i686-w64-mingw32)
#
# Run by CTest (tests/package/CMakeLists.txt) for the Windows builds.
cmake_minimum_required(VERSION 3.20)

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result}):\n${err}")
endif()
file(GLOB toolchain ${prefix}/lib/cmake/Pexil/toolchains/*.cmake)
list(LENGTH toolchain count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "the SDK tree holds ${count} toolchain files: ${toolchain}")
endif()

set(project ${WORK_DIR}/project)
file(WRITE ${project}/CMakeLists.txt "cmake_minimum_required(VERSION 3.20)
project(Consumer LANGUAGES CXX)
find_package(Pexil 0.1 REQUIRED)
pexil_add_host(consumer SOURCES consumer.cpp)
pexil_deploy(consumer)
")
file(WRITE ${project}/consumer.cpp "int main() { return 0; }\n")

function(configure build toolchain_file)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${project} -B ${build} -G ${GENERATOR}
      -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM} -DCMAKE_TOOLCHAIN_FILE=${toolchain_file}
      -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(result "${result}" PARENT_SCOPE)
  set(said "${out}${err}" PARENT_SCOPE)
endfunction()

# The installed toolchain file as it is.
configure(${WORK_DIR}/posix ${toolchain})
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configuring with the installed toolchain file failed:\n${said}")
endif()
# As bytes: every LF (0a) follows a CR (0d). In hex an ASCII text's 0a and
# 0d0a are whole bytes.
file(READ ${WORK_DIR}/posix/pexil_deploy/consumer/Pexil.ini ini HEX)
string(REGEX MATCHALL "0a" lf "${ini}")
string(REGEX MATCHALL "0d0a" crlf "${ini}")
list(LENGTH lf lines)
list(LENGTH crlf crlf_lines)
if(lines EQUAL 0 OR NOT lines EQUAL crlf_lines)
  message(FATAL_ERROR "pexil_deploy's Pexil.ini has other line ends than CR LF: ${ini}")
endif()

# Debian's default MinGW compilers: the win32 thread model.
file(WRITE ${WORK_DIR}/win32.cmake "include(${toolchain})
set(CMAKE_C_COMPILER ${TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TRIPLE}-g++-win32)
")
configure(${WORK_DIR}/win32 ${WORK_DIR}/win32.cmake)
string(REGEX REPLACE "[ \n]+" " " flat "${said}")
find_program(win32_compiler ${TRIPLE}-g++-win32 REQUIRED)
set(expected "Pexil needs a MinGW compiler with the posix thread model, but "
  "${win32_compiler} has the win32 one. Pick the -posix compilers: configure with "
  "-DCMAKE_TOOLCHAIN_FILE=${toolchain} (installed with Pexil), or set CMAKE_C_COMPILER "
  "and CMAKE_CXX_COMPILER to ${TRIPLE}-gcc-posix and ${TRIPLE}-g++-posix.")
string(CONCAT expected ${expected})
string(FIND "${flat}" "${expected}" at)
if(result EQUAL 0 OR at EQUAL -1)
  message(FATAL_ERROR "with the win32 thread model: status ${result}, expected the message\n"
    "${expected}\n--- but CMake said\n${said}")
endif()
