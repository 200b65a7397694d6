// The one door into the core for everything outside engine/ and pixel/: the
// command line, the editor and the plug-ins compile a program once into a
// Filter and map whole frames through it. The host's module keeps its own
// entry through the settings record.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "pixel/pixel.h"
#include "pixel/trace.h"

namespace vexlor {

class FrameMapper;

// How frames are mapped; the pixels do not depend on it.
struct FilterRun {
  int threads = 0;           // 0: one per core
  bool reference = false;    // the straightforward per-pixel mapping
  bool countCarries = true;  // count the pixels whose channels carried
  // Frames go through this mapper, which outlives the filter (an editor
  // keeps one, with its threads, across the programs it renders); nullptr:
  // the filter's own.
  FrameMapper* mapper = nullptr;
};

// The frames a run filtered, their pixels, and those whose channels carried.
struct FilterTally {
  int64_t frames = 0;
  int64_t pixels = 0;
  int64_t carried = 0;
};

// A program with its clamp option, compiled once: whether it runs and how
// many rand() calls each pixel makes, found without running it (the
// generator does not move).
class Filter {
 public:
  enum class Verdict {
    kRuns,     // every statement has '=' and compiles
    kFails,    // the filter would make every pixel 0: a statement has no '=' or does not compile
    kTooLong,  // longer than the settings record holds (kMaxTextLength)
  };

  Filter(std::string_view text, bool clamp, FilterRun run = {});
  ~Filter();
  Filter(const Filter&) = delete;
  Filter& operator=(const Filter&) = delete;

  Verdict verdict() const { return verdict_; }
  bool runs() const { return verdict_ == Verdict::kRuns; }
  const FilterSettings& settings() const { return settings_; }
  // rand() calls per pixel, the same at every pixel and frame (those of the
  // statements before a failing one too).
  uint32_t randCalls() const { return randCalls_; }

  // Sets this thread's rand() generator to where a run that started at
  // `seed` (the generator's first state, as in the plug-in, when none is
  // given) stands after `pixelsBefore` pixels: frames of the same size
  // before the one to map come to frames * width * height.
  void StartRand(std::optional<uint32_t> seed, uint64_t pixelsBefore) const;

  // Maps one frame held top line first into dst (the same size; it may be
  // src itself) as frame number `frame`. The host's bitmaps are bottom line
  // first, so the program meets the rows in that order, rand() included.
  // rand() goes on from the thread's generator; the frame's report is
  // returned (carries counted only when the run asks for them) and added to
  // the tally.
  FrameReport Map(ConstPixelView src, PixelView dst, int32_t frame);
  // The pixel at column x, row y (from the top) of a frame held top line
  // first, followed through the program as Map computes it when the frame
  // is mapped after StartRand(seed, pixelsBefore): rand()'s generator is
  // moved to the pixel's place in the column-by-column, bottom-line-first
  // visit, x * height + its row from the bottom pixels into the frame. The
  // thread's generator is left after the pixel.
  PixelTrace Trace(ConstPixelView src, int32_t x, int32_t y, int32_t frame,
                   std::optional<uint32_t> seed, uint64_t pixelsBefore) const;
  // What the frames mapped so far gave.
  const FilterTally& tally() const { return tally_; }

 private:
  FilterSettings settings_{};
  FilterRun run_;
  Verdict verdict_ = Verdict::kRuns;
  uint32_t randCalls_ = 0;
  FilterTally tally_;
  std::unique_ptr<FrameMapper> ownMapper_;  // made at the first frame without run_.mapper
};

// A view's rows in the other order: bottom line first for a view held top
// line first, and the reverse.
template <typename Pixel>
ImageView<Pixel> Flipped(ImageView<Pixel> v) {
  if (v.height <= 0) return v;
  return {v.Row(v.height - 1), v.width, v.height, -v.pitch};
}

}  // namespace vexlor
