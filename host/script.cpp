// The filter-list summary, the script line the host saves (written by
// ScriptLine), and the script function "Config" that reads such a line back.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host/glue.h"

namespace vexlor {

// The summary shows at most this many characters of the program.
constexpr size_t kSummaryLength = 128;

// The host gives no length: the summary is at most 132 characters and the
// host's buffer holds more.
void VEXLOR_CDECL DescribeSettings(const FilterActivation* fa, const FilterFunctions*, char* buf) {
  std::string_view text = SettingsText(SettingsOf(fa)).substr(0, kSummaryLength);
  std::sprintf(buf, " [%.*s] ", static_cast<int>(text.size()), text.data());
}

// Writes the whole line or nothing: a cut line would not parse, or would
// restore a different program.
bool VEXLOR_CDECL WriteScriptLine(FilterActivation* fa, const FilterFunctions*, char* buf,
                                  int maxlen) {
  std::string line = ScriptLine(SettingsOf(fa));
  if (maxlen <= 0) return false;
  if (line.size() >= static_cast<size_t>(maxlen)) {
    buf[0] = '\0';
    return false;
  }
  std::memcpy(buf, line.c_str(), line.size() + 1);
  return true;
}

// The text of a string argument; null when the argument holds no string.
static const char* ArgText(const CScriptValue& arg) {
  if (arg.type != T_STR || arg.u.s == nullptr) return nullptr;
  return *arg.u.s;
}

// Copies the whole string argument: the host frees it right after the call.
static void SetTextFromArg(FilterActivation* fa, const CScriptValue& arg) {
  if (const char* text = ArgText(arg)) SetSettingsText(SettingsOf(fa), text);
}

// Config("<text>", <option>): the line WriteScriptLine writes.
static void VEXLOR_CDECL ScriptConfig(IScriptInterpreter*, void* object, CScriptValue* argv,
                                      int) {
  auto* fa = static_cast<FilterActivation*>(object);
  SetTextFromArg(fa, argv[0]);
  SettingsOf(fa).clamp = argv[1].u.i != 0 ? 1 : 0;
}

// Config("<text>"): sets the program and keeps the option.
static void VEXLOR_CDECL ScriptConfigText(IScriptInterpreter*, void* object, CScriptValue* argv,
                                          int) {
  SetTextFromArg(static_cast<FilterActivation*>(object), argv[0]);
}

const ScriptFunctionDef kScriptFunctions[] = {
    {ScriptConfig, "Config", "0si"},
    {ScriptConfigText, nullptr, "0s"},
    {nullptr, nullptr, nullptr},
};

}  // namespace vexlor
