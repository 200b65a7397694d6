// Oddities of the language found in an expression's tokens.
#include "explain/quirks.h"

#include <iterator>

#include "engine/chars.h"

namespace vexlor {

namespace {

// One token of an expression, as far as the oddities need it.
struct Piece {
  enum Kind { kName, kNumber, kOther } kind;
  std::string_view text;
};

// Splits an expression into names, numbers (with their exponents) and single
// characters; blanks are skipped.
std::vector<Piece> Pieces(std::string_view s) {
  std::vector<Piece> out;
  for (size_t i = 0; i < s.size();) {
    size_t end = i + 1;
    Piece::Kind kind = Piece::kOther;
    if (IsBlank(s[i])) {
      ++i;
      continue;
    }
    if (IsNameStart(s[i])) {
      kind = Piece::kName;
      while (end < s.size() && IsNameChar(s[end])) ++end;
    } else if (IsDigit(s[i]) || s[i] == '.') {
      kind = Piece::kNumber;
      while (end < s.size() && (IsDigit(s[end]) || s[end] == '.')) ++end;
      if (end < s.size() && (s[end] == 'e' || s[end] == 'E')) {
        ++end;
        if (end < s.size() && (s[end] == '+' || s[end] == '-')) ++end;
        while (end < s.size() && IsDigit(s[end])) ++end;
      }
    }
    out.push_back({kind, s.substr(i, end - i)});
    i = end;
  }
  return out;
}

bool Is(const std::vector<Piece>& p, size_t i, std::string_view text) {
  return i < p.size() && p[i].text == text;
}

// A name that is called: followed by '('.
bool Called(const std::vector<Piece>& p, size_t i, std::string_view name) {
  return p[i].kind == Piece::kName && p[i].text == name && Is(p, i + 1, "(");
}

// The constant e.
bool UsesE(const std::vector<Piece>& p, size_t i) {
  return p[i].kind == Piece::kName && p[i].text == "e" && !Is(p, i + 1, "(");
}
bool UsesMed(const std::vector<Piece>& p, size_t i) { return Called(p, i, "med"); }
bool UsesRound(const std::vector<Piece>& p, size_t i) { return Called(p, i, "round"); }
bool UsesTrunc(const std::vector<Piece>& p, size_t i) { return Called(p, i, "trunc"); }

// A sign that leads its operand (at the start, after an operator, '(' or
// ','), with a power right after that operand: -2^2.
bool SignBeforePower(const std::vector<Piece>& p, size_t i) {
  if (p[i].text != "-") return false;
  bool leads = i == 0 || (p[i - 1].kind == Piece::kOther && p[i - 1].text != ")");
  return leads && i + 2 < p.size() && p[i + 1].kind != Piece::kOther && Is(p, i + 2, "^");
}

// A division whose divisor is not a number other than 0.
bool MayDivideByZero(const std::vector<Piece>& p, size_t i) {
  if (p[i].text != "/") return false;
  if (i + 1 < p.size() && p[i + 1].kind == Piece::kNumber &&
      p[i + 1].text.find_first_of("123456789") < p[i + 1].text.find_first_of("eE"))
    return false;
  return true;
}

// Where each oddity is used, in the order of kQuirkNotes.
constexpr bool (*kQuirkUsed[])(const std::vector<Piece>&, size_t) = {
    UsesE, UsesMed, UsesRound, UsesTrunc, SignBeforePower, MayDivideByZero};
static_assert(std::size(kQuirkUsed) == std::size(kQuirkNotes));

}  // namespace

std::vector<std::string> QuirkNotes(std::string_view expression) {
  std::vector<Piece> pieces = Pieces(expression);
  std::vector<std::string> notes;
  for (size_t q = 0; q < std::size(kQuirkUsed); ++q)
    for (size_t i = 0; i < pieces.size(); ++i)
      if (kQuirkUsed[q](pieces, i)) {
        notes.emplace_back(kQuirkNotes[q]);
        break;
      }
  return notes;
}

}  // namespace vexlor
