// Lexer: splits the text at the engine's cursor into tokens. Character classes
// are engine/chars.h's, and the decimal point is always '.'.
#include <charconv>
#include <cmath>

#include "engine/chars.h"
#include "state.h"

namespace vexlor {

namespace {

// Characters that form a token on their own.
struct SingleRow {
  char c;
  TokenKind kind;
};
constexpr SingleRow kSingles[] = {
    {'+', TK_PLUS},   {'-', TK_MINUS},  {'*', TK_MUL},   {'/', TK_DIV},
    {'%', TK_MOD},    {'^', TK_POW},    {'(', TK_LPAREN}, {',', TK_COMMA},
    {')', TK_RPAREN}, {'&', TK_AND},    {'|', TK_OR},    {'~', TK_XOR},
};

// Characters that form one token alone and another when '=' follows.
struct PairRow {
  char c;
  TokenKind alone, withEquals;
};
constexpr PairRow kPairs[] = {
    {'<', TK_LT, TK_LE},
    {'>', TK_GT, TK_GE},
    {'=', TK_INVALID, TK_EQ},
    {'!', TK_INVALID, TK_NE},
};

struct Cursor {
  const char*& p;
  const char* end;
  char peek(size_t i = 0) const { return p + i < end ? p[i] : '\0'; }
};

// Converts the taken characters of a number, rounding correctly and ignoring
// the process locale on every platform (unlike some C libraries' strtod). A
// value beyond the double range becomes +infinity, one below it 0 or the
// nearest subnormal. At most 100 characters of mantissa cannot leave the
// range, so a negative exponent is what makes an out-of-range value tiny.
double ConvertNumber(const char* s, size_t n) {
  if (n > kMaxNumberLength) n = kMaxNumberLength;
  std::string_view text(s, n);
  double value = 0.0;
  auto [end, ec] = std::from_chars(s, s + n, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range)
    value = text.find("e-") != text.npos || text.find("E-") != text.npos ? 0.0 : HUGE_VAL;
  return value;
}

// Reads a number starting at a digit or '.'; returns false for a lone '.'.
bool LexNumber(Cursor c, Token& t) {
  size_t n = 0;
  bool dot = false;
  for (char ch; (ch = c.peek(n)) != '\0'; ++n) {
    if (ch == '.' && !dot) dot = true;
    else if (!IsDigit(ch)) break;
  }
  if (n == 1 && c.peek() == '.') return false;
  if (c.peek(n) == 'e' || c.peek(n) == 'E') {
    ++n;
    if (c.peek(n) == '+' || c.peek(n) == '-') ++n;
    while (IsDigit(c.peek(n))) ++n;
  }
  g_engine.tokenText = std::string_view(c.p, n);
  t.kind = n > kMaxNumberLength ? TK_BADNUMBER : TK_NUMBER;
  t.value.number = ConvertNumber(c.p, n);
  c.p += n;
  return true;
}

}  // namespace

void LexerStart(std::string_view text) {
  g_engine.textBegin = g_engine.cursor = text.data();
  g_engine.textEnd = text.data() + text.size();
  g_engine.tokenBegin = text.data();
}

TokenKind NextToken() {
  Cursor c{g_engine.cursor, g_engine.textEnd};
  Token& t = g_engine.token;
  t = Token{};
  while (IsBlank(c.peek())) ++c.p;
  g_engine.tokenBegin = c.p;
  g_engine.tokenText = {};
  char ch = c.peek();
  if (ch == '\0') return static_cast<TokenKind>(t.kind = TK_END);
  if ((IsDigit(ch) || ch == '.') && LexNumber(c, t)) return static_cast<TokenKind>(t.kind);
  if (IsNameStart(ch)) {
    size_t n = 1;
    while (IsNameChar(c.peek(n))) ++n;
    g_engine.tokenText = std::string_view(c.p, n);
    c.p += n;
    t = ClassifyName(g_engine.tokenText);
    return static_cast<TokenKind>(t.kind);
  }
  ++c.p;
  t.kind = TK_INVALID;
  for (const SingleRow& row : kSingles)
    if (row.c == ch) t.kind = row.kind;
  for (const PairRow& row : kPairs)
    if (row.c == ch) {
      bool eq = c.peek() == '=';
      t.kind = eq ? row.withEquals : row.alone;
      if (eq) ++c.p;
    }
  return static_cast<TokenKind>(t.kind);
}

}  // namespace vexlor
