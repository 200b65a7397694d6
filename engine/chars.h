// Character classes of the language, those of the "C" locale whatever the
// process locale is: the lexer, the symbol tables and the tools that explain
// a program all classify characters here.
#pragma once

namespace vexlor {

// Space, tab, line feed, vertical tab, form feed, carriage return.
inline bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// A name starts with a letter or '_' and goes on with letters, digits and '_'.
inline bool IsNameStart(char c) { return IsLetter(c) || c == '_'; }
inline bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }

}  // namespace vexlor
