// Progress of a run: frames done of the total, frames per second, elapsed time
// and time left on one rewritten line of standard error, when it is a terminal.
#include "cli/base/progress.h"

#include <unistd.h>

#include <algorithm>
#include <string>

namespace vexlor::cli {

Progress::Progress(bool enabled, std::FILE* out)
    : enabled_(enabled), out_(out), start_(std::chrono::steady_clock::now()), last_(start_) {}

Progress Progress::ForArgs(const Args& args) {
  return Progress(!args.Has("--quiet") && ::isatty(STDERR_FILENO) == 1);
}

void Progress::SetTotal(int64_t total, bool estimated) {
  total_ = std::max<int64_t>(total, 0);
  estimated_ = estimated;
}

double Progress::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::PictureDone(int32_t width, int32_t height) {
  if (enabled_ && !finished_)
    std::fprintf(out_, "vexlor: %dx%d picture filtered in %.2f s\n", width, height, Seconds());
  finished_ = true;
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

void Progress::Stage(const char* what) {
  stage_ = what;
  if (enabled_ && !finished_) Print();
}

void Progress::Finish() {
  stage_ = nullptr;
  if (!enabled_ || finished_) return;
  finished_ = true;
  Print();
  std::fputc('\n', out_);
  std::fflush(out_);
}

namespace {

// A duration as m:ss or h:mm:ss.
std::string Clock(double seconds) {
  long long s = static_cast<long long>(std::max(seconds, 0.0) + 0.5);
  char text[32];
  if (s >= 3600) std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  return text;
}

}  // namespace

void Progress::Print() {
  double seconds = Seconds();
  double rate = seconds > 0 ? static_cast<double>(frames_) / seconds : 0.0;
  std::string line = "\rvexlor: " + std::to_string(frames_);
  if (total_ > 0) line += " of " + std::string(estimated_ ? "~" : "") + std::to_string(total_);
  line += frames_ == 1 && total_ == 0 ? " frame" : " frames";
  char tail[96];
  std::snprintf(tail, sizeof tail, " done, %.1f frames/s, %s elapsed", rate, Clock(seconds).c_str());
  line += tail;
  if (stage_) line += std::string(", ") + stage_;
  else if (total_ > 0 && rate > 0 && frames_ < total_)
    line += ", " + Clock(static_cast<double>(total_ - frames_) / rate) + " left";
  line += "\033[K";
  std::fputs(line.c_str(), out_);
  std::fflush(out_);
  printed_ = true;
}

}  // namespace vexlor::cli
