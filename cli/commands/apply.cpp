// vexlor apply: filters a picture (PNG, PPM, JPEG) into a new picture, or a
// video into a new video. INPUT is told by its content, OUTPUT by its name.
#include <unistd.h>

#include "cli/base/program.h"
#include "cli/base/progress.h"
#include "cli/commands/commands.h"
#include "cli/commands/common.h"
#include "cli/media/picture.h"
#include "cli/media/video.h"
#include "explain/warnings.h"

namespace vexlor::cli {

namespace {

// Options that only pictures or only videos take.
constexpr const char* kPictureOnly[] = {"--frame", "--format", "--png-level"};
constexpr const char* kVideoOnly[] = {"--frames", "--codec", "--codec-option", "--no-audio",
                                      "--ignore-damage"};

// Whether INPUT is a video; a media file the tool does not read fails here.
bool InputIsVideo(const std::string& input) {
  if (input == "-" || StartsLikePicture(input)) return false;
  if (Video().IsVideoFile(input)) return true;
  Video().Probe(input);
  FailData(input + ": unsupported format (neither a video nor a PNG, PPM or JPEG picture)");
}

void RefuseOptions(const Args& args, std::span<const char* const> names, const char* kind) {
  for (const char* name : names)
    if (args.Has(name)) FailUsage(std::string(name) + " is for " + kind + " only");
}

void ApplyPicture(Args& args, Filter& filter, const std::string& input,
                  const std::string& output) {
  const std::string* formatName = args.Value("--format");
  if (formatName && output != "-") FailUsage("--format is for OUTPUT '-' only");
  if (output == "-" && !formatName) FailUsage("OUTPUT '-' needs --format png, ppm or jpg");
  PictureFormat format = formatName ? FormatNamed(*formatName) : FormatForName(output);
  int32_t frame = Int32Option(args, "--frame", 0);
  int pngLevel =
      static_cast<int>(CountOption(args, "--png-level", kPngDefaultLevel, kPngMaxLevel));
  std::optional<uint32_t> seed = RandSeedOption(args);
  Progress progress = Progress::ForArgs(args);

  Picture in = ReadPicture(input);
  Picture out{in.width, in.height, std::vector<uint32_t>(in.pixels.size())};
  if (seed) filter.StartRand(*seed, 0);
  filter.Map(in.View(), out.View(), frame);
  WritePicture(output, out, format, pngLevel);
  progress.PictureDone(in.width, in.height);
  PrintCarryWarning(args, filter.tally());
}

void ApplyVideoFile(Args& args, Filter& filter, const std::string& input,
                    const std::string& output) {
  VideoJob job;
  job.input = input;
  job.output = output;
  job.filter = &filter;
  if (const std::string* frames = args.Value("--frames")) job.range = ParseFrameRange(*frames);
  job.randSeed = RandSeedOption(args);
  if (const std::string* codec = args.Value("--codec")) job.codec = *codec;
  for (const auto& [key, value] : args.options) {
    if (key != "--codec-option") continue;
    size_t eq = value.find('=');
    if (eq == std::string::npos || eq == 0)
      FailUsage("--codec-option: '" + value + "' is not KEY=VALUE");
    job.options.emplace_back(value.substr(0, eq), value.substr(eq + 1));
  }
  job.audio = !args.Has("--no-audio");
  job.ignoreDamage = args.Has("--ignore-damage");
  job.progress = !args.Has("--quiet") && ::isatty(STDERR_FILENO) == 1;
  Video().Apply(job);
  PrintCarryWarning(args, filter.tally());
}

}  // namespace

int RunApply(Args& args) {
  std::string program = TakeProgram(args);
  ExpectPositional(args, 2, "PROGRAM INPUT OUTPUT");
  const std::string& input = args.positional[0];
  const std::string& output = args.positional[1];
  // The program first: a failing one is reported before any file is opened.
  Filter filter(program, args.Has("--clamp"), RunOptionsFrom(args));
  RequireRuns(program, filter);
  PrintWarnings(args, ProgramWarnings(program));
  bool pictureOut = output == "-" || IsPictureName(output);
  if (!pictureOut && !Video().IsVideoName(output))
    FailData(output + ": unknown extension; OUTPUT must be a picture (.png, .ppm, .jpg) or a "
                      "video (.mp4, .mkv, .mov, .webm, .avi, .y4m, ...)");
  if (input == "-" && !pictureOut)
    FailUsage("INPUT '-' is read as a picture; a video OUTPUT needs a video file as INPUT");
  bool videoIn = InputIsVideo(input);
  if (videoIn && pictureOut)
    FailUsage(input + " is a video and " + output +
              " a picture; name a video OUTPUT (.mp4, .mkv, ...), or pick a frame with 'ffmpeg "
              "-i VIDEO -vf select=eq(n\\,N) -frames:v 1 frame.png'");
  if (!videoIn && !pictureOut)
    FailUsage(input + " is a picture and " + output +
              " a video; name a picture OUTPUT (.png, .ppm, .jpg)");
  if (videoIn) {
    RefuseOptions(args, kPictureOnly, "pictures");
    ApplyVideoFile(args, filter, input, output);
  } else {
    RefuseOptions(args, kVideoOnly, "videos");
    ApplyPicture(args, filter, input, output);
  }
  return 0;
}

}  // namespace vexlor::cli
