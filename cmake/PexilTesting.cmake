# GoogleTest for the test suite: Debian's package for native builds, built from
# Debian's source tree for the MinGW builds. pexil_add_test() registers each
# test case with CTest (discovered when CTest runs, so cross builds that cannot
# run their programs still build).
include_guard(GLOBAL)
include(GoogleTest)

set(PEXIL_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree for cross builds")

if(CMAKE_CROSSCOMPILING)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${PEXIL_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The source tree defines GTest::gtest and GTest::gtest_main itself.
else()
  find_package(GTest REQUIRED)
endif()

# pexil_add_test(NAME SOURCES... [LIBS libs...] [DEPENDS targets...] [LABELS labels...])
# DEPENDS names the modules and hosts the test loads or runs.
function(pexil_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;DEPENDS;LABELS" ${ARGN})
  if(PEXIL_TEST_LABEL_FILTER AND NOT PEXIL_TEST_LABEL_FILTER IN_LIST ARG_LABELS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main pexil_build_options)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  set(_properties TIMEOUT 240)
  if(CMAKE_CROSSCOMPILING_EMULATOR AND NOT WIN32)
    # The programs a test starts itself run under the same emulator.
    list(APPEND _properties ENVIRONMENT "PEXIL_TEST_EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}")
  endif()
  if(ARG_LABELS)
    list(APPEND _properties LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES ${_properties})
endfunction()
