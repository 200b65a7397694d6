// Warnings drawn from check's report: the parts without effect of the
// statements that run, and the channels left unassigned.
#include "explain/warnings.h"

#include <cstdio>

#include "explain/check.h"

namespace vexlor {

namespace {

// One warning line and the statements that share its fix.
struct Group {
  std::string line;  // the first statement's note
  std::string fix;
  std::vector<int> others;  // further statements with the same fix
};

std::string StatementList(const std::vector<int>& numbers) {
  std::string out = numbers.size() > 1 ? "statements " : "statement ";
  size_t shown = numbers.size() > 6 ? 5 : numbers.size();
  for (size_t i = 0; i < shown; ++i) out += (i ? ", " : "") + std::to_string(numbers[i]);
  if (shown < numbers.size())
    out += " and " + std::to_string(numbers.size() - shown) + " more";
  return out;
}

}  // namespace

std::vector<std::string> ProgramWarnings(std::string_view program) {
  ProgramReport report = CheckProgram(program);
  std::vector<Group> groups;
  for (const StatementReport& r : report.statements) {
    if (!r.ran) break;
    for (size_t i = 0; i < r.notes.size(); ++i) {
      Group* same = nullptr;
      for (Group& g : groups)
        if (g.fix == r.fixes[i]) same = &g;
      if (same) same->others.push_back(r.number);
      else groups.push_back({"statement " + std::to_string(r.number) + ": " + r.notes[i],
                             r.fixes[i], {}});
    }
  }
  for (size_t i = 0; i < report.notes.size(); ++i)
    groups.push_back({report.notes[i], report.fixes[i], {}});
  std::vector<std::string> lines;
  for (const Group& g : groups) {
    std::string line = g.line + "; fix: " + g.fix;
    if (!g.others.empty()) line += " (the same in " + StatementList(g.others) + ")";
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string CarryWarning(const FilterTally& tally) {
  if (tally.carried == 0) return "";
  std::string frames =
      tally.frames > 1 ? " in " + std::to_string(tally.frames) + " frames" : std::string();
  return std::to_string(tally.carried) + " of " + std::to_string(tally.pixels) + " pixels" +
         frames +
         " had a channel outside 0..1, which carried into the next channel as the plug-in does "
         "with \"Verify 0-1 limits\" off (--carry); without --carry each channel is limited to "
         "0..1";
}

}  // namespace vexlor
