// PNG writing at every compression level: each level gives back the same
// pixels, and apply's --png-level picks the level and refuses others.
#include <gtest/gtest.h>

#include "cli_test_util.h"

namespace vexlor::cli {
namespace {

using test::NoisePicture;
using test::Rgb;

// A picture with smooth gradients and flat runs, which the filters and the
// run-length mode treat differently from noise.
Picture SmoothPicture(int32_t width, int32_t height) {
  Picture p{width, height, std::vector<uint32_t>(size_t(width) * size_t(height))};
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      p.pixels[size_t(y) * size_t(width) + size_t(x)] =
          uint32_t(x * 255 / width) << 16 | uint32_t(y * 255 / height) << 8 | (x / 8 % 2) * 255;
  return p;
}

TEST(PngTest, EveryLevelRoundTrips) {
  const Picture pictures[] = {NoisePicture(1, 1, 3), NoisePicture(37, 5, 9),
                              SmoothPicture(300, 41), SmoothPicture(1, 64)};
  for (const Picture& p : pictures) {
    for (int level = 0; level <= kPngMaxLevel; ++level) {
      Picture back = DecodePicture(EncodePng(p, level), "x");
      EXPECT_EQ(back.width, p.width);
      EXPECT_EQ(back.height, p.height);
      EXPECT_EQ(back.pixels, Rgb(p.pixels)) << "level " << level << ", " << p.width << "x"
                                            << p.height;
    }
  }
}

TEST(PngTest, LevelsTradeSizeAsDocumented) {
  Picture p = SmoothPicture(256, 128);
  size_t stored = EncodePng(p, 0).size();
  EXPECT_GT(stored, size_t(256 * 128 * 3));  // the rows as they are, plus framing
  EXPECT_LT(EncodePng(p, kPngFastestLevel).size(), stored / 4);
  EXPECT_LE(EncodePng(p, kPngMaxLevel).size(), EncodePng(p, 6).size());
}

TEST(PngTest, ApplyTakesALevelAndRefusesOthers) {
  test::ScratchDir dir;
  Picture p = SmoothPicture(64, 32);
  test::WriteFile(dir.File("in.png"), test::Bytes(EncodePng(p)));
  for (const char* level : {"0", "9"}) {
    test::RunResult r = test::RunVexlor({"apply", "--png-level", level, "rd=rs;gd=gs;bd=bs;",
                                         dir.File("in.png"), dir.File("out.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadPicture(dir.File("out.png")).pixels, Rgb(p.pixels));
  }
  for (const char* level : {"10", "-1", "x"}) {
    test::RunResult r = test::RunVexlor({"apply", "--png-level", level, "rd=rs;gd=gs;bd=bs;",
                                         dir.File("in.png"), dir.File("bad.png")});
    EXPECT_EQ(r.status, kExitUsage) << level;
    EXPECT_NE(r.err.find("--png-level"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace vexlor::cli
