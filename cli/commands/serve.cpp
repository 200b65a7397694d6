// vexlor serve's command: its options and the program the page starts with;
// the editor's room (loaded only now) does the serving.
#include <unistd.h>

#include <cerrno>

#include "cli/base/modules.h"
#include "cli/base/program.h"
#include "cli/base/text.h"
#include "cli/commands/commands.h"
#include "cli/serve/editor.h"

namespace vexlor::cli {

namespace {

constexpr const char* kCopyProgram = "rd=rs;gd=gs;bd=bs;";

// Refuses a program that is not UTF-8: the page would show U+FFFD for its
// bad bytes, render that text instead, and Save would write it over the
// user's bytes.
std::string Utf8Program(std::string program, const std::string& origin) {
  if (size_t at = Utf8ErrorOffset(program); at != std::string::npos)
    FailData("serve: " + origin + " is not UTF-8 text (byte " + std::to_string(at) +
             "); the editor holds UTF-8 only and would replace it: convert it first, e.g. with "
             "iconv -f latin1 -t utf-8");
  return program;
}

// The program the page starts with: -f FILE's (which Save writes back), the
// PROGRAM argument, or a program that copies the source.
std::string StartProgram(Args& args, ServeOptions& options) {
  if (const std::string* file = args.Value("-f")) {
    if (*file == "-") FailUsage("serve: -f - cannot be saved back; name a file");
    options.programFile = *file;
    // A file that does not exist yet is made by the first Save.
    if (::access(file->c_str(), F_OK) != 0 && errno == ENOENT) return kCopyProgram;
    return Utf8Program(ReadProgramFile(*file), *file);
  }
  if (args.positional.size() == 2) {
    std::string program = std::move(args.positional.front());
    args.positional.erase(args.positional.begin());
    return Utf8Program(std::move(program), "the PROGRAM");
  }
  return kCopyProgram;
}

}  // namespace

int RunServe(Args& args) {
  ServeOptions options;
  options.program = StartProgram(args, options);
  ExpectPositional(args, 1, "[PROGRAM] INPUT");
  CheckProgramLength(options.program);
  options.input = args.positional[0];
  options.clamp = args.Has("--clamp");
  options.frame = Int32Option(args, "--frame", 0);
  options.port = static_cast<int>(CountOption(args, "--port", 0, 65535));
  if (const std::string* host = args.Value("--host")) options.host = *host;
  // rand()'s starting state for every render.
  options.randSeed = RandSeedOption(args);

  static_cast<ServeRoom*>(LoadRoom("serve", "the editor"))->Run(options);
  return 0;
}

}  // namespace vexlor::cli
