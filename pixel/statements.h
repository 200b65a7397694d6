// A program's statements as the filter runs them: split at ';', the name left
// of '=' and the expression right of it trimmed, the name registered as a
// variable when it is new, the expression compiled. The statement runner, the
// fast frame path's plan and the check tool all walk a program through
// StatementWalk, so they agree on every statement by construction.
#pragma once

#include <cstddef>
#include <string_view>

#include "engine/engine.h"

namespace vexlor {

// ---- Built-in variables -----------------------------------------------------

// The built-ins' slots: the source channels, the output channels and the
// frame number, bound in this order before any name of the program.
enum BuiltinSlot : int {
  kSlotRs, kSlotGs, kSlotBs, kSlotRd, kSlotGd, kSlotBd, kSlotFr, kBuiltinCount
};
inline constexpr const char* kBuiltinNames[kBuiltinCount] = {
    "rs", "gs", "bs", "rd", "gd", "bd", "fr"};

// The built-ins take their entries of the engine's variable table; the rest
// are the program's own.
inline constexpr int kMaxNewVariables = kMaxVariables - kBuiltinCount;
inline constexpr int kSlotCount = kBuiltinCount + kMaxNewVariables;

// Names longer than this are never registered: such a statement still runs,
// but its assignment has no effect, like any name that cannot be assigned.
inline constexpr size_t kMaxNameLength = 255;

// ---- Splitting ----------------------------------------------------------------

// One statement "name=expression" as the runner sees it.
struct Statement {
  std::string_view text;        // up to, not including, its ';'
  bool hasEquals;               // without '=' the program fails
  std::string_view name;        // left side, trimmed
  std::string_view expression;  // right side, trimmed
};

// Skips leading spaces (the space character only) and cuts the rest at its
// first space: " rs" gives "rs", "rs + gs" gives "rs".
std::string_view TrimField(std::string_view field);

// Splits off the statement that starts at pos; false when no ';' follows pos.
// On success pos moves just after the ';'. The text ends at its first NUL.
bool NextStatement(std::string_view text, size_t& pos, Statement& out);

// Whether a statement's name may be registered as a new variable.
bool IsRegistrable(std::string_view name);

// ---- Walking ------------------------------------------------------------------

// What one statement is once registered and compiled.
struct WalkStep {
  enum class Kind {
    kNoEquals,  // no '=': the program fails here
    kFails,     // the expression does not compile: the program fails here
    kCompiled,  // the engine's current program is the statement's
  };
  Statement statement;
  Kind kind;
  bool registered;    // the name was new and got a slot of its own
  double* target;     // the slot the value is stored in; nullptr: no effect
  EngineError error;  // the compiler's code (ERR_NONE when compiled)
};

// Walks a program's statements with the engine: binds the built-ins to
// slots[kSlotRs..kSlotFr] and each new name to the next free slot, the way
// every pixel's run does. Uses the engine's single state: one walk at a time,
// and a statement's compiled program is current until the next one is taken.
class StatementWalk {
 public:
  StatementWalk(std::string_view text, double (&slots)[kSlotCount]);

  // Splits off the next statement without registering or compiling it.
  bool Split(Statement& st);
  // Registers the name of a split statement and compiles its expression.
  WalkStep Take(const Statement& st);
  // Split and Take: false once no statement is left.
  bool Next(WalkStep& step);
  // Offset of the text after the last statement split.
  size_t position() const { return pos_; }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  double* slots_;
  int used_ = kBuiltinCount;
};

}  // namespace vexlor
