# Writes the editor page into a C++ source file as a byte array, so that the
# binary serves it without reading any file. Run as
#   cmake -DIN=editor.html -DOUT=editor_page.cpp -P embed.cmake
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
       "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}"
  "// Made from cli/editor/editor.html by cli/editor/embed.cmake; do not edit.\n"
  "#include <cstddef>\n"
  "namespace vexlor::cli {\n"
  "extern const unsigned char kEditorPage[];\n"
  "extern const size_t kEditorPageSize;\n"
  "const unsigned char kEditorPage[] = {\n${bytes}0};\n"
  "const size_t kEditorPageSize = ${size};\n"
  "}  // namespace vexlor::cli\n")
