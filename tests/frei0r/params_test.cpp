// Reading the plug-in's parameter values: frame rates, time units, thread
// caps and the frame number of a host's time.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "frei0r/params.h"

namespace vexlor::frei0r {
namespace {

TEST(Frei0rParams, FrameRates) {
  EXPECT_EQ(ParseFrameRate("25"), 25.0);
  EXPECT_EQ(ParseFrameRate("29.97"), 29.97);
  EXPECT_EQ(ParseFrameRate("30000/1001"), 30000.0 / 1001);
  EXPECT_EQ(ParseFrameRate("1e2"), 100.0);
  for (const char* bad : {"", "0", "-25", "25fps", " 25", "1/0", "0/5", "/", "25/", "inf", "nan",
                          "1e999", "2/3/4", "1e308/1e-308"})
    EXPECT_FALSE(ParseFrameRate(bad)) << bad;
}

TEST(Frei0rParams, TimeUnitsAndThreadCaps) {
  EXPECT_EQ(ParseTimeUnit("auto"), TimeUnit::kAuto);
  EXPECT_EQ(ParseTimeUnit("s"), TimeUnit::kSeconds);
  EXPECT_EQ(ParseTimeUnit("milliseconds"), TimeUnit::kMilliseconds);
  EXPECT_FALSE(ParseTimeUnit("MS"));
  EXPECT_EQ(ParseThreadCap("0"), 0);
  EXPECT_EQ(ParseThreadCap("1024"), 1024);
  for (const char* bad : {"", "-1", "1025", "2.5", "4 ", "99999999999"})
    EXPECT_FALSE(ParseThreadCap(bad)) << bad;
}

// Each bad value is named in the error; "auto" becomes the host's unit.
TEST(Frei0rParams, ResolveNamesTheBadValue) {
  ParamValues v;
  Resolved r = Resolve(v, TimeUnit::kMilliseconds);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.timing.unit, TimeUnit::kMilliseconds);
  EXPECT_EQ(r.timing.rate, 25.0);
  v.timeUnit = "s";
  EXPECT_EQ(Resolve(v, TimeUnit::kMilliseconds).timing.unit, TimeUnit::kSeconds);
  v.maxThreads = "x";
  EXPECT_EQ(Resolve(v, TimeUnit::kSeconds).error,
            "max threads 'x' is not a whole number from 0 to 1024");
  v.timeUnit = "h";
  EXPECT_EQ(Resolve(v, TimeUnit::kSeconds).error, "time unit 'h' is not auto, s or ms");
  v.frameRate = "fast";
  EXPECT_NE(Resolve(v, TimeUnit::kSeconds).error.find("frame rate 'fast'"), std::string::npos);
}

// Times a host computes from timestamps land near, not on, a frame: the
// nearest frame is meant; the 32-bit range bounds it.
TEST(Frei0rParams, FrameNumbers) {
  FrameTiming s{25, TimeUnit::kSeconds}, ms{25, TimeUnit::kMilliseconds};
  EXPECT_EQ(FrameNumber(0.0, s), 0);
  EXPECT_EQ(FrameNumber(0.12, s), 3);
  EXPECT_EQ(FrameNumber(0.1199999, s), 3);
  EXPECT_EQ(FrameNumber(120.0000001, ms), 3);
  EXPECT_EQ(FrameNumber(-0.04, s), -1);
  FrameTiming ntsc{30000.0 / 1001, TimeUnit::kSeconds};
  for (int64_t n : {1, 1000, 1000000, 100000000})
    EXPECT_EQ(FrameNumber(double(n) * 1001 / 30000, ntsc), n);
  EXPECT_EQ(FrameNumber(1e300, s), INT32_MAX);
  EXPECT_EQ(FrameNumber(-1e300, s), INT32_MIN);
  EXPECT_EQ(FrameNumber(std::numeric_limits<double>::infinity(), s), INT32_MAX);
  EXPECT_EQ(FrameNumber(std::nan(""), s), 0);
}

// The setter keeps strings as given and tells whether a value changed.
TEST(Frei0rParams, SetAndGet) {
  ParamValues v;
  const char* rate = "50";
  EXPECT_TRUE(SetParam(v, kFrameRate, &rate));
  EXPECT_FALSE(SetParam(v, kFrameRate, &rate));
  const char* got = nullptr;
  GetParam(v, kFrameRate, &got);
  EXPECT_STREQ(got, "50");
  double on = 1;
  EXPECT_TRUE(SetParam(v, kClamp, &on));
  EXPECT_FALSE(SetParam(v, kParamCount, &on));
  EXPECT_FALSE(SetParam(v, kProgram, nullptr));
}

}  // namespace
}  // namespace vexlor::frei0r
