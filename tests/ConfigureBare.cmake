# Configures the project as on a machine with nothing but a compiler and CMake: every package
# that a part beyond the library needs is hidden from CMake. The configure must succeed, build
# the library, and say in one line per part what it skips and which Debian packages that part
# needs; with MSC_REQUIRE_ALL=ON the first such part must fail the configure instead.
# Run by ctest as
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... -DC_COMPILER=... -DCXX_COMPILER=...
#         -DCXX_COMPILER_ID=... -P ConfigureBare.cmake
set(hidden
  -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON -DCMAKE_DISABLE_FIND_PACKAGE_SQLite3=ON
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON)
# Every part asked for, the ones that are off by default too.
set(configure ${CMAKE_COMMAND} -S ${SOURCE_DIR} -G ${GENERATOR} -DCMAKE_C_COMPILER=${C_COMPILER}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} ${hidden} -DMSC_BUILD_BENCHMARKS=ON -DMSC_BUILD_FUZZERS=ON)

set(expected "")
if(NOT CXX_COMPILER_ID STREQUAL "Clang")
  string(APPEND expected "-- Skipping the fuzz targets (missing Clang): apt-get install clang libclang-rt-14-dev, "
                         "then configure with -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++\n")
endif()
string(APPEND expected
  "-- Skipping the command-line host (missing PkgConfig, SQLite3, LIBPQ, LIBMARIADB): "
  "apt-get install pkg-config libsqlite3-dev libpq-dev libmariadb-dev\n"
  "-- Skipping the test suite (missing GTest): apt-get install libgtest-dev\n"
  "-- Skipping the benchmarks (missing benchmark): apt-get install libbenchmark-dev\n")

file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${configure} -B ${WORK_DIR}/bare RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX MATCHALL "-- Skipping [^\n]*\n" skipped "${out}")
string(JOIN "" skipped ${skipped})
if(NOT rc EQUAL 0 OR NOT skipped STREQUAL expected)
  message(FATAL_ERROR "configure without the optional packages: exit ${rc}\n"
                      "skip lines:\n${skipped}expected:\n${expected}\noutput:\n${out}\n${err}")
endif()
# The library, and no program: every program belongs to a part that was skipped.
if(GENERATOR STREQUAL "Ninja")
  file(READ ${WORK_DIR}/bare/build.ninja ninja)
  if(NOT ninja MATCHES "build libmysearchcriteria\\.so\\.[0-9.]+:" OR ninja MATCHES "_EXECUTABLE_LINKER_")
    message(FATAL_ERROR "the bare configure must build the library and no program")
  endif()
endif()

# CI's setting: a part that would be skipped fails the configure, naming the packages.
string(REGEX MATCH "-- Skipping ([^\n]*)" first "${expected}")
execute_process(COMMAND ${configure} -B ${WORK_DIR}/required -DMSC_REQUIRE_ALL=ON
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX REPLACE "[ \n]+" " " err_flat "${err}")
string(FIND "${err_flat}" "MSC_REQUIRE_ALL is on and cannot build ${CMAKE_MATCH_1}" at)
if(rc EQUAL 0 OR at EQUAL -1)
  message(FATAL_ERROR "MSC_REQUIRE_ALL=ON without the optional packages: exit ${rc}, expected the error\n"
                      "MSC_REQUIRE_ALL is on and cannot build ${CMAKE_MATCH_1}\nstderr:\n${err}")
endif()
