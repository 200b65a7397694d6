// What the filtering commands share: the run options of a command line and
// the warnings they print.
#pragma once

#include <string>
#include <vector>

#include "cli/base/args.h"
#include "pixel/filter.h"

namespace vexlor::cli {

// How frames are mapped, from --threads and --reference; carries are not
// counted where nobody is told of them (--clamp, --no-warnings).
FilterRun RunOptionsFrom(const Args& args);

// Prints each line to standard error as "vexlor: warning: LINE", unless the
// command line has --no-warnings.
void PrintWarnings(const Args& args, const std::vector<std::string>& lines);
// Prints the carry warning of a run, if any, likewise; after the run.
void PrintCarryWarning(const Args& args, const FilterTally& tally);

}  // namespace vexlor::cli
