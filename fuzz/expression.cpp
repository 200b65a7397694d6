// CompileExpression and EvaluateProgram on arbitrary expressions: a program
// that compiles leaves exactly one value; a failure names a place inside the
// text; compiling is repeatable.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/engine.h"
#include "fuzz.h"

using namespace vexlor;
using vexlor::fuzz::Expect;

namespace {

double g_vars[3] = {0.5, -3.0, 1e300};

// The names an expression may use besides the language's own.
void Bind() {
  ClearVariables();
  RegisterVariable("x", &g_vars[0]);
  RegisterVariable("y", &g_vars[1]);
  RegisterVariable("big", &g_vars[2]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool bound = (Bind(), true);
  (void)bound;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t length = std::min(text.find('\0'), text.size());

  EngineError error = CompileExpression(text);
  int offset = LastErrorOffset();
  const Program& program = CurrentProgram();
  Expect(program.count >= 0 && program.count <= kMaxInstructions, "program count out of range");
  Expect(program.code[program.count].kind == OP_END, "program not ended");
  if (error == ERR_NONE) {
    Expect(offset == -1, "a compiled program has an error place");
    std::string listing = DisassembleProgram();
    RandSetState(1);
    double value = EvaluateProgram();
    Expect(CurrentStack().depth == 1, "a compiled program did not leave exactly one value");
    Expect(CompileExpression(text) == ERR_NONE && DisassembleProgram() == listing,
           "compiling twice gave different programs");
    RandSetState(1);
    double again = EvaluateProgram();
    Expect(std::memcmp(&value, &again, sizeof value) == 0, "evaluating twice differed");
  } else {
    Expect(offset >= 0 && static_cast<size_t>(offset) <= length,
           "the error place lies outside the text");
    Expect(EngineMessage(error) != nullptr, "an error without a message");
    Expect(CompileExpression(text) == error && LastErrorOffset() == offset,
           "compiling twice gave different errors");
  }
  return 0;
}
