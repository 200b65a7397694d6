// vexlor check: splits, registers and compiles a program statement by
// statement with the runner's own walk, then says what each statement
// assigns, which parts have no effect, and where the first failure is.
#include <algorithm>

#include "explain/check.h"
#include "explain/hints.h"
#include "explain/quirks.h"
#include "engine/chars.h"
#include "engine/engine.h"
#include "pixel/pixel.h"

namespace vexlor {

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

constexpr const char* kOneLineFix = "write the program on one line (a space may follow each ';')";

// Why a name cannot be assigned, and how to fix it.
struct Unassignable {
  std::string reason, fix;
};
Unassignable UnassignableReason(std::string_view name) {
  if (name.empty()) return {"the left side is empty", "write name=expression"};
  std::string q = Quote(name);
  switch (ClassifyName(name).kind) {
    case TK_UNARY:
    case TK_LIST:
      return {q + " is a function and cannot be assigned", "give the variable another name"};
    case TK_NUMBER:
      return {q + " is a constant and cannot be assigned", "give the variable another name"};
  }
  if (name[0] == '\n' || name[0] == '\r')
    return {"a line break before the name makes " + q + " no name (only spaces may precede it)",
            kOneLineFix};
  if (name[0] == '\t')
    return {"a tab before the name makes " + q + " no name (only spaces may precede it)",
            "remove the tab"};
  if (name.size() > kMaxNameLength)
    return {"names longer than " + std::to_string(kMaxNameLength) + " characters are not kept", "use a shorter name"};
  if (IsNewVariableName(name))
    return {"no room for " + q + ": a program has at most " + std::to_string(kMaxNewVariables) +
                " variables of its own",
            "reuse one of the program's variables"};
  return {q + " is not a name (letters, digits and '_', not starting with a digit)",
          "rename it"};
}

// Offset of part, a view into whole, or whole's end for an empty part that
// TrimField made out of spaces only.
size_t OffsetIn(std::string_view whole, std::string_view part) {
  return part.data() ? static_cast<size_t>(part.data() - whole.data()) : whole.size();
}

// Adds a note, its fix and where its part is: `part`, a view into `text`
// (an empty one for a note about no one part).
template <typename Report>
void AddNote(Report& r, std::string_view text, std::string_view part, std::string note,
             std::string fix) {
  r.notes.push_back(std::move(note));
  r.fixes.push_back(std::move(fix));
  r.parts.push_back(part.empty() ? NotePart{} : NotePart{OffsetIn(text, part), part.size()});
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
    r.quirks = QuirkNotes(st.expression);
    return;
  }
  int offset = LastErrorOffset();
  size_t place = static_cast<size_t>(offset < 0 ? 0 : offset);
  size_t at = OffsetIn(st.text, st.expression) + place;
  r.fails = true;
  r.error = EngineMessage(LastError()) + TokenHintText(st.text.substr(at));
  // The caret goes where the hints point: inside a failing argument, at the
  // operator they are about rather than at the ',' after it.
  r.hints = CompileHints(st.expression, place);
  r.offset = OffsetIn(st.text, st.expression) + place;
}

