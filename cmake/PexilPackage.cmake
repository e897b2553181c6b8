# The Debian package pexil-dev (scripts/package runs CPack on a build made for
# it): what `cmake --install` puts under /usr, plus the files Debian asks of
# every package.
include_guard(GLOBAL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pexil-dev)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Pexil developers")
set(CPACK_PACKAGE_CONTACT "The Pexil developers <pexil-dev@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "in-process component framework: factory, SDK and tools")
# The extended description (CPack puts the summary above it).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Pexil builds applications from components that live in dynamically loaded
modules. This package holds what is needed to build hosts and component
modules: the headers, the factory module Brelnor.dll, the platform library,
the module code archive, the CMake package (find_package(Pexil)) with
pexil_add_module, pexil_add_host and pexil_deploy, the pexil command that
inspects hosts, registries, modules and log files, and the guides.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/pexil")
# The libraries' own needs (libc, libstdc++, libgcc) from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cmake (>= 3.20), g++")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The platform library is a shared library in the system's library directory:
# the dynamic linker's cache is refreshed through dpkg's ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)

# Debian's copyright and changelog files, in the package's documentation
# directory (the guides go there as well: PEXIL_INSTALL_DOCDIR).
if(PEXIL_INSTALL_DOCDIR MATCHES "pexil-dev$")
  set(_pexil_changelog ${PROJECT_BINARY_DIR}/debian/changelog)
  string(TIMESTAMP _pexil_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${_pexil_changelog} @ONLY)
  find_program(PEXIL_GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${_pexil_changelog}.gz
    COMMAND ${PEXIL_GZIP} -9nkf ${_pexil_changelog}
    DEPENDS ${_pexil_changelog}
    COMMENT "Compressing the package's changelog" VERBATIM)
  add_custom_target(pexil_changelog ALL DEPENDS ${_pexil_changelog}.gz)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${_pexil_changelog}.gz
    DESTINATION ${PEXIL_INSTALL_DOCDIR})
endif()

include(CPack)
