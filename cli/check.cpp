// vexlor check: splits, registers and compiles a program statement by
// statement with the runner's own walk, then says what each statement
// assigns, which parts have no effect, and where the first failure is.
#include "cli/cli.h"
#include "engine/chars.h"
#include "engine/engine.h"

namespace vexlor::cli {

namespace {

// Engine codes that the compiler records at a token and then overwrites
// with "invalid expression" because the token is left over: naming them
// tells the user what was wrong with that token.
struct TokenHint {
  int32_t kind;
  EngineError code;
};
constexpr TokenHint kTokenHints[] = {
    {TK_UNDEFINED, ERR_UNDEFINED_NAME},
    {TK_INVALID, ERR_INVALID_CHARACTER},
    {TK_BADNUMBER, ERR_BAD_NUMBER},
};

// The statement walk with the slots it binds the variables to.
struct CheckWalk {
  double slots[kSlotCount] = {};
  StatementWalk walk;

  explicit CheckWalk(std::string_view text) : walk(text, slots) {}
  ~CheckWalk() { ClearVariables(); }
};

std::string Quote(std::string_view s);

// Why a name cannot be assigned.
std::string UnassignableReason(std::string_view name) {
  if (name.empty()) return "the left side is empty";
  std::string q = Quote(name);
  switch (ClassifyName(name).kind) {
    case TK_UNARY:
    case TK_LIST:
      return q + " is a function and cannot be assigned";
    case TK_NUMBER:
      return q + " is a constant and cannot be assigned";
  }
  if (name[0] == '\n' || name[0] == '\r')
    return "a line break before the name makes " + q + " no name (only spaces may precede it)";
  if (name[0] == '\t') return "a tab before the name makes " + q + " no name (only spaces may precede it)";
  if (name.size() > kMaxNameLength)
    return "names longer than " + std::to_string(kMaxNameLength) + " characters are not kept";
  if (IsNewVariableName(name))
    return "no room for " + q + ": a program has at most " + std::to_string(kMaxNewVariables) +
           " variables of its own";
  return q + " is not a name (letters, digits and '_', not starting with a digit)";
}

// Offset of part, a view into whole, or whole's end for an empty part that
// TrimField made out of spaces only.
size_t OffsetIn(std::string_view whole, std::string_view part) {
  return part.data() ? static_cast<size_t>(part.data() - whole.data()) : whole.size();
}

// What is left of a field after TrimField's cut, when it is more than spaces.
std::string_view CutOff(std::string_view field, std::string_view kept) {
  std::string_view rest = field.substr(OffsetIn(field, kept) + kept.size());
  return rest.find_first_not_of(' ') == std::string_view::npos ? std::string_view{} : rest;
}

// Length of the name at the start of s.
size_t NameLength(std::string_view s) {
  size_t n = 0;
  while (n < s.size() && IsNameChar(s[n])) ++n;
  return n;
}

// Bytes of the UTF-8 character that starts s (1 for any other byte).
size_t CharacterLength(std::string_view s) {
  size_t n = 1;
  while (n < s.size() && n < 4 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) ++n;
  return n;
}

// What was wrong with the token where a compilation stopped, when the
// engine's last code does not already say it.
std::string TokenHintText(std::string_view token) {
  for (const TokenHint& hint : kTokenHints) {
    if (CurrentToken().kind != hint.kind || LastError() == hint.code) continue;
    std::string text = std::string(" (") + EngineMessage(hint.code);
    size_t shown = hint.kind == TK_UNDEFINED ? NameLength(token)
                   : hint.kind == TK_INVALID ? CharacterLength(token)
                                             : 0;
    if (shown) text.append(" ").append(Quote(token.substr(0, shown)));
    return text.append(")");
  }
  return {};
}

// The compiled statement's listing, or on failure its error and column.
void Compile(const Statement& st, const WalkStep& step, StatementReport& r) {
  if (step.error == ERR_NONE) {
    r.listing = DisassembleProgram();
    return;
  }
  int offset = LastErrorOffset();
  size_t at = OffsetIn(st.text, st.expression) + static_cast<size_t>(offset < 0 ? 0 : offset);
  r.fails = true;
  r.offset = at;
  r.error = EngineMessage(LastError()) + TokenHintText(st.text.substr(at));
}

// Fills the report of a statement that has an '='.
void CheckAssignment(const Statement& st, StatementWalk& walk, StatementReport& r) {
  WalkStep step = walk.Take(st);
  r.newVariable = step.registered;
  if (step.target) r.assigns = st.name;
  else r.notes.push_back("assigns nothing: " + UnassignableReason(st.name));
  size_t eq = st.text.find('=');
  if (std::string_view cut = CutOff(st.text.substr(0, eq), st.name); !cut.empty())
    r.notes.push_back("no effect: " + Quote(cut) + " (a name ends at its first space)");
  if (std::string_view cut = CutOff(st.text.substr(eq + 1), st.expression); !cut.empty())
    r.notes.push_back("no effect: " + Quote(cut) + " (an expression ends at its first space)");
  r.expression = st.expression;
  Compile(st, step, r);
}

// One byte as the report shows it: control bytes escaped.
std::string Visible(char c) {
  static constexpr struct {
    char c;
    const char* text;
  } kEscapes[] = {{'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"}, {'"', "\\\""}, {'\\', "\\\\"}};
  for (const auto& e : kEscapes)
    if (e.c == c) return e.text;
  if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(c));
    return buf;
  }
  return std::string(1, c);
}

