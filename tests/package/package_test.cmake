# Installs the build into WORK_DIR/prefix, builds the guides' example against
# it as a consumer would (find_package(Pexil), pexil_add_module,
# pexil_add_host), runs the host, and checks its output, the module's exports
# and the installed pexil command. Run by CTest: see CMakeLists.txt here.
cmake_minimum_required(VERSION 3.20)

set(prefix ${WORK_DIR}/prefix)
set(build ${WORK_DIR}/build)
set(app ${build}/app)
file(REMOVE_RECURSE ${WORK_DIR})

# Runs a command; fails the test with its output unless it exits with 0.
function(run what)
  execute_process(COMMAND ${ARGN}
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err WORKING_DIRECTORY ${WORK_DIR})
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect what expected actual)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${what}: expected\n${expected}\n--- but got\n${actual}")
  endif()
endfunction()

file(MAKE_DIRECTORY ${WORK_DIR})
run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
# The example must build without a warning, as the guides show it.
run("configuring the example" ${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${build} -G ${GENERATOR}
  -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Werror"
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON)
run("building the example" ${CMAKE_COMMAND} --build ${build})

execute_process(COMMAND ${app}/tally_host WORKING_DIRECTORY ${app}
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(READ ${EXPECTED_OUTPUT} expected)
expect("tally_host's output" "${expected}" "${out}")
expect("tally_host's debug output" "" "${err}")
expect("tally_host's exit status" "0" "${result}")

# The example's module and the installed factory export the seven entry points
# and nothing else; the installed pexil command runs from the prefix (the
# module's announcements as pexil loads and frees it go to standard error).
run("the export check" sh ${CHECK_EXPORTS} elf ${app})
expect("the export check" "2 modules export exactly the seven entry points\n" "${out}")
run("pexil module" ${prefix}/bin/pexil module ${app}/Tally.dll)
expect("pexil module" "module: ${app}/Tally.dll
exports:
  CreateComponent       yes
  SetDLLRegistry        yes
  PexilDllFreeMap       yes
  PexilDllCanUnloadNow  yes
  SetFactoryHandle      yes
  PexilSetDllSafe       yes
  GetComponentIDs       yes
component IDs (2): 5101 5102
" "${out}")
expect("pexil module's standard error" "[Tally.dll] loaded
[Tally.dll] unloaded
" "${err}")
