// vexlor serve's command: its options and the program the page starts with;
// the editor's room (loaded only now) does the serving.
#include <unistd.h>

#include <cerrno>

#include "cli/base/modules.h"
#include "cli/base/program.h"
#include "cli/base/text.h"
#include "cli/commands/common.h"
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

int RunServe(Args& args) {
  ServeOptions options;
  options.program = StartProgram(args, options);
  ExpectPositional(args, 1, "[PROGRAM] INPUT");
  options.exactText = args.Has("--exact-text");
  options.lenient = args.Has("--lenient");
  // The text that runs must fit the settings record; a text that joins two
  // tokens is shown as such on the page.
  CheckProgramLength(options.exactText ? options.program : FreeFormProgram(options.program).runs);
  options.input = args.positional[0];
  options.clamp = !args.Has("--carry");
  options.frame = args.Number("--frame", 0);
  options.port = static_cast<int>(args.Number("--port", 0));
  if (const std::string* host = args.Value("--host")) options.host = *host;
  // rand()'s starting state for every render.
  options.randSeed = RandSeedOption(args);

  static_cast<ServeRoom*>(LoadRoom("serve", "the editor"))->Run(options);
  return 0;
}

constexpr OptionRow kOptions[] = {
    Number("--port", "N", 0, 65535, "port to listen on (default 0: a free one)"),
    Text("--host", "ADDR", "address to listen on (default 127.0.0.1; others get a warning)"),
    Flag("--carry", "start with \"Verify 0-1 limits\" unchecked: a channel\n"
                    "outside 0..1 carries into its neighbour"),
    Flag("--clamp", "start with \"Verify 0-1 limits\" checked (the default)"),
    kExactTextOption,
    kLenientOption,
    Number("--frame", "N", kInt32Min, kInt32Max, "start at frame N (fr; for a video, its frame N)"),
    Number("--rand-seed", "N", 0, UINT32_MAX,
           "rand()'s generator state before the first pixel of a render"),
    ProgramFileOption("edit the program in FILE (Save writes it back)"),
};

}  // namespace

extern const Command kServeCommand = {
    .name = "serve",
    .summary = "edit a program in the browser, the picture following as you type",
    .usage = "vexlor serve [OPTIONS] [PROGRAM] INPUT\n"
             "vexlor serve [OPTIONS] -f FILE INPUT",
    .about =
        "Opens a live editor in the browser: prints the address to open, then serves\n"
        "until Ctrl-C. The page shows INPUT (a picture, or a video's frames) and the\n"
        "picture the program makes of it as the program is typed, with what 'check'\n"
        "says, the warnings, the test message, the apply command line and the plug-in's\n"
        "script line. With -f FILE, Save (Ctrl-S) writes the program back to FILE.\n"
        "The server listens on 127.0.0.1 only, unless --host names another address.",
    .options = kOptions,
    .examplesTitle = "examples",
    .examples = "vexlor serve photo.png\n"
                "vexlor serve -f effect.txt --clamp photo.jpg\n"
                "vexlor serve --frame 100 'rd=rs;gd=gs;bd=bs*abs(sin(fr/10));' clip.mp4",
    .run = RunServe,
    .takesSignals = true,
};

}  // namespace vexlor::cli
