// Hints for check: what to write instead of a text that does not compile,
// given only where the text at the failing place makes the fix certain.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexlor {

// Hints for an expression that does not compile; `at` is the offset in it
// where the compiler stopped. A call's argument that fails is reported at
// the ',' or ')' after it: `at` is moved to the place inside the argument
// that a hint is about (the operator of "a&&b"). Names are classified by
// the engine's tables as they stand (variables registered so far count as
// known). Compiles the arguments on their own: the engine's last error and
// program are those of the last one tried.
std::vector<std::string> CompileHints(std::string_view expression, size_t& at);

// Known names that `name` is probably meant to be: one that differs only in
// case, or one edit away (a name that is a prefix of `name` first, as sin is
// of sine). At most three.
std::vector<std::string> CloseNames(std::string_view name);

// A hint for an unknown name: the engine's spelling of a function known by
// another name elsewhere (fabs: abs), else the close names; empty when there
// is none.
std::string NameHint(std::string_view name);

}  // namespace vexlor
