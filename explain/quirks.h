// The language's oddities, kept as the plug-in has them, that a newcomer
// would take for mistakes: check notes each one that a statement uses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexlor {

// The notes for an expression that compiles, one per oddity it uses, in the
// order of the table of oddities.
std::vector<std::string> QuirkNotes(std::string_view expression);

// The oddities, in the order of their notes.
enum Quirk { kQuirkE, kQuirkMed, kQuirkRound, kQuirkTrunc, kQuirkSignBeforePower, kQuirkDivision };

// Every oddity's note, in the table's order, for the help, the manual and the
// editor's reference of the language.
inline constexpr std::string_view kQuirkNotes[] = {
    "e is 2.85 here, not Euler's number; write 2.718281828459045 for that",
    "med(...) is the mean of its arguments here, not the median",
    "round(x) is trunc(x+0.5): round(-1.2) is 0 and round(-1.7) is -1; for a negative x write "
    "-round(-x)",
    "trunc(x) cuts toward 0: trunc(-1.7) is -1 (floor(-1.7) is -2)",
    "a leading minus binds before ^: -2^2 is 4; write -(2^2) for -4",
    "a division by 0 gives +infinity whatever the sign (-1/0 and 0/0 too), which a channel "
    "shows as 1 (clamped) or carries",
};

}  // namespace vexlor
