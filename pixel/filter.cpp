// Compiling a program once for a run, and mapping frames held top line first.
#include "pixel/filter.h"

#include "engine/engine.h"
#include "pixel/block_ops.h"
#include "pixel/frame_plan.h"

namespace vexlor {

namespace {

// The rand() calls of the engine's current program: each runs once per
// evaluation, since every instruction of a compiled program is executed.
uint32_t RandCallsOfProgram() {
  uint32_t calls = 0;
  for (const Instruction* in = CurrentProgram().code; in->kind != OP_END; ++in)
    calls += IsRandCall(*in);
  return calls;
}

}  // namespace

// The statements are walked as every pixel's run walks them, compiled but
// not evaluated: the verdict is the runner's, and rand() is never called.
Filter::Filter(std::string_view text, bool clamp, FilterRun run) : run_(run) {
  settings_.clamp = clamp ? 1 : 0;
  if (text.size() > static_cast<size_t>(kMaxTextLength)) {
    verdict_ = Verdict::kTooLong;
    return;
  }
  SetSettingsText(settings_, text);
  double slots[kSlotCount] = {};
  StatementWalk walk(SettingsText(settings_), slots);
  for (WalkStep step; walk.Next(step);) {
    if (step.kind != WalkStep::Kind::kCompiled) {
      verdict_ = Verdict::kFails;
      return;
    }
    randCalls_ += RandCallsOfProgram();
  }
}

Filter::~Filter() = default;

void Filter::StartRand(std::optional<uint32_t> seed, uint64_t pixelsBefore) const {
  RandSetState(RandAdvance(pixelsBefore * randCalls_).Apply(seed.value_or(kRandFirstState)));
}

FrameReport Filter::Map(ConstPixelView src, PixelView dst, int32_t frame) {
  FrameReport report;
  FrameReport* counted = run_.countCarries ? &report : nullptr;
  if (run_.reference) {
    MapFrameReference(settings_, Flipped(src), Flipped(dst), frame, counted);
  } else {
    if (!run_.mapper && !ownMapper_) ownMapper_ = std::make_unique<FrameMapper>();
    FrameOptions options;
    options.threads = run_.threads;
    (run_.mapper ? run_.mapper : ownMapper_.get())->Map(settings_, Flipped(src), Flipped(dst), frame, options, counted);
  }
  ++tally_.frames;
  tally_.pixels += int64_t(src.width) * src.height;
  tally_.carried += report.carried;
  return report;
}

PixelTrace Filter::Trace(ConstPixelView src, int32_t x, int32_t y, int32_t frame,
                         std::optional<uint32_t> seed, uint64_t pixelsBefore) const {
  if (!runs()) return {};
  uint64_t before = uint64_t(x) * uint64_t(src.height) + uint64_t(src.height - 1 - y);
  StartRand(seed, pixelsBefore + before);
  float rs, gs, bs;
  UnpackPixel(src.Row(y)[x], rs, gs, bs);
  return TraceStatements(SettingsText(settings_), settings_.clamp != 0, rs, gs, bs, frame);
}

}  // namespace vexlor
