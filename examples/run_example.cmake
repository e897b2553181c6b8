# Lays the built example out in WORK as layout/ describes (the host, the
# platform library and the ini files at the top; the factory in system/; the
# modules in components/), runs the host there (through EMULATOR when the build
# needs one) and checks that it went through all its steps. Run by CTest.
cmake_minimum_required(VERSION 3.20)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/system ${WORK}/components)
file(COPY ${LAYOUT}/ DESTINATION ${WORK})
file(COPY ${HOST} DESTINATION ${WORK})
if(PLATFORM_LIBRARY)
  file(COPY ${PLATFORM_LIBRARY} DESTINATION ${WORK})
endif()
file(COPY ${FACTORY} DESTINATION ${WORK}/system)
foreach(module ${MODULES})
  file(COPY ${module} DESTINATION ${WORK}/components)
endforeach()

get_filename_component(host_name ${HOST} NAME)
execute_process(COMMAND ${EMULATOR} ${WORK}/${host_name}
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
