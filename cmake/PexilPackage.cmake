# What scripts/package makes with CPack from a build made for it:
# - on Linux (PEXIL_DEBIAN_PACKAGE), the Debian packages libpexil-platform0,
#   pexil-dev and pexil-tools, one per install component;
# - with MinGW, the SDK tree as one zip, pexil-<version>-win64.zip or
#   pexil-<version>-win32.zip.
include_guard(GLOBAL)

set(CPACK_PACKAGE_NAME pexil)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Pexil developers")
set(PEXIL_MAINTAINER "Pexil maintainers <maintainers@pexil.invalid>")
set(CPACK_PACKAGE_CONTACT "${PEXIL_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

# The changelog's newest version is the one being built.
include(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.cmake)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
pexil_read_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md _pexil_releases)
list(GET _pexil_releases 0 _pexil_newest)
if(NOT _pexil_newest MATCHES "^${PROJECT_VERSION} ")
  message(FATAL_ERROR "CHANGELOG.md's newest section is ${_pexil_newest}; the project is "
    "${PROJECT_VERSION}: add a section for it")
endif()

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME pexil-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME pexil-${PROJECT_VERSION}-win32)
  endif()
  include(CPack)
  return()
endif()
if(NOT PEXIL_DEBIAN_PACKAGE)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE pexil)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The dev and tools packages depend on the runtime package of the same version.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_STRIP_FILES ON)

# Named after the library's SONAME, libpexil_platform.so.0, as Debian names a
# shared library's package. It also holds the factory, Brelnor.dll, in
# /usr/lib/<triplet>/pexil.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libpexil-platform0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME pexil-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS "g++, cmake (>= 3.20) | pkgconf")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME pexil-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)

set(_pexil_about
"Pexil is an in-process component framework for C++ applications on Linux
and Windows. A host program creates components by numeric ID through a
factory, which loads the plug-in module (a shared library) that a registry
file names, hands components their log settings and one shared log file, and
unloads a module again once its last component is released.")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
"Pexil C++ plug-in component framework - runtime library
${_pexil_about}

This package holds what programs built with Pexil run with: the platform
library libpexil_platform.so.0, one per process and shared by all its
modules, and the factory module Brelnor.dll.")
set(CPACK_DEBIAN_DEV_DESCRIPTION
"Pexil C++ plug-in component framework - development files
${_pexil_about}

This package holds what hosts and component modules are built with: the C++
headers, the module code every module links, the CMake package
(find_package(Pexil) with pexil_add_module, pexil_add_host and pexil_deploy),
pkg-config files for projects built with Make or Meson, and the guides with a
complete example.")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
"Pexil C++ plug-in component framework - pexil command
${_pexil_about}

This package holds the pexil command, which shows what the framework would do
with a host's files: why a component cannot be created, registry files as the
framework reads them (with a lint), the search for the factory, a module's
entry points and components, single ini values and the log files.")

# Dependencies from dpkg-shlibdeps. The runtime package's are worked out in
# debian/project_config.cmake: letting CPack do it would also add ldconfig
# calls to its maintainer scripts, where Debian wants the ldconfig trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)
# Where dpkg-shlibdeps finds libpexil_platform.so.0, which no installed
# package provides while these are being made.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/bin)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/project_config.cmake.in
  ${PROJECT_BINARY_DIR}/debian/project_config.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/debian/project_config.cmake)

# The runtime package: the shlibs file (what a package built against the
# library depends on) and the ldconfig trigger.
get_target_property(_pexil_soversion pexil_platform SOVERSION)
file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs
  "libpexil_platform ${_pexil_soversion} libpexil-platform0 (>= ${PROJECT_VERSION})\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/debian/shlibs ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)

# Each package's copyright and changelog, in its documentation directory.
set(_pexil_changelog ${PROJECT_BINARY_DIR}/debian/changelog)
pexil_write_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${_pexil_changelog}
  "${PEXIL_MAINTAINER}")
find_program(PEXIL_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${_pexil_changelog}.gz
  COMMAND ${PEXIL_GZIP} -9nkf ${_pexil_changelog}
  DEPENDS ${_pexil_changelog}
  COMMENT "Compressing the packages' changelog" VERBATIM)
add_custom_target(pexil_changelog ALL DEPENDS ${_pexil_changelog}.gz)
foreach(_pexil_component runtime dev tools)
  string(TOUPPER ${_pexil_component} _pexil_upper)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${_pexil_changelog}.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${_pexil_upper}_PACKAGE_NAME}
    COMPONENT ${_pexil_component})
endforeach()

include(CPack)
