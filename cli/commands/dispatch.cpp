// The command list, the help texts made from the command definitions, and
// the dispatch of a command line to its command.
#include <cstdio>
#include <new>

#include "cli/base/signals.h"
#include "cli/commands/command.h"

namespace vexlor::cli {

namespace {

constexpr const Command* kCommands[] = {&kApplyCommand,  &kStreamCommand, &kCheckCommand,
                                        &kFramesCommand, &kServeCommand,  &kTestCommand,
                                        &kPixelCommand};

}  // namespace

const std::string_view kMainTitle =
    "vexlor " VEXLOR_VERSION ": a per-pixel expression filter for pictures and videos";
const std::string_view kMainUsage =
    "vexlor COMMAND [OPTIONS] ARGUMENTS\n"
    "vexlor --help | --version";
const std::string_view kMainAbout =
    "A PROGRAM is a sequence of name=expression; statements on the source channels\n"
    "rs gs bs (0 to 255/256) and the frame number fr, assigning rd gd bd, e.g.\n"
    "'rd=gs;gd=rs;bd=bs*2;'. Wherever a command takes PROGRAM, -f FILE reads it\n"
    "from a file instead (-f - from standard input).\n"
    "\n"
    "Exit status: 0 success, 1 bad data (input, program, files), 2 bad command line.\n"
    "Run 'vexlor COMMAND --help' for a command's options and examples.";

namespace {

// "usage: " before the first line and as much space before the others.
std::string UsageLines(std::string_view lines) {
  std::string out;
  for (size_t at = 0, n = 0; at < lines.size(); ++n) {
    size_t end = std::min(lines.find('\n', at), lines.size());
    out += (n == 0 ? "usage: " : "       ") + std::string(lines.substr(at, end - at)) + "\n";
    at = end + 1;
  }
  return out;
}

// Two columns: a term, then its text at `column`; a text's further lines
// start at the column too.
std::string Row(std::string_view term, std::string_view text, size_t column) {
  std::string out = "  " + std::string(term);
  out += std::string(out.size() + 2 <= column ? column - out.size() : 2, ' ');
  for (char c : text) out += c == '\n' ? "\n" + std::string(column, ' ') : std::string(1, c);
  return out + "\n";
}

// An option's term in the help: its other spelling, its name and its
// value's placeholder ("-s, --size WxH").
std::string Term(const OptionRow& option) {
  std::string alias = option.alias.empty() ? "" : std::string(option.alias) + ", ";
  return alias + std::string(option.name) +
         (option.value.empty() ? "" : " " + std::string(option.value));
}

// Each line indented by two spaces.
std::string Indented(std::string_view lines) {
  std::string out;
  for (size_t at = 0; at < lines.size();) {
    size_t end = std::min(lines.find('\n', at), lines.size());
    out += "  " + std::string(lines.substr(at, end - at)) + "\n";
    at = end + 1;
  }
  return out;
}

}  // namespace

std::span<const Command* const> Commands() { return kCommands; }

const Command* FindCommand(std::string_view name) {
  for (const Command* c : kCommands)
    if (name == c->name) return c;
  return nullptr;
}

std::string_view OptionGroup(InputKind input) {
  switch (input) {
    case InputKind::kPicture: return "picture options";
    case InputKind::kVideo: return "video options";
    case InputKind::kAny: break;
  }
  return "options";
}

std::string MainHelp() {
  std::string out = std::string(kMainTitle) + "\n\n" + UsageLines(kMainUsage) + "\ncommands:\n";
  for (const Command* c : kCommands) out += Row(c->name, c->summary, 10);
  return out + "\n" + std::string(kMainAbout) + "\n";
}

// Usage, what the command does, its options by the inputs they are for, and
// its examples.
// Text broken at spaces into lines of at most 80 columns, the first
// starting with `first`, the others with `rest`.
std::string Wrapped(std::string_view text, std::string_view first, std::string_view rest) {
  std::string out, line(first);
  size_t lead = line.size();
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find(' ', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view word = text.substr(at, end - at);
    if (line.size() > lead && line.size() + 1 + word.size() > 80) {
      out += line + "\n";
      line = rest;
      lead = line.size();
    }
    if (line.size() > lead) line += ' ';
    line += word;
    at = end + 1;
  }
  return out + line + "\n";
}

std::string HelpText(const Command& command) {
  std::string out = UsageLines(command.usage) + "\n" + std::string(command.about) + "\n";
  size_t column = 0;
  for (const OptionRow& o : command.options) column = std::max(column, Term(o).size() + 4);
  const char* gap = "\n";
  for (InputKind input : {InputKind::kAny, InputKind::kPicture, InputKind::kVideo}) {
    std::string rows;
    for (const OptionRow& o : command.options)
      if (o.input == input) rows += Row(Term(o), o.help, column);
    if (rows.empty()) continue;
    out += gap + std::string(OptionGroup(input)) + ":\n" + rows;
    gap = "";
  }
  out += "\n" + std::string(command.examplesTitle) + ":\n" + Indented(command.examples);
  if (!command.after.empty()) out += std::string(command.after) + "\n";
  if (!command.notes.empty()) {
    out += "\n" + std::string(command.notesTitle) + ":\n";
    for (std::string_view note : command.notes) out += Wrapped(note, "  - ", "    ");
  }
  return out;
}

namespace {

// Dispatches a command line; failures propagate.
int Dispatch(int argc, char** argv) {
  if (argc < 2) FailUsage("missing command (see 'vexlor --help')");
  std::string_view name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    const Command* topic = argc > 2 ? FindCommand(argv[2]) : nullptr;
    if (argc > 2 && !topic) FailUsage("no help on '" + std::string(argv[2]) + "': no such command");
    std::fputs((topic ? HelpText(*topic) : MainHelp()).c_str(), stdout);
    return 0;
  }
  if (name == "--version") {
    std::printf("vexlor %s\n", VEXLOR_VERSION);
    return 0;
  }
  const Command* command = FindCommand(name);
  if (!command) FailUsage("unknown command '" + std::string(name) + "' (see 'vexlor --help')");
  Args args = ParseArgs(command->name, command->options, std::span(argv + 2, argv + argc));
  if (args.Has("--help")) {
    std::fputs(HelpText(*command).c_str(), stdout);
    return 0;
  }
  // Before the command starts any thread, which inherits the blocked signals.
  if (command->takesSignals) InstallSignalCleanup();
  return command->run(args);
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
  try {
    int status = Dispatch(argc, argv);
    if (std::fflush(stdout) != 0) FailErrno("standard output: cannot write");
    return status;
  } catch (const Failure& failure) {
    std::fprintf(stderr, "vexlor: %s\n", failure.what());
    return failure.status;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "vexlor: out of memory\n");
    return kExitData;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vexlor: %s\n", e.what());
    return kExitData;
  }
}

}  // namespace vexlor::cli
