// Progress of a run on one rewritten line of standard error.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "cli/base/args.h"

namespace vexlor::cli {

// Frames done (of the total, when known), frames per second, elapsed time
// and time left on one rewritten stderr line, when enabled (stderr is a
// terminal and --quiet was not given). A single picture gets one line when
// done instead. The line is ended
// by Finish or, when a failure unwinds past it, by the destructor, so that
// the failure's message starts on a line of its own.
class Progress {
 public:
  explicit Progress(bool enabled, std::FILE* out = stderr);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress();
  static Progress ForArgs(const Args& args);
  // The number of frames the run will make; `estimated` when it comes from
  // a duration rather than a count.
  void SetTotal(int64_t total, bool estimated);
  void FrameDone();
  // Ends the run of one picture of width x height.
  void PictureDone(int32_t width, int32_t height);
  // Shows what the run does after its last frame ("finishing: encoder"),
  // until Finish.
  void Stage(const char* what);
  void Finish();

 private:
  void Print();
  double Seconds() const;
  bool enabled_;
  std::FILE* out_;
  int64_t frames_ = 0;
  int64_t total_ = 0;  // 0: unknown
  bool estimated_ = false;
  std::chrono::steady_clock::time_point start_, last_;
  bool printed_ = false;
  bool finished_ = false;
  const char* stage_ = nullptr;
};

}  // namespace vexlor::cli
