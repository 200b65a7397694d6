// What the filtering commands share: the run options of a command line and
// the warnings they print.
#pragma once

#include <string>
#include <vector>

#include "cli/base/args.h"
#include "cli/commands/command.h"
#include "pixel/filter.h"

namespace vexlor::cli {

// Options that several commands share, with the same meaning.
inline constexpr OptionSpec kClampOption =
    Flag("--clamp", "limit each channel to 0..255 (\"Verify 0-1 limits\")");
inline constexpr OptionSpec kThreadsOption =
    Number("--threads", "N", 0, 1024, "threads to filter on (default 0: one per core)");
inline constexpr OptionSpec kReferenceOption =
    Flag("--reference", "use the straightforward per-pixel frame mapping");
inline constexpr OptionSpec kQuietOption =
    Flag("--quiet", "no progress on standard error (warnings still show)");
inline constexpr OptionSpec kNoWarningsOption =
    Flag("--no-warnings", "no warnings (parts of the program without effect, what a\nrun changes in the output)");
// -f FILE, with the command's own words for what the file is.
constexpr OptionSpec ProgramFileOption(std::string_view help) {
  return {.name = "-f", .value = "FILE", .help = help, .kind = ValueKind::kFile};
}

// How frames are mapped, from --threads and --reference; carries are not
// counted where nobody is told of them (--clamp, --no-warnings).
FilterRun RunOptionsFrom(const Args& args);

// Prints each line to standard error as "vexlor: warning: LINE", unless the
// command line has --no-warnings.
void PrintWarnings(const Args& args, const std::vector<std::string>& lines);
// Prints the carry warning of a run, if any, likewise; after the run.
void PrintCarryWarning(const Args& args, const FilterTally& tally);

}  // namespace vexlor::cli
