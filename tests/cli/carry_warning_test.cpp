// The warning of a run with --carry in which channels carried: a line with
// the exact count as soon as the first frame that carries is done, and for
// several frames the whole run's at the end, from apply on pictures and
// videos and from stream; none without --carry (channels are clamped), with
// --no-warnings, or for programs that stay in 0..1.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "explain/warnings.h"
#include "cli_test_util.h"

namespace vexlor::cli {
namespace {

using test::RunResult;
using test::RunVexlor;

const std::string kTail =
    " had a channel outside 0..1, which carried into the next channel as the plug-in does with "
    "\"Verify 0-1 limits\" off (--carry); without --carry each channel is limited to 0..1\n";

// Two rows whose red bytes run through 0..255.
Picture RedRamp() {
  Picture p{256, 2, std::vector<uint32_t>(512)};
  for (uint32_t i = 0; i < 512; ++i) p.pixels[i] = (i % 256) << 16 | 0x4080u;
  return p;
}

TEST(CarryWarningTest, TheLineSaysHowManyPixelsOfHowManyFrames) {
  EXPECT_EQ(CarryWarning({.frames = 1, .pixels = 100, .carried = 0}), "");
  EXPECT_EQ(CarryWarning({.frames = 1, .pixels = 100, .carried = 7}) + "\n",
            "7 of 100 pixels" + kTail);
  EXPECT_EQ(CarryWarning({.frames = 3, .pixels = 300, .carried = 300}) + "\n",
            "300 of 300 pixels in 3 frames" + kTail);
}

TEST(CarryWarningTest, ApplyOnAPictureCountsExactly) {
  test::ScratchDir dir;
  test::WriteFile(dir.File("in.ppm"), test::Bytes(EncodePpm(RedRamp())));
  auto apply = [&](std::vector<std::string> options, const std::string& program) {
    std::vector<std::string> args = {"apply", "--quiet", "--carry"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {program, dir.File("in.ppm"), dir.File("out.ppm")});
    RunResult r = RunVexlor(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.err;
  };
  // Red bytes from 197 on pass 255 (197 * 1.3 = 256.1), on both paths.
  const std::string program = "rd=rs*1.3;gd=gs;bd=bs;";
  for (const char* path : {"--threads=1", "--threads=3", "--reference"})
    EXPECT_EQ(apply({path}, program), "vexlor: warning: 118 of 512 pixels" + kTail) << path;
  EXPECT_EQ(apply({}, "rd=rs-0.5;gd=gs;bd=gs*bs*0+1;"),
            "vexlor: warning: 512 of 512 pixels" + kTail);
  // The output is the same with and without the warning.
  std::string warned = test::ReadFile(dir.File("out.ppm"));
  EXPECT_EQ(apply({"--no-warnings"}, "rd=rs-0.5;gd=gs;bd=gs*bs*0+1;"), "");
  EXPECT_EQ(test::ReadFile(dir.File("out.ppm")), warned);
  RunResult clamped = RunVexlor({"apply", program, dir.File("in.ppm"), dir.File("out.ppm")});
  EXPECT_EQ(clamped.status, 0);
  EXPECT_EQ(clamped.err, "");
  EXPECT_NE(test::ReadFile(dir.File("out.ppm")), warned);
  EXPECT_EQ(apply({}, "rd=rs*1.0039;gd=gs;bd=bs;"), "");  // 255 * 1.0039 = 255.99: still 255
  EXPECT_EQ(apply({}, "rd=sqrt(-1);gd=1/0;bd=bs;"), "");  // NaN and infinity pack as 0
}

// The demo's programs that run without --clamp stay in 0..1, except the one
// made to show carries.
TEST(CarryWarningTest, TheDemosInRangeProgramsGetNone) {
  test::ScratchDir dir;
  test::WriteFile(dir.File("in.ppm"), test::Bytes(EncodePpm(test::NoisePicture(40, 30, 5))));
  std::ifstream script(VEXLOR_SOURCE_DIR "/scripts/demo.sh");
  std::regex effect("^  \"([a-z]+)\\|([^|]*)\\|(.*)\"$");
  std::smatch m;
  int checked = 0;
  for (std::string line; std::getline(script, line);) {
    if (!std::regex_match(line, m, effect)) continue;
    std::vector<std::string> args = {"apply"};
    if (!m[2].str().empty()) args.push_back(m[2]);
    args.insert(args.end(), {m[3], dir.File("in.ppm"), dir.File("out.png")});
    RunResult r = RunVexlor(args);
    EXPECT_EQ(r.status, 0) << r.err;
    bool warned = r.err.find("carried into the next channel") != std::string::npos;
    EXPECT_EQ(warned, m[1] == "carries") << m[1] << ": " << r.err;
    ++checked;
  }
  EXPECT_GE(checked, 5);
}

// Frames as the stream carries them: bytes B, G, R, X per pixel.
std::string StreamBytes(const std::vector<uint32_t>& pixels) {
  std::string out;
  for (uint32_t p : pixels)
    for (int shift : {0, 8, 16, 24}) out += static_cast<char>(p >> shift);
  return out;
}

TEST(CarryWarningTest, StreamSumsItsFramesInOneLine) {
  std::string input;
  for (int i = 0; i < 3; ++i) input += StreamBytes(RedRamp().pixels);
  RunResult r = RunVexlor({"stream", "--size", "256x2", "--carry", "rd=rs*1.3;gd=gs;bd=bs;"}, input);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "vexlor: warning: frame 0: 118 of 512 pixels" + kTail +
                       "vexlor: warning: 354 of 1536 pixels in 3 frames" + kTail);
  // The first frame that carries is told of, numbered as the stream numbers it.
  std::string calm(StreamBytes(std::vector<uint32_t>(512, 0x404040u)));
  r = RunVexlor({"stream", "--size", "256x2", "--carry", "--start-frame", "7",
                 "rd=rs*1.3;gd=gs;bd=bs;"}, calm + input.substr(0, calm.size()));
  EXPECT_EQ(r.err, "vexlor: warning: frame 8: 118 of 512 pixels" + kTail +
                       "vexlor: warning: 118 of 1024 pixels in 2 frames" + kTail);
  r = RunVexlor({"stream", "--size", "256x2", "rd=rs*1.3;gd=gs;bd=bs;"}, input);
  EXPECT_EQ(r.err, "");
  r = RunVexlor({"stream", "--size", "256x2", "--carry", "--no-warnings", "rd=rs*1.3;gd=gs;bd=bs;"}, input);
  EXPECT_EQ(r.err, "");
  r = RunVexlor({"stream", "--size", "256x2", "--carry", "rd=rs*0.9;gd=gs;bd=bs;"}, input);
  EXPECT_EQ(r.err, "");
}

TEST(CarryWarningTest, ApplyOnAVideoSumsItsFrames) {
  test::ScratchDir dir;
  std::string in = dir.File("in.mkv"), out = dir.File("out.mkv");
  RunResult made = test::RunShell(
      "ffmpeg -v error -y -f lavfi -i testsrc2=size=32x24:rate=10 -t 0.4 -c:v ffv1 -pix_fmt bgr0 " +
      test::ShellQuote(in));
  ASSERT_EQ(made.status, 0) << made.err;
  RunResult r = RunVexlor({"apply", "--carry", "rd=1;gd=gs;bd=bs;", in, out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "vexlor: warning: frame 0: 768 of 768 pixels" + kTail +
                       "vexlor: warning: 3072 of 3072 pixels in 4 frames" + kTail);
  r = RunVexlor({"apply", "rd=1;gd=gs;bd=bs;", in, out});
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace vexlor::cli
