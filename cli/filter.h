// Runs the frame mapping on pictures held top line first.
#pragma once

#include <cstdint>

#include "cli/args.h"
#include "pixel/pixel.h"

namespace vexlor::cli {

struct RunOptions {
  int threads = 0;         // MapFrame's thread count, 0 = one per core
  bool reference = false;  // MapFrameReference instead of MapFrame
};
RunOptions RunOptionsFrom(const Args& args);

// Filters a picture stored top line first into dst (same size). The frame
// mapping sees it bottom line first, as the host lays out its bitmaps.
void FilterPixels(const FilterSettings& settings, const uint32_t* src, uint32_t* dst,
                  int32_t width, int32_t height, int32_t frame, const RunOptions& run);

}  // namespace vexlor::cli
