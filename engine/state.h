// The engine's single process-wide state, shared by the files of engine/.
#pragma once

#include "engine.h"

namespace vexlor {

struct VariableEntry {
  char* name;  // private copy, owned by the table; nullptr ends the table
  double* storage;
};

struct EngineState {
  const char* cursor = nullptr;  // next character to read
  const char* textBegin = nullptr;
  const char* textEnd = nullptr;  // end of the view being compiled
  const char* tokenBegin = nullptr;  // first character of the current token
  Token token{};
  std::string_view tokenText;  // name or number just read
  Program program{};
  ValueStack stack{};
  Token pending[kStackSize]{};
  int pendingDepth = 0;
  int nesting = 0;
  // Set when the nesting bound stopped the compilation. What the callers find
  // wrong after that (an unclosed parenthesis) only follows from the stop, so
  // the bound's code and place stand.
  bool tooDeep = false;
  EngineError error = ERR_NONE;
  int errorOffset = -1;
  VariableEntry variables[kMaxVariables]{};
};

extern EngineState g_engine;

// Records an error code at the current token; later detections overwrite it.
void Fail(EngineError code);

}  // namespace vexlor
