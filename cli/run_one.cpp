// vexlor test and vexlor pixel: run a program once, on the dialog's test
// pixel or on given channel values. Other tools parse their standard output,
// so its format is fixed.
#include <cerrno>
#include <cstdlib>

#include "cli/args.h"
#include "cli/commands.h"

namespace vexlor::cli {

namespace {

// Parses a whole decimal number; false on anything else.
bool ParseDouble(const char* s, double& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtod(s, &end);
  return end != s && *end == '\0' && errno == 0;
}

bool ParseRgb(const std::string& text, float rgb[3]) {
  size_t a = text.find(','), b = a == std::string::npos ? a : text.find(',', a + 1);
  if (b == std::string::npos || text.find(',', b + 1) != std::string::npos) return false;
  std::string parts[3] = {text.substr(0, a), text.substr(a + 1, b - a - 1), text.substr(b + 1)};
  for (int i = 0; i < 3; ++i) {
    double v;
    if (!ParseDouble(parts[i].c_str(), v)) return false;
    rgb[i] = static_cast<float>(v);
  }
  return true;
}

}  // namespace

int RunTest(Args& args) {
  std::string program = TakeProgram(args);
  ExpectPositional(args, 0, "exactly one PROGRAM");
  std::string msg = TestMessage(program);
  std::printf("%s\n", msg.c_str());
  return msg == "Error in expression !" ? 1 : 0;
}

int RunPixel(Args& args) {
  float rgb[3] = {0.5f, 0.5f, 0.5f};
  if (const std::string* text = args.Value("--rgb"); text && !ParseRgb(*text, rgb))
    FailUsage("--rgb takes three numbers R,G,B");
  int32_t frame = Int32Option(args, "--frame", 0);
  std::string program = TakeProgram(args);
  ExpectPositional(args, 0, "one PROGRAM");
  float rd = 0, gd = 0, bd = 0;
  if (!RunStatements(program, rgb[0], rgb[1], rgb[2], frame, rd, gd, bd))
    FailData(kProgramDoesNotRun);
  std::printf("%.9g %.9g %.9g\n", static_cast<double>(rd), static_cast<double>(gd),
              static_cast<double>(bd));
  return 0;
}

}  // namespace vexlor::cli