std::string VisibleText(std::string_view s) {
  std::string out;
  for (char c : s) out += Visible(c);
  return out;
}

// Characters in UTF-8 text, which is the columns it takes on a terminal once
// visible: continuation bytes take none.
size_t CharacterCount(std::string_view s) {
  size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

std::string Quote(std::string_view s) {
  std::string out(1, '"');
  out += VisibleText(s);
  return out += '"';
}

// The statement with a caret under the column where its problem was found.
std::string CaretLines(const StatementReport& r) {
  std::string shown = VisibleText(r.text);
  std::string before = VisibleText(r.text.substr(0, r.offset));
  return "    " + shown + "\n    " + std::string(CharacterCount(before), ' ') + "^\n";
}

// Reports every statement; false when one of them fails.
bool CheckStatements(std::string_view text, ProgramReport& report) {
  CheckWalk vars(text);
  bool failed = false;
  Statement st;
  for (int n = 1; vars.walk.Split(st); ++n) {
    StatementReport r;
    r.number = n;
    r.text = st.text;
    if (failed) {
      r.ran = false;
    } else if (!st.hasEquals) {
      r.fails = true;
      r.error = st.text.find_first_not_of(' ') == std::string_view::npos
                    ? "empty statement (every statement is name=expression;)"
                    : "no '=' (every statement is name=expression;)";
    } else {
      CheckAssignment(st, vars.walk, r);
    }
    r.column = static_cast<int>(CharacterCount(r.text.substr(0, r.offset))) + 1;
    failed = failed || r.fails;
    report.statements.push_back(std::move(r));
  }
  if (std::string_view tail = text.substr(vars.walk.position()); tail.find_first_not_of(" \t\r\n") != tail.npos)
    report.notes.push_back("no effect: text after the last ';' is never run: " + Quote(tail));
  return !failed;
}

// Names the output channels that no statement assigns.
std::string UnassignedChannels(const ProgramReport& report) {
  std::string names;
  for (int slot : {kSlotRd, kSlotGd, kSlotBd}) {
    const char* channel = kBuiltinNames[slot];
    bool assigned = false;
    for (const StatementReport& r : report.statements) assigned = assigned || r.assigns == channel;
    if (!assigned) names += (names.empty() ? "" : ", ") + std::string(channel);
  }
  return names;
}

}  // namespace

ProgramReport CheckProgram(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  ProgramReport report;
  bool statementsRun = CheckStatements(text, report);
  // The verdict is the runner's own, on the dialog's test pixel.
  float rd, gd, bd;
  report.runs = RunStatements(text, 0.5f, 0.5f, 0.5f, 100, rd, gd, bd);
  if (report.statements.empty())
    report.notes.push_back("the program has no statement (each statement ends with ';')");
  else if (std::string names = UnassignedChannels(report); statementsRun && !names.empty())
    report.notes.push_back(names + " never assigned: such a channel is 0 at every pixel");
  return report;
}

std::string FormatReport(const ProgramReport& report, bool listing) {
  std::string out;
  for (const StatementReport& r : report.statements) {
    out += "statement " + std::to_string(r.number) + ": " + VisibleText(r.text) + "\n";
    if (!r.ran) {
      out += "  not run (an earlier statement fails)\n";
      continue;
    }
    if (!r.assigns.empty() && !r.fails)
      out += "  assigns " + r.assigns + (r.newVariable ? " (a new variable)" : "") + " = " +
             VisibleText(r.expression) + "\n";
    for (const std::string& note : r.notes) out += "  " + note + "\n";
    if (r.fails)
      out += "  error at column " + std::to_string(r.column) + ": " + r.error + "\n" + CaretLines(r);
    if (listing && !r.fails) {
      out += "  program:\n";
      for (size_t at = 0; at < r.listing.size();) {
        size_t end = r.listing.find('\n', at);
        out += "    " + r.listing.substr(at, end - at) + "\n";
        at = end == std::string::npos ? r.listing.size() : end + 1;
      }
    }
  }
  for (const std::string& note : report.notes) out += note + "\n";
  out += report.runs ? "the program runs\n"
                     : "the program does not run: the filter makes every pixel black\n";
  return out;
}

int RunCheck(Args& args) {
  std::string program = TakeProgram(args);
  ExpectPositional(args, 0, "one PROGRAM");
  CheckProgramLength(program);
  ProgramReport report = CheckProgram(program);
  std::fputs(FormatReport(report, args.Has("--listing")).c_str(), stdout);
  return report.runs ? 0 : kExitData;
}

}  // namespace vexlor::cli
