# Installs the library into a fresh prefix, runs the installed command-line host (when the build
# has it), and builds and runs two hosts against the prefix, the way adopters do:
# examples/c-host with its Makefile through pkg-config, examples/cxx-host through find_package.
# Nothing sets LD_LIBRARY_PATH: every program must find the library by itself. Run by ctest as
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DLIBDIR=... -DC_COMPILER=...
#         -DCXX_COMPILER=... -DGENERATOR=... [-DCLI=bin/mysearchcriteria] [-DEXTRA_FLAGS=...]
#         -P ConsumeInstalled.cmake
foreach(var BUILD_DIR SOURCE_DIR WORK_DIR LIBDIR C_COMPILER CXX_COMPILER GENERATOR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ConsumeInstalled.cmake needs -D${var}=...")
  endif()
endforeach()

set(prefix ${WORK_DIR}/prefix)
set(libdir ${prefix}/${LIBDIR})
set(libdir_name ${LIBDIR})
set(includedir_name include)

# Runs a command; fails unless it exits with 'rc' and prints exactly 'out' and 'err'.
function(expect_run rc out err)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE got_rc OUTPUT_VARIABLE got_out ERROR_VARIABLE got_err)
  if(NOT "${got_rc}" STREQUAL "${rc}" OR NOT "${got_out}" STREQUAL "${out}" OR NOT "${got_err}" STREQUAL "${err}")
    message(FATAL_ERROR "${ARGN}\nexit ${got_rc}, expected ${rc}\n"
                        "stdout:\n[${got_out}]\nexpected:\n[${out}]\n"
                        "stderr:\n[${got_err}]\nexpected:\n[${err}]")
  endif()
endfunction()

# Runs a build step, failing with its output when it fails.
function(must_run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nfailed (${rc}):\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
must_run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The library is the file of its whole version, the loader's name of its major version links to
# it, and the name that hosts link and load to that.
file(GLOB installed_libs RELATIVE ${libdir} ${libdir}/libmysearchcriteria*)
file(READ_SYMLINK ${libdir}/libmysearchcriteria.so link_name)
file(READ_SYMLINK ${libdir}/libmysearchcriteria.so.1 soname_target)
if(NOT installed_libs STREQUAL "libmysearchcriteria.so;libmysearchcriteria.so.1;libmysearchcriteria.so.${VERSION}"
   OR NOT link_name STREQUAL "libmysearchcriteria.so.1" OR NOT soname_target STREQUAL "libmysearchcriteria.so.${VERSION}")
  message(FATAL_ERROR "installed library files: ${installed_libs}")
endif()
foreach(file include/mysearchcriteria.h include/mysearchcriteria.hpp
             ${LIBDIR}/pkgconfig/mysearchcriteria.pc
             ${LIBDIR}/cmake/mysearchcriteria/mysearchcriteriaConfig.cmake
             ${LIBDIR}/cmake/mysearchcriteria/mysearchcriteriaConfigVersion.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# The installed command-line host, run from elsewhere: its run path finds the installed library.
if(CLI)
  set(cli ${prefix}/${CLI})
  expect_run(0 " o.genre  =  'Jazz'  AND  o.own_id  IS  NOT NULL \n" ""
    ${cli} sql --prefix o. [[upnp:genre = "Jazz" and @refID exists false]])
  expect_run(0 "parsed:\n--->P:@id\nO:=\n--->V:1021\nrewritten:\n--->P:@id\nO:=\n--->V:1021\n" ""
    ${cli} tree [[@id = "A0$128$129$66912385"]])
  expect_run(1 "" "mysearchcriteria: cannot parse the criteria: unexpected text after the expression at byte 1\n  **\n   ^\n"
    ${cli} sql "**")
endif()

# pkg-config gives the folders as plain paths: a run path taken from libdir must not pass through
# lib/pkgconfig/.., which is gone where only the run-time files are installed.
foreach(variable libdir includedir)
  expect_run(0 "${prefix}/${${variable}_name}\n" ""
    ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${libdir}/pkgconfig pkg-config --variable=${variable} mysearchcriteria)
endforeach()

# The C host, built by its own Makefile with the flags that pkg-config gives; the Makefile
# writes the library's folder into it as its run path, which must hold without the development
# files.
file(COPY ${SOURCE_DIR}/examples/c-host/main.c ${SOURCE_DIR}/examples/c-host/Makefile
     DESTINATION ${WORK_DIR}/c-host)
must_run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${libdir}/pkgconfig
         make -C ${WORK_DIR}/c-host CC=${C_COMPILER}
         "CFLAGS=-O2 -Wall -Wextra -Werror ${EXTRA_FLAGS}"
         "LDFLAGS=${EXTRA_FLAGS}")
file(REMOVE_RECURSE ${libdir}/pkgconfig)
set(c_host ${WORK_DIR}/c-host/c-host)
expect_run(0
  "class: object.item.audioItem\nproperties: upnp:class dc:title upnp:actor\nSELECT o.id FROM objects o WHERE o.class  LIKE  '%object.item.audioItem%'  AND  o.title  LIKE  '%love%'  AND  '1'  =  '1' \n"
  ""
  ${c_host} [[upnp:class derivedfrom "object.item.audioItem" and dc:title contains "love" and upnp:actor = "x"]])
expect_run(0
  "class: (any)\nproperties: @refID dc:creator\nSELECT o.id FROM objects o WHERE o.own_media  IS  NOT NULL  AND  o.creator  =  'O''Brien' \n"
  ""
  ${c_host} [[@refID exists false and dc:creator = "O'Brien"]])
expect_run(0
  "class: (any)\nproperties: @refID\nSELECT o.id FROM objects o WHERE '1'  =  '0' \n"
  ""
  ${c_host} "@refID exists true" "A0$128$129")
expect_run(0 "SELECT o.id FROM objects o\n" "" ${c_host} "*")
expect_run(1 "" "c-host: cannot parse: dc:title =\n" ${c_host} "dc:title =")
expect_run(1 "class: (any)\nproperties: dc:title\n" "c-host: cannot search: an operator without its operand\n" ${c_host} [[dc:title = "x" and]])

# The C++ host, configured against the prefix alone.
must_run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/cxx-host -B ${WORK_DIR}/cxx-host-build
         -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
         "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Werror ${EXTRA_FLAGS}"
         "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}")
must_run(${CMAKE_COMMAND} --build ${WORK_DIR}/cxx-host-build)
set(cxx_host ${WORK_DIR}/cxx-host-build/cxx-host)
expect_run(0
  "--->--->P:upnp:genre\n--->O:=\n--->--->V:Jazz\nO:or\n--->--->P:upnp:album\n--->O:=\n--->--->V:Blue\nclass: (any)\nproperties: 8 7\nas parsed: genre  =  'Jazz'  OR  (null)  =  'Blue' \nsupported: o.genre  =  'Jazz'  OR  '1'  =  '0' \n"
  ""
  ${cxx_host} [[upnp:genre = "Jazz" or upnp:album = "Blue"]])
expect_run(0
  "--->P:@id\nO:=\n--->V:2\nclass: (any)\nproperties: 10\nas parsed: (null)  =  '2' \nsupported: '1'  =  '1' \n"
  ""
  ${cxx_host} [[@id = "A0$1$131073"]])
expect_run(1 "" "cxx-host: error 3 at byte 9\ndc:title xyz \"a\"\n         ^\n"
  ${cxx_host} [[dc:title xyz "a"]])
expect_run(1 "->()\n--->NULL\n<-()\nclass: (any)\nproperties:\n" "cxx-host: cannot search: empty parentheses\n"
  ${cxx_host} "()")
