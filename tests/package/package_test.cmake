# Builds the guides' example (docs/examples) against an installed Pexil as a
# consumer would (find_package(Pexil), pexil_add_module, pexil_add_host,
# pexil_deploy), runs the host in its deployed directory and checks its
# output, the modules' exports and, natively, the installed pexil command.
#
#   -DBUILD_DIR=...   install this build into WORK_DIR/prefix first, or
#   -DPREFIX=...      use a tree installed already (an unpacked package), or
#   -DCPACK_CONFIG=.. make this build's zip (CPackConfig.cmake) with
#   -DCPACK_COMMAND=. cpack, which must be named ZIP_NAME.zip and hold the
#   -DZIP_NAME=...    licence and the docs, and use the tree unpacked from it
#   -DTOOLCHAIN=...   cross build with the installed toolchain file of this
#                     name, run through
#   -DEMULATOR=...    this program (Wine); the exports are then checked as PE
#   -DLIBRARY_PATH=.. where the installed pexil command finds the platform
#                     library (a tree meant for /usr has no run path)
#   -DMAKE=... -DPKG_CONFIG=...  natively, build the example again with its
#                     Makefile, which knows Pexil only through pkg-config, and
#                     run that host too
#   -DBUILD_ONLY=ON   build and check the exports, run nothing (a build no
#                     emulator here runs)
#   -DCHECK_RUN_PATHS=..  natively: the script that checks the run paths of
#                     the installed and deployed binaries
#
# Run by CTest (tests/package/CMakeLists.txt) and by scripts/test.
cmake_minimum_required(VERSION 3.20)

set(build ${WORK_DIR}/build)
set(app ${build}/app)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

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

if(PREFIX)
  set(prefix ${PREFIX})
elseif(CPACK_CONFIG)
  run("cpack" ${CPACK_COMMAND} -G ZIP --config ${CPACK_CONFIG} -B ${WORK_DIR}/zip)
  set(zip ${WORK_DIR}/zip/${ZIP_NAME}.zip)
  if(NOT EXISTS ${zip})
    file(GLOB made ${WORK_DIR}/zip/*.zip)
    message(FATAL_ERROR "cpack made ${made}, not ${zip}")
  endif()
  file(ARCHIVE_EXTRACT INPUT ${zip} DESTINATION ${WORK_DIR}/unzipped)
  set(prefix ${WORK_DIR}/unzipped/${ZIP_NAME})
  foreach(file LICENSE CHANGELOG.md README.md host-guide.md module-guide.md examples/CMakeLists.txt)
    if(NOT EXISTS ${prefix}/share/doc/pexil/${file})
      message(FATAL_ERROR "${ZIP_NAME}.zip holds no share/doc/pexil/${file}")
    endif()
  endforeach()
else()
  set(prefix ${WORK_DIR}/prefix)
  run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endif()
file(GLOB_RECURSE config ${prefix}/*/PexilConfig.cmake)
if(NOT config)
  message(FATAL_ERROR "no PexilConfig.cmake below ${prefix}")
endif()
get_filename_component(package_dir ${config} DIRECTORY)

# Where the guides say things lie: the factory in <libdir>/pexil (bin on
# Windows), the guides and their examples in the documentation directory.
if(TOOLCHAIN)
  file(GLOB factory ${prefix}/bin/Brelnor.dll)
else()
  file(GLOB factory ${prefix}/lib/pexil/Brelnor.dll ${prefix}/lib/*/pexil/Brelnor.dll
    ${prefix}/lib64/pexil/Brelnor.dll)
endif()
file(GLOB guides ${prefix}/share/doc/*/host-guide.md)
if(NOT factory OR NOT guides)
  message(FATAL_ERROR "the factory (${factory}) or the guides (${guides}) are not where the "
    "host guide says, below ${prefix}")
endif()
get_filename_component(doc_dir ${guides} DIRECTORY)
foreach(shown examples/tally_host.cpp examples/readme/clock_host.cpp registry-file.md)
  if(NOT EXISTS ${doc_dir}/${shown})
    message(FATAL_ERROR "${doc_dir}/${shown}: not installed")
  endif()
endforeach()

# The examples must build without a warning, as the guides and the README
# show them.
set(configure_args -G ${GENERATOR}
  -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM} -DCMAKE_BUILD_TYPE=RelWithDebInfo
  "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Werror" -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON)
if(TOOLCHAIN)
  # The toolchain file installed with the SDK, as a consumer uses it: it finds
  # the package itself.
  get_filename_component(toolchain_name ${TOOLCHAIN} NAME)
  set(toolchain ${package_dir}/toolchains/${toolchain_name})
  if(NOT EXISTS ${toolchain})
    message(FATAL_ERROR "the SDK tree has no toolchain file ${toolchain}")
  endif()
  list(APPEND configure_args -DCMAKE_TOOLCHAIN_FILE=${toolchain})
  set(host tally_host.exe)
  set(export_kind pe)
else()
  list(APPEND configure_args -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix})
  set(host tally_host)
  set(export_kind elf)
