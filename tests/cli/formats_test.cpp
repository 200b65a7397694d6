// The picture formats beyond PNG, PPM and JPEG (TIFF, BMP, WebP): round trips
// through the tool's own encoders and other writers' files, the BMP kinds read
// by hand, and how apply names formats and refuses to overwrite its input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "cli_test_util.h"

namespace vexlor::cli {
namespace {

using test::NoisePicture;
using test::Rgb;
using test::RunResult;
using test::RunShell;
using test::RunVexlor;
using test::ScratchDir;

std::string Failing(const std::vector<uint8_t>& bytes) {
  try {
    DecodePicture(bytes, "x");
  } catch (const Failure& f) {
    return f.what();
  }
  return "";
}

TEST(FormatsTest, LosslessFormatsRoundTripExactly) {
  // Odd widths catch BMP's row padding; TIFF's strips span several rows.
  for (auto [w, h] : {std::pair{1, 1}, {13, 7}, {301, 97}}) {
    Picture in = NoisePicture(w, h, 5);
    for (PictureFormat format : {PictureFormat::Tiff, PictureFormat::Bmp, PictureFormat::Webp}) {
      Picture out = DecodePicture(EncodePicture(in, format), "x");
      ASSERT_EQ(out.width, w);
      ASSERT_EQ(out.height, h);
      EXPECT_EQ(out.pixels, Rgb(in.pixels)) << int(format) << " " << w;
    }
  }
}

TEST(FormatsTest, LossyQualityIsHonoured) {
  // A smooth gradient: lossy coding keeps it close, and a higher quality is larger.
  Picture in{64, 64, std::vector<uint32_t>(64 * 64)};
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) in.pixels[size_t(y * 64 + x)] = uint32_t(x * 4) << 16 | uint32_t(y * 4) << 8 | 128;
  for (PictureFormat format : {PictureFormat::Webp, PictureFormat::Jpeg}) {
    std::vector<uint8_t> low = EncodePicture(in, format, {.quality = 10});
    std::vector<uint8_t> high = EncodePicture(in, format, {.quality = 95});
    EXPECT_LT(low.size(), high.size()) << int(format);
    Picture back = DecodePicture(high, "x");
    int worst = 0;
    for (size_t i = 0; i < in.pixels.size(); ++i)
      for (int shift : {0, 8, 16})
        worst = std::max(worst, std::abs(int(in.pixels[i] >> shift & 255) -
                                         int(back.pixels[i] >> shift & 255)));
    EXPECT_LE(worst, 12) << int(format);
  }
}

// A BMP header for width x height (negative: top-down) at `bits`, with
// `colours` palette entries and the given compression; pixels follow.
std::vector<uint8_t> BmpHeader(int32_t width, int32_t height, int bits, uint32_t colours,
                               uint32_t compression = 0) {
  std::vector<uint8_t> b(54, 0);
  auto put = [&](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  put(10, 54 + colours * 4, 4);
  put(14, 40, 4);
  put(18, uint32_t(width), 4);
  put(22, uint32_t(height), 4);
  put(26, 1, 2);
  put(28, uint32_t(bits), 2);
  put(30, compression, 4);
  put(46, colours, 4);
  return b;
}

TEST(FormatsTest, BmpKindsOtherWritersMake) {
  // 8-bit palette, bottom-up, 3 pixels wide: rows padded to 4 bytes.
  std::vector<uint8_t> pal = BmpHeader(3, 2, 8, 2);
  for (uint8_t c : {0x00, 0x00, 0xFF, 0, 0xFF, 0x00, 0x00, 0}) pal.push_back(c);  // red, blue
  for (uint8_t c : {0, 1, 0, 0, 1, 1, 0, 0}) pal.push_back(c);
  Picture p = DecodePicture(pal, "x");
  EXPECT_EQ(p.pixels, (std::vector<uint32_t>{0x0000FF, 0x0000FF, 0xFF0000,
                                              0xFF0000, 0x0000FF, 0xFF0000}));
  // 32-bit, top-down.
  std::vector<uint8_t> top = BmpHeader(2, -1, 32, 0);
  for (uint8_t c : {0x01, 0x02, 0x03, 0xFF, 0x04, 0x05, 0x06, 0xFF}) top.push_back(c);
  EXPECT_EQ(DecodePicture(top, "x").pixels, (std::vector<uint32_t>{0x030201, 0x060504}));
  // Refused: run-length compression, 16 bits, and pixels cut short.
  EXPECT_NE(Failing(BmpHeader(2, 2, 8, 0, 1)).find("unsupported BMP"), std::string::npos);
  EXPECT_NE(Failing(BmpHeader(2, 2, 16, 0)).find("unsupported BMP"), std::string::npos);
  std::vector<uint8_t> cut = BmpHeader(4, 4, 24, 0);
  cut.resize(cut.size() + 40);
  EXPECT_NE(Failing(cut).find("truncated BMP"), std::string::npos);
  EXPECT_NE(Failing({'B', 'M', 0, 0}).find("truncated BMP"), std::string::npos);
}

TEST(FormatsTest, CorruptTiffAndWebpFailInOneLine) {
  Picture in = NoisePicture(40, 30, 9);
  for (PictureFormat format : {PictureFormat::Tiff, PictureFormat::Webp}) {
    std::vector<uint8_t> bytes = EncodePicture(in, format);
    for (size_t keep : {size_t{12}, bytes.size() / 2}) {
      std::string message = Failing({bytes.begin(), bytes.begin() + long(keep)});
      EXPECT_NE(message.find("x: "), std::string::npos) << int(format) << " " << keep;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
  }
}

TEST(FormatsTest, ExtensionsNameTheFormats) {
  EXPECT_EQ(FormatForName("a.TIF"), PictureFormat::Tiff);
  EXPECT_EQ(FormatForName("a.tiff"), PictureFormat::Tiff);
  EXPECT_EQ(FormatForName("a.bmp"), PictureFormat::Bmp);
  EXPECT_EQ(FormatForName("a.webp"), PictureFormat::Webp);
  EXPECT_EQ(FormatNamed("WEBP"), PictureFormat::Webp);
  try {
    FormatForName("a.xyz");
    ADD_FAILURE();
  } catch (const Failure& f) {
    EXPECT_EQ(f.status, kExitUsage);
    EXPECT_STREQ(f.what(), "a.xyz: no picture format for .xyz (known: png, ppm, jpg, jpeg, "
                           "tif, tiff, bmp, webp)");
  }
}

TEST(FormatsTest, ApplyWritesEachFormatAndRefusesUnknownOnes) {
  ScratchDir dir;
  Picture in = NoisePicture(17, 9, 3);
  test::WriteFile(dir.File("in.png"), test::Bytes(EncodePng(in)));
  const char* swap = "rd=bs;gd=gs;bd=rs;";
  std::string last = dir.File("in.png");
  for (const char* ext : {"tif", "bmp", "webp"}) {
    std::string out = dir.File(std::string("out.") + ext);
    RunResult r = RunVexlor({"apply", swap, last, out});
    ASSERT_EQ(r.status, 0) << r.err;
    last = out;
  }
  // Three swaps: red and blue end up swapped once.
  Picture back = DecodePicture(
      [&] { std::string b = test::ReadFile(last); return std::vector<uint8_t>(b.begin(), b.end()); }(), "x");
  for (size_t i = 0; i < in.pixels.size(); ++i) {
    uint32_t p = in.pixels[i];
    ASSERT_EQ(back.pixels[i], (p & 0xFF) << 16 | (p & 0xFF00) | (p >> 16 & 0xFF));
  }
  RunResult stdoutBmp = RunVexlor({"apply", "--format", "bmp", swap, dir.File("in.png"), "-"});
  EXPECT_EQ(stdoutBmp.status, 0);
  EXPECT_EQ(stdoutBmp.out.substr(0, 2), "BM");
  for (const char* bad : {"out.xyz", "out"}) {
    RunResult r = RunVexlor({"apply", swap, dir.File("in.png"), dir.File(bad)});
    EXPECT_EQ(r.status, kExitUsage) << bad;
    EXPECT_NE(r.err.find(bad == std::string("out") ? "no extension" : "no picture format for .xyz (known: png"),
              std::string::npos) << r.err;
  }
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.png", "out.bmp", "out.tif", "out.webp"}));
}

TEST(FormatsTest, DeeperInputIsSaidToBeFilteredAtEightBits) {
  ScratchDir dir;
  RunResult made = RunShell("cd " + dir.path +
                            " && ffmpeg -v error -f lavfi -i testsrc=size=8x8 -frames:v 1 "
                            "-pix_fmt rgb48be deep.png && ffmpeg -v error -i deep.png "
                            "-pix_fmt rgb48le deep.tif");
  ASSERT_EQ(made.status, 0) << made.err;
  for (const char* name : {"deep.png", "deep.tif"}) {
    RunResult r = RunVexlor({"apply", "rd=rs;gd=gs;bd=bs;", dir.File(name), dir.File("o.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("has 16-bit channels; it is filtered and written at 8 bits"),
              std::string::npos) << r.err;
  }
}

TEST(FormatsTest, TerminalsAndMissingFoldersAreSaidPlainly) {
  ScratchDir dir;
  test::WriteFile(dir.File("in.png"), test::Bytes(EncodePng(NoisePicture(4, 4, 1))));
  RunResult r = RunShell("export VEXLOR; script -qec " +
                         test::ShellQuote("\"$VEXLOR\" apply --format png 'rd=rs;gd=gs;bd=bs;' " +
                                          dir.File("in.png") + " -") + " /dev/null");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("OUTPUT '-' is a terminal, which shows no picture"), std::string::npos)
      << r.out;
  r = RunVexlor({"apply", "rd=rs;gd=gs;bd=bs;", dir.File("in.png"), dir.File("no/such/out.png")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vexlor: " + dir.File("no/such/out.png") + ": the folder " +
                       dir.File("no/such") + " does not exist\n");
}

TEST(SameFileTest, OutputNamingTheInputIsRefusedUnlessAllowed) {
  ScratchDir dir;
  std::string input = dir.File("in.png");
  std::string original = test::Bytes(EncodePng(NoisePicture(5, 4, 1)));
  test::WriteFile(input, original);
  ASSERT_EQ(::link(input.c_str(), dir.File("hard.png").c_str()), 0);
  ASSERT_EQ(::symlink("in.png", dir.File("soft.png").c_str()), 0);
  const char* invert = "rd=1-rs;gd=1-gs;bd=1-bs;";
  for (const std::string& out : {input, dir.path + "/./in.png", dir.File("hard.png"),
                                 dir.File("soft.png")}) {
    RunResult r = RunVexlor({"apply", invert, input, out});
    EXPECT_EQ(r.status, kExitUsage) << out;
    EXPECT_NE(r.err.find("is the input file itself"), std::string::npos) << r.err;
    EXPECT_EQ(test::ReadFile(input), original);
  }
  RunResult r = RunVexlor({"apply", "--overwrite-input", invert, input, input});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(test::ReadFile(input), original);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"hard.png", "in.png", "soft.png"}));
}

}  // namespace
}  // namespace vexlor::cli
