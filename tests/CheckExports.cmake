# Compares the dynamic symbols that the library defines with the list of exported names, checks
# that the version script exports the same names, and that the host's myatoll stays undefined.
# Run as: cmake -DNM=<nm> -DLIBRARY=<.so> -DEXPECTED=<list> -DVERSION_SCRIPT=<map> -P CheckExports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE defined RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${defined}")
set(names "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; a version node (type A) would be a name of its own, so keep it.
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] ([^ @]+)")
    list(APPEND names "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT names)

file(STRINGS ${EXPECTED} expected REGEX "^[A-Za-z_]")
list(SORT expected)
if(NOT names STREQUAL expected)
  string(REPLACE ";" "\n  " got "${names}")
  string(REPLACE ";" "\n  " want "${expected}")
  message(FATAL_ERROR "Exported symbols differ.\nGot:\n  ${got}\nExpected:\n  ${want}")
endif()

# The names between "global:" and "local:" of the version script.
file(READ ${VERSION_SCRIPT} script)
string(REGEX REPLACE ".*global:(.*)local:.*" "\\1" script "${script}")
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" scripted "${script}")
list(SORT scripted)
if(NOT scripted STREQUAL expected)
  message(FATAL_ERROR "The version script's names differ from ${EXPECTED}: ${scripted}")
endif()

execute_process(COMMAND ${NM} -D --undefined-only ${LIBRARY} OUTPUT_VARIABLE undefined)
if(NOT undefined MATCHES "(^|\n)[ \t]*U myatoll(\n|$)")
  message(FATAL_ERROR "myatoll must stay an undefined symbol of the library, left to the host")
endif()
