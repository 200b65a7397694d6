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

// Every oddity's note, for the documents: one line each.
std::vector<std::string> AllQuirkNotes();

}  // namespace vexlor
