// Frame mapping throughput on full-HD frames.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "pixel/pixel.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

void RunFrame(benchmark::State& state, const char* program,
              void (*map)(const vexlor::FilterSettings&, vexlor::ConstPixelView, vexlor::PixelView,
                          int32_t),
              int width, int height) {
  std::vector<uint32_t> src(size_t(width) * height), dst(src.size());
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint32_t(i * 2654435761u);
  vexlor::FilterSettings settings{};
  std::strncpy(settings.text, program, vexlor::kMaxTextLength);
  vexlor::ConstPixelView s{src.data(), width, height, width * 4};
  vexlor::PixelView d{dst.data(), width, height, width * 4};
  int32_t frame = 0;
  for (auto _ : state) {
    map(settings, s, d, frame++);
    benchmark::DoNotOptimize(dst.data());
  }
  state.counters["Mpixel/s"] = benchmark::Counter(double(width) * height * state.iterations() / 1e6,
                                                  benchmark::Counter::kIsRate);
}

// The reference path compiles every statement for every pixel; a small frame
// keeps its runs short.
void BM_ReferenceIdentity(benchmark::State& s) {
  RunFrame(s, "rd=rs;gd=gs;bd=bs;", vexlor::MapFrameReference, 192, 108);
}
void BM_ReferenceScale(benchmark::State& s) {
  RunFrame(s, "rd=rs*0.5;gd=gs;bd=bs;", vexlor::MapFrameReference, 192, 108);
}
void MapAllThreads(const vexlor::FilterSettings& settings, vexlor::ConstPixelView src,
                   vexlor::PixelView dst, int32_t frame) {
  vexlor::MapFrame(settings, src, dst, frame);
}
void BM_Identity(benchmark::State& s) { RunFrame(s, "rd=rs;gd=gs;bd=bs;", MapAllThreads, kWidth, kHeight); }
BENCHMARK(BM_ReferenceIdentity)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceScale)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Identity)->Unit(benchmark::kMillisecond);

}  // namespace
