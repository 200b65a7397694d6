// Reads one script line the way the host's script reader does: a single call
// `Name(arg, ...)` whose arguments are string literals or integers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "test_host.h"

namespace vexlor::testhost {

struct ScriptCall {
  std::string name;
  std::vector<ScriptArg> args;
};

// Parses `line` by the host's rules: double-quoted strings with the escapes
// \a \b \f \n \r \t \v, \xHH (exactly two hex digits; \x00 ends the string),
// and a backslash before any other character standing for that character;
// integers in decimal or 0x hex with an optional unary minus. False for
// anything else, including raw line breaks and text after the call.
bool ParseScriptCall(std::string_view line, ScriptCall& out);

}  // namespace vexlor::testhost
