// Running a frame plan: rows of the frame shared among threads, each row cut
// into blocks of pixels that the plan's steps process one array at a time,
// or, through the colour memo, only the block's pixels of colours not met
// before.
#include <algorithm>
#include <new>
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
  // Without clamp: the or-ed channel codes of the block's pixels, and the
  // frame's pixels that carried so far.
  std::vector<uint32_t> codes;
  int64_t carried = 0;
  bool codesInline = false;  // whether the last block carried
  bool count = true;  // whether the frame's carries are asked for
  // The colour memo, while this thread uses it; every window of look-ups
  // decides whether it goes on using it (always, when `judged` is false).
  ColourMemo* memo = nullptr;
  bool judged = false;
  int64_t windowPixels = 0;
  MemoStats window;
  double breakEven = 0.0;  // the share of hits below which the memo costs more than it saves
  MemoStats stats;
  int32_t rowMisses = 0;  // pixels of the last row not found
  std::vector<int> missAt;
  std::vector<uint32_t> missPx, missOut;

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

// How many of the pixels px[0 .. n) have a uniform or table output that
// carries.
int64_t FramePlan::TableCarries(const uint32_t* px, int n) const {
  if (!tableCarries_) return 0;
  if (!tableOutputs_) return n;
  int64_t count = 0;
  for (int i = 0; i < n; ++i) {
    uint32_t p = px[i];
    count += (combinedCodes_[0][(p >> 16) & 0xFF] | combinedCodes_[1][(p >> 8) & 0xFF] |
              combinedCodes_[2][p & 0xFF]) > 255u;
  }
  return count;
}

// The n pixels of row y from column x0 on. Pixel (x, y) is number x*height + y
// in the reference's column-by-column order, so its rand() calls take the
// generator steps from (x*height + y) * randCalls + 1 on. px and out may be the
// same pixels: every read of px[i] comes before the write of out[i]. Without
// clamp, w.carried counts the pixels that carried, and with keepCodes
// w.codes[i] > 255 tells whether pixel i did.
void FramePlan::RunBlock(Worker& w, const uint32_t* px, uint32_t* out, int32_t x0, int32_t y,
                         int n, bool keepCodes) const {
  RunSteps(w, px, x0, y, n);
  // The memo's words keep their carries whether or not this frame counts.
  if (clamp_ || (!w.count && !keepCodes)) {
    CombineTables(px, out, n);
    for (int o = 0; o < 3; ++o)
      if (outputRegs_[o] >= 0) AddChannelTerms(out, w.Reg(outputRegs_[o]), n, clamp_, kChannelShift[o]);
    return;
  }
  // The table outputs' codes first: out may be px.
  bool have = tableCarries_;  // whether codes holds something to count
  if (have) TableCodes(px, w.codes.data(), n);
  CombineTables(px, out, n);
  int last = -1;
  for (int o = 0; o < 3; ++o)
    if (outputRegs_[o] >= 0) last = o;
  uint32_t carried = keepCodes || w.codesInline || last < 0
                         ? AddCountingCodes(w, out, n, have, last, keepCodes)
                         : AddCountingCarriers(w, out, n, have);
  // Blocks that carry tend to come together.
  w.codesInline = carried > 0;
  w.carried += carried;
}

void FramePlan::RunSteps(Worker& w, const uint32_t* px, int32_t x0, int32_t y, int n) const {
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
}

void FramePlan::TableCodes(const uint32_t* px, uint32_t* codes, int n) const {
  if (!tableOutputs_) {
    std::fill(codes, codes + n, combinedCodes_[0][0]);
    return;
  }
  for (int i = 0; i < n; ++i)
    codes[i] = combinedCodes_[0][(px[i] >> 16) & 0xFF] | combinedCodes_[1][(px[i] >> 8) & 0xFF] |
               combinedCodes_[2][px[i] & 0xFF];
}

