// Progress of a run on one rewritten line of standard error.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "cli/args.h"

namespace vexlor::cli {

// Frames done and frames per second on one rewritten stderr line, when
// enabled (stderr is a terminal and --quiet was not given). The line is ended
// by Finish or, when a failure unwinds past it, by the destructor, so that
// the failure's message starts on a line of its own.
class Progress {
 public:
  explicit Progress(bool enabled, std::FILE* out = stderr);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress();
  static Progress ForArgs(const Args& args);
  void FrameDone();
  void Finish();

 private:
  void Print();
  bool enabled_;
  std::FILE* out_;
  int64_t frames_ = 0;
  std::chrono::steady_clock::time_point start_, last_;
  bool printed_ = false;
  bool finished_ = false;
};

}  // namespace vexlor::cli
