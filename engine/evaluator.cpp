// Evaluator: runs the Program left by the last compilation on the ValueStack.
// Variables are read through their storage references at run time.
#include "state.h"

namespace vexlor {

double EvaluateProgram() {
  ValueStack& s = g_engine.stack;
  s.depth = 0;
  for (const Instruction* in = g_engine.program.code;; ++in) {
    switch (in->kind) {
      case OP_END:
        return s.values[0];
      case OP_PUSH_CONSTANT:
        if (s.depth == kStackSize) {
          g_engine.error = ERR_OUT_OF_MEMORY;
          return 0.0;
        }
        s.values[s.depth++] = in->operand.number;
        break;
      case OP_PUSH_VARIABLE:
        // At most 100 instructions each push at most one value: no overflow.
        s.values[s.depth++] = *in->operand.variable;
        break;
      case OP_CALL_UNARY:
        s.values[s.depth - 1] = in->operand.unary(s.values[s.depth - 1]);
        break;
      case OP_CALL_BINARY:
        s.values[s.depth - 2] = in->operand.binary(s.values[s.depth - 2], s.values[s.depth - 1]);
        --s.depth;
        break;
      case OP_CALL_LIST: {
        int base = s.depth - in->count;
        if (base == kStackSize) {
          g_engine.error = ERR_OUT_OF_MEMORY;
          return 0.0;
        }
        s.values[base] = in->operand.list(in->count);
        s.depth = base + 1;
        break;
      }
      default:
        return 0.0;
    }
  }
}

}  // namespace vexlor
