// Hints for check. Each one is given only where the text makes it certain:
// a call with the wrong number of arguments always fails, and the operator
// spellings below are refused wherever they stand. The text is read
// character by character around the failing place; names are classified by
// the engine's own tables.
#include "explain/hints.h"

#include <algorithm>

#include "engine/chars.h"
#include "engine/engine.h"
#include "pixel/statements.h"

namespace vexlor {

namespace {

// Spellings of other languages at the failing place, and what this one
// writes instead. `before` is how many of the spelling's characters stand
// before the failing place; `replacement` is empty when the fix is no mere
// replacement.
struct Spelling {
  std::string_view text;
  size_t before;
  const char* hint;
  std::string_view replacement;
};
constexpr Spelling kSpellings[] = {
    {"**", 1, "there is no ** operator: a power is written with ^", "^"},
    {"&&", 1, "there is no && operator: & of two comparisons (each 1 or 0) is their 'and'", "&"},
    {"||", 1, "there is no || operator: | of two comparisons (each 1 or 0) is their 'or'", "|"},
    {"<<", 1, "there is no shift operator: x*2^n shifts x left by n bits", ""},
    {">>", 1, "there is no shift operator: floor(x/2^n) shifts x right by n bits", ""},
    {"<>", 1, "'not equal' is written !=", "!="},
    {"=<", 0, "'at most' is written <=", "<="},
    {"=>", 0, "'at least' is written >=", ">="},
};

// Names other languages give to what this one calls otherwise.
struct OtherName {
  std::string_view name;
  const char* hint;
};
constexpr OtherName kOtherNames[] = {
    {"fabs", "this engine's function is abs"},
    {"pow", "a power is written a^b"},
    {"ln", "the natural logarithm is log"},
    {"fmod", "the remainder is written a%b"},
    {"mod", "the remainder is written a%b"},
    {"int", "this engine's function is trunc"},
    {"random", "this engine's function is rand()"},
    {"rnd", "this engine's function is rand()"},
    {"arcsin", "this engine's function is asin"},
    {"arccos", "this engine's function is acos"},
    {"arctan", "this engine's function is atan"},
    {"and", "& of two comparisons (each 1 or 0) is their 'and'"},
    {"or", "| of two comparisons (each 1 or 0) is their 'or'"},
    {"xor", "the exclusive or is written ~"},
    {"frame", "the frame number is fr"},
};

constexpr std::string_view kOperators = "+-*/%^&|~<>=!,";


// Offset of the last character before `at` that is not a blank, or npos.
size_t PreviousChar(std::string_view s, size_t at) {
  while (at > 0)
    if (!IsBlank(s[--at])) return at;
  return std::string_view::npos;
}

// End of the operand that starts at `from`: up to the next operator or
// closing parenthesis outside parentheses.
size_t OperandEnd(std::string_view s, size_t from) {
  int depth = 0;
  size_t i = from;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c == '(') ++depth;
    else if (c == ')' && depth-- == 0) break;
    else if (depth == 0 && i > from && kOperators.find(c) != kOperators.npos) break;
  }
  return i;
}

// Start of the operand that ends just before `to`.
size_t OperandStart(std::string_view s, size_t to) {
  int depth = 0;
  size_t i = to;
  for (; i > 0; --i) {
    char c = s[i - 1];
    if (c == ')') ++depth;
    else if (c == '(' && depth-- == 0) break;
    else if (depth == 0 && kOperators.find(c) != kOperators.npos) break;
  }
  return i;
}

std::string Join(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i)
    out += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  return out;
}

// "NAME takes N arguments, here M" for every call in s with a wrong count.
void ArgumentCountHints(std::string_view s, std::vector<std::string>& hints) {
  for (size_t i = 0; i < s.size(); ++i) {
    bool startsName = IsNameStart(s[i]) &&
                      (i == 0 || (!IsNameChar(s[i - 1]) && s[i - 1] != '.'));
    if (!startsName) continue;
    size_t end = i;
    while (end < s.size() && IsNameChar(s[end])) ++end;
    std::string_view name = s.substr(i, end - i);
    Token t = ClassifyName(name);
    int arity = t.kind == TK_UNARY ? 1 : t.kind == TK_LIST ? t.arity : -1;
    size_t open = end;
    while (open < s.size() && IsBlank(s[open])) ++open;
    i = end - 1;
    if (arity < 0 || open >= s.size() || s[open] != '(') continue;
    int depth = 0, count = 0;
    bool empty = true, closed = false;
    for (size_t k = open + 1; k < s.size() && !closed; ++k) {
      if (s[k] == '(') ++depth;
      else if (s[k] == ')') closed = depth-- == 0;
      else if (s[k] == ',' && depth == 0) ++count;
      if (!closed && !IsBlank(s[k])) empty = false;
    }
    if (!closed) continue;
    int given = empty ? 0 : count + 1;
    if (given == arity) continue;
    std::string want = arity == 0   ? "no arguments"
                       : arity == 1 ? "1 argument"
                                    : std::to_string(arity) + " arguments";
    hints.push_back(std::string(name) + " takes " + want + ", here " +
                    (given == 0 ? std::string("none") : std::to_string(given)));
  }
}

