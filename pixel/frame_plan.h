// The fast frame path: a program compiled once per frame into a plan of array
// operations, run over blocks of pixels on several threads, with results equal
// to MapFrameReference's bit for bit.
//
// Everything that decides the compilation (which names get registered, each
// statement's postfix program, the failing statement) depends on the text
// alone, so the plan walks the statements once with the runner's own walk and
// translates each statement's compiled program. Values are then classified:
// uniform (the same at every pixel, computed once), table (a function of one
// input channel only, computed for its 256 possible inputs; on large frames
// also two-channel values that call library functions, for their 65536
// inputs), or per pixel (computed over blocks of pixels, one array per value).
// rand() values are per pixel: each pixel's are reached by jumping the
// generator to the steps the column-by-column run gives that pixel.
//
// pixel/plan_builder.cpp makes the plan, pixel/frame_run.cpp runs it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pixel/block_ops.h"
#include "pixel/colour_memo.h"
#include "pixel/pixel.h"
#include "pixel/worker_pool.h"

namespace vexlor {

// When the colour memo is used.
enum class MemoUse : uint8_t {
  kAuto,    // where it pays: costly programs on large frames with repeated colours
  kAlways,  // for every program it applies to (tests reach it on small frames)
  kNever,
};

// How MapFrameWith divides the work; tests use small numbers to reach block
// and thread boundaries on small frames.
struct FrameOptions {
  int threads = 0;                   // 0 or less: one per core
  int blockPixels = 256;             // pixels per block, at least 1
  int64_t minPixelsPerThread = 1 << 15;  // fewer threads on small frames
  int64_t minPixelsForPairTables = 1 << 18;  // two-channel tables on large frames
  MemoUse memo = MemoUse::kAuto;
  int64_t minPixelsForMemo = 1 << 16;  // kAuto: no memo on smaller frames
};

// What the colour memo did in a frame, for benchmarks and tests.
struct MemoStats {
  int64_t lookups = 0;  // pixels looked up
  int64_t hits = 0;     // pixels whose word was found
};

// MapFrame with explicit work division; the result does not depend on it.
void MapFrameWith(const FilterSettings& settings, ConstPixelView src, PixelView dst, int32_t frame,
                  const FrameOptions& options, FrameReport* report = nullptr);

// What a step of the per-block program does.
enum class StepKind : uint8_t {
  kKernel,      // an array operation over registers
  kInput,       // a source channel's values
  kGather,      // a one-channel table looked up through the source pixels
  kGatherPair,  // a two-channel table looked up likewise
  kRand,        // rand() values
};

// The finished plan of one frame, which the frame runner executes: tables of
// the values that depend on one or two channels, the sums of the output terms
// that such values and uniform values give, and the steps of the per-pixel
// values. PlanBuilder makes it; nothing of the building is kept.
class FramePlan {
 public:
  enum class Status {
    kRuns,         // every statement compiled: Map writes the frame
    kFails,        // a statement fails: every pixel gets the untouched holders
    kUnsupported,  // a program this plan cannot translate: use the reference
  };

  // Compiles the program of `settings` for frame number `frame`; pairTables
  // allows tables of two-channel values, which pay off on large frames only.
  FramePlan(const FilterSettings& settings, int32_t frame, bool pairTables = false);
  FramePlan(const FramePlan&) = delete;
  FramePlan& operator=(const FramePlan&) = delete;

  Status status() const { return status_; }
  // rand() calls per pixel, those of the statements before a failing one too.
  uint32_t randCalls() const { return randCalls_; }
  // Steps run per block of pixels (0 when every output is uniform or a table).
  int blockSteps() const { return static_cast<int>(steps_.size()); }

  // Whether a statement reads fr: a plan that does not serves every frame.
  bool readsFrame() const { return readsFrame_; }
  // Whether the outputs are a function of the source colour that per-pixel
  // steps compute (no rand() value reaches them), which the memo may keep.
  bool memoizable() const { return !steps_.empty() && !randSteps_; }
  // Whether the colour memo is worth using on a frame of `pixels` pixels.
  bool MemoPays(int64_t pixels, const FrameOptions& options) const;

  // Writes the destination of a frame whose status is kRuns; randState is the
  // generator's state before the frame's first pixel. The bands of rows run
  // on `pool`; a memoizable plan looks colours up in `memo` when given one,
  // and adds what it did to `stats`. The pixels that carried are counted
  // into `report`, and only when one is given.
  void Map(ConstPixelView src, PixelView dst, uint32_t randState, const FrameOptions& options,
           WorkerPool& pool, ColourMemo* memo = nullptr, MemoStats* stats = nullptr,
           FrameReport* report = nullptr) const;

 private:
  friend class PlanBuilder;

