// Command-line parsing shared by every command: options by table and typed
// values with range checks.
#include <cerrno>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "cli/base/args.h"

namespace vexlor::cli {

void FailUsage(const std::string& message) { throw Failure(kExitUsage, message); }
void FailData(const std::string& message) { throw Failure(kExitData, message); }
void FailErrno(const std::string& what) { FailData(what + ": " + std::strerror(errno)); }

bool Args::Has(std::string_view name) const { return Value(name) != nullptr; }

const std::string* Args::Value(std::string_view name) const { return Value(name, name); }

const std::string* Args::Value(std::string_view name, std::string_view alias) const {
  const std::string* found = nullptr;
  for (const auto& [key, value] : options)
    if (key == name || key == alias) found = &value;
  return found;
}

namespace {

const OptionSpec* FindSpec(std::span<const OptionSpec> options, std::string_view name) {
  for (const OptionSpec& option : options)
    if (option.name == name) return &option;
  return nullptr;
}

bool IsOptionLike(std::string_view arg, std::span<const OptionSpec> options) {
  return (arg.size() > 2 && arg.starts_with("--")) || FindSpec(options, arg);
}

// Parses a whole decimal integer into [min, max].
bool ParseInteger(const std::string& text, int64_t min, int64_t max, int64_t& out) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return !text.empty() && ec == std::errc() && ptr == end && out >= min && out <= max;
}

}  // namespace

Args ParseArgs(std::string_view command, std::span<const OptionSpec> options,
               std::span<char* const> argv) {
  Args args;
  args.command = command;
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
    const OptionSpec* option = FindSpec(options, name);
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
    args.options.emplace_back(name, std::move(value));
  }
  return args;
}

int32_t Int32Option(const Args& args, std::string_view name, int32_t fallback) {
  const std::string* text = args.Value(name);
  if (!text) return fallback;
  int64_t v;
  if (!ParseInteger(*text, INT32_MIN, INT32_MAX, v))
    FailUsage(std::string(name) + ": '" + *text +
              "' is not a whole number from -2147483648 to 2147483647");
  return static_cast<int32_t>(v);
}

int64_t CountOption(const Args& args, std::string_view name, int64_t fallback, int64_t max) {
  const std::string* text = args.Value(name);
  if (!text) return fallback;
  int64_t v;
  if (!ParseInteger(*text, 0, max, v))
    FailUsage(std::string(name) + ": '" + *text + "' is not a whole number from 0 to " +
              std::to_string(max));
  return v;
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
  const std::string* text = args.Value("--rand-seed");
  if (!text) return std::nullopt;
  int64_t v;
  if (!ParseInteger(*text, 0, UINT32_MAX, v))
    FailUsage("--rand-seed: '" + *text + "' is not a whole number from 0 to 4294967295");
  return static_cast<uint32_t>(v);
}

void ExpectPositional(const Args& args, size_t count, const char* what) {
  if (args.positional.size() == count) return;
  std::string message = args.command + " takes " + what;
  if (args.positional.size() > count)
    message += "; unexpected '" + args.positional[count] + "'";
  FailUsage(message + " (see 'vexlor " + args.command + " --help')");
}

}  // namespace vexlor::cli
