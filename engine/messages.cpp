// The engine's message table and the disassembler of postfix programs.
#include <charconv>
#include <cstdio>

#include "state.h"

namespace vexlor {

namespace {

// Texts for the codes 50 to 63; position 0 is the success text.
constexpr const char* kMessages[] = {
    "sucess",
    "imature expression terminated",
    "expression expected",
    "\"(\" expected",
    "\")\" expected",
    "unknown error",
    "inverid nuber of parameters",
    "bad number or size exceed limits",
    "indent lenght exceed limits",
    "variable not found",
    "undefined identifier",
    "invalid expression",
    "out memory",
    "invalid character",
};
constexpr int kMessageCount = sizeof kMessages / sizeof kMessages[0];

// Name of a handler found in the function and operator tables.
const char* HandlerName(const Instruction& in) {
  switch (in.kind) {
    case OP_CALL_UNARY:
      if (in.operand.unary == Negate) return "neg";
      for (int i = 0; i < kUnaryFunctionCount; ++i)
        if (kUnaryFunctions[i].handler == in.operand.unary) return kUnaryFunctions[i].name;
      break;
    case OP_CALL_BINARY:
      for (int i = 0; i < kBinaryOperatorCount; ++i)
        if (kBinaryOperators[i].handler == in.operand.binary) return kBinaryOperators[i].name;
      break;
    case OP_CALL_LIST:
      for (int i = 0; i < kListFunctionCount; ++i)
        if (kListFunctions[i].handler == in.operand.list) return kListFunctions[i].name;
      break;
  }
  return "?";
}

}  // namespace

const char* EngineMessage(int code) {
  if (code == 0) return kMessages[0];
  int i = code - 50;
  return i > 0 && i < kMessageCount ? kMessages[i] : "unknown error";
}

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
