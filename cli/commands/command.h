// The commands of the vexlor tool, each defined in its own file by one
// Command: its help, its option table and its run function. Parsing, --help,
// the manual page and the completion all come from these definitions.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "cli/base/args.h"

namespace vexlor::cli {

struct Command {
  std::string_view name;
  std::string_view summary;  // one line for the command list
  std::string_view usage;    // the usage lines, without "usage: ", one a line
  std::string_view about;    // what it does: paragraphs, lines broken as shown
  std::span<const OptionRow> options;
  std::string_view examplesTitle;  // "examples", or a title of its own
  std::string_view examples;       // command lines, one a line
  std::string_view after = {};     // a last paragraph, under the examples
  std::string_view notesTitle = {};                // a list under it, with its title
  std::span<const std::string_view> notes = {};
  int (*run)(Args& args);
  // Whether the command writes a file or stream that a signal must not leave
  // half-written (or stops cleanly on one): its stop signals are then taken by
  // one thread of their own. Other commands keep the signals' default actions
  // and start faster.
  bool takesSignals = false;
};

// Each command's definition, in its own file.
extern const Command kApplyCommand, kStreamCommand, kCheckCommand, kFramesCommand, kServeCommand,
    kTestCommand, kPixelCommand;

// The commands in the order the main help lists them.
std::span<const Command* const> Commands();
const Command* FindCommand(std::string_view name);

// The main help's title line, usage lines and paragraphs.
extern const std::string_view kMainTitle, kMainUsage, kMainAbout;

// The main help and a command's --help, as printed.
std::string MainHelp();
std::string HelpText(const Command& command);
// The heading of the options of one kind of input in a command's help
// ("options", "picture options", "video options").
std::string_view OptionGroup(InputKind input);

// Runs the tool on a command line as main() gets it: the command's status,
// or, after a failure printed as one line on standard error, its status.
int RunCommandLine(int argc, char** argv);

}  // namespace vexlor::cli
