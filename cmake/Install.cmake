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

# The pkg-config file is written when the files are installed, with the prefix they are
# installed to (`cmake --install --prefix` included), in plain absolute paths: a host takes its
# run path from libdir (-Wl,-rpath,$(pkg-config --variable=libdir ...)), and a path through
# lib/pkgconfig/.. breaks where the development files, lib/pkgconfig with them, are not installed.
install(CODE "
  set(MSC_PC_IN [[${PROJECT_SOURCE_DIR}/cmake/mysearchcriteria.pc.in]])
  set(MSC_PC_OUT [[${PROJECT_BINARY_DIR}/mysearchcriteria.pc]])
  set(MSC_PC_LIBDIR [[${CMAKE_INSTALL_LIBDIR}]])
  set(MSC_PC_INCLUDEDIR [[${CMAKE_INSTALL_INCLUDEDIR}]])
  set(PROJECT_VERSION [[${PROJECT_VERSION}]])
  include([[${PROJECT_SOURCE_DIR}/cmake/WritePkgConfig.cmake]])
")
install(FILES ${PROJECT_BINARY_DIR}/mysearchcriteria.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
