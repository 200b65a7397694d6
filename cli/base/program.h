// The user's program: from an argument or a file, and refused before any
// work when the filter cannot run it.
#pragma once

#include <string>
#include <string_view>

#include "cli/base/args.h"
#include "pixel/filter.h"

namespace vexlor::cli {

// The program text: from -f FILE (or -f - for standard input) when given,
// else taken off the front of the positional arguments. A file's trailing
// line break is dropped; a NUL byte in it is a data failure.
std::string TakeProgram(Args& args);
std::string ReadProgramFile(const std::string& path);

// Fails when a program is longer than the filter's settings record holds.
void CheckProgramLength(std::string_view program);
// Fails when a program is too long or does not run (a statement without '='
// or that does not compile): the filter would make every pixel black, which
// on the command line is a mistake to report, not a result.
void RequireRuns(std::string_view program, const Filter& filter);
inline constexpr const char* kProgramDoesNotRun =
    "the program does not run (a statement has no '=' or does not compile); 'vexlor check' "
    "shows where";

}  // namespace vexlor::cli
