// Running a frame plan: rows of the frame shared among threads, each row cut
// into blocks of pixels that the plan's steps process one array at a time.
#include <algorithm>
#include <cfenv>
#include <thread>

#include "pixel/frame_plan.h"

namespace vexlor {

// One thread's registers and the generator's place in the frame.
struct FramePlan::Worker {
  std::vector<double> regs;  // one block of values per register
  int blockPixels;
  uint32_t randState;  // before the frame's first pixel
  uint32_t height;
  RandStep column;  // the generator's steps from one column to the next
  RandStep columns4;  // and to the fourth next
  std::vector<uint32_t> states;

  double* Reg(int r) { return regs.data() + size_t(r) * size_t(blockPixels); }

  // The generator's states for n pixels of a row, the first at `first`; four
  // independent recurrences, so that the compiler can vectorise them.
  void RandStates(uint32_t first, int n) {
    uint32_t* s = states.data();
    s[0] = first;
    for (int i = 1; i < n && i < 4; ++i) s[i] = column.Apply(s[i - 1]);
    for (int i = 4; i < n; ++i) s[i] = columns4.Apply(s[i - 4]);
  }
};

// out[i] = the summed terms of the uniform and table outputs for pixel px[i].
void FramePlan::CombineTables(const uint32_t* px, uint32_t* out, int n) const {
  if (!tableOutputs_) return static_cast<void>(std::fill(out, out + n, combined_[0][0]));
  for (int i = 0; i < n; ++i) {
    uint32_t p = px[i];
    out[i] = combined_[0][(p >> 16) & 0xFF] + combined_[1][(p >> 8) & 0xFF] + combined_[2][p & 0xFF];
  }
}

// The n pixels of row y from column x0 on. Pixel (x, y) is number x*height + y
// in the reference's column-by-column order, so its rand() calls take the
// generator steps from (x*height + y) * randCalls + 1 on. px and out may be the
// same pixels: every read of px[i] comes before the write of out[i].
void FramePlan::RunBlock(Worker& w, const uint32_t* px, uint32_t* out, int32_t x0, int32_t y,
                         int n) const {
  const double* args[kStackSize];
  for (const Step& step : steps_) {
    double* o = w.Reg(step.out);
    switch (step.kind) {
      case StepKind::kInput:
        for (int i = 0; i < n; ++i) o[i] = ChannelValue(px[i], step.shift);
        break;
      case StepKind::kGather: {
        const double* table = &tables_[step.table];
        for (int i = 0; i < n; ++i) o[i] = table[(px[i] >> step.shift) & 0xFF];
        break;
      }
      case StepKind::kGatherPair: {
        const double* table = &tables_[step.table];
        for (int i = 0; i < n; ++i)
          o[i] = table[((px[i] >> step.shift) & 0xFF) << 8 | ((px[i] >> step.shift2) & 0xFF)];
        break;
      }
      case StepKind::kRand: {
        uint64_t first =
            (uint64_t(x0) * w.height + uint64_t(y)) * randCalls_ + uint64_t(step.rand) + 1;
        w.RandStates(RandAdvance(first).Apply(w.randState), n);
        for (int i = 0; i < n; ++i) o[i] = RandValue(w.states[size_t(i)]);
        break;
      }
      case StepKind::kKernel:
        for (int i = 0; i < step.kernel.argc; ++i) args[i] = w.Reg(stepArgs_[step.first + i]);
        RunKernel(step.kernel, o, args, n);
        break;
    }
  }
  CombineTables(px, out, n);
  for (int o = 0; o < 3; ++o)
    if (outputRegs_[o] >= 0) AddChannelTerms(out, w.Reg(outputRegs_[o]), n, clamp_, kChannelShift[o]);
}

void FramePlan::RunRows(Worker& w, ConstPixelView src, PixelView dst, int32_t y0, int32_t y1) const {
  for (int32_t y = y0; y < y1; ++y) {
    const uint32_t* s = src.Row(y);
    uint32_t* d = dst.Row(y);
    if (steps_.empty()) {
      CombineTables(s, d, src.width);
      continue;
    }
    for (int32_t x0 = 0; x0 < src.width; x0 += w.blockPixels) {
      int n = static_cast<int>(std::min<int32_t>(w.blockPixels, src.width - x0));
      RunBlock(w, s + x0, d + x0, x0, y, n);
    }
  }
}

void FramePlan::Map(ConstPixelView src, PixelView dst, uint32_t randState,
                    const FrameOptions& options) const {
  if (src.width <= 0 || src.height <= 0) return;
  int64_t pixels = int64_t(src.width) * src.height;
  int threads = options.threads > 0 ? options.threads
                                    : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = static_cast<int>(std::min<int64_t>(
      {threads, src.height, std::max<int64_t>(1, pixels / std::max<int64_t>(1, options.minPixelsPerThread))}));

  int blockPixels = std::max(1, std::min(options.blockPixels, src.width));
  std::vector<Worker> workers(static_cast<size_t>(threads));
  for (Worker& w : workers) {
    w.regs.assign(size_t(registers_) * size_t(blockPixels), 0.0);
    w.blockPixels = blockPixels;
    w.randState = randState;
    w.height = static_cast<uint32_t>(src.height);
    w.column = RandAdvance(uint64_t(src.height) * randCalls_);
    w.columns4 = RandAdvance(uint64_t(src.height) * randCalls_ * 4);
    w.states.resize(size_t(blockPixels));
    for (auto [r, v] : constantRegs_) std::fill(w.Reg(r), w.Reg(r) + blockPixels, v);
  }
  // Thread t takes the t-th of `threads` nearly equal bands of rows. The
  // other threads take on the caller's floating-point environment (rounding,
  // flushing of subnormals), under which the reference would have run.
  std::fenv_t env;
  std::fegetenv(&env);
  std::thread::id caller = std::this_thread::get_id();
  auto band = [&](int t) {
    if (std::this_thread::get_id() != caller) std::fesetenv(&env);
    auto row = [&](int k) { return static_cast<int32_t>(int64_t(src.height) * k / threads); };
    RunRows(workers[size_t(t)], src, dst, row(t), row(t + 1));
  };
  std::vector<std::thread> pool;
  std::vector<int> unstarted;
  for (int t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(band, t);
    } catch (const std::system_error&) {
      unstarted.push_back(t);  // no thread to be had: this one does the band
    }
  }
  band(0);
  for (int t : unstarted) band(t);
  for (std::thread& th : pool) th.join();
}

void MapFrameWith(const FilterSettings& settings, ConstPixelView src, PixelView dst, int32_t frame,
                  const FrameOptions& options) {
  // The reference visits no pixel of an empty frame: nothing is compiled and
  // the generator does not move.
  if (src.width <= 0 || src.height <= 0) return;
  uint64_t pixels = uint64_t(src.width) * uint64_t(src.height);
  FramePlan plan(settings, frame, int64_t(pixels) >= options.minPixelsForPairTables);
  uint32_t start = RandState();
  switch (plan.status()) {
    case FramePlan::Status::kUnsupported:
      return MapFrameReference(settings, src, dst, frame);
    case FramePlan::Status::kFails: {
      // The holders keep their starting value at every pixel.
      uint32_t word = PackPixel(0.0f, 0.0f, 0.0f, settings.clamp != 0);
      for (int32_t y = 0; y < src.height; ++y) std::fill(dst.Row(y), dst.Row(y) + src.width, word);
      break;
    }
    case FramePlan::Status::kRuns:
      plan.Map(src, dst, start, options);
      break;
  }
  RandSetState(RandAdvance(pixels * plan.randCalls()).Apply(start));
}

}  // namespace vexlor
