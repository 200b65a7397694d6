// Runs the frame mapping on pictures held top line first, and reports
// progress while frames go by.
#include <unistd.h>

#include "cli/cli.h"

namespace vexlor::cli {

RunOptions RunOptionsFrom(const Args& args) {
  RunOptions run;
  run.threads = static_cast<int>(CountOption(args, "--threads", 0, 1024));
  run.reference = args.Has("--reference");
  return run;
}

void FilterPixels(const FilterSettings& settings, const uint32_t* src, uint32_t* dst,
                  int32_t width, int32_t height, int32_t frame, const RunOptions& run) {
  if (width <= 0 || height <= 0) return;
  // The host's bitmaps are stored bottom line first: row 0 of the views is
  // the picture's last line, and each row steps one line up.
  size_t last = static_cast<size_t>(height - 1) * static_cast<size_t>(width);
  int32_t pitch = -width * 4;
  ConstPixelView in{src + last, width, height, pitch};
  PixelView out{dst + last, width, height, pitch};
  if (run.reference) MapFrameReference(settings, in, out, frame);
  else MapFrame(settings, in, out, frame, run.threads);
}

Progress::Progress(bool enabled, std::FILE* out)
    : enabled_(enabled), out_(out), start_(std::chrono::steady_clock::now()), last_(start_) {}

Progress Progress::ForArgs(const Args& args) {
  return Progress(!args.Has("--quiet") && ::isatty(STDERR_FILENO) == 1);
}

void Progress::FrameDone() {
  ++frames_;
  auto now = std::chrono::steady_clock::now();
  if (enabled_ && (!printed_ || now - last_ >= std::chrono::milliseconds(250))) {
    last_ = now;
    Print();
  }
}

Progress::~Progress() { Finish(); }

void Progress::Finish() {
  if (!enabled_ || finished_) return;
  finished_ = true;
  Print();
  std::fputc('\n', out_);
  std::fflush(out_);
}

void Progress::Print() {
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  double rate = seconds > 0 ? static_cast<double>(frames_) / seconds : 0.0;
  std::fprintf(out_, "\rvexlor: %lld frame%s done, %.1f frames/s ",
               static_cast<long long>(frames_), frames_ == 1 ? "" : "s", rate);
  std::fflush(out_);
  printed_ = true;
}

}  // namespace vexlor::cli