// Fills the report of a statement that has an '='.
void CheckAssignment(const Statement& st, StatementWalk& walk, StatementReport& r) {
  WalkStep step = walk.Take(st);
  r.newVariable = step.registered;
  if (step.target) {
    r.assigns = st.name;
  } else {
    Unassignable why = UnassignableReason(st.name);
    AddNote(r, st.text, st.name, "assigns nothing: " + why.reason, why.fix);
  }
  size_t eq = st.text.find('=');
  if (std::string_view cut = CutOff(st.text.substr(0, eq), st.name); !cut.empty())
    AddNote(r, st.text, cut, "no effect: " + Quote(cut) + " (a name ends at its first space)",
            "remove the spaces in the name");
  if (std::string_view cut = CutOff(st.text.substr(eq + 1), st.expression); !cut.empty())
    AddNote(r, st.text, cut,
            "no effect: " + Quote(cut) + " (an expression ends at its first space)",
            "remove the spaces inside the expression");
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

// How to fix text after the last ';': a statement lacks its ';', several
// were separated by ',' instead, or it is no statement at all.
std::string TailFix(std::string_view tail) {
  size_t eq = tail.find('=');
  if (eq == tail.npos) return "remove it";
  if (tail.find(',') != tail.npos && tail.rfind('=') != eq)
    return "separate statements with ';', not ',', and end each with ';'";
  return "end it with ';'";
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
    AddNote(report, text, tail, "no effect: text after the last ';' is never run: " + Quote(tail),
            TailFix(tail));
  return !failed;
}

// The output channels that no statement assigns.
std::vector<std::string> UnassignedChannels(const ProgramReport& report) {
  std::vector<std::string> names;
  for (int slot : {kSlotRd, kSlotGd, kSlotBd}) {
    const char* channel = kBuiltinNames[slot];
    bool assigned = false;
    for (const StatementReport& r : report.statements) assigned = assigned || r.assigns == channel;
    if (!assigned) names.emplace_back(channel);
  }
  return names;
}

std::string CommaList(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

// How to assign the channels: a statement that assigns a new variable named
// like one of them is the likely slip.
std::string AssignFix(const ProgramReport& report, const std::vector<std::string>& channels) {
  for (const StatementReport& r : report.statements) {
    // A statement that names a channel but assigns nothing has its own note.
    std::string_view left = r.text.substr(0, r.text.find('='));
    std::string name;
    for (char c : left)
      if (c != ' ' && (c < '\t' || c > '\r')) name += c;
    if (r.assigns.empty() && std::find(channels.begin(), channels.end(), name) != channels.end())
      return "statement " + std::to_string(r.number) + " names " + name +
             " but assigns nothing: fix it as said there";
    if (!r.newVariable) continue;
    for (const std::string& close : CloseNames(r.assigns))
      if (std::find(channels.begin(), channels.end(), close) != channels.end())
        return "statement " + std::to_string(r.number) + " assigns " + r.assigns +
               ", a new variable: write " + close;
  }
  return "assign " + std::string(channels.size() > 1 ? "each" : "it") + ", e.g. " +
         channels[0] + "=" + channels[0].substr(0, 1) + "s;";
}

}  // namespace

ProgramReport CheckProgram(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  ProgramReport report;
  bool statementsRun = CheckStatements(text, report);
  // The verdict is the runner's own, on the dialog's test pixel; rand()'s
  // generator is left where it stood, so that pixels filtered afterwards
  // get the values they would have got anyway.
  float rd, gd, bd;
  {
    RandKeeper keep;
    report.runs = RunStatements(text, 0.5f, 0.5f, 0.5f, 100, rd, gd, bd);
  }
  // A program typed one statement per line: every statement after the first
  // is cut off by its line break.
  size_t broken = 0;
  for (const StatementReport& r : report.statements)
    broken += std::count(r.fixes.begin(), r.fixes.end(), kOneLineFix);
  if (broken > 0 && broken + 1 == report.statements.size())
    report.hints.push_back(
        "the program is written one statement per line, so only its first line assigns "
        "anything: join the lines into one, e.g. rd=rs; gd=gs; bd=bs;");
  if (report.statements.empty()) {
    report.unassigned = {"rd", "gd", "bd"};
    AddNote(report, text, {},
            "the program has no statement (each statement ends with ';'): rd, gd, bd are 0 at "
            "every pixel",
            "end each statement with ';'");
  } else if (statementsRun) {
    report.unassigned = UnassignedChannels(report);
    if (!report.unassigned.empty())
      AddNote(report, text, {},
              CommaList(report.unassigned) + " never assigned: such a channel is 0 at every pixel",
              AssignFix(report, report.unassigned));
  }
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
    for (size_t i = 0; i < r.notes.size(); ++i)
      out += "  " + r.notes[i] + "\n    fix: " + r.fixes[i] + "\n";
    for (const std::string& quirk : r.quirks) out += "  note: " + quirk + "\n";
    if (r.fails)
      out += "  error at column " + std::to_string(r.column) + ": " + r.error + "\n" + CaretLines(r);
    for (const std::string& hint : r.hints) out += "  hint: " + VisibleText(hint) + "\n";
    if (listing && !r.fails) {
      out += "  program:\n";
      for (size_t at = 0; at < r.listing.size();) {
        size_t end = r.listing.find('\n', at);
        out += "    " + r.listing.substr(at, end - at) + "\n";
        at = end == std::string::npos ? r.listing.size() : end + 1;
      }
    }
  }
  for (size_t i = 0; i < report.notes.size(); ++i)
    out += report.notes[i] + "\n  fix: " + report.fixes[i] + "\n";
  for (const std::string& hint : report.hints) out += "hint: " + hint + "\n";
  if (!report.runs) out += "the program does not run: the filter makes every pixel black\n";
  else if (!report.unassigned.empty())
    out += "the program runs, but " + CommaList(report.unassigned) +
           (report.unassigned.size() > 1 ? " stay" : " stays") + " 0 at every pixel\n";
  else out += "the program runs\n";
  return out;
}

std::string VisibleProgram(std::string_view text) { return VisibleText(text); }

std::string FailureLines(const ProgramReport& report) {
  for (const StatementReport& r : report.statements) {
    if (!r.fails) continue;
    std::string out = "statement " + std::to_string(r.number) + ": " + VisibleText(r.text) + "\n";
    out += "  error at column " + std::to_string(r.column) + ": " + r.error + "\n" + CaretLines(r);
    if (!r.hints.empty()) out += "  hint: " + VisibleText(r.hints.front()) + "\n";
    return out;
  }
  return {};
}

std::string DialogTestMessage(std::string_view program) {
  RandKeeper keep;
  return TestMessage(program);
}

}  // namespace vexlor