endif()
run("configuring the example" ${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${build} ${configure_args})
run("building the example" ${CMAKE_COMMAND} --build ${build})
# The README's host and module (docs/examples/readme), and its host run: it
# says what the clock says and ends with the factory's forced release, so no
# module reports a leak.
set(readme ${WORK_DIR}/readme)
run("configuring the README's example" ${CMAKE_COMMAND} -S ${EXAMPLE_DIR}/readme -B ${readme}
  ${configure_args})
run("building the README's example" ${CMAKE_COMMAND} --build ${readme})
if(NOT BUILD_ONLY)
  string(REPLACE tally_host clock_host clock_host ${host})
  execute_process(COMMAND ${EMULATOR} ${readme}/app/${clock_host} WORKING_DIRECTORY ${readme}/app
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r\n" "\n" out "${out}")
  expect("clock_host's output" "the clock says 42\n" "${out}")
  expect("clock_host's exit status" "0" "${result}")
  if(NOT EMULATOR)
    expect("clock_host's debug output" "" "${err}")
  endif()
endif()
if(BUILD_ONLY)
  run("the export check" sh ${CHECK_EXPORTS} ${export_kind} ${app} ${OBJDUMP})
  expect("the export check" "2 modules export exactly the seven entry points\n" "${out}")
  return()
endif()

# The deployed directory runs wherever it lies: a copy of it runs.
set(moved ${WORK_DIR}/moved)
file(COPY ${app}/ DESTINATION ${moved})
execute_process(COMMAND ${EMULATOR} ${moved}/${host} WORKING_DIRECTORY ${moved}
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(READ ${EXPECTED_OUTPUT} expected)
string(REPLACE "\r\n" "\n" out "${out}")
expect("tally_host's output" "${expected}" "${out}")
expect("tally_host's exit status" "0" "${result}")
if(NOT EMULATOR)
  expect("tally_host's debug output" "" "${err}")
endif()

# The example's module and the installed factory, deployed beside the host,
# export the seven entry points and nothing else.
run("the export check" sh ${CHECK_EXPORTS} ${export_kind} ${moved} ${OBJDUMP})
expect("the export check" "2 modules export exactly the seven entry points\n" "${out}")
if(TOOLCHAIN)
  return()
endif()

# No installed or deployed binary has a run path the current directory can
# answer (an empty or relative entry).
if(CHECK_RUN_PATHS)
  run("the run path check" sh ${CHECK_RUN_PATHS} ${prefix} ${moved})
endif()

# The same example built by its Makefile, which finds Pexil through pkg-config
# alone (the files' prefix set to where this tree lies), runs the same way.
if(DEFINED MAKE)
  if(NOT MAKE OR NOT PKG_CONFIG)
    message(FATAL_ERROR "the Makefile route needs make and pkg-config (${MAKE}, ${PKG_CONFIG})")
  endif()
  file(GLOB_RECURSE pc ${prefix}/*/pexil.pc)
  if(NOT pc)
    message(FATAL_ERROR "no pexil.pc below ${prefix}")
  endif()
  get_filename_component(pc_dir ${pc} DIRECTORY)
  file(MAKE_DIRECTORY ${WORK_DIR}/make)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${pc_dir} PKG_CONFIG_PATH=
      ${MAKE} -f ${EXAMPLE_DIR}/Makefile "CXX=${CXX_COMPILER}" "CXXFLAGS=-O2 -Wall -Wextra -Werror"
      "PKG_CONFIG=${PKG_CONFIG} --define-variable=prefix=${prefix}"
    WORKING_DIRECTORY ${WORK_DIR}/make
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "make with pkg-config failed (${result}):\n${out}${err}")
  endif()
  file(COPY ${WORK_DIR}/make/app/ DESTINATION ${WORK_DIR}/make-moved)
  execute_process(COMMAND ${WORK_DIR}/make-moved/${host} WORKING_DIRECTORY ${WORK_DIR}/make-moved
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  expect("tally_host's output (made with pkg-config)" "${expected}" "${out}")
  expect("tally_host's exit status (made with pkg-config)" "0" "${result}")
  expect("tally_host's debug output (made with pkg-config)" "" "${err}")
  run("the export check (made with pkg-config)" sh ${CHECK_EXPORTS} elf ${WORK_DIR}/make-moved)
  expect("the export check (made with pkg-config)"
    "2 modules export exactly the seven entry points\n" "${out}")
endif()

# The installed pexil command runs from the prefix (the module's announcements
# as pexil loads and frees it go to standard error).
set(pexil ${prefix}/bin/pexil)
if(LIBRARY_PATH)
  set(pexil ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${LIBRARY_PATH} ${pexil})
endif()
run("pexil module" ${pexil} module ${moved}/Tally.dll)
expect("pexil module" "module: ${moved}/Tally.dll
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
run("pexil --version" ${pexil} --version)
string(STRIP "${out}" version)
if(NOT version MATCHES "${PEXIL_VERSION}$")
  message(FATAL_ERROR "pexil --version says \"${version}\", the package is ${PEXIL_VERSION}")
endif()
