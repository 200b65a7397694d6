// Text rules of the tool: well-formed UTF-8, and words for a POSIX shell.
#include "cli/base/text.h"

#include <cctype>

namespace vexlor::cli {

namespace {

// The well-formed sequences by their first byte: how many continuation
// bytes follow, and the range the first of them must lie in (which rules
// out overlong forms, surrogates and values above U+10FFFF).
struct Utf8Lead {
  unsigned char first, last;  // the lead bytes this row covers
  int continuations;
  unsigned char low, high;    // the range of the byte after the lead
};
constexpr Utf8Lead kUtf8Leads[] = {
    {0x00, 0x7F, 0, 0, 0},       {0xC2, 0xDF, 1, 0x80, 0xBF}, {0xE0, 0xE0, 2, 0xA0, 0xBF},
    {0xE1, 0xEC, 2, 0x80, 0xBF}, {0xED, 0xED, 2, 0x80, 0x9F}, {0xEE, 0xEF, 2, 0x80, 0xBF},
    {0xF0, 0xF0, 3, 0x90, 0xBF}, {0xF1, 0xF3, 3, 0x80, 0xBF}, {0xF4, 0xF4, 3, 0x80, 0x8F},
};

// Characters a shell takes literally in a word.
bool IsShellSafe(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) ||
         std::string_view("_./,:=+@%-").find(c) != std::string_view::npos;
}

}  // namespace

size_t Utf8ErrorOffset(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    auto lead = static_cast<unsigned char>(text[at]);
    const Utf8Lead* row = nullptr;
    for (const Utf8Lead& r : kUtf8Leads)
      if (lead >= r.first && lead <= r.last) row = &r;
    if (!row) return at;
    size_t n = static_cast<size_t>(row->continuations);
    for (size_t i = 1; i <= n; ++i) {
      if (at + i >= text.size()) return at;
      auto c = static_cast<unsigned char>(text[at + i]);
      if (i == 1 ? c < row->low || c > row->high : (c & 0xC0) != 0x80) return at;
    }
    at += n + 1;
  }
  return std::string_view::npos;
}

std::string ShellWord(const std::string& text) {
  bool safe = !text.empty();
  for (char c : text) safe = safe && IsShellSafe(c);
  if (safe) return text;
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace vexlor::cli
