// The command line: each command's options in one table (name, value, range,
// help, the inputs they are for), parsed and checked by it.
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

// What an option's value is: none (a flag), a whole number in a range
// (checked as the command line is parsed), a file name, one of a few words,
// or any text the command reads itself.
enum class ValueKind : uint8_t { kFlag, kNumber, kFile, kWord, kText };

// Which inputs an option is for; apply refuses a picture option for a video
// and the reverse.
enum class InputKind : uint8_t { kAny, kPicture, kVideo };

// One option of a command, defined once: its parsing, its line of --help, the
// manual page and the completion come from here.
struct OptionRow {
  std::string_view name;   // "--frame" or "-f"
  std::string_view value;  // placeholder ("N"), empty for a flag
  std::string_view help;   // its line of --help; "\n" continues it on the next
  ValueKind kind = ValueKind::kFlag;
  int64_t min = 0, max = 0;  // kNumber: the range
  std::span<const std::string_view> words = {};  // kWord: the values; kText: the usual ones, for the completion
  std::string_view alias = {};                   // another spelling ("-s" for --size)
  InputKind input = InputKind::kAny;
};

// Option rows for the usual kinds of value.
constexpr OptionRow Flag(std::string_view name, std::string_view help,
                          InputKind input = InputKind::kAny) {
  return {.name = name, .value = {}, .help = help, .input = input};
}
constexpr OptionRow Number(std::string_view name, std::string_view value, int64_t min,
                            int64_t max, std::string_view help,
                            InputKind input = InputKind::kAny) {
  return {.name = name, .value = value, .help = help, .kind = ValueKind::kNumber, .min = min,
          .max = max, .input = input};
}
constexpr OptionRow Text(std::string_view name, std::string_view value, std::string_view help,
                          InputKind input = InputKind::kAny) {
  return {.name = name, .value = value, .help = help, .kind = ValueKind::kText, .input = input};
}
inline constexpr int64_t kInt32Min = INT32_MIN, kInt32Max = INT32_MAX;

// A command line split into options and positional arguments.
struct Args {
  std::string command;
  std::span<const OptionRow> table;  // the command's options table
  std::vector<std::pair<std::string, std::string>> options;  // in order given, by name
  std::vector<std::string> positional;

  bool Has(std::string_view name) const;
  // Value of the last occurrence of an option (by its name or alias), or nullptr.
  const std::string* Value(std::string_view name) const;
  // The number an option gives (checked against its range when parsed), or
  // the fallback when it is not given.
  int64_t Number(std::string_view name, int64_t fallback) const;
  std::optional<int64_t> Number(std::string_view name) const;
};

// Splits argv by the command's options. An argument is an option when it
// starts with "--" or is one of the command's short options; "--" ends the
// options. Values follow as the next argument or as "--name=value". --help is
// every command's. A usage failure names an unknown option, a missing value
// or a number out of its range.
Args ParseArgs(std::string_view command, std::span<const OptionRow> options,
               std::span<char* const> argv);

// A whole decimal number from min to max, or nullopt.
std::optional<int64_t> ParseWhole(std::string_view text, int64_t min, int64_t max);

// Three comma-separated numbers "A,B,C"; false unless the text is exactly that.
bool ParseTriple(const std::string& text, double out[3]);

// --rand-seed N (0 to 4294967295): the state of rand()'s generator before
// the first pixel; nullopt when not given (the generator's first state).
std::optional<uint32_t> RandSeedOption(const Args& args);
inline constexpr OptionRow kRandSeedOption =
    Number("--rand-seed", "N", 0, UINT32_MAX, "rand()'s generator state before the first pixel");

// Fails with "COMMAND takes ..." unless exactly `count` positional arguments
// remain; `what` names them for the message.
void ExpectPositional(const Args& args, size_t count, const char* what);

}  // namespace vexlor::cli
