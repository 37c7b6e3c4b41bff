# Writes a C++ source that holds the bytes of a file as a NUL-terminated array, so the tool carries
# its sample library and works from any directory.
#   cmake -DINPUT=data/sample-library.sql -DOUTPUT=SampleLibrary.cpp -DSYMBOL=kSampleLibrarySql -P EmbedFile.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
# Sixteen bytes per line: "0x2d,0x2d,...".
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by EmbedFile.cmake; do not edit.\n"
  "#include <cstddef>\n"
  "namespace {\n"
  "const unsigned char kBytes[] = {\n${bytes}0x00};\n"
  "}  // namespace\n"
  "extern const char *const ${SYMBOL};\n"
  "extern const size_t ${SYMBOL}Size;\n"
  "const char *const ${SYMBOL} = reinterpret_cast<const char *>(kBytes);\n"
  "const size_t ${SYMBOL}Size = ${size};\n")
# Touch the output only when it changed, so an unchanged script rebuilds nothing.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
