# Writes mysearchcriteria.pc at install time (cmake/Install.cmake): MSC_PC_IN to MSC_PC_OUT, with
# the install prefix and MSC_PC_LIBDIR, MSC_PC_INCLUDEDIR (relative to it, or absolute) as
# normalised absolute paths: no "..", no "//", no trailing "/".
cmake_path(SET MSC_PC_PREFIX NORMALIZE "${CMAKE_INSTALL_PREFIX}")
cmake_path(ABSOLUTE_PATH MSC_PC_PREFIX NORMALIZE)
foreach(dir MSC_PC_PREFIX MSC_PC_LIBDIR MSC_PC_INCLUDEDIR)
  cmake_path(ABSOLUTE_PATH ${dir} BASE_DIRECTORY "${MSC_PC_PREFIX}" NORMALIZE)
  string(REGEX REPLACE "(.)/$" "\\1" ${dir} "${${dir}}")
endforeach()
configure_file("${MSC_PC_IN}" "${MSC_PC_OUT}" @ONLY)
