// What the filtering commands share.
#include "cli/commands/common.h"

#include <cstdio>

#include "explain/warnings.h"

namespace vexlor::cli {

FilterRun RunOptionsFrom(const Args& args) {
  FilterRun run;
  run.threads = static_cast<int>(args.Number("--threads", 0));
  run.reference = args.Has("--reference");
  run.countCarries = !args.Has("--clamp") && !args.Has("--no-warnings");
  return run;
}

void PrintWarnings(const Args& args, const std::vector<std::string>& lines) {
  if (args.Has("--no-warnings")) return;
  for (const std::string& line : lines) std::fprintf(stderr, "vexlor: warning: %s\n", line.c_str());
}

void PrintCarryWarning(const Args& args, const FilterTally& tally) {
  std::string line = CarryWarning(tally);
  if (!line.empty()) PrintWarnings(args, {line});
}

}  // namespace vexlor::cli
