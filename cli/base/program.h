// The user's program: from an argument or a file, made into the text that
// runs, and refused before any work when the filter cannot run it or it
// cannot do what it says.
#pragma once

#include <string>
#include <string_view>

#include "cli/base/args.h"
#include "explain/freeform.h"
#include "pixel/filter.h"

namespace vexlor::cli {

// The program text: from -f FILE (or -f - for standard input) when given,
// else taken off the front of the positional arguments. A file's trailing
// line break is dropped; a NUL byte in it is a data failure.
std::string TakeProgram(Args& args);
std::string ReadProgramFile(const std::string& path);

// The text a command runs of what the user wrote: free-form, or byte for
// byte with --exact-text. A free-form text that would join two tokens is a
// data failure that shows the place.
ProgramText ProgramToRun(const Args& args, std::string_view written);
// TakeProgram, then ProgramToRun: the text that runs.
std::string TakeProgramToRun(Args& args);

// Fails when a program is longer than the filter's settings record holds.
void CheckProgramLength(std::string_view program);
// Fails when a program is too long or does not run (a statement without '='
// or that does not compile): the filter would make every pixel black, which
// on the command line is a mistake to report, not a result. The failure
// says what check says first: the engine's message, the place and a hint.
void RequireRuns(std::string_view program, const Filter& filter);
inline constexpr const char* kProgramDoesNotRun =
    "the program does not run (a statement has no '=' or does not compile); 'vexlor check' "
    "shows where";
// Fails, unless the command line has --lenient, when the program has a
// warning: a part of it that does nothing or a channel never assigned means
// that it cannot do what it says. Prints the warnings otherwise.
void RequireDoesWhatItSays(const Args& args, std::string_view program);

}  // namespace vexlor::cli
