// Free-form program text turned into the plug-in's one-line program.
#include "explain/freeform.h"

#include "engine/chars.h"

namespace vexlor {

namespace {

// Characters that go on a name or a number: two of them with only blanks
// between would become one token.
bool IsWordChar(char c) { return IsNameChar(c) || c == '.'; }

// Whether the kept text `before`, followed directly by `next`, joins two
// tokens that blanks kept apart: a name or number running on ("1 2", "a b"),
// a comparison written in two pieces ("< =", "= ="), or a number's exponent
// taking a sign ("2e +3").
bool Joins(std::string_view before, char next) {
  if (before.empty()) return false;
  char last = before.back();
  if (IsWordChar(last) && IsWordChar(next)) return true;
  if (next == '=' && std::string_view("<>=!").find(last) != std::string_view::npos) return true;
  if ((next == '+' || next == '-') && (last == 'e' || last == 'E')) {
    size_t start = before.size();
    while (start > 0 && IsWordChar(before[start - 1])) --start;
    return IsDigit(before[start]) || before[start] == '.';
  }
  return false;
}

// The word (name or number) that ends `text`, or its last character.
std::string_view LastWord(std::string_view text) {
  size_t start = text.size();
  while (start > 0 && IsWordChar(text[start - 1])) --start;
  return start == text.size() ? text.substr(text.size() - 1) : text.substr(start);
}

// The word that starts `text`, or its first character.
std::string_view FirstWord(std::string_view text) {
  size_t end = 0;
  while (end < text.size() && IsWordChar(text[end])) ++end;
  return text.substr(0, end == 0 ? 1 : end);
}

// Characters of UTF-8 text: continuation bytes are no character.
size_t Characters(std::string_view s) {
  size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

}  // namespace

ProgramText FreeFormProgram(std::string_view written) {
  ProgramText out;
  size_t gap = std::string_view::npos;  // first removed byte since the last kept one
  for (size_t i = 0; i < written.size(); ++i) {
    char c = written[i];
    if (c == '#') {
      if (gap == std::string_view::npos) gap = i;
      while (i + 1 < written.size() && written[i + 1] != '\n') ++i;
      continue;
    }
    if (IsBlank(c)) {
      if (gap == std::string_view::npos) gap = i;
      continue;
    }
    if (gap != std::string_view::npos && Joins(out.runs, c) && out.refusal.empty()) {
      out.refusal = "\"" + std::string(LastWord(out.runs)) + "\" and \"" +
                    std::string(FirstWord(written.substr(i))) +
                    "\" would become one token once the blanks between them are removed: "
                    "write an operator between them, or write them together";
      out.refusedAt = gap;
    }
    gap = std::string_view::npos;
    out.runs += c;
    out.origin.push_back(i);
  }
  if (!out.runs.empty() && out.runs.back() != ';') {
    out.runs += ';';
    out.origin.push_back(written.size());
  }
  out.origin.push_back(written.size());
  return out;
}

ProgramText ExactProgram(std::string_view written) {
  ProgramText out;
  out.runs = written;
  for (size_t i = 0; i <= written.size(); ++i) out.origin.push_back(i);
  return out;
}

std::string RefusalLines(std::string_view written, const ProgramText& text) {
  size_t lineStart = written.rfind('\n', text.refusedAt == 0 ? 0 : text.refusedAt - 1);
  lineStart = lineStart == std::string_view::npos || text.refusedAt == 0 ? 0 : lineStart + 1;
  size_t lineEnd = written.find('\n', text.refusedAt);
  std::string line(written.substr(lineStart, lineEnd == std::string_view::npos
                                                 ? std::string_view::npos
                                                 : lineEnd - lineStart));
  for (char& c : line)
    if (IsBlank(c)) c = ' ';
  size_t lineNumber = 1;
  for (size_t i = 0; i < lineStart; ++i) lineNumber += written[i] == '\n';
  size_t column = Characters(written.substr(lineStart, text.refusedAt - lineStart));
  return text.refusal + " (line " + std::to_string(lineNumber) + ", column " +
         std::to_string(column + 1) + ")\n    " + line + "\n    " + std::string(column, ' ') +
         "^\n";
}

size_t WrittenOffset(const ProgramText& text, size_t runsOffset) {
  return text.origin[runsOffset < text.origin.size() ? runsOffset : text.origin.size() - 1];
}

}  // namespace vexlor
