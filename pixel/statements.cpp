// Splitting a program into statements and walking them with the engine.
#include "pixel/statements.h"

namespace vexlor {

std::string_view TrimField(std::string_view field) {
  size_t start = field.find_first_not_of(' ');
  if (start == std::string_view::npos) return {};
  field.remove_prefix(start);
  return field.substr(0, field.find(' '));
}

bool NextStatement(std::string_view text, size_t& pos, Statement& out) {
  text = text.substr(0, text.find('\0'));
  size_t semi = pos <= text.size() ? text.find(';', pos) : std::string_view::npos;
  if (semi == std::string_view::npos) return false;
  out.text = text.substr(pos, semi - pos);
  size_t eq = out.text.find('=');
  out.hasEquals = eq != std::string_view::npos;
  out.name = out.hasEquals ? TrimField(out.text.substr(0, eq)) : std::string_view{};
  out.expression = out.hasEquals ? TrimField(out.text.substr(eq + 1)) : std::string_view{};
  pos = semi + 1;
  return true;
}

bool IsRegistrable(std::string_view name) {
  return name.size() <= kMaxNameLength && IsNewVariableName(name);
}

StatementWalk::StatementWalk(std::string_view text, double (&slots)[kSlotCount])
    : text_(text), slots_(slots) {
  ClearVariables();
  for (int i = 0; i < kBuiltinCount; ++i) RegisterVariable(kBuiltinNames[i], &slots[i]);
}

bool StatementWalk::Split(Statement& st) { return NextStatement(text_, pos_, st); }

// A new name takes the next slot while there is one; a name that is already
// a variable keeps its slot, and any other name assigns nothing.
WalkStep StatementWalk::Take(const Statement& st) {
  WalkStep step{.statement = st,
                .kind = WalkStep::Kind::kNoEquals,
                .registered = false,
                .target = nullptr,
                .error = ERR_NONE};
  if (!st.hasEquals) return step;
  if (IsRegistrable(st.name) && used_ < kSlotCount && RegisterVariable(st.name, &slots_[used_])) {
    ++used_;
    step.registered = true;
  }
  step.target = FindVariable(st.name);
  step.error = CompileExpression(st.expression);
  step.kind = step.error == ERR_NONE ? WalkStep::Kind::kCompiled : WalkStep::Kind::kFails;
  return step;
}

bool StatementWalk::Next(WalkStep& step) {
  Statement st;
  if (!Split(st)) return false;
  step = Take(st);
  return true;
}

}  // namespace vexlor
