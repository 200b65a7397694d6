// Runs the frame mapping on pictures held top line first.
#pragma once

#include <cstdint>

#include "cli/args.h"
#include "pixel/pixel.h"

namespace vexlor::cli {

struct RunOptions {
  int threads = 0;           // MapFrame's thread count, 0 = one per core
  bool reference = false;    // MapFrameReference instead of MapFrame
  bool countCarries = true;  // count the pixels whose channels carried
};
// The options of a command line; carries are not counted where nobody is
// told of them (--clamp, --no-warnings).
RunOptions RunOptionsFrom(const Args& args);

// Filters a picture stored top line first into dst (same size). The frame
// mapping sees it bottom line first, as the host lays out its bitmaps.
// Returns the pixels whose channels carried (0 with the clamp option, or
// when run.countCarries is off).
int64_t FilterPixels(const FilterSettings& settings, const uint32_t* src, uint32_t* dst,
                     int32_t width, int32_t height, int32_t frame, const RunOptions& run);

// The frames a run filtered, their pixels, and those whose channels carried.
struct FilterTally {
  int64_t frames = 0;
  int64_t pixels = 0;
  int64_t carried = 0;
  void Add(int32_t width, int32_t height, int64_t carriedPixels) {
    ++frames;
    pixels += int64_t(width) * int64_t(height);
    carried += carriedPixels;
  }
};

}  // namespace vexlor::cli
