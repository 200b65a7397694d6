// Warnings about a program that runs but does not do what it seems to say:
// the parts that check finds without effect, and the output channels that no
// statement assigns. apply and stream print them before their work starts;
// the editor shows the same lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pixel/filter.h"

namespace vexlor {

// One line per warning, without the "vexlor: warning: " prefix, e.g.
// "statement 2: assigns nothing: ...; fix: ...". The parts with the same fix
// in several statements make one line that names them all. Empty for a
// program with nothing to warn about.
std::vector<std::string> ProgramWarnings(std::string_view program);

// The line telling how many pixels of a run had a channel that carried into
// its neighbour, and that without --carry they are limited; empty when none
// did.
std::string CarryWarning(const FilterTally& tally);

}  // namespace vexlor
