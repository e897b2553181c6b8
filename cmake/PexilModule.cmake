# Building component modules.
#
#   pexil_add_module(NAME SOURCES src... [LIBS libs...])
#
# makes NAME.dll on every system: the module code linked in (creator table,
# live-component map, exports, component base, locator and holder), the seven
# entry points exported and nothing else (a .def file with ordinals 1 to 7 on
# Windows; protected visibility and a version script on ELF), and no
# STB_GNU_UNIQUE symbols, so that the module really unloads.
#
#   pexil_add_host(NAME SOURCES src... [LIBS libs...])
#
# makes a program that carries the module code too (hosts use holders). On
# POSIX it finds the platform library beside itself first (run path $ORIGIN),
# so that a deployed directory can be moved or archived.
#
#   pexil_deploy(HOST [MODULES module-target...] [MODULE_DIRECTORY subdirectory]
#                [FILES file-or-directory...] [PEXIL_INI file])
#
# makes the host's directory run as it is, at every build (target HOST_deploy,
# part of the default build): Brelnor.dll and, on POSIX, the platform library
# beside the host; the modules beside it or in MODULE_DIRECTORY; the files
# beside it (a directory with its contents, under its own name); and Pexil.ini,
# PEXIL_INI or else one whose [361] names Brelnor.dll beside the host. What
# changed since the last build is copied again.
#
# The same file serves this source tree and the installed package: the
# package's config sets the exports files and _pexil_link_module_code before
# it includes this file.
include_guard(GLOBAL)

if(NOT COMMAND _pexil_link_module_code)
  # In this tree: the exports files beside the module code, which is linked as
  # its objects with the build's own options (among them -fno-gnu-unique, and
  # MinGW's -static).
  set(PEXIL_MODULE_EXPORTS_DEF ${CMAKE_CURRENT_LIST_DIR}/../src/module/exports.def
      CACHE INTERNAL "")
  set(PEXIL_MODULE_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/../src/module/exports.map
      CACHE INTERNAL "")
  function(_pexil_link_module_code target)
    target_link_libraries(${target} PRIVATE pexil_module_objects pexil_build_options)
  endfunction()
endif()

function(pexil_add_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  _pexil_link_module_code(${name})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX ".dll"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    target_sources(${name} PRIVATE ${PEXIL_MODULE_EXPORTS_DEF})
  else()
    target_link_options(${name} PRIVATE
      "LINKER:--version-script=${PEXIL_MODULE_EXPORTS_MAP}")
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${PEXIL_MODULE_EXPORTS_MAP})
    if(NOT PEXIL_SANITIZE)
      # Sanitizer runtimes live in the program, so only plain builds can insist.
      target_link_options(${name} PRIVATE "LINKER:--no-undefined")
    endif()
  endif()
endfunction()

function(pexil_add_host name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  _pexil_link_module_code(${name})
  if(NOT WIN32)
    # Beside itself first: a deployed directory carries its platform library.
    set_property(TARGET ${name} APPEND PROPERTY BUILD_RPATH "$ORIGIN")
    set_property(TARGET ${name} APPEND PROPERTY INSTALL_RPATH "$ORIGIN")
  endif()
endfunction()

function(pexil_deploy host)
  cmake_parse_arguments(ARG "" "MODULE_DIRECTORY;PEXIL_INI" "MODULES;FILES" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "pexil_deploy(${host}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  set(directory $<TARGET_FILE_DIR:${host}>)

  if(ARG_PEXIL_INI)
    get_filename_component(ini ${ARG_PEXIL_INI} ABSOLUTE)
  else()
    # Written only when its text changes; with CR LF for Windows, as Notepad writes.
    set(ini ${CMAKE_CURRENT_BINARY_DIR}/pexil_deploy/${host}/Pexil.ini)
    set(newlines UNIX)
    if(WIN32)
      set(newlines CRLF)
    endif()
    file(CONFIGURE OUTPUT ${ini} NEWLINE_STYLE ${newlines} CONTENT
"; Written by pexil_deploy: the factory lies beside the host.
[361]
DLL=Brelnor.dll
NotUseDefaultDllPath=1
")
  endif()
  # Pexil.ini under that name, whatever the file given is called.
  set(commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ini} ${directory}/Pexil.ini)

  set(beside $<TARGET_FILE:Pexil::Brelnor>)
  get_target_property(platform_type Pexil::platform TYPE)
  if(platform_type STREQUAL "SHARED_LIBRARY")
    # Under its SONAME (libpexil_platform.so.0), the name the host looks for.
    list(APPEND beside $<TARGET_SONAME_FILE:Pexil::platform>)
  endif()
  list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${beside} ${directory})

  if(ARG_MODULES)
    set(module_directory ${directory})
    if(ARG_MODULE_DIRECTORY)
      set(module_directory ${directory}/${ARG_MODULE_DIRECTORY})
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E make_directory ${module_directory})
    endif()
    set(modules)
    foreach(module IN LISTS ARG_MODULES)
      list(APPEND modules $<TARGET_FILE:${module}>)
    endforeach()
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${modules}
      ${module_directory})
  endif()

  foreach(file IN LISTS ARG_FILES)
    get_filename_component(file ${file} ABSOLUTE)
    if(IS_DIRECTORY ${file})
      # Each file of the directory on its own, so that only changes are copied;
      # a file added later is seen when CMake runs again (CONFIGURE_DEPENDS).
      get_filename_component(name ${file} NAME)
      file(GLOB_RECURSE contents LIST_DIRECTORIES false CONFIGURE_DEPENDS ${file}/*)
      foreach(item IN LISTS contents)
        file(RELATIVE_PATH relative ${file} ${item})
        get_filename_component(subdirectory ${name}/${relative} DIRECTORY)
        list(APPEND commands
          COMMAND ${CMAKE_COMMAND} -E make_directory ${directory}/${subdirectory}
          COMMAND ${CMAKE_COMMAND} -E copy_if_different ${item} ${directory}/${subdirectory})
      endforeach()
    elseif(EXISTS ${file})
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${directory})
    else()
      message(FATAL_ERROR "pexil_deploy(${host}): no file ${file}")
    endif()
  endforeach()

  # Runs at every build: the copies themselves skip what did not change. The
  # targets named in the commands are built first.
  add_custom_target(${host}_deploy ALL ${commands}
    COMMENT "Deploying ${host} in its directory" VERBATIM)
  add_dependencies(${host}_deploy ${host} ${ARG_MODULES})
endfunction()
