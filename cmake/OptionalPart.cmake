# The library needs nothing but a C++ compiler; the parts around it (tools, tests, benchmarks,
# fuzzers) need packages of their own. A part whose packages are missing is skipped with one
# configure line that names the Debian packages to install, so that a machine with only a
# compiler still builds the library. MSC_REQUIRE_ALL=ON (what CI sets) makes that line an
# error instead, so that nothing is skipped without anyone noticing.
#
#   msc_optional_part(<switch> "<part>" FOUND <variable>... PACKAGES <debian package>... [HINT <text>])
#
# When the variable <switch> is on and any FOUND variable is false, sets <switch> OFF in the
# caller's scope and prints
#   -- Skipping <part> (missing <variables without _FOUND>): apt-get install <packages><text>
# A part looks its packages up QUIETly first, e.g.
#   find_package(benchmark QUIET)
#   msc_optional_part(MSC_BUILD_BENCHMARKS "the benchmarks" FOUND benchmark_FOUND PACKAGES libbenchmark-dev)
#   if(NOT MSC_BUILD_BENCHMARKS)
#     return()
#   endif()
option(MSC_REQUIRE_ALL "Fail the configure, rather than skip a part, when a part's packages are missing" OFF)

function(msc_optional_part switch part)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "HINT" "FOUND;PACKAGES")
  if(NOT ${switch})
    return()
  endif()
  set(missing "")
  foreach(found IN LISTS arg_FOUND)
    if(NOT ${found})
      string(REGEX REPLACE "_FOUND$" "" name "${found}")
      list(APPEND missing ${name})
    endif()
  endforeach()
  if(NOT missing)
    return()
  endif()
  list(JOIN missing ", " missing)
  list(JOIN arg_PACKAGES " " packages)
  set(line "${part} (missing ${missing}): apt-get install ${packages}${arg_HINT}")
  if(MSC_REQUIRE_ALL)
    message(FATAL_ERROR "MSC_REQUIRE_ALL is on and cannot build ${line}")
  endif()
  message(STATUS "Skipping ${line}")
  set(${switch} OFF PARENT_SCOPE)
endfunction()
