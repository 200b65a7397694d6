// vexlor check: explains a program, statement by statement.
#include <cstdio>

#include "cli/base/program.h"
#include "cli/commands/common.h"
#include "explain/check.h"
#include "explain/quirks.h"

namespace vexlor::cli {

namespace {

int RunCheck(Args& args) {
  std::string program = TakeProgramToRun(args);
  ExpectPositional(args, 0, "one PROGRAM");
  CheckProgramLength(program);
  ProgramReport report = CheckProgram(program);
  std::printf("runs as: %s\n", VisibleProgram(program).c_str());
  std::fputs(FormatReport(report, args.Has("--listing")).c_str(), stdout);
  return report.runs ? 0 : kExitData;
}

constexpr OptionRow kOptions[] = {
    Flag("--listing", "show each statement's compiled postfix program"),
    kExactTextOption,
    ProgramFileOption("read PROGRAM from FILE (- for standard input)"),
};

}  // namespace

extern const Command kCheckCommand = {
    .name = "check",
    .summary = "explain a program: what each statement does, where it fails",
    .usage = "vexlor check [--listing] PROGRAM",
    .about =
        "Prints first the one-line program that runs (\"runs as: ...\"), then explains\n"
        "it: each statement's number and text and what it assigns; for\n"
        "the first statement that fails, the engine's message and the column where the\n"
        "problem was found; and the parts that have no effect (names that cannot be\n"
        "assigned, text after the last ';', an expression cut at a space, a line break\n"
        "before a name), each with its fix; under an error, hints on what to write\n"
        "instead where the text makes them certain. Exit 0 when the program runs\n"
        "(with a warning when an output channel is never assigned), 1 when it does not.",
    .options = kOptions,
    .examplesTitle = "examples",
    .examples = "vexlor check 'rd=rs *2;gd=gs;bd=bs;'\n"
                "vexlor check --listing 'x=max(rs,gs,bs);rd=x;gd=x;bd=x;'",
    .notesTitle = "the language's oddities, kept as the plug-in has them (check notes each\n"
                  "one a statement uses)",
    .notes = kQuirkNotes,
    .run = RunCheck,
};

}  // namespace vexlor::cli
