// The command line: options by table and typed values.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/base/failure.h"

namespace vexlor::cli {

// One option of a command: "--name" or "-x", with or without a value.
struct OptionSpec {
  std::string_view name;
  std::string_view value;  // placeholder shown in messages, empty for a flag
};

// A command line split into options and positional arguments.
struct Args {
  std::string command;
  std::vector<std::pair<std::string, std::string>> options;  // in order given
  std::vector<std::string> positional;

  bool Has(std::string_view name) const;
  // Value of the last occurrence of an option, or nullptr.
  const std::string* Value(std::string_view name) const;
  // The same for an option with two spellings (such as -s and --size): the
  // last occurrence of either.
  const std::string* Value(std::string_view name, std::string_view alias) const;
};

// Splits argv by the command's options. An argument is an option when it
// starts with "--" or is one of the command's short options; "--" ends the
// options. Values follow as the next argument or as "--name=value".
Args ParseArgs(std::string_view command, std::span<const OptionSpec> options,
               std::span<char* const> argv);

// Typed option values: a usage failure names the option on a bad value.
int32_t Int32Option(const Args& args, std::string_view name, int32_t fallback);
int64_t CountOption(const Args& args, std::string_view name, int64_t fallback, int64_t max);

// Three comma-separated numbers "A,B,C"; false unless the text is exactly that.
bool ParseTriple(const std::string& text, double out[3]);

// --rand-seed N (0 to 4294967295): the state of rand()'s generator before
// the first pixel; nullopt when not given (the generator's first state).
std::optional<uint32_t> RandSeedOption(const Args& args);

// Fails with "COMMAND takes ..." unless exactly `count` positional arguments
// remain; `what` names them for the message.
void ExpectPositional(const Args& args, size_t count, const char* what);

}  // namespace vexlor::cli
