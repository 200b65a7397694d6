// vexlor command line: runs the filter's program outside the host.
//   vexlor test PROGRAM                       the dialog's test message
//   vexlor pixel [--rgb R,G,B] [--frame N] PROGRAM
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "pixel/pixel.h"

namespace {

constexpr const char* kUsage =
    "usage: vexlor test PROGRAM\n"
    "       vexlor pixel [--rgb R,G,B] [--frame N] PROGRAM\n";

int Usage(const char* why) {
  std::fprintf(stderr, "vexlor: %s\n%s", why, kUsage);
  return 2;
}

// Parses a whole decimal number; false on anything else.
bool ParseDouble(const char* s, double& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtod(s, &end);
  return end != s && *end == '\0' && errno == 0;
}

bool ParseFrame(const char* s, int32_t& out) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(s, &end, 10);
  if (end == s || *end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  return true;
}

bool ParseRgb(const char* s, float rgb[3]) {
  std::string text(s);
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

int CmdTest(int argc, char** argv) {
  if (argc != 1) return Usage("test takes exactly one PROGRAM");
  std::string msg = vexlor::TestMessage(argv[0]);
  std::printf("%s\n", msg.c_str());
  return msg == "Error in expression !" ? 1 : 0;
}

int CmdPixel(int argc, char** argv) {
  float rgb[3] = {0.5f, 0.5f, 0.5f};
  int32_t frame = 0;
  const char* program = nullptr;
  for (int i = 0; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--rgb" && i + 1 < argc) {
      if (!ParseRgb(argv[++i], rgb)) return Usage("--rgb takes three numbers R,G,B");
    } else if (arg == "--frame" && i + 1 < argc) {
      if (!ParseFrame(argv[++i], frame)) return Usage("--frame takes a 32-bit integer");
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      return Usage(("unknown option " + std::string(arg)).c_str());
    } else if (!program) {
      program = argv[i];
    } else {
      return Usage("pixel takes one PROGRAM");
    }
  }
  if (!program) return Usage("pixel needs a PROGRAM");
  float rd = 0, gd = 0, bd = 0;
  if (!vexlor::RunStatements(program, rgb[0], rgb[1], rgb[2], frame, rd, gd, bd)) {
    std::fprintf(stderr, "vexlor: the program does not run (a statement has no '=' or does not compile)\n");
    return 1;
  }
  std::printf("%.9g %.9g %.9g\n", static_cast<double>(rd), static_cast<double>(gd),
              static_cast<double>(bd));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("missing command");
  std::string_view cmd = argv[1];
  if (cmd == "test") return CmdTest(argc - 2, argv + 2);
  if (cmd == "pixel") return CmdPixel(argc - 2, argv + 2);
  return Usage(("unknown command " + std::string(cmd)).c_str());
}
