// Progress of a run: frames done and frames per second on one rewritten line
// of standard error, when it is a terminal.
#include "cli/progress.h"

#include <unistd.h>

namespace vexlor::cli {

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
