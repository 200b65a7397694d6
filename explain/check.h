// Diagnosis of a program, as vexlor check prints it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vexlor {

// Where a note's part is: bytes from `offset`, `length` long; length 0 when
// the note is about no one part of the text.
struct NotePart {
  size_t offset = 0;
  size_t length = 0;
};

// What check reports about one statement.
struct StatementReport {
  int number = 0;          // 1-based
  std::string_view text;   // the statement, without its ';'
  std::string assigns;     // name stored into, empty when nothing is
  bool newVariable = false;  // the statement creates the name it assigns
  std::string expression;  // what is compiled, after trimming and cutting
  std::vector<std::string> notes;  // parts of the statement that have no effect
  std::vector<std::string> fixes;  // fixes[i]: how to fix notes[i], in a few words
  std::vector<NotePart> parts;     // parts[i]: notes[i]'s part, in text
  bool ran = true;                 // false after the failing statement
  bool fails = false;
  std::string error;       // why it fails
  size_t offset = 0;       // byte offset in text where the problem was found
  int column = 0;          // the same place as a 1-based column of characters
  std::string listing;     // postfix program, when compiled
  std::vector<std::string> hints;  // under the error: what to write instead
  std::vector<std::string> quirks; // oddities of the language the statement uses
};

struct ProgramReport {
  std::vector<StatementReport> statements;
  std::vector<std::string> notes;  // about the whole program
  std::vector<std::string> fixes;  // fixes[i]: how to fix notes[i]
  std::vector<NotePart> parts;     // parts[i]: notes[i]'s part, in the program
  std::vector<std::string> unassigned;  // output channels that no statement assigns
  std::vector<std::string> hints;       // about the whole program's layout
  bool runs = true;
};

// Diagnoses a program by splitting, registering and compiling it the way the
// statement runner does; whether it runs is the runner's own verdict.
// rand()'s generator is left where it stood.
ProgramReport CheckProgram(std::string_view text);
// The configuration dialog's test message for a program, with rand()'s
// generator left where it stood.
std::string DialogTestMessage(std::string_view program);
// Text as check shows it: control bytes escaped (\n, \t, \x01).
std::string VisibleProgram(std::string_view text);
// What check prints of the failing statement, when one fails: its number
// and text, the error with its column, a caret under the place and the
// first hint; empty when no statement fails.
std::string FailureLines(const ProgramReport& report);
// The report as check prints it; `listing` adds each statement's program.
std::string FormatReport(const ProgramReport& report, bool listing);

}  // namespace vexlor
