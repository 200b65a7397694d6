// vexlor command line: runs the filter's program outside the host, on single
// pixels, pictures and raw video streams, and diagnoses programs.
#include <cstring>
#include <new>

#include "cli/base/args.h"
#include "cli/commands/commands.h"
#include "cli/base/signals.h"

namespace vexlor::cli {

namespace {

struct Command {
  const char* name;
  const char* summary;  // one line for the command list
  const char* help;     // usage, options and examples
  std::span<const OptionSpec> options;
  int (*run)(Args& args);
};

constexpr const char* kMainHelp =
    "vexlor " VEXLOR_VERSION ": a per-pixel expression filter for pictures and videos\n"
    "\n"
    "usage: vexlor COMMAND [OPTIONS] ARGUMENTS\n"
    "       vexlor --help | --version\n"
    "\n"
    "commands:\n"
    "%s"
    "\n"
    "A PROGRAM is a sequence of name=expression; statements on the source channels\n"
    "rs gs bs (0 to 255/256) and the frame number fr, assigning rd gd bd, e.g.\n"
    "'rd=gs;gd=rs;bd=bs*2;'. Wherever a command takes PROGRAM, -f FILE reads it\n"
    "from a file instead (-f - from standard input).\n"
    "\n"
    "Exit status: 0 success, 1 bad data (input, program, files), 2 bad command line.\n"
    "Run 'vexlor COMMAND --help' for a command's options and examples.\n";

constexpr const char* kApplyHelp =
    "usage: vexlor apply [OPTIONS] PROGRAM INPUT OUTPUT\n"
    "       vexlor apply [OPTIONS] -f FILE INPUT OUTPUT\n"
    "\n"
    "Filters a picture or a video. INPUT is told by its content: a picture (PNG:\n"
    "8-bit gray, gray+alpha, RGB, RGBA or palette; binary PPM, P6 with maxval 255;\n"
    "JPEG) or a video in any container and codec FFmpeg reads (mp4, mkv, mov,\n"
    "webm, avi, y4m, ...). OUTPUT is told by its extension: a picture as 8-bit RGB\n"
    "(.png, .ppm, .jpg), or a video (.mp4, .mov, .mkv: H.264 at CRF 18; .webm: VP9;\n"
    "others: see the README). A picture gives a picture, a video a video.\n"
    "\n"
    "Each frame is filtered bottom line first, as the host lays out its frames,\n"
    "with fr its index in the video from 0; rand() runs on from frame to frame.\n"
    "A video keeps its frame rate, time stamps, size, aspect ratio, rotation and\n"
    "colour tags, and its audio and subtitle streams are copied unchanged. OUTPUT\n"
    "is replaced only once it is complete; on any failure, Ctrl-C included, it is\n"
    "left as it was. A program that does not run (the filter would make every\n"
    "pixel black) is an error: see 'check'. Parts of a program without effect and\n"
    "output channels that no statement assigns are warned about on standard\n"
    "error before the work starts.\n"
    "\n"
    "options:\n"
    "  --clamp               limit each channel to 0..255 (\"Verify 0-1 limits\")\n"
    "  --rand-seed N         rand()'s generator state before the first pixel\n"
    "  --threads N           threads to filter on (default 0: one per core)\n"
    "  --reference           use the straightforward per-pixel frame mapping\n"
    "  --quiet               no progress on standard error (warnings still show)\n"
    "  --no-warnings         no warnings about parts of the program without effect\n"
    "  -f FILE               read PROGRAM from FILE (- for standard input)\n"
    "picture options:\n"
    "  --frame N             frame number fr (default 0)\n"
    "  --png-level N         PNG compression: 0 none, 1 fastest (default), 9 smallest\n"
    "  --format FMT          png, ppm or jpg: OUTPUT's format when it is - (standard\n"
    "                        output); INPUT - reads standard input\n"
    "video options:\n"
    "  --frames FIRST-LAST   filter only input frames FIRST to LAST (FIRST- to the\n"
    "                        end); rand() gives what a whole run gives there\n"
    "  --codec NAME          another video encoder (ffv1, libx265, ...)\n"
    "  --codec-option K=V    an encoder option (repeatable; pix_fmt=FMT too)\n"
    "  --no-audio            leave out the audio and subtitle streams\n"
    "  --ignore-damage       skip damaged frames instead of stopping\n"
    "\n"
    "examples:\n"
    "  vexlor apply 'rd=rs;gd=gs;bd=bs*abs(sin(fr/10));' in.mp4 out.mp4\n"
    "  vexlor apply --clamp 'y=0.3*rs+0.59*gs+0.11*bs;rd=y;gd=y;bd=y;' in.jpg gray.png\n"
    "  vexlor apply --frames 0-249 -f effect.txt in.mkv part1.mkv\n"
    "  vexlor apply --codec ffv1 'rd=rand();gd=gs;bd=bs;' in.mov noise.mkv\n"
    "  cat in.png | vexlor apply --format jpg 'rd=gs;gd=rs;bd=bs;' - - > out.jpg\n";

constexpr const char* kStreamHelp =
    "usage: vexlor stream --size WxH [OPTIONS] PROGRAM\n"
    "\n"
    "Reads raw frames of W x H 32-bit pixels from standard input (bytes B, G, R, X\n"
    "per pixel, top line first: ffmpeg's bgr0 or bgra), filters them with frame\n"
    "numbers N, N+1, ... and writes each frame in the same format to standard\n"
    "output as soon as it is done; the X byte out is the pixel's top byte as the\n"
    "filter wrote it. A last, incomplete frame is an error after every complete\n"
    "frame was written. A program that does not run is an error: see 'check';\n"
    "parts without effect and unassigned outputs are warned about first.\n"
    "\n"
    "options:\n"
    "  --size WxH       frame size in pixels (required; also -s WxH)\n"
    "  --clamp          limit each channel to 0..255 (\"Verify 0-1 limits\")\n"
    "  --start-frame N  frame number of the first frame (default 0)\n"
    "  --frames K       stop after K frames (default: at the end of the input)\n"
    "  --threads N      threads to filter on (default 0: one per core)\n"
    "  --reference      use the straightforward per-pixel frame mapping\n"
    "  --rand-seed N    rand()'s generator state before the first pixel\n"
    "  --quiet          no progress on standard error (warnings still show)\n"
    "  --no-warnings    no warnings about parts of the program without effect\n"
    "  -f FILE          read PROGRAM from FILE\n"
    "\n"
    "example (a video through ffmpeg and back):\n"
    "  ffmpeg -v error -i in.mp4 -f rawvideo -pix_fmt bgr0 - |\n"
    "    vexlor stream --size 640x360 --clamp 'rd=rs;gd=gs;bd=bs*abs(sin(fr/10));' |\n"
    "    ffmpeg -v error -f rawvideo -pix_fmt bgr0 -s 640x360 -r 25 -i - -pix_fmt yuv420p \\\n"
    "      out.mp4\n"
    "('vexlor apply PROGRAM in.mp4 out.mp4' does all of it in one command.)\n";

constexpr const char* kCheckHelp =
    "usage: vexlor check [--listing] PROGRAM\n"
    "\n"
    "Explains a program: each statement's number and text and what it assigns; for\n"
    "the first statement that fails, the engine's message and the column where the\n"
    "problem was found; and the parts that have no effect (names that cannot be\n"
    "assigned, text after the last ';', an expression cut at a space, a line break\n"
    "before a name), each with its fix; under an error, hints on what to write\n"
    "instead where the text makes them certain. Exit 0 when the program runs\n"
    "(with a warning when an output channel is never assigned), 1 when it does not.\n"
    "\n"
    "options:\n"
    "  --listing   show each statement's compiled postfix program\n"
    "  -f FILE     read PROGRAM from FILE (- for standard input)\n"
    "\n"
    "examples:\n"
    "  vexlor check 'rd=rs *2;gd=gs;bd=bs;'\n"
    "  vexlor check --listing 'x=max(rs,gs,bs);rd=x;gd=x;bd=x;'\n";

constexpr const char* kTestHelp =
    "usage: vexlor test PROGRAM\n"
    "\n"
    "Runs PROGRAM once on rs = gs = bs = 0.5 at frame 100 and prints the\n"
    "configuration dialog's test message. Exit 0 on success, 1 after\n"
    "\"Error in expression !\".\n"
    "\n"
    "options:\n"
    "  -f FILE   read PROGRAM from FILE (- for standard input)\n"
    "\n"
    "example:\n"
    "  vexlor test 'rd=rs;gd=gs*0.5;bd=sin(bs*pi);'\n";

constexpr const char* kPixelHelp =
    "usage: vexlor pixel [--rgb R,G,B | --bytes R,G,B] [--frame N] [--packed]\n"
    "                    [--clamp] PROGRAM\n"
    "\n"
    "Runs PROGRAM once on the given channel values (default 0.5,0.5,0.5) and frame\n"
    "(default 0) and prints \"rd gd bd\". With --packed or --clamp a second line\n"
    "gives the packed destination pixel 0xXXRRGGBB as the filter writes it. Exit 1\n"
    "when the program does not run.\n"
    "\n"
    "options:\n"
    "  --rgb R,G,B    source channels rs, gs, bs (0 to 255/256; above 1 warns)\n"
    "  --bytes R,G,B  source channels as bytes 0..255 (each divided by 256)\n"
    "  --frame N      frame number fr\n"
    "  --packed       also print the packed destination pixel\n"
    "  --clamp        pack with each channel limited to 0..255 (implies --packed)\n"
    "  --no-warnings  no warning about --rgb values above 1\n"
    "  -f FILE        read PROGRAM from FILE (- for standard input)\n"
    "\n"
    "examples:\n"
    "  vexlor pixel --rgb 0.5,0.25,0.125 'rd=gs;gd=rs;bd=bs*2;'\n"
    "  vexlor pixel --bytes 200,100,50 --packed 'rd=rs*1.5;gd=gs;bd=bs;'\n";

constexpr const char* kServeHelp =
    "usage: vexlor serve [OPTIONS] [PROGRAM] INPUT\n"
    "       vexlor serve [OPTIONS] -f FILE INPUT\n"
    "\n"
    "Opens a live editor in the browser: prints the address to open, then serves\n"
    "until Ctrl-C. The page shows INPUT (a picture, or a video's frames) and the\n"
    "picture the program makes of it as the program is typed, with what 'check'\n"
    "says, the warnings, the test message, the apply command line and the plug-in's\n"
    "script line. With -f FILE, Save (Ctrl-S) writes the program back to FILE.\n"
    "The server listens on 127.0.0.1 only, unless --host names another address.\n"
    "\n"
    "options:\n"
    "  --port N         port to listen on (default 0: a free one)\n"
    "  --host ADDR      address to listen on (default 127.0.0.1; others get a warning)\n"
    "  --clamp          start with \"Verify 0-1 limits\" checked\n"
    "  --frame N        start at frame N (fr; for a video, its frame N)\n"
    "  --rand-seed N    rand()'s generator state before the first pixel of a render\n"
    "  -f FILE          edit the program in FILE (Save writes it back)\n"
    "\n"
    "examples:\n"
    "  vexlor serve photo.png\n"
    "  vexlor serve -f effect.txt --clamp photo.jpg\n"
    "  vexlor serve --frame 100 'rd=rs;gd=gs;bd=bs*abs(sin(fr/10));' clip.mp4\n";

constexpr OptionSpec kHelpOption{"--help", ""};
constexpr OptionSpec kFileOption{"-f", "FILE"};
constexpr OptionSpec kApplyOptions[] = {
    kHelpOption,           kFileOption,          {"--clamp", ""},
    {"--frame", "N"},      {"--threads", "N"},   {"--reference", ""},
    {"--quiet", ""},       {"--rand-seed", "N"}, {"--format", "FMT"},
    {"--frames", "FIRST-LAST"}, {"--codec", "NAME"}, {"--codec-option", "KEY=VALUE"},
    {"--no-audio", ""},    {"--ignore-damage", ""}, {"--png-level", "N"},
    {"--no-warnings", ""},
};
constexpr OptionSpec kStreamOptions[] = {
    kHelpOption,         kFileOption,      {"--size", "WxH"},  {"--clamp", ""},
    {"--start-frame", "N"}, {"--frames", "K"}, {"--threads", "N"}, {"--reference", ""},
    {"--quiet", ""},        {"-s", "WxH"},     {"--no-warnings", ""}, {"--rand-seed", "N"},
};
constexpr OptionSpec kCheckOptions[] = {kHelpOption, kFileOption, {"--listing", ""}};
constexpr OptionSpec kServeOptions[] = {kHelpOption,     kFileOption,       {"--port", "N"},
                                        {"--host", "ADDR"}, {"--clamp", ""}, {"--frame", "N"},
                                        {"--rand-seed", "N"}};
constexpr OptionSpec kTestOptions[] = {kHelpOption, kFileOption};
constexpr OptionSpec kPixelOptions[] = {
    kHelpOption,         kFileOption,   {"--rgb", "R,G,B"}, {"--bytes", "R,G,B"},
    {"--frame", "N"},    {"--clamp", ""}, {"--packed", ""},   {"--no-warnings", ""},
};

const Command kCommands[] = {
    {"apply", "filter a picture or a video into a new one", kApplyHelp, kApplyOptions,
     RunApply},
    {"stream", "filter raw 32-bit video frames from standard input to output", kStreamHelp,
     kStreamOptions, RunStream},
    {"check", "explain a program: what each statement does, where it fails", kCheckHelp,
     kCheckOptions, RunCheck},
    {"serve", "edit a program in the browser, the picture following as you type", kServeHelp,
     kServeOptions, RunServe},
    {"test", "print the configuration dialog's test message for a program", kTestHelp,
     kTestOptions, RunTest},
    {"pixel", "run a program on one pixel and print rd gd bd", kPixelHelp, kPixelOptions,
     RunPixel},
};

const Command* FindCommand(std::string_view name) {
  for (const Command& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

void PrintMainHelp() {
  std::string list;
  for (const Command& c : kCommands) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-7s %s\n", c.name, c.summary);
    list += line;
  }
  std::printf(kMainHelp, list.c_str());
}

int Main(int argc, char** argv) {
  InstallSignalCleanup();
  if (argc < 2) FailUsage("missing command (see 'vexlor --help')");
  std::string_view name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    const Command* topic = argc > 2 ? FindCommand(argv[2]) : nullptr;
    if (argc > 2 && !topic) FailUsage("no help on '" + std::string(argv[2]) + "': no such command");
    if (topic) std::fputs(topic->help, stdout);
    else PrintMainHelp();
    return 0;
  }
  if (name == "--version") {
    std::printf("vexlor %s\n", VEXLOR_VERSION);
    return 0;
  }
  const Command* command = FindCommand(name);
  if (!command) FailUsage("unknown command '" + std::string(name) + "' (see 'vexlor --help')");
  Args args = ParseArgs(command->name, command->options, std::span(argv + 2, argv + argc));
  if (args.Has("--help")) {
    std::fputs(command->help, stdout);
    return 0;
  }
  return command->run(args);
}

}  // namespace

}  // namespace vexlor::cli

int main(int argc, char** argv) {
  using vexlor::cli::Failure;
  try {
    int status = vexlor::cli::Main(argc, argv);
    if (std::fflush(stdout) != 0) vexlor::cli::FailErrno("standard output: cannot write");
    return status;
  } catch (const Failure& failure) {
    std::fprintf(stderr, "vexlor: %s\n", failure.what());
    return failure.status;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "vexlor: out of memory\n");
    return vexlor::cli::kExitData;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vexlor: %s\n", e.what());
    return vexlor::cli::kExitData;
  }
}
