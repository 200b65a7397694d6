// Statement runner: executes "name=expression;" statements for one pixel
// through the expression engine, compiling every statement afresh.
#include <cstdio>

#include "engine/engine.h"
#include "pixel/pixel.h"

namespace vexlor {

std::string_view TrimField(std::string_view field) {
  size_t start = field.find_first_not_of(' ');
  if (start == std::string_view::npos) return {};
  field.remove_prefix(start);
  return field.substr(0, field.find(' '));
}

bool NextStatement(std::string_view text, size_t& pos, Statement& out) {
  text = text.substr(0, text.find('\0'));
  size_t semi = pos <= text.size() ? text.find(';', pos) : std::string_view::npos;
  if (semi == std::string_view::npos) return false;
  out.text = text.substr(pos, semi - pos);
  size_t eq = out.text.find('=');
  out.hasEquals = eq != std::string_view::npos;
  out.name = out.hasEquals ? TrimField(out.text.substr(0, eq)) : std::string_view{};
  out.expression = out.hasEquals ? TrimField(out.text.substr(eq + 1)) : std::string_view{};
  pos = semi + 1;
  return true;
}

bool IsRegistrable(std::string_view name) {
  return name.size() <= kMaxNameLength && IsNewVariableName(name);
}

bool RunStatements(std::string_view text, float rs, float gs, float bs, int32_t frame, float& rd,
                   float& gd, float& bd) {
  static const char* const kBuiltins[] = {"rs", "gs", "bs", "rd", "gd", "bd", "fr"};
  // Built-ins first, then one slot per new variable; unassigned slots read 0.
  double slots[7 + kMaxNewVariables] = {rs, gs, bs, 0.0, 0.0, 0.0, static_cast<double>(frame)};
  int used = 7;
  ClearVariables();
  for (int i = 0; i < 7; ++i) RegisterVariable(kBuiltins[i], &slots[i]);

  Statement st;
  for (size_t pos = 0; NextStatement(text, pos, st);) {
    if (!st.hasEquals) return false;
    if (IsRegistrable(st.name) && used < 7 + kMaxNewVariables &&
        RegisterVariable(st.name, &slots[used]))
      ++used;
    if (CompileExpression(st.expression) != ERR_NONE) return false;
    SetVariable(st.name, EvaluateProgram());
  }
  rd = static_cast<float>(GetVariable("rd"));
  gd = static_cast<float>(GetVariable("gd"));
  bd = static_cast<float>(GetVariable("bd"));
  return true;
}

std::string TestMessage(std::string_view text) {
  float rd = 0, gd = 0, bd = 0;
  if (!RunStatements(text, 0.5f, 0.5f, 0.5f, 100, rd, gd, bd)) return "Error in expression !";
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "Expression Successfully Parsed : result (0.5,0.5,0.5,fr=100) = %.2f %.2f %.2f",
                static_cast<double>(rd), static_cast<double>(gd), static_cast<double>(bd));
  return buf;
}

}  // namespace vexlor
