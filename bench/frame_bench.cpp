// Frame mapping throughput in Mpixel/s on full-HD frames: the fast path on one
// thread and on every core, and the reference on a smaller frame (it compiles
// every statement for every pixel; its rate does not depend on the size).
#include <benchmark/benchmark.h>

#include <cstring>
#include <thread>
#include <vector>

#include "bench/programs.h"
#include "pixel/pixel.h"

namespace {

using vexlor::bench::BenchProgram;
using vexlor::bench::kBenchPrograms;

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kReferenceWidth = 192, kReferenceHeight = 108;

void RunFrame(benchmark::State& state, const char* text, bool reference, int threads,
              bool counted = false) {
  int width = reference ? kReferenceWidth : kWidth, height = reference ? kReferenceHeight : kHeight;
  std::vector<uint32_t> src(size_t(width) * height), dst(src.size());
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint32_t(i * 2654435761u);
  vexlor::FilterSettings settings{};
  std::strncpy(settings.text, text, vexlor::kMaxTextLength);
  vexlor::ConstPixelView s{src.data(), width, height, width * 4};
  vexlor::PixelView d{dst.data(), width, height, width * 4};
  int32_t frame = 0;
  vexlor::FrameReport report;
  for (auto _ : state) {
    if (reference)
      vexlor::MapFrameReference(settings, s, d, frame++);
    else
      vexlor::MapFrame(settings, s, d, frame++, threads, counted ? &report : nullptr);
    benchmark::DoNotOptimize(dst.data());
  }
  state.counters["Mpixel/s"] = benchmark::Counter(double(width) * height * state.iterations() / 1e6,
                                                  benchmark::Counter::kIsRate);
}

// Registers reference, one-thread and all-core runs of every program.
int Register() {
  int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  for (const BenchProgram& p : kBenchPrograms) {
    const char* text = p.text;
    benchmark::RegisterBenchmark((std::string("reference/") + p.name).c_str(),
                                 [text](benchmark::State& s) { RunFrame(s, text, true, 1); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    for (int threads : {1, cores})
      benchmark::RegisterBenchmark((std::string("fast/") + p.name + "/threads:" +
                                    std::to_string(threads)).c_str(),
                                   [text, threads](benchmark::State& s) {
                                     RunFrame(s, text, false, threads);
                                   })
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    // As the command line maps: counting the pixels whose channels carried.
    benchmark::RegisterBenchmark((std::string("fast_counted/") + p.name + "/threads:1").c_str(),
                                 [text](benchmark::State& s) { RunFrame(s, text, false, 1, true); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  return 0;
}

const int kRegistered = Register();

}  // namespace
