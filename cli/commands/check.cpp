// vexlor check: explains a program, statement by statement.
#include <cstdio>

#include "cli/base/program.h"
#include "cli/commands/commands.h"
#include "explain/check.h"

namespace vexlor::cli {

int RunCheck(Args& args) {
  std::string program = TakeProgram(args);
  ExpectPositional(args, 0, "one PROGRAM");
  CheckProgramLength(program);
  ProgramReport report = CheckProgram(program);
  std::fputs(FormatReport(report, args.Has("--listing")).c_str(), stdout);
  return report.runs ? 0 : kExitData;
}

}  // namespace vexlor::cli
