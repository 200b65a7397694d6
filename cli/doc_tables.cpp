// Prints the command and option tables as JSON, for cmake/helpdoc.py, which
// makes the manual page and the bash completion from them at build time.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/commands/command.h"

namespace vexlor::cli {
namespace {

using nlohmann::json;

constexpr const char* kKinds[] = {"flag", "number", "file", "word", "text"};

// Text split at its line breaks.
json Lines(std::string_view text) {
  json lines = json::array();
  for (size_t at = 0; at <= text.size();) {
    size_t end = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

json OptionJson(const OptionRow& o) {
  json names = {o.name};
  if (!o.alias.empty()) names.push_back(o.alias);
  json words = json::array();
  for (std::string_view w : o.words) words.push_back(w);
  return {{"names", names}, {"value", o.value}, {"help", Lines(o.help)},
          {"kind", kKinds[static_cast<int>(o.kind)]}, {"words", words}};
}

json CommandJson(const Command& c) {
  json groups = json::array();
  for (InputKind input : {InputKind::kAny, InputKind::kPicture, InputKind::kVideo}) {
    json options = json::array();
    for (const OptionRow& o : c.options)
      if (o.input == input) options.push_back(OptionJson(o));
    if (!options.empty()) groups.push_back({{"title", OptionGroup(input)}, {"options", options}});
  }
  json notes = json::array();
  for (std::string_view n : c.notes) notes.push_back(n);
  return {{"name", c.name},         {"summary", c.summary},
          {"usage", Lines(c.usage)}, {"about", Lines(c.about)},
          {"groups", groups},        {"examplesTitle", c.examplesTitle},
          {"examples", Lines(c.examples)}, {"after", c.after},
          {"notesTitle", c.notesTitle},    {"notes", notes}};
}

}  // namespace
}  // namespace vexlor::cli

int main() {
  using namespace vexlor::cli;
  json commands = json::array();
  for (const Command* c : Commands()) commands.push_back(CommandJson(*c));
  json tables = {{"version", "vexlor " VEXLOR_VERSION}, {"title", kMainTitle},
                 {"usage", Lines(kMainUsage)},          {"about", Lines(kMainAbout)},
                 {"commands", commands}};
  std::puts(tables.dump(1).c_str());
}
