// JPEG pictures, pictures through standard input and output, and the
// progress line of a single picture.
#include <gtest/gtest.h>

#include "cli_test_util.h"

namespace vexlor::test {
namespace {

using cli::Picture;

// A smooth picture, where JPEG's losses stay small.
Picture Gradient(int32_t width, int32_t height) {
  Picture p{width, height, std::vector<uint32_t>(size_t(width) * height)};
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      p.pixels[size_t(y) * width + x] =
          uint32_t(x * 255 / width) << 16 | uint32_t(y * 255 / height) << 8 | 128;
  return p;
}

int MaxDifference(const Picture& a, const Picture& b) {
  int most = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i)
    for (int shift : {0, 8, 16})
      most = std::max(most, std::abs(int(a.pixels[i] >> shift & 255) -
                                     int(b.pixels[i] >> shift & 255)));
  return most;
}

TEST(JpegTest, RoundTripStaysCloseAndKeepsTheSize) {
  Picture in = Gradient(37, 21);
  std::vector<uint8_t> bytes = cli::EncodeJpeg(in);
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
  Picture out = cli::DecodePicture(bytes, "x.jpg");
  ASSERT_EQ(out.width, 37);
  ASSERT_EQ(out.height, 21);
  EXPECT_LE(MaxDifference(in, out), 4);
}

TEST(JpegTest, DamagedOrCutJpegIsRefusedWithItsName) {
  std::vector<uint8_t> bytes = cli::EncodeJpeg(Gradient(16, 16));
  for (size_t keep : {size_t(3), size_t(40), bytes.size() / 2}) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + ptrdiff_t(keep));
    try {
      cli::DecodePicture(cut, "cut.jpg");
      ADD_FAILURE() << keep;
    } catch (const cli::Failure& f) {
      EXPECT_EQ(std::string(f.what()).rfind("cut.jpg: corrupt JPEG", 0), 0u) << f.what();
      EXPECT_EQ(f.status, cli::kExitData);
    }
  }
}

TEST(JpegTest, ApplyReadsFfmpegsJpegAndWritesJpeg) {
  ScratchDir dir;
  std::string jpg = dir.File("in.jpg");
  RunResult made = RunShell("ffmpeg -v error -f lavfi -i testsrc2=size=48x32 -frames:v 1 " +
                            ShellQuote(jpg));
  ASSERT_EQ(made.status, 0) << made.err;
  std::string bytes = ReadFile(jpg);
  Picture in = cli::DecodePicture(std::vector<uint8_t>(bytes.begin(), bytes.end()), jpg);
  const char* program = "rd=gs;gd=rs;bd=1-bs;";
  ASSERT_EQ(RunVexlor({"apply", program, jpg, dir.File("out.png")}).status, 0);
  std::string png = ReadFile(dir.File("out.png"));
  Picture expected{in.width, in.height, Rgb(MapLikeHost(program, true, in.pixels, in.width,
                                                        in.height, 0))};
  EXPECT_EQ(png, Bytes(cli::EncodePng(expected)));
  ASSERT_EQ(RunVexlor({"apply", program, jpg, dir.File("out.JPEG")}).status, 0);
  std::string out = ReadFile(dir.File("out.JPEG"));
  Picture back = cli::DecodePicture(std::vector<uint8_t>(out.begin(), out.end()), "out");
  EXPECT_LE(MaxDifference(back, expected), 24);
}

TEST(JpegTest, StandardInputAndOutputTakePictures) {
  ScratchDir dir;
  Picture in = NoisePicture(7, 3, 5);
  std::string png = Bytes(cli::EncodePng(in));
  const char* program = "rd=bs;gd=gs;bd=rs;";
  Picture expected{7, 3, Rgb(MapLikeHost(program, false, in.pixels, 7, 3, 0))};
  RunResult r = RunVexlor({"apply", "--format", "ppm", program, "-", "-"}, png);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Bytes(cli::EncodePpm(expected)));
  r = RunVexlor({"apply", program, "-", dir.File("o.png")}, Bytes(cli::EncodePpm(in)));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.File("o.png")), Bytes(cli::EncodePng(expected)));

  WriteFile(dir.File("in.png"), png);
  struct Case {
    std::vector<std::string> args;
    std::string input, mention;
  } cases[] = {
      {{program, dir.File("in.png"), "-"}, "", "OUTPUT '-' needs --format"},
      {{"--format", "png", program, dir.File("in.png"), dir.File("x.png")}, "",
       "--format is for OUTPUT '-' only"},
      {{"--format", "gif", program, dir.File("in.png"), "-"}, "", "--format: 'gif'"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"apply"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    r = RunVexlor(args, c.input);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(c.mention), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  r = RunVexlor({"apply", program, "-", dir.File("o.png")}, "not a picture");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("standard input: unsupported format"), std::string::npos) << r.err;
}

TEST(ProgressTest, APictureIsShownAsAPictureAndFramesAgainstTheirTotal) {
  std::FILE* out = std::tmpfile();
  {
    cli::Progress picture(true, out);
    picture.PictureDone(640, 480);
    cli::Progress video(true, out);
    video.SetTotal(10, true);
    video.FrameDone();
  }
  std::rewind(out);
  char buf[512] = "";
  std::string text(buf, std::fread(buf, 1, sizeof buf - 1, out));
  std::fclose(out);
  EXPECT_NE(text.find("vexlor: 640x480 picture filtered in "), std::string::npos) << text;
  EXPECT_NE(text.find("\rvexlor: 1 of ~10 frames done, "), std::string::npos) << text;
  EXPECT_NE(text.find(" left"), std::string::npos) << text;
}

}  // namespace
}  // namespace vexlor::test
