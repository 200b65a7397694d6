// vexlor frames: a video's frame count and key frames, to plan the ranges of
// a render cut into pieces (apply --frames).
#include <cstdio>
#include <string>

#include "cli/commands/common.h"
#include "cli/media/video.h"

namespace vexlor::cli {

namespace {

// The numbers as one line, separated by spaces.
std::string Joined(const std::vector<int64_t>& numbers, const char* separator) {
  std::string out;
  for (int64_t n : numbers) out += (out.empty() ? "" : separator) + std::to_string(n);
  return out;
}

int RunFrames(Args& args) {
  ExpectPositional(args, 1, "INPUT");
  if (args.Has("--count") && args.Has("--keys")) FailUsage("--count and --keys exclude each other");
  const std::string& input = args.positional[0];
  if (!Video().IsVideoFile(input)) {
    Video().Probe(input);
    FailData(input + ": not a video (a still picture has one frame)");
  }
  FramePlan plan = Video().PlanFrames(input);
  if (!plan.numbered)
    std::fprintf(stderr,
                 "vexlor: %s: packets without time stamps: apply --frames decodes from the "
                 "first frame\n",
                 input.c_str());
  if (args.Has("--count")) {
    std::printf("%lld\n", static_cast<long long>(plan.count));
  } else if (args.Has("--keys")) {
    if (!plan.keys.empty()) std::printf("%s\n", Joined(plan.keys, "\n").c_str());
  } else {
    std::printf("frames: %lld\nkey frames: %s\n", static_cast<long long>(plan.count),
                plan.numbered ? Joined(plan.keys, " ").c_str() : "unknown");
  }
  return 0;
}

constexpr OptionRow kOptions[] = {
    Flag("--count", "print only the frame count"),
    Flag("--keys", "print only the key frames' numbers, one a line"),
};

}  // namespace

extern const Command kFramesCommand = {
    .name = "frames",
    .summary = "count a video's frames and list its key frames",
    .usage = "vexlor frames [--count | --keys] INPUT",
    .about =
        "Reads a video's packets without decoding them and prints its frame count and\n"
        "the numbers of its key frames, as apply --frames numbers frames (from 0, in\n"
        "the order they are shown). A range that starts at a key frame decodes nothing\n"
        "before it; any other starts decoding at the key frame before it.",
    .options = kOptions,
    .examplesTitle = "examples",
    .examples = "vexlor frames in.mp4\n"
                "vexlor frames --count in.mp4",
    .run = RunFrames,
};

}  // namespace vexlor::cli
