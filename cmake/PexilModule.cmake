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
# makes a program that carries the module code too (hosts use holders).
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
endfunction()
