// Reads one script line the way the host's script reader does: a single call
// `Name(arg, ...)` whose arguments are string literals or integers. Needs no
// Windows headers, so that the native fuzz targets can use it too.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexlor::testhost {

// A script argument of the host's kind: strings live behind a handle that
// the caller frees right after the call.
struct ScriptArg {
  bool isString;
  std::string text;
  int value;
};

struct ScriptCall {
  std::string name;
  std::vector<ScriptArg> args;
};

// Parses `line` by the host's rules: double-quoted strings with the escapes
// \a \b \f \n \r \t \v, \xHH (exactly two hex digits; \x00 ends the string),
// and a backslash before any other character standing for that character;
// integers of up to 32 bits in decimal or 0x hex with an optional unary
// minus. False for anything else, including raw line breaks and text after
// the call.
bool ParseScriptCall(std::string_view line, ScriptCall& out);

}  // namespace vexlor::testhost
