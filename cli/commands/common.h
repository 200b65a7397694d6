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
inline constexpr OptionRow kClampOption =
    Flag("--clamp", "limit each channel to 0..255 (the default)");
inline constexpr OptionRow kCarryOption =
    Flag("--carry", "the plug-in's arithmetic with \"Verify 0-1 limits\" off: a\n"
                    "channel outside 0..1 carries into its neighbour");
inline constexpr OptionRow kExactTextOption =
    Flag("--exact-text", "run PROGRAM byte for byte, as the plug-in runs its\n"
                         "saved text (no comments; a space cuts a statement)");
inline constexpr OptionRow kLenientOption =
    Flag("--lenient", "run a program that cannot do what it says (warnings shown)");
inline constexpr OptionRow kThreadsOption =
    Number("--threads", "N", 0, 1024, "threads to filter on (default 0: one per core)");
inline constexpr OptionRow kReferenceOption =
    Flag("--reference", "use the straightforward per-pixel frame mapping");
inline constexpr OptionRow kQuietOption =
    Flag("--quiet", "no progress on standard error (warnings still show)");
inline constexpr OptionRow kNoWarningsOption =
    Flag("--no-warnings", "no warnings (parts of the program without effect, what a\nrun changes in the output)");
// -f FILE, with the command's own words for what the file is.
constexpr OptionRow ProgramFileOption(std::string_view help) {
  return {.name = "-f", .value = "FILE", .help = help, .kind = ValueKind::kFile};
}

// How frames are mapped, from --threads and --reference; carries are
// counted only where they happen and someone is told (--carry without
// --no-warnings).
FilterRun RunOptionsFrom(const Args& args);
// Whether channels are limited to 0..255: always but with --carry.
bool ClampFrom(const Args& args);

// Prints each line to standard error as "vexlor: warning: LINE", unless the
// command line has --no-warnings.
void PrintWarnings(const Args& args, const std::vector<std::string>& lines);
// Tells of carried channels: once, as soon as a frame carries, and the
// whole run's count at its end.
class CarryReporter {
 public:
  explicit CarryReporter(const Args& args) : args_(args) {}
  // After frame `frame` is mapped; `tally` counts the run so far.
  void FrameDone(const FilterTally& tally, int64_t frame);
  // After the run.
  void Finish(const FilterTally& tally);

 private:
  const Args& args_;
  bool told_ = false;
  int64_t carriedBefore_ = 0, pixelsBefore_ = 0;
};

}  // namespace vexlor::cli
