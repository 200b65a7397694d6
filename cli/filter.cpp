// Runs the frame mapping on pictures held top line first.
#include "cli/filter.h"

namespace vexlor::cli {

RunOptions RunOptionsFrom(const Args& args) {
  RunOptions run;
  run.threads = static_cast<int>(CountOption(args, "--threads", 0, 1024));
  run.reference = args.Has("--reference");
  run.countCarries = !args.Has("--clamp") && !args.Has("--no-warnings");
  return run;
}

int64_t FilterPixels(const FilterSettings& settings, const uint32_t* src, uint32_t* dst,
                     int32_t width, int32_t height, int32_t frame, const RunOptions& run) {
  if (width <= 0 || height <= 0) return 0;
  // The host's bitmaps are stored bottom line first: row 0 of the views is
  // the picture's last line, and each row steps one line up.
  size_t last = static_cast<size_t>(height - 1) * static_cast<size_t>(width);
  int32_t pitch = -width * 4;
  ConstPixelView in{src + last, width, height, pitch};
  PixelView out{dst + last, width, height, pitch};
  FrameReport report;
  FrameReport* counted = run.countCarries ? &report : nullptr;
  if (run.reference) MapFrameReference(settings, in, out, frame, counted);
  else MapFrame(settings, in, out, frame, run.threads, counted);
  return report.carried;
}

}  // namespace vexlor::cli
