# Writes a C++ source holding a file's bytes:
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=NAME -P embed.cmake
# defines `extern const unsigned char NAME[]` and `extern const unsigned int NAME_SIZE`.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n  " bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp
  "// Generated from ${INPUT} by builder/embed.cmake. Do not edit.\n"
  "extern const unsigned char ${SYMBOL}[] = {\n  ${bytes}\n};\n"
  "extern const unsigned int ${SYMBOL}_SIZE = ${size};\n")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
