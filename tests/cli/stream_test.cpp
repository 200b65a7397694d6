// vexlor stream, run as a program: raw frames in, each frame mapped with its
// own frame number on the host's bottom-up layout, raw frames out.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>

#include "cli_test_util.h"

namespace vexlor::test {
namespace {

constexpr int32_t kW = 6, kH = 5;

// Frames as the stream carries them: bytes B, G, R, X per pixel.
std::string StreamBytes(const std::vector<uint32_t>& pixels) {
  std::string out;
  for (uint32_t p : pixels)
    for (int shift : {0, 8, 16, 24}) out += static_cast<char>(p >> shift);
  return out;
}

// Frames filtered in-process: frame numbers from start on, one generator
// running through all of them as in one process.
std::string Expected(const std::string& program, bool clamp,
                     const std::vector<std::vector<uint32_t>>& frames, int32_t start) {
  RandSetState(1);
  std::string out;
  for (size_t i = 0; i < frames.size(); ++i)
    out += StreamBytes(MapLikeHost(program, clamp, frames[i], kW, kH, start + int32_t(i)));
  return out;
}

std::vector<std::vector<uint32_t>> Frames(int count) {
  std::vector<std::vector<uint32_t>> frames;
  for (int i = 0; i < count; ++i) frames.push_back(NoisePicture(kW, kH, 100 + i).pixels);
  return frames;
}

std::string Concat(const std::vector<std::vector<uint32_t>>& frames) {
  std::string s;
  for (const auto& f : frames) s += StreamBytes(f);
  return s;
}

TEST(StreamTest, EachFrameEqualsTheFrameMappingWithItsFrameNumber) {
  auto frames = Frames(3);
  // Carries into the top byte show that the pixel's 32 bits are written as
  // the mapping left them; rand() and fr depend on order and frame number.
  for (const char* program : {"rd=rs*2;gd=rand();bd=fr/100;", "rd=1-rs;gd=gs;bd=bs;"}) {
    for (bool clamp : {false, true}) {
      std::vector<std::string> args = {"stream", "--size", "6x5", "--start-frame", "-1", program};
      if (!clamp) args.insert(args.begin() + 1, "--carry");
      RunResult r = RunVexlor(args, Concat(frames));
      ASSERT_EQ(r.status, 0) << r.err;
      // With --carry the carries' lines (the first frame's, the run's) may be all it says.
      EXPECT_TRUE(r.err.empty() || (!clamp && r.err.starts_with("vexlor: warning: frame ") &&
                                    r.err.ends_with("is limited to 0..1\n") &&
                                    std::count(r.err.begin(), r.err.end(), '\n') == 2))
          << r.err;
      EXPECT_TRUE(r.out == Expected(program, clamp, frames, -1)) << program;
    }
  }
}

TEST(StreamTest, PartialLastFrameIsAnErrorAfterTheCompleteFrames) {
  auto frames = Frames(2);
  std::string input = Concat(frames) + std::string(7, 'x');
  RunResult r = RunVexlor({"stream", "--size", "6x5", "rd=gs;gd=bs;bd=rs;"}, input);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out == Expected("rd=gs;gd=bs;bd=rs;", false, frames, 0));
  EXPECT_EQ(r.err,
            "vexlor: standard input ends inside frame 3 (7 of its 120 bytes) after 2 complete "
            "frames\n");
}

TEST(StreamTest, FramesOptionStopsEarlyAndEmptyInputIsNoFrames) {
  auto frames = Frames(4);
  RunResult r = RunVexlor({"stream", "--size=6x5", "--frames", "2", "--start-frame", "10",
                           "rd=fr/64;gd=0;bd=0;"},
                          Concat(frames));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out == Expected("rd=fr/64;gd=0;bd=0;", false, {frames[0], frames[1]}, 10));
  r = RunVexlor({"stream", "--size", "6x5", "rd=1;gd=1;bd=1;"}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST(StreamTest, ReferenceAndThreadsGiveTheSameFrames) {
  std::string input = Concat(Frames(2));
  std::string first;
  for (std::vector<std::string> extra : {std::vector<std::string>{"--reference"},
                                         {"--threads", "1"}, {"--threads", "0"}}) {
    std::vector<std::string> args = {"stream", "--size", "6x5"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("rd=rand();gd=rs;bd=gs;");
    RunResult r = RunVexlor(args, input);
    ASSERT_EQ(r.status, 0) << r.err;
    if (first.empty()) first = r.out;
    EXPECT_TRUE(r.out == first);
  }
}

TEST(StreamTest, BadCommandLinesAreUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string mention;
  } cases[] = {
      {{"rd=1;"}, "stream needs --size"},
      {{"--size", "64", "rd=1;"}, "--size: '64' is not WIDTHxHEIGHT"},
      {{"--size", "64x", "rd=1;"}, "--size: '64x'"},
      {{"--size", "-4x4", "rd=1;"}, "--size: '-4x4'"},
      {{"--size", "4x4x4", "rd=1;"}, "--size: '4x4x4'"},
      {{"--size", "0x4", "rd=1;"}, "--size 0x4: picture has no pixels"},
      {{"--size", "100000x100000", "rd=1;"}, "--size 100000x100000: picture is too large"},
      {{"--size", "4x4", "--frames", "-2", "rd=1;"}, "--frames: '-2'"},
      {{"--size", "4x4", "--start-frame", "2147483648", "rd=1;"}, "--start-frame:"},
      {{"--size", "4x4", "-f", "-"}, "-f -: stream reads its frames from standard input"},
      {{"--size", "4x4"}, "stream needs a PROGRAM"},
      {{"--size", "4x4", "--fast", "rd=1;"}, "unknown option --fast"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"stream"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = RunVexlor(args, std::string(64, '\0'));
    EXPECT_EQ(r.status, 2) << c.mention;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.mention), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

TEST(StreamTest, FrameNumbersMayNotPassTheLargest) {
  auto frames = Frames(3);
  RunResult r = RunVexlor({"stream", "--size", "6x5", "--start-frame", "2147483646",
                           "rd=1;gd=1;bd=1;"},
                          Concat(frames));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.size(), 2u * kW * kH * 4);
  EXPECT_NE(r.err.find("frame number passes 2147483647"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vexlor::test
