// What the filtering commands share.
#include "cli/commands/common.h"

#include <cstdio>

#include "explain/warnings.h"

namespace vexlor::cli {

FilterRun RunOptionsFrom(const Args& args) {
  FilterRun run;
  run.threads = static_cast<int>(args.Number("--threads", 0));
  run.reference = args.Has("--reference");
  run.countCarries = args.Has("--carry") && !args.Has("--no-warnings");
  return run;
}

bool ClampFrom(const Args& args) { return !args.Has("--carry"); }

void PrintWarnings(const Args& args, const std::vector<std::string>& lines) {
  if (args.Has("--no-warnings")) return;
  for (const std::string& line : lines) std::fprintf(stderr, "vexlor: warning: %s\n", line.c_str());
}

void CarryReporter::FrameDone(const FilterTally& tally, int64_t frame) {
  if (!told_ && tally.carried > carriedBefore_) {
    told_ = true;
    FilterTally one{1, tally.pixels - pixelsBefore_, tally.carried - carriedBefore_};
    PrintWarnings(args_, {"frame " + std::to_string(frame) + ": " + CarryWarning(one)});
  }
  carriedBefore_ = tally.carried;
  pixelsBefore_ = tally.pixels;
}

void CarryReporter::Finish(const FilterTally& tally) {
  // A run of one frame was told of already, or is told now.
  if (told_ && tally.frames <= 1) return;
  if (std::string line = CarryWarning(tally); !line.empty()) PrintWarnings(args_, {line});
}

}  // namespace vexlor::cli
