# Turns the library's Kel files into a C++ source that holds their texts.
# Run as a script at build time:
#   cmake -DMANIFEST=library/manifest.txt -DSOURCE_DIR=library -DOUTPUT=out.cpp -P embed.cmake
# The manifest names one file a line, in the order the files are evaluated at
# start; blank lines and lines starting with "#" are skipped.

file(STRINGS "${MANIFEST}" lines)
set(arrays "")
set(entries "")
set(index 0)
foreach(line IN LISTS lines)
  string(STRIP "${line}" name)
  if(name STREQUAL "" OR name MATCHES "^#")
    continue()
  endif()
  if(NOT EXISTS "${SOURCE_DIR}/${name}")
    message(FATAL_ERROR "library manifest names a missing file: ${name}")
  endif()
  file(READ "${SOURCE_DIR}/${name}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "static const unsigned char text_${index}[] = {${bytes}0};\n")
  string(APPEND entries "    {\"${name}\", text_${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()

set(content "// Generated from library/manifest.txt by library/embed.cmake; do not edit.
#include \"library/embed.hpp\"

namespace kel {

${arrays}
const LibraryText library_texts[] = {
${entries}    {nullptr, nullptr, 0},
};
const uint32_t library_text_count = ${index};

} // namespace kel
")
# Rewritten only when it changed, so an unchanged library rebuilds nothing.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${content}")
