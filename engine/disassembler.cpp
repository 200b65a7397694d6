// The disassembler: one line of text per instruction of a postfix program,
// for the check tool's listing and for tests.
#include <charconv>
#include <cstdio>

#include "state.h"

namespace vexlor {

namespace {

// Name of the row whose handler an instruction calls.
const char* HandlerName(const Instruction& in) {
  const char* name = nullptr;
  switch (in.kind) {
    case OP_CALL_UNARY:
      if (const UnaryFunctionRow* row = UnaryRowOf(in.operand.unary)) name = row->name;
      break;
    case OP_CALL_BINARY:
      if (const BinaryOperatorRow* row = BinaryRowOf(in.operand.binary)) name = row->name;
      break;
    case OP_CALL_LIST:
      if (const ListFunctionRow* row = ListRowOf(in.operand.list)) name = row->name;
      break;
  }
  return name ? name : "?";
}

}  // namespace

std::string DisassembleInstruction(const Instruction& in) {
  char buf[64];
  switch (in.kind) {
    case OP_END:
      return "END";
    case OP_PUSH_CONSTANT: {
      // The shortest text that reads back as the same double.
      auto end = std::to_chars(buf, buf + sizeof buf, in.operand.number).ptr;
      return "PUSHC " + std::string(buf, end);
    }
    case OP_PUSH_VARIABLE: {
      const char* name = VariableName(in.operand.variable);
      return std::string("PUSHV ") + (name ? name : "?");
    }
    case OP_CALL_UNARY:
      return std::string("CALLU ") + HandlerName(in);
    case OP_CALL_BINARY:
      return std::string("CALLB ") + HandlerName(in);
    case OP_CALL_LIST:
      std::snprintf(buf, sizeof buf, "CALLL %s %d", HandlerName(in), in.count);
      return buf;
  }
  return "???";
}

std::string DisassembleProgram() {
  std::string out;
  const Program& p = g_engine.program;
  for (int i = 0; i <= p.count; ++i) {
    char pos[16];
    std::snprintf(pos, sizeof pos, "%04d ", i);
    out += pos + DisassembleInstruction(p.code[i]) + "\n";
  }
  return out;
}

}  // namespace vexlor
