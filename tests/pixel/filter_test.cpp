// The core's door: a program's verdict and rand() count found without
// running it, and frames held top line first mapped as the host maps its
// bottom-up bitmaps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine.h"
#include "pixel/filter.h"

namespace vexlor {
namespace {

// rand() calls of one pixel's run, found by stepping the generator.
uint32_t SteppedRandCalls(std::string_view text) {
  RandKeeper keep;
  RandSetState(kRandFirstState);
  float rd, gd, bd;
  RunStatements(text, 0.5f, 0.5f, 0.5f, 0, rd, gd, bd);
  uint32_t end = RandState(), state = kRandFirstState;
  for (uint32_t calls = 0; calls < 100000; ++calls, state = RandAdvance(1).Apply(state))
    if (state == end) return calls;
  return UINT32_MAX;
}

TEST(Filter, VerdictAndRandCallsMatchARun) {
  const char* programs[] = {
      "rd=rs;gd=gs;bd=bs;",
      "rd=rand();gd=rand()*rand();bd=bs;",
      "x=rand();unused=rand()+rand();rd=x;gd=x;bd=x;",
      "rd=if(rs>0.5,rand(),rand());gd=max(rand(),1,rand());bd=0;",
      "a=rand();rd=rs;gd=gs;bd=bs;oops;",      // fails after one call
      "a=rand();b=sine(rs);rd=a;gd=a;bd=a;",   // fails after one call
      "rd=rs*2 rand();gd=gs;bd=bs;",           // cut at the space: no call
      "",
  };
  for (const char* text : programs) {
    SCOPED_TRACE(text);
    uint32_t before = RandState();
    Filter filter(text, false);
    EXPECT_EQ(RandState(), before) << "compiling moved the generator";
    float rd, gd, bd;
    RandKeeper keep;
    EXPECT_EQ(filter.runs(), RunStatements(text, 0.5f, 0.5f, 0.5f, 0, rd, gd, bd));
    EXPECT_EQ(filter.randCalls(), SteppedRandCalls(text));
  }
  std::string longest = "rd=rs;" + std::string(kMaxTextLength - 6, ' ');
  EXPECT_EQ(Filter(longest, false).verdict(), Filter::Verdict::kRuns);
  EXPECT_EQ(Filter(longest + ' ', false).verdict(), Filter::Verdict::kTooLong);
}

// A top-down picture through the door equals the reference mapping of the
// same rows laid out bottom line first, rand() and carries included, on
// every path.
TEST(Filter, MapsTopDownRowsBottomLineFirst) {
  const int32_t w = 23, h = 17;
  std::vector<uint32_t> src(size_t(w) * h);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint32_t(i * 2654435761u) & 0xFFFFFFu;
  const char* text = "n=rand();rd=rs+n;gd=gs*fr/10;bd=bs;";
  for (bool reference : {false, true}) {
    SCOPED_TRACE(reference);
    // The reference on a bottom-up copy.
    std::vector<uint32_t> up(src.rbegin(), src.rend()), want(up.size());
    for (int32_t y = 0; y < h; ++y)
      std::copy(src.begin() + (h - 1 - y) * w, src.begin() + (h - y) * w, up.begin() + y * w);
    FilterSettings settings{};
    SetSettingsText(settings, text);
    RandSetState(77);
    FrameReport wantReport;
    MapFrameReference(settings, {up.data(), w, h, w * 4}, {want.data(), w, h, w * 4}, 3,
                      &wantReport);
    uint32_t wantState = RandState();

    Filter filter(text, false, {.threads = 2, .reference = reference});
    std::vector<uint32_t> got(src.size());
    filter.StartRand(77, 0);
    FrameReport report = filter.Map({src.data(), w, h, w * 4}, {got.data(), w, h, w * 4}, 3);
    EXPECT_EQ(RandState(), wantState);
    EXPECT_EQ(report.carried, wantReport.carried);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        ASSERT_EQ(got[size_t(y) * w + x], want[size_t(h - 1 - y) * w + x]) << x << "," << y;
  }
}

// The generator started at a later frame stands where a whole run does.
TEST(Filter, StartRandJumpsToAFrame) {
  Filter filter("a=rand();b=rand();rd=a;gd=b;bd=bs;", false);
  RandSetState(5);
  for (int i = 0; i < 3 * 6 * 2; ++i) RandNext();
  uint32_t afterThreeFrames = RandState();
  filter.StartRand(5, 3 * 6);
  EXPECT_EQ(RandState(), afterThreeFrames);
}

}  // namespace
}  // namespace vexlor
