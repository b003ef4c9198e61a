cmake_policy(SET CMP0054 NEW)
cmake_policy(SET CMP0057 NEW)
# Turns the assembled page files into C++ constants.
# Usage: cmake -DOUT=file.cpp -DNAMES="A;B" -DFILES="a.html;b.html" -P EmbedPages.cmake
string(REPLACE "|" ";" NAMES "${NAMES}")
string(REPLACE "|" ";" FILES "${FILES}")
set(code "// Generated from pages/ by the build. Do not edit.\n#include \"pages/pages.h\"\n\nnamespace plinthos {\n")
# CMake's regular expressions have no counted repetition.
string(REPEAT "'....'," 16 sixteen_bytes)
foreach(name file IN ZIP_LISTS NAMES FILES)
  file(READ ${file} hex HEX)
  string(LENGTH "${hex}" len)
  math(EXPR bytes "${len} / 2")
  # An array of character literals, 16 a line, with a closing NUL: a string literal this long
  # is more than compilers are required to accept.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," hex "${hex}")
  string(REGEX REPLACE "(${sixteen_bytes})" "\\1\n" hex "${hex}")
  string(APPEND code "extern const char ${name}[] = {\n${hex}0};\nextern const std::size_t ${name}_SIZE = ${bytes};\n\n")
endforeach()
string(APPEND code "}  // namespace plinthos\n")
file(WRITE ${OUT}.tmp "${code}")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