  // One step of the per-block program.
  struct Step {
    StepKind kind;
    Kernel kernel{};  // kKernel: the operation
    int out = 0;      // register written
    int first = 0;    // kKernel: operand registers stepArgs_[first .. first + kernel.argc)
    int table = 0;    // kGather, kGatherPair: offset of the table in tables_
    int shift = 0;    // kInput, kGather, kGatherPair: a channel's bit position
    int shift2 = 0;   // kGatherPair: the second channel's
    int rand = 0;     // kRand: the call's rank within a pixel
  };
  struct Worker;

  void RunRows(Worker& w, ConstPixelView src, PixelView dst, int32_t y0, int32_t y1) const;
  void RunBlock(Worker& w, const uint32_t* px, uint32_t* out, int32_t x0, int32_t y, int n,
                bool keepCodes) const;
  // Runs the per-block program: every step's register for the n pixels.
  void RunSteps(Worker& w, const uint32_t* px, int32_t x0, int32_t y, int n) const;
  // The table outputs' channel codes of each pixel, or-ed together.
  void TableCodes(const uint32_t* px, uint32_t* codes, int n) const;
  // Adds the register outputs' terms with their codes gathered channel by
  // channel and counted with the last (after a block that carried, or to
  // keep the codes); returns the pixels that carried. `have`: whether
  // w.codes holds the table outputs' codes.
  uint32_t AddCountingCodes(Worker& w, uint32_t* out, int n, bool have, int last,
                            bool keepCodes) const;
  // Adds them with each channel's codes only or-ed together, which costs
  // less, gathering a channel's codes again only where it carried (after a
  // block that did not carry); returns the pixels that carried.
  uint32_t AddCountingCarriers(Worker& w, uint32_t* out, int n, bool have) const;
  int64_t TableCarries(const uint32_t* px, int n) const;
  void RunRowMemo(Worker& w, const uint32_t* px, uint32_t* out, int32_t width) const;
  void CountMemo(Worker& w, int32_t width) const;
  double MemoBreakEven() const;
  void CombineTables(const uint32_t* px, uint32_t* out, int n) const;

  Status status_ = Status::kRuns;
  bool clamp_ = false;
  uint32_t randCalls_ = 0;
  std::vector<double> tables_;       // 256 values per table, 65536 per pair table
  uint32_t combined_[3][256] = {};   // output terms summed by the channel that indexes them
  bool tableOutputs_ = false;        // whether an output is a table (else combined_ is uniform)
  // Without clamp: the channel codes of the terms in combined_, or-ed
  // together (above 255 where one carried), and whether any carried.
  uint32_t combinedCodes_[3][256] = {};
  bool tableCarries_ = false;
  std::vector<Step> steps_;
  std::vector<int> stepArgs_;
  std::vector<std::pair<int, double>> constantRegs_;  // registers that hold one value
  int registers_ = 0;
  int outputRegs_[3] = {-1, -1, -1};  // registers of per-pixel outputs, else -1
  bool readsFrame_ = false;
  int randSteps_ = 0;     // steps of rand() values
  int libraryCalls_ = 0;  // steps that call a handler per pixel
};

// Frame mapping over a sequence of frames: keeps the plan while the program
// (and, for a program that reads fr, the frame number) stays the same, the
// colour memo (across frames when the program does not read fr), and the
// pool's threads. A video filter makes one and maps every frame through it;
// the result of each frame is MapFrameReference's.
class FrameMapper {
 public:
  explicit FrameMapper(bool persistentThreads = true);
  FrameMapper(const FrameMapper&) = delete;
  FrameMapper& operator=(const FrameMapper&) = delete;

  // Maps one frame; dst has src's width and height and may be src itself.
  // Given a report, it receives what the mapping found.
  void Map(const FilterSettings& settings, ConstPixelView src, PixelView dst, int32_t frame,
           const FrameOptions& options = {}, FrameReport* report = nullptr);

  // Starts afresh with the next frame, as after a cut to another clip: the
  // plan is made again and the memo's words are no longer found.
  void Forget() { plan_.reset(); }

  // What the memo did in the last frame.
  const MemoStats& lastStats() const { return stats_; }
  // Memory the memo holds (0 before a frame needed it or when none was had).
  size_t memoBytes() const { return memo_ ? memo_->bytes() : 0; }

 private:
  const FramePlan& PlanFor(const FilterSettings& settings, int32_t frame, bool pairTables);

  WorkerPool pool_;
  std::unique_ptr<ColourMemo> memo_;
  std::unique_ptr<FramePlan> plan_;
  std::string text_;  // what plan_ was made for
  bool clamp_ = false;
  bool pairTables_ = false;
  int32_t frame_ = 0;
  MemoStats stats_;
  // Frames still to map without the memo after one where it did not pay.
  static constexpr int kMemoRest = 7;
  int memoRest_ = 0;
};

}  // namespace vexlor
