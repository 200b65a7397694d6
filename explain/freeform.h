// Program text as people write it: one statement per line, spaces around
// operators, comments, the last ';' left out. The plug-in's language cuts a
// statement at its first space and ignores what follows the last ';', so
// such text is turned into the one-line program the plug-in runs, and that
// is the text every command and the editor run, check and warn about.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vexlor {

// The text that runs, made from the text a person wrote.
struct ProgramText {
  std::string runs;            // the one-line program the filter runs
  std::vector<size_t> origin;  // origin[i]: offset in the written text of runs[i];
                               // one more entry, the written text's size, for runs' end
  std::string refusal;         // why the written text is refused; empty when it is not
  size_t refusedAt = 0;        // where in the written text, when refused
};

// Free-form text: '#' starts a comment that runs to the end of its line;
// blanks (spaces, tabs, line breaks) are removed; a ';' is added after the
// last statement when it has none. Text whose blanks stand between two
// parts of one token once removed ("1 2" would be 12, "< =" would be <=)
// is refused, at the first such blank.
ProgramText FreeFormProgram(std::string_view written);
// The text run byte for byte, as the plug-in runs its saved settings.
ProgramText ExactProgram(std::string_view written);

// The refusal as lines to print: the message, then the written text's line
// with a caret under the place, with its line and column.
std::string RefusalLines(std::string_view written, const ProgramText& text);

// Offset in the written text of an offset in the text that runs.
size_t WrittenOffset(const ProgramText& text, size_t runsOffset);

}  // namespace vexlor
