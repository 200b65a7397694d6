// The user's program: from an argument or a file, and refused before any
// work when the filter cannot run it.
#include "cli/base/program.h"

#include "cli/base/files.h"

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

void CheckProgramLength(std::string_view program) {
  if (program.size() > static_cast<size_t>(kMaxTextLength))
    FailData("the program is " + std::to_string(program.size()) +
             " characters long; the filter's settings record holds at most " +
             std::to_string(kMaxTextLength));
}

void RequireRuns(std::string_view program, const Filter& filter) {
  CheckProgramLength(program);
  if (!filter.runs()) FailData(kProgramDoesNotRun);
}

}  // namespace vexlor::cli
