// vexlor test and vexlor pixel: run a program once, on the dialog's test
// pixel or on given channel values. Other tools parse their standard output,
// so its format is fixed.
#include <cinttypes>

#include "cli/base/program.h"
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

int RunTest(Args& args) {
  std::string program = TakeProgramToRun(args);
  ExpectPositional(args, 0, "exactly one PROGRAM");
  bool runs = false;
  std::string msg = TestMessage(program, &runs);
  std::printf("%s\n", msg.c_str());
  return runs ? 0 : kExitData;
}

int RunPixel(Args& args) {
  float rgb[3] = {0.5f, 0.5f, 0.5f};
  SourceChannels(args, rgb);
  auto frame = static_cast<int32_t>(args.Number("--frame", 0));
  std::string program = TakeProgramToRun(args);
  ExpectPositional(args, 0, "one PROGRAM");
  float rd = 0, gd = 0, bd = 0;
  if (!RunStatements(program, rgb[0], rgb[1], rgb[2], frame, rd, gd, bd))
    FailData(kProgramDoesNotRun);
  std::printf("%.9g %.9g %.9g\n", static_cast<double>(rd), static_cast<double>(gd),
              static_cast<double>(bd));
  // The packed word on a line of its own, so that the first line stays what
  // tools read; clamping (the default, as in apply) changes only the packed
  // word, so --clamp and --carry show it.
  bool clamp = !args.Has("--carry");
  if (args.Has("--clamp") || args.Has("--carry") || args.Has("--packed")) std::printf("0x%08" PRIX32 "\n", PackPixel(rd, gd, bd, clamp));
  return 0;
}

constexpr OptionRow kTestOptions[] = {
    kExactTextOption,
    ProgramFileOption("read PROGRAM from FILE (- for standard input)"),
};

constexpr OptionRow kPixelOptions[] = {
    Text("--rgb", "R,G,B", "source channels rs, gs, bs (0 to 255/256; above 1 warns)"),
    Text("--bytes", "R,G,B", "source channels as bytes 0..255 (each divided by 256)"),
    Number("--frame", "N", kInt32Min, kInt32Max, "frame number fr"),
    Flag("--packed", "also print the packed destination pixel"),
    Flag("--clamp", "pack with each channel limited to 0..255, the default\n"
                    "(implies --packed)"),
    Flag("--carry", "pack as the plug-in does with \"Verify 0-1 limits\" off:\n"
                    "a channel outside 0..1 carries into its neighbour\n"
                    "(implies --packed)"),
    kExactTextOption,
    Flag("--no-warnings", "no warning about --rgb values above 1"),
    ProgramFileOption("read PROGRAM from FILE (- for standard input)"),
};

}  // namespace

extern const Command kTestCommand = {
    .name = "test",
    .summary = "print the configuration dialog's test message for a program",
    .usage = "vexlor test PROGRAM",
    .about = "Runs PROGRAM once on rs = gs = bs = 0.5 at frame 100 and prints the\n"
             "configuration dialog's test message. Exit 0 on success, 1 after\n"
             "\"Error in expression !\".",
    .options = kTestOptions,
    .examplesTitle = "example",
    .examples = "vexlor test 'rd=rs;gd=gs*0.5;bd=sin(bs*pi);'",
    .run = RunTest,
};

extern const Command kPixelCommand = {
    .name = "pixel",
    .summary = "run a program on one pixel and print rd gd bd",
    .usage = "vexlor pixel [--rgb R,G,B | --bytes R,G,B] [--frame N] [--packed]\n"
             "             [--clamp | --carry] PROGRAM",
    .about = "Runs PROGRAM once on the given channel values (default 0.5,0.5,0.5) and frame\n"
             "(default 0) and prints \"rd gd bd\". With --packed, --clamp or --carry a second\n"
             "line gives the packed destination pixel 0xXXRRGGBB as the filter writes it:\n"
             "each channel limited to 0..255, or with --carry carried into its neighbour\n"
             "as the plug-in does with \"Verify 0-1 limits\" off. Exit 1\n"
             "when the program does not run.",
    .options = kPixelOptions,
    .examplesTitle = "examples",
    .examples = "vexlor pixel --rgb 0.5,0.25,0.125 'rd=gs;gd=rs;bd=bs*2;'\n"
                "vexlor pixel --bytes 200,100,50 --packed 'rd=rs*1.5;gd=gs;bd=bs;'",
    .run = RunPixel,
};

}  // namespace vexlor::cli