uint32_t FramePlan::AddCountingCodes(Worker& w, uint32_t* out, int n, bool have, int last,
                                     bool keepCodes) const {
  uint32_t* codes = w.codes.data();
  uint32_t carried = 0;
  for (int o = 0; o < 3; ++o) {
    if (outputRegs_[o] < 0) continue;
    CodeUse use = o == last && !keepCodes ? (have ? CodeUse::kOrCount : CodeUse::kCount)
                                          : (have ? CodeUse::kOr : CodeUse::kStore);
    carried += AddChannelTerms(out, w.Reg(outputRegs_[o]), n, false, kChannelShift[o], codes, use);
    have = true;
  }
  if (keepCodes || last < 0) {
    if (!have) std::fill(codes, codes + n, 0u);
    for (int i = 0; i < n; ++i) carried += codes[i] > 255u;
  }
  return carried;
}

uint32_t FramePlan::AddCountingCarriers(Worker& w, uint32_t* out, int n, bool have) const {
  uint32_t* codes = w.codes.data();
  uint32_t any[3] = {};
  for (int o = 0; o < 3; ++o)
    if (outputRegs_[o] >= 0)
      any[o] = AddChannelTerms(out, w.Reg(outputRegs_[o]), n, false, kChannelShift[o], codes,
                               CodeUse::kAny);
  uint32_t carried = 0;
  if (have || (any[0] | any[1] | any[2]) > 255u) {
    if (!have) std::fill(codes, codes + n, 0u);
    for (int o = 0; o < 3; ++o)
      if (any[o] > 255u) OrChannelCodes(codes, w.Reg(outputRegs_[o]), n);
    for (int i = 0; i < n; ++i) carried += codes[i] > 255u;
  }
  return carried;
}

// A row of pixels through the memo: each block's entries asked for together
// and then looked up; the pixels of colours not found are gathered over the
// row and computed together, a block's worth at a time, and stored. Only
// plans without rand() come here, so a pixel's place in the frame does not
// matter. px and out may be the same pixels: a pixel not found was copied.
void FramePlan::RunRowMemo(Worker& w, const uint32_t* px, uint32_t* out, int32_t width) const {
  int misses = 0;
  w.rowMisses = 0;
  auto flush = [&] {
    w.rowMisses += misses;
    RunBlock(w, w.missPx.data(), w.missOut.data(), 0, 0, misses, true);
    for (int j = 0; j < misses; ++j) {
      out[w.missAt[size_t(j)]] = w.missOut[size_t(j)];
      w.memo->Store(w.missPx[size_t(j)], w.missOut[size_t(j)], !clamp_ && w.codes[size_t(j)] > 255u);
    }
    misses = 0;
  };
  for (int32_t x0 = 0; x0 < width;) {
    int32_t x1 = std::min<int32_t>(width, x0 + w.blockPixels);
    ColourMemo::FindResult r = w.memo->FindMany(px, out, x0, x1, w.missAt.data(), w.missPx.data(),
                                                misses, w.blockPixels);
    misses = r.misses;
    w.carried += r.carried;
    if (misses == w.blockPixels) flush();
    x0 = r.end;
  }
  if (misses > 0) flush();
}

void FramePlan::RunRows(Worker& w, ConstPixelView src, PixelView dst, int32_t y0, int32_t y1) const {
  for (int32_t y = y0; y < y1; ++y) {
    const uint32_t* s = src.Row(y);
    uint32_t* d = dst.Row(y);
    if (steps_.empty()) {
      if (w.count) w.carried += TableCarries(s, src.width);  // before d, which may be s, is written
      CombineTables(s, d, src.width);
      continue;
    }
    if (w.memo) {
      RunRowMemo(w, s, d, src.width);
      CountMemo(w, src.width);
      continue;
    }
    for (int32_t x0 = 0; x0 < src.width; x0 += w.blockPixels) {
      int n = static_cast<int>(std::min<int32_t>(w.blockPixels, src.width - x0));
      RunBlock(w, s + x0, d + x0, x0, y, n, false);
    }
  }
}

