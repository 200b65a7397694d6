// The engine's single state, the recording of errors in it, and its
// read-only views.
#include "state.h"

namespace vexlor {

EngineState g_engine;

// Once the nesting bound stopped a compilation, its code and place stand:
// what the callers find wrong after that only follows from the stop.
void Fail(EngineError code) {
  if (g_engine.tooDeep) return;
  g_engine.error = code;
  g_engine.errorOffset =
      g_engine.tokenBegin ? static_cast<int>(g_engine.tokenBegin - g_engine.textBegin) : -1;
}

const Token& CurrentToken() { return g_engine.token; }
const Program& CurrentProgram() { return g_engine.program; }
const ValueStack& CurrentStack() { return g_engine.stack; }
EngineError LastError() { return g_engine.error; }
int LastErrorOffset() { return g_engine.errorOffset; }

}  // namespace vexlor
