// Compiles expressions read from stdin, one per line in hexadecimal, with the seven built-in
// variables bound, and prints for each the code CompileExpression returns and the number of
// instructions it stored. check.py --codes compares these with the Python model.
#include <cstdio>
#include <iostream>
#include <string>

#include "engine/engine.h"

namespace {

// Decodes a line of hexadecimal digit pairs; false on anything else.
bool Unhex(const std::string& line, std::string& out) {
  if (line.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < line.size(); i += 2) {
    unsigned byte = 0;
    if (std::sscanf(line.c_str() + i, "%2x", &byte) != 1) return false;
    out.push_back(static_cast<char>(byte));
  }
  return true;
}

}  // namespace

int main() {
  static const char* const kBuiltins[] = {"rs", "gs", "bs", "rd", "gd", "bd", "fr"};
  double slots[7] = {};
  std::string line, text;
  while (std::getline(std::cin, line)) {
    if (!Unhex(line, text)) {
      std::fprintf(stderr, "codes: bad input line\n");
      return 2;
    }
    vexlor::ClearVariables();
    for (int i = 0; i < 7; ++i) vexlor::RegisterVariable(kBuiltins[i], &slots[i]);
    int code = vexlor::CompileExpression(text);
    std::printf("%d %d\n", code, vexlor::CurrentProgram().count);
  }
  return 0;
}