// Counts a row's look-ups and hits. After each window of look-ups, a thread
// whose window found too few colours again stops using the memo for the
// rest of its band: the start of a band need not tell what the rest holds.
void FramePlan::CountMemo(Worker& w, int32_t width) const {
  w.stats.lookups += width;
  w.stats.hits += width - w.rowMisses;
  w.window.lookups += width;
  w.window.hits += width - w.rowMisses;
  if (!w.judged || w.window.lookups < w.windowPixels) return;
  if (double(w.window.hits) < w.breakEven * double(w.window.lookups)) w.memo = nullptr;
  w.window = {};
}

// The share of look-ups that must hit for the memo to pay. A look-up costs
// about 2.5 ns and a miss 1.5 ns more (the store, the gathering), a hit saves
// what the pixel costs: about 15 ns a library call and 0.3 ns a block step;
// a third more is asked for, as the estimate is rough.
double FramePlan::MemoBreakEven() const {
  double cost = 15.0 * libraryCalls_ + 0.3 * double(steps_.size());
  return std::min(0.95, 1.3 * 4.0 / (cost + 1.5));
}

bool FramePlan::MemoPays(int64_t pixels, const FrameOptions& options) const {
  if (!memoizable()) return false;
  return options.memo == MemoUse::kAlways ||
         (options.memo == MemoUse::kAuto && pixels >= options.minPixelsForMemo &&
          MemoBreakEven() < 0.9);
}

void FramePlan::Map(ConstPixelView src, PixelView dst, uint32_t randState,
                    const FrameOptions& options, WorkerPool& pool, ColourMemo* memo,
                    MemoStats* stats, FrameReport* report) const {
  if (src.width <= 0 || src.height <= 0) return;
  int64_t pixels = int64_t(src.width) * src.height;
  int threads = options.threads > 0 ? options.threads
                                    : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = static_cast<int>(std::min<int64_t>(
      {threads, src.height, std::max<int64_t>(1, pixels / std::max<int64_t>(1, options.minPixelsPerThread))}));
  if (!memo || !memo->usable() || !MemoPays(pixels, options)) memo = nullptr;

  int blockPixels = std::max(1, std::min(options.blockPixels, src.width));
  std::vector<Worker> workers(static_cast<size_t>(threads));
  for (Worker& w : workers) {
    w.regs.assign(size_t(registers_) * size_t(blockPixels), 0.0);
    w.blockPixels = blockPixels;
    w.randState = randState;
    w.count = report != nullptr;
    w.height = static_cast<uint32_t>(src.height);
    w.column = RandAdvance(uint64_t(src.height) * randCalls_);
    w.columns4 = RandAdvance(uint64_t(src.height) * randCalls_ * 4);
    w.states.resize(size_t(blockPixels));
    if (!clamp_) w.codes.resize(size_t(blockPixels));
    for (auto [r, v] : constantRegs_) std::fill(w.Reg(r), w.Reg(r) + blockPixels, v);
    if (memo) {
      w.memo = memo;
      w.judged = options.memo != MemoUse::kAlways;
      w.windowPixels = std::max<int64_t>(16384, pixels / threads / 16);
      w.breakEven = MemoBreakEven();
      w.missAt.resize(size_t(blockPixels));
      w.missPx.resize(size_t(blockPixels));
      w.missOut.resize(size_t(blockPixels));
    }
  }
  // Thread t takes the t-th of `threads` nearly equal bands of rows.
  pool.Run(threads, [&](int t) {
    auto row = [&](int k) { return static_cast<int32_t>(int64_t(src.height) * k / threads); };
    RunRows(workers[size_t(t)], src, dst, row(t), row(t + 1));
  });
  if (stats)
    for (const Worker& w : workers) {
      stats->lookups += w.stats.lookups;
      stats->hits += w.stats.hits;
    }
  if (report)
    for (const Worker& w : workers) report->carried += w.carried;
}

FrameMapper::FrameMapper(bool persistentThreads) : pool_(persistentThreads) {}

