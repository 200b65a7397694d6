// Frame mapping of whole clips in Mpixel/s: one FrameMapper maps 20 frames of
// 1920x1080 in order, as `vexlor stream` does, so that its plan, its colour
// memo and its threads serve from frame to frame. Three sources: footage (a
// photograph zoomed and panned slowly, compressed as H.264, made at benchmark
// time by bench/make_clip.sh), noise (every pixel a new colour) and a moving
// test pattern (few colours). Each program runs on one thread and on every
// core, and on one thread without the memo, for comparison.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/programs.h"
#include "pixel/frame_plan.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 20;

using vexlor::bench::BenchProgram;

// The programs of the clip benchmarks: three whose values depend on all
// three channels (and on library calls or many steps), the programs of the
// frame benchmarks, and one that reads fr.
std::vector<BenchProgram> Programs() {
  std::vector<BenchProgram> programs = {
      {"trig3", "rd=sin(rs+gs+bs);gd=cos(rs*gs*bs);bd=exp(rs-gs-bs);"},
      {"gamma_luma", "y=(0.299*rs+0.587*gs+0.114*bs)^0.45;rd=y;gd=y;bd=y;"},
      {"hsv",
       "mx=max(rs,gs,bs);mn=min(rs,gs,bs);d=mx-mn;"
       "h=if(d==0,0,if(mx==rs,(gs-bs)/d,if(mx==gs,2+(bs-rs)/d,4+(rs-gs)/d)))/6;"
       "rd=h-floor(h);gd=if(mx==0,0,d/mx);bd=mx;"},
  };
  programs.insert(programs.end(), std::begin(vexlor::bench::kBenchPrograms),
                  std::end(vexlor::bench::kBenchPrograms));
  programs.push_back({"fr_sin", "rd=sin(rs+gs+bs+fr/25);gd=gs;bd=bs;"});
  return programs;
}

using Clip = std::vector<std::vector<uint32_t>>;

// The footage clip: bytes B, G, R, X of each pixel are the packed word's
// little-endian bytes.
Clip Footage() {
  std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                     "/vexlor_bench_clip.raw";
  std::string command = std::string("sh ") + VEXLOR_SOURCE_DIR "/bench/make_clip.sh '" + path +
                        "' " + std::to_string(kFrames) + " " + std::to_string(kWidth) + "x" +
                        std::to_string(kHeight);
  Clip clip;
  if (std::system(command.c_str()) != 0) return clip;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return clip;
  for (int i = 0; i < kFrames; ++i) {
    std::vector<uint32_t> frame(size_t(kWidth) * kHeight);
    if (std::fread(frame.data(), 4, frame.size(), f) != frame.size()) break;
    clip.push_back(std::move(frame));
  }
  std::fclose(f);
  std::remove(path.c_str());
  return clip;
}

Clip Noise() {
  std::mt19937 rng(7);
  Clip clip(kFrames, std::vector<uint32_t>(size_t(kWidth) * kHeight));
  for (auto& frame : clip)
    for (uint32_t& p : frame) p = rng() & 0xFFFFFFu;
  return clip;
}

// Eight colour bars over a grey ramp, moving one column a frame.
Clip Pattern() {
  static const uint32_t kBars[8] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                                    0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
  Clip clip(kFrames, std::vector<uint32_t>(size_t(kWidth) * kHeight));
  for (int f = 0; f < kFrames; ++f)
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        int u = (x + f) % kWidth;
        uint32_t grey = uint32_t(u * 256 / kWidth) * 0x010101u;
        clip[size_t(f)][size_t(y) * kWidth + x] = y < kHeight * 2 / 3 ? kBars[u * 8 / kWidth] : grey;
      }
  return clip;
}

const Clip& Source(int which) {
  static const Clip clips[3] = {Footage(), Noise(), Pattern()};
  return clips[which];
}
const char* const kSourceNames[3] = {"footage", "noise", "pattern"};

void MapClip(benchmark::State& state, int source, const char* text, int threads, bool memo) {
  const Clip& clip = Source(source);
  if (clip.empty()) {
    state.SkipWithError("no clip (ffmpeg or the pictures of mate-backgrounds missing)");
    return;
  }
  vexlor::FilterSettings settings{};
  std::strncpy(settings.text, text, vexlor::kMaxTextLength);
  std::vector<uint32_t> dst(clip[0].size());
  vexlor::FrameMapper mapper;
  vexlor::FrameOptions options;
  options.threads = threads;
  options.memo = memo ? vexlor::MemoUse::kAuto : vexlor::MemoUse::kNever;
  int64_t lookups = 0, hits = 0;
  int32_t frame = 0;
  for (auto _ : state) {
    size_t i = size_t(frame) % clip.size();
    if (i == 0) mapper.Forget();  // every pass over the clip starts cold
    vexlor::ConstPixelView s{clip[i].data(), kWidth, kHeight, kWidth * 4};
    vexlor::PixelView d{dst.data(), kWidth, kHeight, kWidth * 4};
    mapper.Map(settings, s, d, frame++, options);
    lookups += mapper.lastStats().lookups;
    hits += mapper.lastStats().hits;
    benchmark::DoNotOptimize(dst.data());
  }
  state.counters["Mpixel/s"] = benchmark::Counter(double(kWidth) * kHeight * state.iterations() / 1e6,
                                                  benchmark::Counter::kIsRate);
  state.counters["memo_hits_%"] = lookups ? 100.0 * double(hits) / double(lookups) : 0.0;
}

// Registers every source, program and way of running.
int Register() {
  int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  for (int source = 0; source < 3; ++source)
    for (const BenchProgram& p : Programs()) {
      struct Way {
        int threads;
        bool memo;
        std::string name;
      };
      for (const Way& way : {Way{1, true, "threads:1"}, Way{cores, true, "threads:" + std::to_string(cores)},
                             Way{1, false, "threads:1/no_memo"}}) {
        const char* text = p.text;
        benchmark::RegisterBenchmark(
            (std::string("clip/") + kSourceNames[source] + "/" + p.name + "/" + way.name).c_str(),
            [=](benchmark::State& s) { MapClip(s, source, text, way.threads, way.memo); })
            ->Iterations(kFrames)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
      }
    }
  return 0;
}

const int kRegistered = Register();

}  // namespace
