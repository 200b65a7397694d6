// The user's program: from an argument or a file, and refused before any
// work when the filter cannot run it.
#include "cli/base/program.h"

#include <cstdio>

#include "cli/base/files.h"
#include "explain/check.h"
#include "explain/warnings.h"

namespace vexlor::cli {

std::string ReadProgramFile(const std::string& path) {
  std::vector<uint8_t> bytes = path == "-" ? ReadStandardInput(kMaxProgramFileBytes, "program")
                                            : ReadWholeFile(path, kMaxProgramFileBytes, "program");
  std::string text(bytes.begin(), bytes.end());
  if (text.ends_with("\r\n")) text.resize(text.size() - 2);
  else if (text.ends_with('\n')) text.pop_back();
  if (size_t nul = text.find('\0'); nul != std::string::npos)
    FailData((path == "-" ? std::string("standard input") : path) + ": NUL byte at offset " +
             std::to_string(nul) + "; a program is text");
  return text;
}

std::string TakeProgram(Args& args) {
  if (const std::string* file = args.Value("-f")) return ReadProgramFile(*file);
  if (args.positional.empty())
    FailUsage(args.command + " needs a PROGRAM (or -f FILE) (see 'vexlor " + args.command +
              " --help')");
  std::string program = std::move(args.positional.front());
  args.positional.erase(args.positional.begin());
  return program;
}

ProgramText ProgramToRun(const Args& args, std::string_view written) {
  if (args.Has("--exact-text")) return ExactProgram(written);
  ProgramText text = FreeFormProgram(written);
  if (!text.refusal.empty()) FailData(RefusalLines(written, text) + "(--exact-text runs the text as written)");
  return text;
}

std::string TakeProgramToRun(Args& args) {
  std::string written = TakeProgram(args);
  return ProgramToRun(args, written).runs;
}

void CheckProgramLength(std::string_view program) {
  if (program.size() > static_cast<size_t>(kMaxTextLength))
    FailData("the program is " + std::to_string(program.size()) +
             " characters long; the filter's settings record holds at most " +
             std::to_string(kMaxTextLength));
}

void RequireRuns(std::string_view program, const Filter& filter) {
  CheckProgramLength(program);
  if (filter.runs()) return;
  std::string why = FailureLines(CheckProgram(program));
  if (!why.empty() && why.back() == '\n') why.pop_back();
  FailData(std::string(kProgramDoesNotRun) + (why.empty() ? "" : "\n" + why));
}

void RequireDoesWhatItSays(const Args& args, std::string_view program) {
  std::vector<std::string> warnings = ProgramWarnings(program);
  if (warnings.empty()) return;
  if (args.Has("--lenient")) {
    if (args.Has("--no-warnings")) return;
    for (const std::string& line : warnings)
      std::fprintf(stderr, "vexlor: warning: %s\n", line.c_str());
    return;
  }
  std::string message = "the program cannot do what it says:";
  for (const std::string& line : warnings) message += "\n  " + line;
  FailData(message + "\n(--lenient runs it as the plug-in would)");
}

}  // namespace vexlor::cli
