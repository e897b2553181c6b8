# Installation and the CMake package: `cmake --install` puts the public
# headers, the platform library, the module code archive, Brelnor.dll, the
# pexil command and the package files (find_package(Pexil)) under the prefix.
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(PEXIL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Pexil)

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
install(TARGETS ${_pexil_libraries}
  EXPORT PexilTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Brelnor.dll is a module: it lies beside the programs, as on Windows.
install(TARGETS Brelnor
  EXPORT PexilTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/pexil DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/PexilConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/PexilConfig.cmake
  INSTALL_DESTINATION ${PEXIL_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/PexilConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(EXPORT PexilTargets NAMESPACE Pexil:: DESTINATION ${PEXIL_INSTALL_CMAKEDIR})
install(FILES
    ${PROJECT_BINARY_DIR}/package/PexilConfig.cmake
    ${PROJECT_BINARY_DIR}/package/PexilConfigVersion.cmake
    ${PEXIL_MODULE_EXPORTS_DEF}
    ${PEXIL_MODULE_EXPORTS_MAP}
    ${CMAKE_CURRENT_LIST_DIR}/PexilModule.cmake
  DESTINATION ${PEXIL_INSTALL_CMAKEDIR})
