// The trace of one pixel: its statements' values and its packed output are
// the ones the fast frame path writes for that pixel of the frame, rand()
// included, and the ones the statement runner gives for its channels.
#include <gtest/gtest.h>

#include <vector>

#include "engine/engine.h"
#include "pixel/filter.h"

namespace vexlor {
namespace {

// A frame of distinct-looking pixels, top line first.
std::vector<uint32_t> Pattern(int32_t w, int32_t h) {
  std::vector<uint32_t> p(size_t(w) * h);
  for (size_t i = 0; i < p.size(); ++i) p[i] = uint32_t(i * 2654435761u) & 0xFFFFFFu;
  return p;
}

// Every pixel's trace equals the mapped frame's pixel, after a run that
// started some frames earlier and from a set seed, with and without clamp.
TEST(Trace, EqualsTheMappedPixelEverywhere) {
  const int32_t w = 13, h = 9;
  std::vector<uint32_t> src = Pattern(w, h);
  ConstPixelView view{src.data(), w, h, w * 4};
  const char* programs[] = {
      "rd=rs;gd=gs;bd=bs;",
      "n=rand();rd=rs+n;gd=gs*fr/10;bd=rand()*bs;",
      "rd=rs*3-1;gd=1-gs;bd=bs+fr/100;",  // carries without clamp
      "a=rand()+rand();rd=if(a>1,rs,gs);gd=a/2;bd=rand();",
  };
  for (const char* text : programs)
    for (bool clamp : {false, true})
      for (std::optional<uint32_t> seed : {std::optional<uint32_t>(), std::optional<uint32_t>(99)}) {
        SCOPED_TRACE(std::string(text) + (clamp ? " clamp" : "") + (seed ? " seed" : ""));
        RandKeeper keep;
        Filter filter(text, clamp, {.threads = 2});
        const uint64_t before = 3 * uint64_t(w) * h;  // three frames mapped before
        std::vector<uint32_t> dst(src.size());
        filter.StartRand(seed, before);
        filter.Map(view, {dst.data(), w, h, w * 4}, 7);
        for (int32_t y = 0; y < h; ++y)
          for (int32_t x = 0; x < w; ++x) {
            PixelTrace t = filter.Trace(view, x, y, 7, seed, before);
            ASSERT_TRUE(t.runs);
            ASSERT_EQ(t.packed, dst[size_t(y) * w + x]) << "at " << x << "," << y;
          }
      }
}

// The statements' values are listed in order, each with whether its name
// took it; the outputs are the runner's for the same channels.
TEST(Trace, ListsEachStatementsValue) {
  const char* text = "k=rs*2;rd=k;gd=gs *2;1x=5;bd=k+1;rd=rd/2;";
  PixelTrace t = TraceStatements(text, false, 0.25f, 0.5f, 0.125f, 4);
  ASSERT_TRUE(t.runs);
  ASSERT_EQ(t.statements.size(), 6u);
  EXPECT_EQ(t.statements[0].name, "k");
  EXPECT_TRUE(t.statements[0].newVariable);
  EXPECT_DOUBLE_EQ(t.statements[0].value, 0.5);
  EXPECT_EQ(t.statements[2].expression, "gs");  // cut at its first space
  EXPECT_DOUBLE_EQ(t.statements[2].value, 0.5);
  EXPECT_FALSE(t.statements[3].assigns);        // 1x cannot be assigned
  EXPECT_DOUBLE_EQ(t.statements[3].value, 5);
  EXPECT_FALSE(t.statements[4].newVariable);
  EXPECT_DOUBLE_EQ(t.statements[4].value, 1.5);
  EXPECT_DOUBLE_EQ(t.statements[5].value, 0.25);
  float rd, gd, bd;
  ASSERT_TRUE(RunStatements(text, 0.25f, 0.5f, 0.125f, 4, rd, gd, bd));
  EXPECT_EQ(t.rd, rd);
  EXPECT_EQ(t.gd, gd);
  EXPECT_EQ(t.bd, bd);
  EXPECT_TRUE(t.carries[2]);  // 1.5 * 256 = 384
  EXPECT_FALSE(t.carries[0]);
  EXPECT_EQ(t.packed, PackPixel(rd, gd, bd, false));
}

// A failing program traces the statements before the failure and says it
// does not run.
TEST(Trace, StopsAtAFailingStatement) {
  PixelTrace t = TraceStatements("rd=rs;gd=gs+;bd=bs;", false, 0.5f, 0.5f, 0.5f, 0);
  EXPECT_FALSE(t.runs);
  EXPECT_EQ(t.statements.size(), 1u);
  Filter filter("rd=rs;oops;", false);
  uint32_t px = 0x123456;
  EXPECT_FALSE(filter.Trace({&px, 1, 1, 4}, 0, 0, 0, {}, 0).runs);
}

}  // namespace
}  // namespace vexlor
