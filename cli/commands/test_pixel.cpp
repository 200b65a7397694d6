// vexlor test and vexlor pixel: run a program once, on the dialog's test
// pixel or on given channel values. Other tools parse their standard output,
// so its format is fixed.
#include <cinttypes>

#include "cli/base/program.h"
#include "cli/commands/commands.h"
#include "cli/commands/common.h"

namespace vexlor::cli {

namespace {

// The source channels from --rgb (channel values) or --bytes (0..255 each,
// turned into channel values as the frame mapping unpacks a pixel).
void SourceChannels(const Args& args, float rgb[3]) {
  const std::string* values = args.Value("--rgb");
  const std::string* bytes = args.Value("--bytes");
  if (values && bytes) FailUsage("--rgb and --bytes both give the source channels: use one");
  double v[3];
  if (values) {
    if (!ParseTriple(*values, v)) FailUsage("--rgb takes three numbers R,G,B");
    for (int i = 0; i < 3; ++i) rgb[i] = static_cast<float>(v[i]);
    if (v[0] > 1 || v[1] > 1 || v[2] > 1)
      PrintWarnings(args, {"--rgb " + *values +
                           ": a value above 1 looks like a byte; channel values run from 0 to "
                           "255/256 (--bytes takes bytes)"});
  } else if (bytes) {
    uint32_t packed = 0;
    if (!ParseTriple(*bytes, v)) v[0] = -1;
    for (double b : v) {
      if (!(b >= 0 && b <= 255 && b == static_cast<int>(b)))
        FailUsage("--bytes takes three whole numbers R,G,B from 0 to 255");
      packed = packed << 8 | static_cast<uint32_t>(b);
    }
    UnpackPixel(packed, rgb[0], rgb[1], rgb[2]);
  }
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
  SourceChannels(args, rgb);
  int32_t frame = Int32Option(args, "--frame", 0);
  std::string program = TakeProgram(args);
  ExpectPositional(args, 0, "one PROGRAM");
  float rd = 0, gd = 0, bd = 0;
  if (!RunStatements(program, rgb[0], rgb[1], rgb[2], frame, rd, gd, bd))
    FailData(kProgramDoesNotRun);
  std::printf("%.9g %.9g %.9g\n", static_cast<double>(rd), static_cast<double>(gd),
              static_cast<double>(bd));
  // The packed word on a line of its own, so that the first line stays what
  // tools read; clamping changes only the packed word, so --clamp shows it.
  bool clamp = args.Has("--clamp");
  if (clamp || args.Has("--packed")) std::printf("0x%08" PRIX32 "\n", PackPixel(rd, gd, bd, clamp));
  return 0;
}

}  // namespace vexlor::cli
