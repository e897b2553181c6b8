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
# debug output is standard error on POSIX).
if(NOT HOST MATCHES "\\.exe$")
  string(FIND "${err}" "Pexil[Error]:Found leak Pexil components. Count:1\nPexil[Error]:ComponentID:0x00001bbd CreatorID:0x00000169" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "no leak report for the greeter left alive:\n${err}")
  endif()
endif()
