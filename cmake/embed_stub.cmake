# Writes the stub's bytes as a C++ array, for the host tool to carry:
#   cmake -DSTUB=mavusfx.exe -DOUT=embedded_stub_data.cpp -P embed_stub.cmake
file(READ "${STUB}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# Sixteen bytes a line; every line break falls between two digit pairs.
string(REGEX REPLACE "([0-9a-f]{32})" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
file(WRITE "${OUT}.part"
  "// Generated from the stub at build time; see cmake/embed_stub.cmake.\n"
  "#include <stdint.h>\n\n"
  "extern const uint8_t EMBEDDED_STUB_BYTES[];\n"
  "extern const uint32_t EMBEDDED_STUB_SIZE;\n"
  "const uint32_t EMBEDDED_STUB_SIZE = ${size};\n"
  "const uint8_t EMBEDDED_STUB_BYTES[] = {\n${hex}\n};\n")
file(RENAME "${OUT}.part" "${OUT}")
