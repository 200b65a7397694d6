// The host's script literal rules, as the round-trip tests need them.
#include "host_script.h"

#include <cctype>
#include <cstdlib>

namespace vexlor::testhost {

namespace {

struct Reader {
  std::string_view s;
  size_t pos = 0;

  bool AtEnd() const { return pos >= s.size(); }
  char Peek() const { return AtEnd() ? '\0' : s[pos]; }
  void SkipBlanks() {
    while (!AtEnd() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
  }
  bool Take(char c) {
    SkipBlanks();
    if (Peek() != c) return false;
    ++pos;
    return true;
  }
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The character a backslash escape stands for, by its letter.
char SimpleEscape(char c) {
  switch (c) {
    case 'a': return '\a';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    default: return c;
  }
}

// A string literal starting at its opening quote.
bool ReadString(Reader& r, std::string& out) {
  if (!r.Take('"')) return false;
  bool ended = false;  // \x00 ends the string early
  while (!r.AtEnd()) {
    char c = r.s[r.pos++];
    if (c == '"') return true;
    if (c == '\n' || c == '\r') return false;
    if (c == '\\') {
      if (r.AtEnd()) return false;
      char e = r.s[r.pos++];
      if (e == 'x') {
        if (r.pos + 2 > r.s.size()) return false;
        int hi = HexDigit(r.s[r.pos]), lo = HexDigit(r.s[r.pos + 1]);
        if (hi < 0 || lo < 0) return false;
        r.pos += 2;
        c = static_cast<char>(hi * 16 + lo);
        if (c == '\0') ended = true;
      } else {
        c = SimpleEscape(e);
      }
    }
    if (!ended) out += c;
  }
  return false;
}

bool ReadInteger(Reader& r, int& out) {
  r.SkipBlanks();
  bool negative = r.Peek() == '-';
  if (negative) ++r.pos;
  int base = 10;
  if (r.s.substr(r.pos, 2) == "0x" || r.s.substr(r.pos, 2) == "0X") {
    base = 16;
    r.pos += 2;
  }
  size_t start = r.pos;
  long long value = 0;
  for (; !r.AtEnd(); ++r.pos) {
    int d = HexDigit(r.s[r.pos]);
    if (d < 0 || d >= base) break;
    value = value * base + d;
  }
  if (r.pos == start) return false;
  out = static_cast<int>(negative ? -value : value);
  return true;
}

}  // namespace

bool ParseScriptCall(std::string_view line, ScriptCall& out) {
  out = ScriptCall{};
  Reader r{line};
  r.SkipBlanks();
  while (!r.AtEnd() && (std::isalnum(static_cast<unsigned char>(r.Peek())) || r.Peek() == '_'))
    out.name += r.s[r.pos++];
  if (out.name.empty() || !r.Take('(')) return false;
  if (!r.Take(')')) {
    do {
      r.SkipBlanks();
      ScriptArg arg{};
      arg.isString = r.Peek() == '"';
      if (arg.isString ? !ReadString(r, arg.text) : !ReadInteger(r, arg.value)) return false;
      out.args.push_back(arg);
    } while (r.Take(','));
    if (!r.Take(')')) return false;
  }
  r.SkipBlanks();
  return r.AtEnd();
}

}  // namespace vexlor::testhost
