# Copies the deployed example (DEPLOYED, as pexil_deploy laid it out) to a fresh
# WORK, runs the host there (through EMULATOR when the build needs one) and
# checks that it went through all its steps. The copy proves that the directory
# runs wherever it lies. Run by CTest.
cmake_minimum_required(VERSION 3.20)

file(REMOVE_RECURSE ${WORK})
file(COPY ${DEPLOYED}/ DESTINATION ${WORK} PATTERN "PexilLog" EXCLUDE)
set(HOST ${WORK}/${HOST_NAME})
execute_process(COMMAND ${EMULATOR} ${HOST}
  WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the example host exited with ${status}:\n${out}\n${err}")
endif()
foreach(step "1. " "5. " "10. Shutting the factory down" "11. Leaving main")
  string(FIND "${out}" "${step}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the example host never reached step ${step}:\n${out}\n${err}")
  endif()
endforeach()
# The greeter left alive on purpose is reported as Greeter.dll unloads (the
# debug output is standard error on POSIX). On Windows the debug output goes
# to OutputDebugStringA only, unless PEXIL_DEBUG_STDERR=1 copies it, with the
# explaining lines, to standard error: run again so.
set(leak "Pexil\\[Error\\]:Found leak Pexil components. Count:1\nPexil\\[Error\\]:ComponentID:0x00001bbd CreatorID:0x00000169 Pointer:0x")
if(HOST MATCHES "\\.exe$")
  if(err MATCHES "Pexil\\[")
    message(FATAL_ERROR "without PEXIL_DEBUG_STDERR the debug output reached standard error:\n${err}")
  endif()
  file(REMOVE_RECURSE ${WORK}/PexilLog)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env PEXIL_DEBUG_STDERR=1 PEXIL_EXPLAIN=1 ${EMULATOR} ${HOST}
    WORKING_DIRECTORY ${WORK}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the example host exited with ${status}:\n${out}\n${err}")
  endif()
  string(APPEND leak "[0-9a-f]+\r?\n.*Pexil\\[Explain\\]: leaked component 7101, created by 361")
endif()
# The pointer in lowercase hexadecimal, at least 8 digits and no zero more
# (docs/troubleshooting.md shows it so).
string(REPEAT "[0-9a-f]" 8 eight)
if(NOT err MATCHES "${leak}" OR NOT err MATCHES "Pointer:0x(${eight}|[1-9a-f]${eight}[0-9a-f]*)\r?\n")
  message(FATAL_ERROR "no leak report for the greeter left alive:\n${err}")
endif()
