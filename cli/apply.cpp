// vexlor apply: filters one PNG or PPM picture into a new PNG or PPM file.
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/filter.h"
#include "cli/picture.h"
#include "cli/progress.h"
#include "cli/warnings.h"

namespace vexlor::cli {

int RunApply(Args& args) {
  std::string program = TakeProgram(args);
  ExpectPositional(args, 2, "PROGRAM INPUT OUTPUT");
  const std::string& input = args.positional[0];
  const std::string& output = args.positional[1];
  FormatForName(output);
  int32_t frame = Int32Option(args, "--frame", 0);
  int pngLevel =
      static_cast<int>(CountOption(args, "--png-level", kPngDefaultLevel, kPngMaxLevel));
  RunOptions run = RunOptionsFrom(args);
  FilterSettings settings = MakeSettings(program, args.Has("--clamp"));
  CheckProgramRuns(program);
  PrintWarnings(args, ProgramWarnings(program));
  Progress progress = Progress::ForArgs(args);

  Picture in = ReadPicture(input);
  Picture out{in.width, in.height, std::vector<uint32_t>(in.pixels.size())};
  FilterPixels(settings, in.pixels.data(), out.pixels.data(), in.width, in.height, frame, run);
  progress.FrameDone();
  progress.Finish();
  WritePicture(output, out, pngLevel);
  return 0;
}

}  // namespace vexlor::cli
