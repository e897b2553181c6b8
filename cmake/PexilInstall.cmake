# Installation and the CMake package: `cmake --install` puts the public
# headers, the platform library, the module code archive, Brelnor.dll, the
# pexil command and its manual page, the guides, the licence and the package
# files (find_package(Pexil) and pkg-config) under the prefix.
#
# Each file belongs to one of three components, the Debian packages
# (cmake/PexilPackage.cmake): runtime (what a host runs with: the platform
# library under its versioned name and its SONAME, Brelnor.dll), dev (what a
# host or module is built with) and tools (the pexil command). A plain
# `cmake --install` installs all three.
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

option(PEXIL_DEBIAN_PACKAGE "Install for the Debian packages (scripts/package)" OFF)
set(PEXIL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Pexil)
set(PEXIL_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/pexil
  CACHE STRING "Where the guides are installed, below the prefix")
# The factory is a module, not a program: on Windows it lies beside the
# programs, elsewhere in a directory of its own (pexil_deploy copies it beside
# each host).
if(WIN32)
  set(PEXIL_INSTALL_FACTORYDIR ${CMAKE_INSTALL_BINDIR})
else()
  set(PEXIL_INSTALL_FACTORYDIR ${CMAKE_INSTALL_LIBDIR}/pexil)
endif()

# The module code as one archive: what pexil_module_objects and pexil_support
# give every module here. A consumer links it whole (nothing in a module calls
# the exports or the process-attach code, so a plain link would drop them).
add_library(pexil_module STATIC
  $<TARGET_OBJECTS:pexil_module_objects>
  $<TARGET_OBJECTS:pexil_support>)
set_target_properties(pexil_module PROPERTIES LINKER_LANGUAGE CXX EXPORT_NAME module)
target_link_libraries(pexil_module INTERFACE pexil_platform)
target_compile_features(pexil_module INTERFACE cxx_std_17)

set_target_properties(pexil_platform PROPERTIES EXPORT_NAME platform)
set(_pexil_libraries pexil_platform pexil_module)
if(WIN32)
  # The static platform library names the build options as a link-only need.
  set_target_properties(pexil_build_options PROPERTIES EXPORT_NAME build_options)
  list(APPEND _pexil_libraries pexil_build_options)
endif()
# The shared platform library is runtime, its unversioned link (what the
# linker finds for -lpexil_platform) dev; archives are dev.
install(TARGETS ${_pexil_libraries}
  EXPORT PexilTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS Brelnor
  EXPORT PexilTargets
  RUNTIME DESTINATION ${PEXIL_INSTALL_FACTORYDIR} COMPONENT runtime
  LIBRARY DESTINATION ${PEXIL_INSTALL_FACTORYDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/pexil DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT dev)

# MinGW: the compiler's thread model, which a consumer's compiler must share
# (the libraries' std::mutex needs the posix one); PexilConfig.cmake checks it.
set(PEXIL_THREAD_MODEL "")
set(PEXIL_TOOLCHAIN_FILE "")
if(MINGW)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -v OUTPUT_QUIET ERROR_VARIABLE _pexil_compiler_says)
  if(_pexil_compiler_says MATCHES "Thread model: ([a-z0-9]+)")
    set(PEXIL_THREAD_MODEL ${CMAKE_MATCH_1})
  endif()
  # The toolchain file of this width, for consumers to use as it is.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(PEXIL_TOOLCHAIN_FILE mingw-x86_64.cmake)
  else()
    set(PEXIL_TOOLCHAIN_FILE mingw-i686.cmake)
  endif()
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/toolchains/${PEXIL_TOOLCHAIN_FILE}
    DESTINATION ${PEXIL_INSTALL_CMAKEDIR}/toolchains)
endif()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/PexilConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/PexilConfig.cmake
  INSTALL_DESTINATION ${PEXIL_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/PexilConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(EXPORT PexilTargets NAMESPACE Pexil:: DESTINATION ${PEXIL_INSTALL_CMAKEDIR}
  COMPONENT dev)
install(FILES
    ${PROJECT_BINARY_DIR}/package/PexilConfig.cmake
    ${PROJECT_BINARY_DIR}/package/PexilConfigVersion.cmake
    ${PEXIL_MODULE_EXPORTS_DEF}
    ${PEXIL_MODULE_EXPORTS_MAP}
    ${CMAKE_CURRENT_LIST_DIR}/PexilModule.cmake
  DESTINATION ${PEXIL_INSTALL_CMAKEDIR}
  COMPONENT dev)

# pkg-config files for projects built without CMake (Make, Meson): pexil.pc
# for hosts, pexil-module.pc for component modules. Written at install time,
# so that they name the prefix actually installed to.
if(NOT WIN32)
  get_target_property(_pexil_soversion pexil_platform SOVERSION)
  set(PEXIL_PLATFORM_SONAME libpexil_platform.so.${_pexil_soversion})
  set(prefix "@prefix@")
  foreach(_pexil_pc pexil pexil-module)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/${_pexil_pc}.pc.in
      ${PROJECT_BINARY_DIR}/pkgconfig/${_pexil_pc}.pc.in @ONLY)
    install(CODE "
      set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
      configure_file(\"${PROJECT_BINARY_DIR}/pkgconfig/${_pexil_pc}.pc.in\"
        \"${PROJECT_BINARY_DIR}/pkgconfig/${_pexil_pc}.pc\" @ONLY)"
      COMPONENT dev)
    install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${_pexil_pc}.pc
      DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
  endforeach()
  unset(prefix)
endif()

# The guides, the README, the changelog and the example project the guides
# build. A Debian package carries the licence in its copyright file instead.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${PEXIL_INSTALL_DOCDIR} COMPONENT dev)
if(NOT PEXIL_DEBIAN_PACKAGE)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${PEXIL_INSTALL_DOCDIR} COMPONENT dev)
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/
  DESTINATION ${PEXIL_INSTALL_DOCDIR}
  COMPONENT dev
  PATTERN "man" EXCLUDE)

# The pexil command's manual page, compressed as manual pages are installed.
if(PEXIL_BUILD_TOOLS AND NOT WIN32)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/pexil.1.in ${PROJECT_BINARY_DIR}/man/pexil.1 @ONLY)
  find_program(PEXIL_GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/pexil.1.gz
    COMMAND ${PEXIL_GZIP} -9nkf ${PROJECT_BINARY_DIR}/man/pexil.1
    DEPENDS ${PROJECT_BINARY_DIR}/man/pexil.1
    COMMENT "Compressing the manual page" VERBATIM)
  add_custom_target(pexil_manual ALL DEPENDS ${PROJECT_BINARY_DIR}/man/pexil.1.gz)
  install(FILES ${PROJECT_BINARY_DIR}/man/pexil.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT tools)
endif()
if(PEXIL_BUILD_TOOLS)
  # A target file of its own, so that the dev package's works without the tools.
  install(EXPORT PexilToolTargets NAMESPACE Pexil:: DESTINATION ${PEXIL_INSTALL_CMAKEDIR}
    COMPONENT tools)
endif()

include(PexilPackage)
