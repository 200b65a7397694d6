// Command-line parsing shared by every command: options by table, numbers
// checked against their range as they are read.
#include "cli/base/args.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace vexlor::cli {

void FailUsage(const std::string& message) { throw Failure(kExitUsage, message); }
void FailData(const std::string& message) { throw Failure(kExitData, message); }
void FailErrno(const std::string& what) { FailData(what + ": " + std::strerror(errno)); }

namespace {

constexpr OptionRow kHelp = Flag("--help", "");

// The row of an option by its name or alias; --help for every command.
const OptionRow* FindOption(std::span<const OptionRow> options, std::string_view name) {
  for (const OptionRow& option : options)
    if (option.name == name || (!option.alias.empty() && option.alias == name)) return &option;
  return name == kHelp.name ? &kHelp : nullptr;
}

bool IsOptionLike(std::string_view arg, std::span<const OptionRow> options) {
  return (arg.size() > 2 && arg.starts_with("--")) || FindOption(options, arg);
}

// A number option's value in its range, or a usage failure that says the range.
void CheckNumber(const OptionRow& option, const std::string& value) {
  if (!ParseWhole(value, option.min, option.max))
    FailUsage(std::string(option.name) + ": '" + value + "' is not a whole number from " +
              std::to_string(option.min) + " to " + std::to_string(option.max));
}

}  // namespace

bool Args::Has(std::string_view name) const { return Value(name) != nullptr; }

const std::string* Args::Value(std::string_view name) const {
  const std::string* found = nullptr;
  for (const auto& [key, value] : options)
    if (key == name) found = &value;
  return found;
}

std::optional<int64_t> Args::Number(std::string_view name) const {
  const std::string* text = Value(name);
  if (!text) return std::nullopt;
  return ParseWhole(*text, INT64_MIN, INT64_MAX);
}

int64_t Args::Number(std::string_view name, int64_t fallback) const {
  return Number(name).value_or(fallback);
}

std::optional<int64_t> ParseWhole(std::string_view text, int64_t min, int64_t max) {
  int64_t out = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  if (text.empty() || ec != std::errc() || ptr != end || out < min || out > max) return std::nullopt;
  return out;
}

// Options are stored by their name, whichever spelling was given.
Args ParseArgs(std::string_view command, std::span<const OptionRow> options,
               std::span<char* const> argv) {
  Args args;
  args.command = command;
  args.table = options;
  bool optionsDone = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    std::string_view arg = argv[i];
    if (optionsDone || !IsOptionLike(arg, options)) {
      if (arg == "--" && !optionsDone) optionsDone = true;
      else args.positional.emplace_back(arg);
      continue;
    }
    size_t eq = arg.starts_with("--") ? arg.find('=') : std::string_view::npos;
    std::string_view name = arg.substr(0, eq);
    const OptionRow* option = FindOption(options, name);
    if (!option) FailUsage(std::string(command) + ": unknown option " + std::string(name));
    std::string value;
    if (option->value.empty()) {
      if (eq != std::string_view::npos)
        FailUsage(std::string(command) + ": " + std::string(name) + " takes no value");
    } else if (eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < argv.size()) {
      value = argv[++i];
    } else {
      FailUsage(std::string(command) + ": " + std::string(name) + " needs a " +
                std::string(option->value));
    }
    if (option->kind == ValueKind::kNumber) CheckNumber(*option, value);
    args.options.emplace_back(option->name, std::move(value));
  }
  return args;
}

bool ParseTriple(const std::string& text, double out[3]) {
  if (std::count(text.begin(), text.end(), ',') != 2) return false;
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    size_t end = i < 2 ? text.find(',', start) : text.size();
    std::string part = text.substr(start, end - start);
    char* stop = nullptr;
    errno = 0;
    out[i] = std::strtod(part.c_str(), &stop);
    if (stop == part.c_str() || *stop != '\0' || errno != 0) return false;
    start = end + 1;
  }
  return true;
}

std::optional<uint32_t> RandSeedOption(const Args& args) {
  std::optional<int64_t> seed = args.Number(kRandSeedOption.name);
  if (!seed) return std::nullopt;
  return static_cast<uint32_t>(*seed);
}

void ExpectPositional(const Args& args, size_t count, const char* what) {
  if (args.positional.size() == count) return;
  std::string message = args.command + " takes " + what;
  if (args.positional.size() > count)
    message += "; unexpected '" + args.positional[count] + "'";
  FailUsage(message + " (see 'vexlor " + args.command + " --help')");
}

}  // namespace vexlor::cli
