// Statement runner: executes "name=expression;" statements for one pixel
// through the expression engine, compiling every statement afresh.
#include <cstdio>

#include "engine/engine.h"
#include "pixel/pixel.h"
#include "pixel/trace.h"

namespace vexlor {

// Every statement is compiled and evaluated in turn; its value goes to the
// slot of its name, when the name has one. The outputs are read back through
// the variable table, which leaves the engine's error code cleared. Given
// `trace`, each statement's value is also recorded there: the filter's run
// and the editor's trace of a pixel are one loop.
bool RunStatementsTraced(std::string_view text, float rs, float gs, float bs, int32_t frame,
                         float& rd, float& gd, float& bd, std::vector<TracedStatement>* trace) {
  // Built-ins first, then one slot per new variable; unassigned slots read 0.
  double slots[kSlotCount] = {};
  slots[kSlotRs] = rs;
  slots[kSlotGs] = gs;
  slots[kSlotBs] = bs;
  slots[kSlotFr] = static_cast<double>(frame);
  StatementWalk walk(text, slots);
  for (WalkStep step; walk.Next(step);) {
    if (step.kind != WalkStep::Kind::kCompiled) return false;
    double value = EvaluateProgram();
    if (step.target) *step.target = value;
    if (trace)
      trace->push_back({step.statement.text, step.statement.name, step.statement.expression,
                        step.target != nullptr, step.target && step.target >= slots + kBuiltinCount, value});
  }
  rd = static_cast<float>(GetVariable(kBuiltinNames[kSlotRd]));
  gd = static_cast<float>(GetVariable(kBuiltinNames[kSlotGd]));
  bd = static_cast<float>(GetVariable(kBuiltinNames[kSlotBd]));
  return true;
}

bool RunStatements(std::string_view text, float rs, float gs, float bs, int32_t frame, float& rd,
                   float& gd, float& bd) {
  return RunStatementsTraced(text, rs, gs, bs, frame, rd, gd, bd, nullptr);
}

std::string TestMessage(std::string_view text, bool* runs) {
  float rd = 0, gd = 0, bd = 0;
  bool ran = RunStatements(text, 0.5f, 0.5f, 0.5f, 100, rd, gd, bd);
  if (runs) *runs = ran;
  if (!ran) return "Error in expression !";
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "Expression Successfully Parsed : result (0.5,0.5,0.5,fr=100) = %.2f %.2f %.2f",
                static_cast<double>(rd), static_cast<double>(gd), static_cast<double>(bd));
  return buf;
}

}  // namespace vexlor
