// vexlor apply: filters a picture (PNG, PPM, JPEG) into a new picture, or a
// video into a new video. INPUT is told by its content, OUTPUT by its name.
#include <sys/stat.h>
#include <unistd.h>

#include "cli/base/program.h"
#include "cli/base/progress.h"
#include "cli/commands/common.h"
#include "cli/media/picture.h"
#include "cli/media/video.h"
#include "explain/warnings.h"

namespace vexlor::cli {

namespace {

// INPUT's picture, read whole, or nothing when INPUT is a video; a media file
// the tool does not read fails here.
std::optional<Picture> ReadInput(const std::string& input, bool keepOrientationTag) {
  if (input == "-") return ReadPicture(input, keepOrientationTag);
  std::optional<Picture> picture = ReadIfPicture(input, keepOrientationTag);
  if (picture || Video().IsVideoFile(input)) return picture;
  Video().Probe(input);
  FailData(input + ": unsupported format (neither a video nor a picture: " + PictureExtensions() +
           ")");
}

// Refuses the first option given that is for the other kind of input.
void RefuseOptions(const Args& args, InputKind other, const char* kind) {
  for (const auto& [name, value] : args.options)
    for (const OptionRow& row : args.table)
      if (row.name == name && row.input == other)
        FailUsage(name + " is for " + kind + " only");
}

// Refuses an OUTPUT that is INPUT's own file, found by device and inode so
// that links and other spellings of the path count too: the run would replace
// the original. --overwrite-input allows it (the output is written beside and
// renamed over the input only once complete).
void RefuseSameFile(const Args& args, const std::string& input, const std::string& output) {
  if (input == "-" || output == "-" || args.Has("--overwrite-input")) return;
  struct stat in, out;
  if (::stat(input.c_str(), &in) != 0 || ::stat(output.c_str(), &out) != 0) return;
  if (in.st_dev == out.st_dev && in.st_ino == out.st_ino)
    FailUsage(output + " is the input file itself; name another OUTPUT, or add "
                       "--overwrite-input to replace the input");
}

// Refuses an OUTPUT whose extension names neither a picture format nor a
// video container, in the terms of INPUT's kind.
void RefuseUnknownExtension(bool pictureIn, const std::string& output) {
  if (Extension(output).empty())
    FailUsage(output + ": OUTPUT has no extension to tell its format by (a picture: " +
              PictureExtensions() + "; a video: mp4, mkv, mov, webm, avi, y4m, ...)");
  if (Video().IsVideoName(output)) return;
  if (pictureIn) FormatForName(output);
  FailUsage(output + ": unknown extension; OUTPUT must be a picture (" + PictureExtensions() +
            ") or a video (.mp4, .mkv, .mov, .webm, .avi, .y4m, ...)");
}

void ApplyPicture(Args& args, Filter& filter, const std::string& input, const Picture& in,
                  const std::string& output) {
  const std::string* formatName = args.Value("--format");
  if (formatName && output != "-") FailUsage("--format is for OUTPUT '-' only");
  if (output == "-" && ::isatty(STDOUT_FILENO) == 1)
    FailUsage("OUTPUT '-' is a terminal, which shows no picture; redirect standard output to a "
              "file or a pipe");
  if (output == "-" && !formatName)
    FailUsage("OUTPUT '-' needs --format " + PictureExtensions());
  PictureFormat format = formatName ? FormatNamed(*formatName) : FormatForName(output);
  auto frame = static_cast<int32_t>(args.Number("--frame", 0));
  PictureSettings settings;
  settings.pngLevel = static_cast<int>(args.Number("--png-level", kPngDefaultLevel));
  settings.quality = static_cast<int>(args.Number("--quality", 0));
  std::optional<uint32_t> seed = RandSeedOption(args);
  Progress progress = Progress::ForArgs(args);

  if (in.depth > 8)
    PrintWarnings(args, {input + " has " + std::to_string(in.depth) +
                         "-bit channels; it is filtered and written at 8 bits"});
  Picture out{in.width, in.height, std::vector<uint32_t>(in.pixels.size())};
  if (!args.Has("--strip-metadata")) out.metadata = in.metadata;
  if (seed) filter.StartRand(*seed, 0);
  filter.Map(in.View(), out.View(), frame);
  WritePicture(output, out, format, settings);
  progress.PictureDone(in.width, in.height);
  CarryReporter(args).Finish(filter.tally());
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
  if (const std::string* codec = args.Value("--audio-codec")) job.audioCodec = *codec;
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
  job.warnings = !args.Has("--no-warnings");
  job.metadata = !args.Has("--strip-metadata");
  CarryReporter carries(args);
  if (RunOptionsFrom(args).countCarries)
    job.frameDone = [&](int64_t index) { carries.FrameDone(filter.tally(), index); };
  Video().Apply(job);
  carries.Finish(filter.tally());
}

int RunApply(Args& args) {
  std::string program = TakeProgramToRun(args);
  ExpectPositional(args, 2, "PROGRAM INPUT OUTPUT");
  const std::string& input = args.positional[0];
  const std::string& output = args.positional[1];
  // The program first: a failing one is reported before any file is opened.
  Filter filter(program, ClampFrom(args), RunOptionsFrom(args));
  RequireRuns(program, filter);
  RequireDoesWhatItSays(args, program);
  RefuseSameFile(args, input, output);
  bool pictureOut = output == "-" || IsPictureName(output);
  if (input == "-" && !pictureOut && !Extension(output).empty())
    FailUsage("INPUT '-' is read as a picture; a video OUTPUT needs a video file as INPUT");
  std::optional<Picture> picture = ReadInput(input, args.Has("--keep-orientation-tag"));
  bool videoIn = !picture;
  if (!pictureOut) RefuseUnknownExtension(!videoIn, output);
  if (videoIn && pictureOut)
    FailUsage(input + " is a video and " + output +
              " a picture; name a video OUTPUT (.mp4, .mkv, ...), or pick a frame with 'ffmpeg "
              "-i VIDEO -vf select=eq(n\\,N) -frames:v 1 frame.png'");
  if (!videoIn && !pictureOut)
    FailUsage(input + " is a picture and " + output +
              " a video; name a picture OUTPUT (" + PictureExtensions() + ")");
  if (videoIn) {
    RefuseOptions(args, InputKind::kPicture, "pictures");
    ApplyVideoFile(args, filter, input, output);
  } else {
    RefuseOptions(args, InputKind::kVideo, "videos");
    ApplyPicture(args, filter, input, *picture, output);
  }
  return 0;
}

constexpr std::string_view kFormats[] = {"png", "ppm", "jpg", "jpeg", "tif",
                                         "tiff", "bmp", "webp"};
// Encoders offered by the completion; any other that FFmpeg has is taken too.
constexpr std::string_view kCodecs[] = {"libx264", "libx265", "libvpx-vp9", "libaom-av1",
                                        "ffv1",    "mpeg4",   "prores_ks",  "huffyuv",
                                        "rawvideo"};

constexpr OptionRow kOptions[] = {
    kCarryOption,
    kClampOption,
    kExactTextOption,
    kLenientOption,
    kRandSeedOption,
    kThreadsOption,
    kReferenceOption,
    kQuietOption,
    kNoWarningsOption,
    ProgramFileOption("read PROGRAM from FILE (- for standard input)"),
    Number("--frame", "N", kInt32Min, kInt32Max, "frame number fr (default 0)", InputKind::kPicture),
    Number("--png-level", "N", 0, kPngMaxLevel,
           "PNG compression: 0 none, 1 fastest (default), 9 smallest", InputKind::kPicture),
    Number("--quality", "N", 1, 100,
           "JPEG and WebP quality (default: JPEG 95, WebP lossless)", InputKind::kPicture),
    Flag("--keep-orientation-tag",
         "keep a JPEG's EXIF orientation as a tag instead of turning\n"
         "the pixels upright (viewers turn the output as the input)",
         InputKind::kPicture),
    {.name = "--format", .value = "FMT",
     .help = "png, ppm, jpg, tif, bmp or webp: OUTPUT's format when it\n"
             "is - (standard output); INPUT - reads standard input",
     .kind = ValueKind::kWord, .words = kFormats, .input = InputKind::kPicture},
    Text("--frames", "FIRST-LAST",
         "filter only input frames FIRST to LAST (FIRST- to the\n"
         "end); rand() gives what a whole run gives there",
         InputKind::kVideo),
    {.name = "--codec", .value = "NAME", .help = "another video encoder (ffv1, libx265, ...)",
     .kind = ValueKind::kText, .words = kCodecs, .input = InputKind::kVideo},
    Text("--codec-option", "K=V", "an encoder option (repeatable; pix_fmt=FMT too)",
         InputKind::kVideo),
    Text("--audio-codec", "NAME",
         "encode the sound with NAME (aac, libopus, flac, ...); by\n"
         "default it is copied, or encoded only where the container\n"
         "cannot hold it (Opus for .webm, AAC for .mp4 and .mov)",
         InputKind::kVideo),
    Flag("--no-audio", "leave out the audio and subtitle streams", InputKind::kVideo),
    Flag("--strip-metadata",
         "leave out the input's metadata (EXIF, XMP, colour profile,\n"
         "PNG text; a video's titles, dates, languages, ...)"),
    Flag("--overwrite-input", "allow OUTPUT to be INPUT's own file, replaced once complete"),
    Flag("--ignore-damage", "skip damaged frames instead of stopping", InputKind::kVideo),
};

}  // namespace

extern const Command kApplyCommand = {
    .name = "apply",
    .summary = "filter a picture or a video into a new one",
    .usage = "vexlor apply [OPTIONS] PROGRAM INPUT OUTPUT\n"
             "vexlor apply [OPTIONS] -f FILE INPUT OUTPUT",
    .about =
        "Filters a picture or a video. INPUT is told by its content: a picture (PNG:\n"
        "gray, gray+alpha, RGB, RGBA or palette; binary PPM, P6 with maxval 255;\n"
        "JPEG; TIFF; BMP; WebP) or a video in any container and codec FFmpeg reads\n"
        "(mp4, mkv, mov, webm, avi, y4m, ...). OUTPUT is told by its extension: a\n"
        "picture as 8-bit RGB (.png, .ppm, .jpg, .tif, .bmp, .webp), or a video (.mp4,\n"
        ".mov, .mkv: H.264 at CRF 18; .webm: VP9; others: see the README). A picture\n"
        "gives a picture, a video a video; OUTPUT may not be INPUT's own file.\n"
        "A JPEG's EXIF orientation turns its pixels upright; metadata (EXIF, XMP,\n"
        "colour profile, PNG text; a video's titles and languages) is kept where\n"
        "OUTPUT's format holds it.\n"
        "\n"
        "Each frame is filtered bottom line first, as the host lays out its frames,\n"
        "with fr its index in the video from 0; rand() runs on from frame to frame.\n"
        "A video keeps its frame rate, time stamps, size, aspect ratio, rotation (or\n"
        "is turned upright where the container keeps none), colour tags and depth\n"
        "where the encoder can; its audio and subtitle streams are copied unchanged,\n"
        "or sound is encoded for a container that cannot hold it (one line). OUTPUT\n"
        "is replaced only once it is complete; on any failure, Ctrl-C included, it is\n"
        "left as it was.\n"
        "\n"
        "PROGRAM is read as people write it: '#' starts a comment to the end of the\n"
        "line, blanks and line breaks are removed, a last ';' is added; 'check' shows\n"
        "what runs. A program that does not run (the filter would make every pixel\n"
        "black) is an error, told as 'check' tells it; so is one that cannot do what\n"
        "it says (a part without effect, an output channel never assigned) unless\n"
        "--lenient runs it with warnings. Each channel is limited to 0..255 unless\n"
        "--carry asks for the plug-in's arithmetic with \"Verify 0-1 limits\" off,\n"
        "where a channel outside 0..1 carries into its neighbour (to match the\n"
        "plug-in's pixels bit for bit, or for the effect); a warning then comes\n"
        "after the first frame that carries.",
    .options = kOptions,
    .examplesTitle = "examples",
    .examples = "vexlor apply 'rd=rs;gd=gs;bd=bs*abs(sin(fr/10));' in.mp4 out.mp4\n"
                "vexlor apply 'y=0.3*rs+0.59*gs+0.11*bs;rd=y;gd=y;bd=y;' in.jpg gray.png\n"
                "vexlor apply --frames 0-249 -f effect.txt in.mkv part1.mkv\n"
                "vexlor apply --codec ffv1 'rd=rand();gd=gs;bd=bs;' in.mov noise.mkv\n"
                "cat in.png | vexlor apply --format jpg 'rd=gs;gd=rs;bd=bs;' - - > out.jpg",
    .run = RunApply,
    .takesSignals = true,
};

}  // namespace vexlor::cli
