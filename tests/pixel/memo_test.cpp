// The colour memo, the worker pool and the frame mapper that holds both: a
// word is only ever found for the colour it was stored for, in the
// generation it was stored in, whatever threads store at the same time; the
// pool runs every task once under the caller's floating-point environment;
// the mapper keeps its memo across frames only where no value reads fr.
#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <cstring>
#include <thread>
#include <vector>

#include "pixel/frame_plan.h"

namespace vexlor {
namespace {

// A word that tells which colour it was computed for.
uint32_t WordOf(uint32_t colour) { return colour * 2654435761u ^ 0x5A5A5A5Au; }

TEST(ColourMemo, FindsWhatWasStoredInItsGenerationOnly) {
  ColourMemo memo;
  ASSERT_TRUE(memo.usable());
  EXPECT_LE(memo.bytes(), size_t(128) << 20);
  uint32_t word = 0;
  EXPECT_FALSE(memo.Find(0x000000, word));
  for (uint32_t c : {0x000000u, 0xFFFFFFu, 0x123456u}) memo.Store(c, WordOf(c));
  for (uint32_t c : {0x000000u, 0xFFFFFFu, 0x123456u}) {
    ASSERT_TRUE(memo.Find(c, word)) << c;
    EXPECT_EQ(word, WordOf(c));
  }
  // Colours that share an entry replace each other; neither is ever found
  // with the other's word.
  for (uint32_t c = 1; c < 1u << 24; c += 4099) {
    memo.Store(c, WordOf(c));
    if (memo.Find(c ^ 0x800000u, word)) {
      EXPECT_EQ(word, WordOf(c ^ 0x800000u));
    }
  }
  // Generations, through their wrap-around, which clears the table.
  memo.Store(0x010203u, WordOf(0x010203u));
  for (int g = 0; g < 300; ++g) {
    memo.NewGeneration();
    EXPECT_FALSE(memo.Find(0x010203u, word)) << g;
    memo.Store(0x010203u, 7);
    ASSERT_TRUE(memo.Find(0x010203u, word));
    EXPECT_EQ(word, 7u);
  }
}

// Threads storing and finding overlapping colours at once: every word found
// is its colour's.
TEST(ColourMemo, ThreadsShareItSafely) {
  ColourMemo memo;
  std::atomic<int> wrong{0}, found{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      uint32_t seed = 12345u + t;
      for (int i = 0; i < 400000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        uint32_t colour = (seed >> 8) & 0x3FFFFu;  // few enough to meet each other
        uint32_t word;
        if (memo.Find(colour, word)) {
          ++found;
          if (word != WordOf(colour)) ++wrong;
        } else {
          memo.Store(colour, WordOf(colour));
        }
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(found.load(), 0);
}

TEST(WorkerPool, RunsEveryTaskOnceUnderTheCallersRounding) {
  for (bool persistent : {true, false}) {
    WorkerPool pool(persistent);
    for (int count : {1, 3, 8, 2, 5}) {
      std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
      std::vector<int> rounding(size_t(count), -1);
      std::fesetround(FE_DOWNWARD);
      pool.Run(count, [&](int t) {
        ++runs[size_t(t)];
        rounding[size_t(t)] = std::fegetround();
      });
      std::fesetround(FE_TONEAREST);
      for (int t = 0; t < count; ++t) {
        EXPECT_EQ(runs[size_t(t)].load(), 1) << t;
        EXPECT_EQ(rounding[size_t(t)], FE_DOWNWARD) << t;
      }
    }
    // A persistent pool keeps the threads of its largest run.
    EXPECT_EQ(pool.threads(), persistent ? 7 : 0);
  }
}

FilterSettings Settings(const char* text) {
  FilterSettings s{};
  std::strncpy(s.text, text, kMaxTextLength);
  return s;
}

// Maps a frame of four colours twice (frame numbers 1 and 2) and gives the
// memo's hits of the second frame.
int64_t SecondFrameHits(const char* text) {
  std::vector<uint32_t> src(64 * 64), dst(src.size());
  for (size_t i = 0; i < src.size(); ++i) src[i] = 0x00112233u * uint32_t(i % 4);
  FrameMapper mapper;
  FrameOptions options;
  options.memo = MemoUse::kAlways;
  options.threads = 2;
  options.minPixelsPerThread = 1;
  ConstPixelView s{src.data(), 64, 64, 64 * 4};
  PixelView d{dst.data(), 64, 64, 64 * 4};
  mapper.Map(Settings(text), s, d, 1, options);
  mapper.Map(Settings(text), s, d, 2, options);
  return mapper.lastStats().hits;
}

TEST(FrameMapper, KeepsTheMemoAcrossFramesOnlyWithoutFr) {
  // Without fr every colour of the second frame is found.
  EXPECT_EQ(SecondFrameHits("rd=sin(rs+gs+bs);gd=gs;bd=bs;"), 64 * 64);
  // With fr the second frame starts afresh: the first row of each thread's
  // band misses (the row's misses are computed together at its end), and a
  // few more where a thread looks up what another is storing.
  EXPECT_GE(SecondFrameHits("rd=sin(rs+gs+bs+fr);gd=gs;bd=bs;"), 64 * 64 / 2);
  EXPECT_LT(SecondFrameHits("rd=sin(rs+gs+bs+fr);gd=gs;bd=bs;"), 64 * 64);
  // rand() values reach the outputs: no memo.
  EXPECT_EQ(SecondFrameHits("rd=sin(rs+gs+bs)+rand();gd=gs;bd=bs;"), 0);
}

// Where it does not pay the memo switches itself off: cheap programs are
// never looked up, and a frame of unique colours stops after its first
// rows.
TEST(FrameMapper, TheMemoSwitchesItselfOffWhereItDoesNotPay) {
  int w = 512, h = 512;
  std::vector<uint32_t> src(size_t(w) * h), dst(src.size());
  uint32_t seed = 1;
  for (uint32_t& p : src) p = seed = seed * 1664525u + 1013904223u;
  ConstPixelView s{src.data(), w, h, w * 4};
  PixelView d{dst.data(), w, h, w * 4};
  FrameMapper mapper;
  FrameOptions options;
  options.threads = 1;
  mapper.Map(Settings("rd=rs*gs;gd=gs+bs;bd=bs;"), s, d, 0, options);
  EXPECT_EQ(mapper.lastStats().lookups, 0);
  mapper.Map(Settings("rd=sin(rs+gs+bs);gd=gs;bd=bs;"), s, d, 0, options);
  EXPECT_GT(mapper.lastStats().lookups, 0);
  EXPECT_LT(mapper.lastStats().lookups, int64_t(w) * h / 4);
}

// The memo costs only what a run uses: none on frames where it does not
// pay or for programs it cannot serve, a table sized for the first frame
// that needs it, grown between frames when a frame stored more colours than
// it holds well, and the pixels stay the reference's throughout.
TEST(FrameMapper, TheMemoIsSizedByUse) {
  const char* costly = "rd=sin(rs+gs+bs);gd=gs;bd=bs;";
  auto frame = [](int w, int h, uint32_t colours) {
    std::vector<uint32_t> px(size_t(w) * h);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint32_t((i * 2654435761u) % colours) * 97u;
    return px;
  };
  FrameMapper mapper;
  std::vector<uint32_t> small = frame(64, 64, 4096), out(small.size());
  mapper.Map(Settings(costly), {small.data(), 64, 64, 64 * 4}, {out.data(), 64, 64, 64 * 4}, 0);
  EXPECT_EQ(mapper.memoBytes(), 0u) << "a small frame is not looked up";
  std::vector<uint32_t> few = frame(1024, 512, 4096), many = frame(1024, 512, 1 << 16);
  std::vector<uint32_t> want(few.size()), got(few.size());
  ConstPixelView s{few.data(), 1024, 512, 1024 * 4};
  PixelView d{got.data(), 1024, 512, 1024 * 4};
  mapper.Map(Settings("rd=rand();gd=gs;bd=bs;"), s, d, 0);
  EXPECT_EQ(mapper.memoBytes(), 0u) << "rand() values are never memoized";
  mapper.Map(Settings(costly), s, d, 0);
  size_t first = mapper.memoBytes();
  EXPECT_EQ(first, (size_t(1) << ColourMemo::BitsFor(1024 * 512)) * 8);
  EXPECT_LT(first, (size_t(1) << ColourMemo::kMaxBits) * 8);
  s.data = many.data();
  mapper.Map(Settings(costly), s, d, 1);
  EXPECT_GT(mapper.memoBytes(), first) << "65536 colours grew a table of 65536 entries";
  mapper.Map(Settings(costly), s, d, 2);
  MapFrameReference(Settings(costly), s, {want.data(), 1024, 512, 1024 * 4}, 2);
  EXPECT_EQ(got, want);
}

TEST(ColourMemo, GrowsOnlyWhenAFrameStoredMoreThanHalfOfIt) {
  ColourMemo memo(ColourMemo::kMinBits);
  memo.Store(0x123456, 7);
  memo.GrowFor(int64_t(memo.entries() / 2));
  EXPECT_EQ(memo.bits(), ColourMemo::kMinBits);
  uint32_t word = 0;
  EXPECT_TRUE(memo.Find(0x123456, word));
  memo.GrowFor(3 * int64_t(memo.entries()));
  EXPECT_EQ(memo.bits(), ColourMemo::kMinBits + 3);
  EXPECT_FALSE(memo.Find(0x123456, word)) << "a grown table starts empty";
  memo.GrowFor(int64_t(1) << 40);
  EXPECT_EQ(memo.bits(), ColourMemo::kMaxBits);
}

}  // namespace
}  // namespace vexlor