// A plan serves while the program, the clamp option and the use of pair
// tables stay the same, and, when it reads fr, the frame number too. A new
// plan starts a generation of the memo: the words of the old one are gone.
const FramePlan& FrameMapper::PlanFor(const FilterSettings& settings, int32_t frame,
                                      bool pairTables) {
  std::string_view text = SettingsText(settings);
  bool clamp = settings.clamp != 0;
  if (plan_ && text == text_ && clamp == clamp_ && pairTables == pairTables_ &&
      (frame == frame_ || !plan_->readsFrame()))
    return *plan_;
  // A new frame number of the same program keeps the memo's rest: its
  // colours are those of the frames before.
  if (!plan_ || text != text_ || clamp != clamp_ || pairTables != pairTables_) memoRest_ = 0;
  plan_.reset();
  plan_ = std::make_unique<FramePlan>(settings, frame, pairTables);
  text_.assign(text);
  clamp_ = clamp;
  pairTables_ = pairTables;
  frame_ = frame;
  if (memo_) memo_->NewGeneration();
  return *plan_;
}

void FrameMapper::Map(const FilterSettings& settings, ConstPixelView src, PixelView dst,
                      int32_t frame, const FrameOptions& options, FrameReport* report) {
  stats_ = {};
  FrameReport found;
  // The reference visits no pixel of an empty frame: nothing is compiled and
  // the generator does not move.
  if (src.width <= 0 || src.height <= 0) {
    if (report) *report = found;
    return;
  }
  uint64_t pixels = uint64_t(src.width) * uint64_t(src.height);
  const FramePlan& plan = PlanFor(settings, frame, int64_t(pixels) >= options.minPixelsForPairTables);
  uint32_t start = RandState();
  switch (plan.status()) {
    case FramePlan::Status::kUnsupported:
      return MapFrameReference(settings, src, dst, frame, report);
    case FramePlan::Status::kFails: {
      // The holders keep their starting value at every pixel.
      uint32_t word = PackPixel(0.0f, 0.0f, 0.0f, settings.clamp != 0);
      for (int32_t y = 0; y < src.height; ++y) std::fill(dst.Row(y), dst.Row(y) + src.width, word);
      break;
    }
    case FramePlan::Status::kRuns:
      // The memo's table is had when a plan first can use it on a frame of
      // this size, sized for the frame; without memory the frames are
      // computed in full.
      if (!memo_ && plan.MemoPays(int64_t(pixels), options))
        memo_.reset(new (std::nothrow) ColourMemo(ColourMemo::BitsFor(int64_t(pixels))));
      // After a frame in which the memo stopped early, the next few frames
      // do without it, and then it is tried again.
      if (memoRest_ > 0 && options.memo == MemoUse::kAuto) {
        --memoRest_;
        plan.Map(src, dst, start, options, pool_, nullptr, nullptr, report ? &found : nullptr);
        break;
      }
      plan.Map(src, dst, start, options, pool_, memo_.get(), &stats_, report ? &found : nullptr);
      if (stats_.lookups > 0 && uint64_t(stats_.lookups) < pixels / 2) memoRest_ = kMemoRest;
      // A frame whose colours the table cannot hold well (by what it stored,
      // extrapolated to the whole frame when the memo stopped early) has
      // the next frames find them in a larger one.
      if (memo_ && stats_.lookups > 0)
        memo_->GrowFor(int64_t(double(stats_.lookups - stats_.hits) * double(pixels) /
                               double(stats_.lookups)));
      break;
  }
  RandSetState(RandAdvance(pixels * plan.randCalls()).Apply(start));
  if (report) *report = found;
}

// One mapper for the process, as the engine is one: its threads wait across
// frames, except in the Windows module, which may be unloaded under them.
void MapFrameWith(const FilterSettings& settings, ConstPixelView src, PixelView dst, int32_t frame,
                  const FrameOptions& options, FrameReport* report) {
#ifdef _WIN32
  static FrameMapper mapper(false);
#else
  static FrameMapper mapper(true);
#endif
  mapper.Map(settings, src, dst, frame, options, report);
}

}  // namespace vexlor
