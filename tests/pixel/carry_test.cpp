// The count of pixels whose channels carried: known counts on frames with and
// without values outside 0..1, through uniform, table and per-pixel outputs,
// and the same count from the reference and from the fast path on any number
// of threads, with and without the colour memo, with the pixels unchanged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "pixel/frame_plan.h"

namespace vexlor {
namespace {

FilterSettings Settings(const std::string& text, bool clamp) {
  FilterSettings s{};
  s.clamp = clamp ? 1 : 0;
  std::strncpy(s.text, text.c_str(), kMaxTextLength);
  return s;
}

// A frame whose red byte runs through 0..255 along each row; green and blue
// follow the pixel's number, so colours repeat for the memo to find.
struct Frame {
  int width, height;
  std::vector<uint32_t> pixels;
  Frame(int w, int h) : width(w), height(h), pixels(size_t(w) * size_t(h)) {
    for (size_t i = 0; i < pixels.size(); ++i)
      pixels[i] = uint32_t(i % 256) << 16 | uint32_t(i * 7 % 256) << 8 | uint32_t(i * 13 % 97);
  }
  ConstPixelView CView() const { return {pixels.data(), width, height, width * 4}; }
};

// The words and the count of one mapping.
struct Mapped {
  std::vector<uint32_t> words;
  int64_t carried;
};

Mapped Reference(const std::string& text, bool clamp, const Frame& src) {
  std::vector<uint32_t> out(src.pixels.size());
  FrameReport report{.carried = -1};
  RandSetState(99);
  MapFrameReference(Settings(text, clamp), src.CView(), {out.data(), src.width, src.height,
                    src.width * 4}, 3, &report);
  return {out, report.carried};
}

Mapped Fast(const std::string& text, bool clamp, const Frame& src, const FrameOptions& options,
            FrameMapper& mapper) {
  std::vector<uint32_t> out(src.pixels.size());
  FrameReport report{.carried = -1};
  RandSetState(99);
  mapper.Map(Settings(text, clamp), src.CView(), {out.data(), src.width, src.height, src.width * 4},
             3, options, &report);
  return {out, report.carried};
}

// Every division of the work: threads, blocks, pair tables, memo or none.
std::vector<FrameOptions> AllOptions() {
  std::vector<FrameOptions> all;
  for (int threads : {1, 2, 3, 4})
    for (MemoUse memo : {MemoUse::kNever, MemoUse::kAlways, MemoUse::kAuto})
      for (int64_t pairs : {int64_t(0), int64_t(1) << 40}) {
        FrameOptions o;
        o.threads = threads;
        o.blockPixels = threads == 3 ? 5 : 256;
        o.minPixelsPerThread = 1;
        o.minPixelsForPairTables = pairs;
        o.memo = memo;
        o.minPixelsForMemo = 1;
        all.push_back(o);
      }
  return all;
}

TEST(Carries, KnownCountsThroughEveryKindOfOutput) {
  Frame src(256, 12);  // each red byte 12 times
  const int64_t all = 256 * 12;
  struct Case {
    const char* text;
    int64_t carried;
  } cases[] = {
      {"rd=rs;gd=gs;bd=bs;", 0},
      {"rd=255/256-rs;gd=255/256-gs;bd=255/256-bs;", 0},
      {"rd=bs;gd=rs;bd=gs;", 0},
      // Red bytes from 197 on reach 256 (196 * 1.3 = 254.8, 197 * 1.3 = 256.1).
      {"rd=rs*1.3;gd=gs;bd=bs;", (256 - 197) * 12},
      {"rd=rs-0.5;gd=gs;bd=bs;", 128 * 12},  // below 0: borrows
      {"rd=1;gd=gs;bd=bs;", all},            // a uniform 256
      {"rd=0;gd=0;bd=-1/256;", all},
      {"rd=255/256;gd=0;bd=0;", 0},
      // Codes that ToInt32 wraps into 0..255, and NaN, give no carry.
      {"rd=16777216;gd=1/0;bd=sqrt(-1);", 0},
      {"rd=16777218;gd=gs;bd=bs;", all},  // 2^32 + 512: wraps to 512
      // Per pixel: two channels, then all three; the same pixels carry.
      {"rd=rs*1.3+gs*0;gd=gs;bd=bs;", (256 - 197) * 12},
      {"rd=rs*1.3+gs*bs*0;gd=gs;bd=bs;", (256 - 197) * 12},
      {"rd=rs;gd=gs;bd=sin(rs+gs+bs)*0+rs*1.3;", (256 - 197) * 12},
      // Several channels of one pixel carry: the pixel counts once.
      {"rd=rs*1.3;gd=rs*1.3;bd=rs*1.3+gs*bs*0;", (256 - 197) * 12},
      // rand() is per pixel and below 1: the sum passes 1 where red is large.
      {"rd=rs+rand()*0;gd=gs;bd=bs;", 0},
      {"n=rand();rd=rs+n;gd=gs;bd=bs;", -1},
  };
  for (const Case& c : cases) {
    Mapped want = Reference(c.text, false, src);
    if (c.carried >= 0) {
      EXPECT_EQ(want.carried, c.carried) << c.text;
    } else {
      EXPECT_GT(want.carried, 0) << c.text;
    }
    EXPECT_EQ(Reference(c.text, true, src).carried, 0) << c.text;
    for (const FrameOptions& o : AllOptions()) {
      FrameMapper mapper(false);
      for (bool clamp : {false, true}) {
        Mapped got = Fast(c.text, clamp, src, o, mapper);
        EXPECT_EQ(got.carried, clamp ? 0 : want.carried)
            << c.text << " clamp " << clamp << " threads " << o.threads << " memo " << int(o.memo);
        if (!clamp) {
          EXPECT_EQ(got.words, want.words) << c.text;
        }
      }
    }
  }
}

// The memo keeps whether a word carried: frames that find every colour again
// still count each pixel, and a new program's entries do not keep the old
// program's carries.
TEST(Carries, TheMemoCountsTheColoursItFinds) {
  Frame src(300, 40);
  const char* const programs[] = {
      "rd=sin(rs+gs+bs)*0+rs*1.3;gd=gs;bd=bs;",
      "rd=sin(rs+gs+bs)*0+rs*0.5;gd=gs;bd=bs;",
      "rd=sin(rs+gs+bs)*0+rs-0.5;gd=gs;bd=bs;",
  };
  FrameMapper mapper;
  FrameOptions o;
  o.threads = 2;
  o.minPixelsPerThread = 1;
  o.memo = MemoUse::kAlways;
  for (int round = 0; round < 2; ++round)
    for (const char* text : programs) {
      Mapped want = Reference(text, false, src);
      // A frame that asks for no count still stores each word's carry.
      std::vector<uint32_t> out(src.pixels.size());
      mapper.Map(Settings(text, false), src.CView(),
                 {out.data(), src.width, src.height, src.width * 4}, 3, o);
      EXPECT_EQ(out, want.words);
      for (int frame = 0; frame < 3; ++frame) {
        Mapped got = Fast(text, false, src, o, mapper);
        EXPECT_EQ(got.carried, want.carried) << text << " frame " << frame;
        EXPECT_EQ(got.words, want.words) << text;
      }
      EXPECT_GT(mapper.lastStats().hits, mapper.lastStats().lookups * 9 / 10) << text;
    }
}

// Each entry keeps its own carry bit, which never makes an entry of another
// generation or colour match; FindMany counts the carried words it finds.
TEST(Carries, TheMemoKeepsEachWordsCarryBit) {
  ColourMemo memo;
  ASSERT_TRUE(memo.usable());
  for (int g = 0; g < 300; ++g) {
    memo.NewGeneration();
    uint32_t word;
    bool carries = false;
    EXPECT_FALSE(memo.Find(0x0A0B0Cu, word, &carries)) << g;
    memo.Store(0x0A0B0Cu, 0x01000000u + uint32_t(g), g % 2 == 0);
    memo.Store(0x0D0E0Fu, 5, g % 2 != 0);
    ASSERT_TRUE(memo.Find(0x0A0B0Cu, word, &carries));
    EXPECT_EQ(word, 0x01000000u + uint32_t(g));
    EXPECT_EQ(carries, g % 2 == 0);
    ASSERT_TRUE(memo.Find(0x0D0E0Fu, word, &carries));
    EXPECT_EQ(carries, g % 2 != 0);
  }
  const uint32_t px[] = {0x0A0B0Cu, 0x0D0E0Fu, 0x0D0E0Fu, 0x112233u, 0x0A0B0Cu};
  uint32_t out[5] = {};
  int missAt[5];
  uint32_t missColour[5];
  ColourMemo::FindResult r = memo.FindMany(px, out, 0, 5, missAt, missColour, 0, 5);
  EXPECT_EQ(r.misses, 1);
  EXPECT_EQ(r.carried, 2);  // the last generation stored 0x0D0E0F as carried
}

// A failing program packs the untouched holders, 0, and an empty frame has
// no pixel: neither carries, and a report given is still written.
TEST(Carries, NoneInFailingProgramsOrEmptyFrames) {
  Frame src(16, 4);
  EXPECT_EQ(Reference("rd=2;gd=(;", false, src).carried, 0);
  FrameMapper mapper;
  EXPECT_EQ(Fast("rd=2;gd=(;", false, src, {}, mapper).carried, 0);
  Frame empty(0, 0);
  EXPECT_EQ(Reference("rd=2;", false, empty).carried, 0);
  EXPECT_EQ(Fast("rd=2;", false, empty, {}, mapper).carried, 0);
}

}  // namespace
}  // namespace vexlor
