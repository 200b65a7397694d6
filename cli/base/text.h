// Text rules of the tool: well-formed UTF-8, and words for a POSIX shell.
#pragma once

#include <string>
#include <string_view>

namespace vexlor::cli {

// Offset of the first byte in text that is not part of well-formed UTF-8
// (no overlong forms, surrogates or values above U+10FFFF), or npos when
// all of it is. The page holds UTF-8 text only.
size_t Utf8ErrorOffset(std::string_view text);

// Quotes text for a POSIX shell, within single quotes where it needs them.
std::string ShellWord(const std::string& text);

}  // namespace vexlor::cli
