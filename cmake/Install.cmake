# Install rules: the library (libmysearchcriteria.so.1, with libmysearchcriteria.so beside it, the
# name hosts link and load), both public headers, a pkg-config file and a CMake package that
# gives find_package(mysearchcriteria) the target mysearchcriteria::mysearchcriteria.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS mysearchcriteria EXPORT mysearchcriteriaTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/include/mysearchcriteria.h
  ${PROJECT_SOURCE_DIR}/include/mysearchcriteria.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(MSC_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mysearchcriteria)
install(EXPORT mysearchcriteriaTargets
  NAMESPACE mysearchcriteria::
  FILE mysearchcriteriaTargets.cmake
  DESTINATION ${MSC_CMAKE_DIR})
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/mysearchcriteriaConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mysearchcriteriaConfig.cmake
  INSTALL_DESTINATION ${MSC_CMAKE_DIR})
# Same major version: a host built against 1.x keeps working with any later 1.y.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/mysearchcriteriaConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/mysearchcriteriaConfig.cmake
  ${PROJECT_BINARY_DIR}/mysearchcriteriaConfigVersion.cmake
  DESTINATION ${MSC_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place (${pcfiledir}), so that the installed
# tree still describes itself after `cmake --install --prefix` or DESTDIR moved it.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(MSC_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH MSC_PC_UP "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  string(REGEX REPLACE "/$" "" MSC_PC_UP "${MSC_PC_UP}")
  set(MSC_PC_PREFIX "\${pcfiledir}/${MSC_PC_UP}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(MSC_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(MSC_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/mysearchcriteria.pc.in
  ${PROJECT_BINARY_DIR}/mysearchcriteria.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mysearchcriteria.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
