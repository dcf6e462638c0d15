# Writes a C++ source that holds a text file's bytes as a char array:
#   cmake -DIN=file -DOUT=source.cpp -DNAME=kName -P EmbedText.cmake
# Several files: IN and NAME as lists of the same length. The bytes go in as
# numbers, so no text in them can end a literal early.
cmake_minimum_required(VERSION 3.20)
list(LENGTH IN count)
math(EXPR last "${count} - 1")
set(text "// Made at build time by cmake/EmbedText.cmake; do not edit.\n#include <cstddef>\n\nnamespace veldrix {\n")
foreach(i RANGE ${last})
    list(GET IN ${i} file)
    list(GET NAME ${i} name)
    file(READ "${file}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    # Lines of a reasonable length for the compiler's sake.
    string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
    string(APPEND text "extern const char ${name}[] = {\n${bytes}0};\nextern const size_t ${name}Size = ${size};\n")
endforeach()
string(APPEND text "}  // namespace veldrix\n")
file(WRITE "${OUT}.tmp" "${text}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