// A sign right after an operator or another sign: the signed operand goes in
// parentheses, or the operators merge.
std::string SignHint(std::string_view s, size_t at, size_t op) {
  char sign = s[at], before = s[op];
  size_t earlier = PreviousChar(s, op);
  bool afterSign = before == '+' || before == '-';
  if (afterSign && earlier != std::string_view::npos &&
      kOperators.find(s[earlier]) != kOperators.npos)
    return {};  // an operator and two signs: no rewrite of one place fixes it
  size_t next = at + 1;
  while (next < s.size() && IsBlank(s[next])) ++next;
  // Two signs in a row stay refused inside parentheses too.
  if (next < s.size() && (s[next] == '+' || s[next] == '-')) return {};
  std::string lead = "a sign cannot follow an operator or another sign: write ";
  if (afterSign && earlier != std::string_view::npos && s[earlier] != '(') {
    // a+-b is a-b, a--b is a+b.
    char merged = (before == '-') != (sign == '-') ? '-' : '+';
    return lead + std::string(s.substr(0, op)) + merged + std::string(s.substr(at + 1));
  }
  size_t end = OperandEnd(s, at + 1);
  if (end == at + 1) return {};
  std::string operand(s.substr(at, end - at));
  std::string out = lead + std::string(s.substr(0, at)) + "(" + operand + ")" +
                    std::string(s.substr(end));
  size_t start = OperandStart(s, op);
  // a*-b is also -b*a, when the sign may lead its group there.
  if (before == '*' && start < op && (start == 0 || s[start - 1] == '('))
    out += " or " + std::string(s.substr(0, start)) + operand + "*" +
           std::string(s.substr(start, op - start)) + std::string(s.substr(end));
  return out;
}

// a^b^c: ^ is taken once in a row.
std::string PowerHint(std::string_view s, size_t at) {
  size_t b = OperandStart(s, at);
  if (b == 0 || s[b - 1] != '^') return {};
  size_t a = OperandStart(s, b - 1);
  size_t end = OperandEnd(s, at + 1);
  if (a == b - 1 || b == at || end == at + 1) return {};
  std::string_view x = s.substr(a, b - 1 - a), y = s.substr(b, at - b),
                   z = s.substr(at + 1, end - at - 1);
  return "^ is taken once in a row: group it, (" + std::string(x) + "^" + std::string(y) + ")^" +
         std::string(z) + " or " + std::string(x) + "^(" + std::string(y) + "^" +
         std::string(z) + ")";
}

// Hints for what stands at the failing place.
void PlaceHints(std::string_view s, size_t at, std::vector<std::string>& hints) {
  if (at >= s.size()) return;
  char c = s[at];
  for (const Spelling& sp : kSpellings) {
    if (at < sp.before || s.substr(at - sp.before, sp.text.size()) != sp.text) continue;
    std::string hint = sp.hint;
    if (!sp.replacement.empty())
      hint += ": write " + std::string(s.substr(0, at - sp.before)) + std::string(sp.replacement) +
              std::string(s.substr(at - sp.before + sp.text.size()));
    hints.push_back(hint);
    return;
  }
  if (c == '!' && s.substr(at, 2) != "!=") {
    hints.push_back("there is no ! operator: not(x) is 1 when x is 0, else 0");
    return;
  }
  if (c == '=' && s.substr(at, 2) != "==") {
    hints.push_back("a comparison is written ==; a single = only assigns, once per statement");
    return;
  }
  size_t op = PreviousChar(s, at);
  if ((c == '+' || c == '-') && op != std::string_view::npos &&
      std::string_view("+-*/%^").find(s[op]) != std::string_view::npos) {
    if (std::string hint = SignHint(s, at, op); !hint.empty()) hints.push_back(hint);
    return;
  }
  if (c == '^') {
    if (std::string hint = PowerHint(s, at); !hint.empty()) hints.push_back(hint);
    return;
  }
  if (IsNameStart(c)) {
    size_t end = at;
    while (end < s.size() && IsNameChar(s[end])) ++end;
    std::string_view name = s.substr(at, end - at);
    if (ClassifyName(name).kind != TK_UNDEFINED) return;
    if (std::string hint = NameHint(name); !hint.empty()) hints.push_back(hint);
  }
}

