// The language at a glance, for the editor's reference panel: every built-in
// variable, constant, function and operator, its arity, what it does (its
// quirks said plainly) and a one-line example; and a few example programs.
// Names, arities and constants' values come from the engine's own tables, so
// the list follows the engine.
#pragma once

#include <string>
#include <vector>

namespace vexlor {

// One name or operator of the language.
struct LanguageEntry {
  enum class Kind { kVariable, kConstant, kFunction, kOperator };
  Kind kind;
  std::string name;     // as written in a program: "sin", "pi", "<=", "-" (sign)
  int arity;            // arguments (operands for an operator); -1: any number, 1 or more
  double value;         // a constant's value, else 0
  std::string about;    // what it does
  std::string example;  // a statement (or expression) showing it
  int binding;          // operators: 1 loosest to 8 tightest (the sign); 0 for the rest
};

// Every entry, in the order the engine's tables list them: the built-in
// variables, the constants, the one-argument functions, the list functions,
// the operators from the loosest.
std::vector<LanguageEntry> LanguageEntries();

// An example program that renders well.
struct ExampleProgram {
  const char* name;
  const char* program;
  bool clamp;         // whether it is meant with "Verify 0-1 limits"
  const char* about;  // what it shows
};
extern const ExampleProgram kExamplePrograms[];
extern const int kExampleProgramCount;

}  // namespace vexlor