// Start of the call argument that holds `at`: just after its '(' or ','
// (npos outside every call).
size_t ArgumentStart(std::string_view s, size_t at) {
  int depth = 0;
  for (size_t i = at; i > 0; --i) {
    char c = s[i - 1];
    if (c == ')') ++depth;
    else if (c == '(' && depth-- == 0) return i;
    else if (c == ',' && depth == 0) return i;
  }
  return std::string_view::npos;
}

// Where the argument ending at the ',' or ')' at `at` fails when compiled
// on its own, as an offset in s; npos when `at` ends no argument or the
// argument compiles.
size_t ArgumentFailure(std::string_view s, size_t at) {
  if (at >= s.size() || (s[at] != ',' && s[at] != ')')) return std::string_view::npos;
  size_t start = ArgumentStart(s, at);
  if (start == std::string_view::npos || start >= at) return std::string_view::npos;
  if (CompileExpression(s.substr(start, at - start)) == ERR_NONE) return std::string_view::npos;
  int offset = LastErrorOffset();
  return offset < 0 ? std::string_view::npos : start + static_cast<size_t>(offset);
}

// Whether a and b are one insertion, deletion, replacement or swap of two
// neighbours apart.
bool OneEditApart(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 1 || a == b) return false;
  size_t i = 0;
  while (i < a.size() && a[i] == b[i]) ++i;
  if (a.size() < b.size()) return a.substr(i) == b.substr(i + 1);
  if (a.substr(i + 1) == b.substr(i + 1)) return true;
  return i + 1 < a.size() && a[i] == b[i + 1] && a[i + 1] == b[i] &&
         a.substr(i + 2) == b.substr(i + 2);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::vector<std::string_view> KnownNames() {
  std::vector<std::string_view> names(std::begin(kBuiltinNames), std::end(kBuiltinNames));
  for (int i = 0; i < kUnaryFunctionCount; ++i) names.push_back(kUnaryFunctions[i].name);
  for (int i = 0; i < kListFunctionCount; ++i) names.push_back(kListFunctions[i].name);
  for (int i = 0; i < kConstantCount; ++i) names.push_back(kConstants[i].name);
  return names;
}

}  // namespace

std::vector<std::string> CloseNames(std::string_view name) {
  std::vector<std::string_view> known = KnownNames();
  std::vector<std::string> found;
  for (std::string_view k : known)
    if (k != name && SameIgnoringCase(k, name)) found.emplace_back(k);
  if (!found.empty() || name.size() < 3) return found;
  std::vector<std::string> prefixes;
  for (std::string_view k : known) {
    if (!OneEditApart(k, name)) continue;
    found.emplace_back(k);
    if (name.starts_with(k)) prefixes.emplace_back(k);
  }
  if (!prefixes.empty()) found = prefixes;
  if (found.size() > 3) found.resize(3);
  return found;
}

std::string NameHint(std::string_view name) {
  for (const OtherName& other : kOtherNames)
    if (other.name == name) return other.hint;
  std::vector<std::string> close = CloseNames(name);
  if (close.empty()) return {};
  return "did you mean " + Join(close) + "?" +
         (SameIgnoringCase(close[0], name) ? " (names are case-sensitive)" : "");
}

std::vector<std::string> CompileHints(std::string_view expression, size_t& at) {
  std::vector<std::string> hints;
  PlaceHints(expression, at, hints);
  // Down into the failing argument while no hint is had at the place.
  for (size_t place = at; hints.empty();) {
    size_t inner = ArgumentFailure(expression, place);
    if (inner >= place) break;  // npos too
    PlaceHints(expression, inner, hints);
    if (!hints.empty()) at = inner;
    place = inner;
  }
  ArgumentCountHints(expression, hints);
  return hints;
}

}  // namespace vexlor
