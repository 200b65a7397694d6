// vexlor apply, run as a program: the output picture holds what the frame
// mapping gives on the host's bottom-up layout, and every failure leaves an
// existing output untouched.
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>

#include "cli_test_util.h"

namespace vexlor::test {
namespace {

using cli::Picture;

// rand() makes the result depend on the order the pixels are visited in, and
// fr on the frame number; the others cover carries and clamping.
const char* const kPrograms[] = {
    "rd=rand();gd=rs;bd=fr/256;",
    "rd=rs*3;gd=gs-0.5;bd=1-bs;",
    "t=(rs+gs+bs)/3;rd=t;gd=t*t;bd=sqrt(t);",
};

Picture ReadBack(const std::string& path) {
  std::string bytes = ReadFile(path);
  return cli::DecodePicture(std::vector<uint8_t>(bytes.begin(), bytes.end()), path);
}

TEST(ApplyTest, OutputEqualsTheFrameMappingOnTheHostLayout) {
  ScratchDir dir;
  Picture in = NoisePicture(13, 7, 42);
  WriteFile(dir.File("in.png"), Bytes(cli::EncodePng(in)));
  WriteFile(dir.File("in.ppm"), Bytes(cli::EncodePpm(in)));
  for (const char* program : kPrograms) {
    for (bool clamp : {false, true}) {
      RandSetState(1);  // a fresh process's generator
      std::vector<uint32_t> expected = Rgb(MapLikeHost(program, clamp, Rgb(in.pixels), 13, 7, 5));
      for (const char* input : {"in.png", "in.ppm"}) {
        for (const char* output : {"out.png", "out.ppm"}) {
          std::vector<std::string> args = {"apply", "--frame", "5", program, dir.File(input),
                                           dir.File(output)};
          if (!clamp) args.insert(args.begin() + 1, "--carry");
          RunResult r = RunVexlor(args);
          ASSERT_EQ(r.status, 0) << r.err;
          // With --carry the carries' line may be all it says.
          EXPECT_TRUE(r.err.empty() || (!clamp && r.err.starts_with("vexlor: warning: ") &&
                                        r.err.ends_with("is limited to 0..1\n") &&
                                        std::count(r.err.begin(), r.err.end(), '\n') == 1))
              << r.err;
          EXPECT_EQ(ReadBack(dir.File(output)).pixels, expected) << program << " " << input;
        }
      }
    }
  }
}

TEST(ApplyTest, ReferenceAndThreadCountsGiveTheSamePicture) {
  ScratchDir dir;
  WriteFile(dir.File("in.ppm"), Bytes(cli::EncodePpm(NoisePicture(9, 11, 7))));
  std::string first;
  for (std::vector<std::string> extra :
       {std::vector<std::string>{}, {"--reference"}, {"--threads", "1"}, {"--threads=2"}}) {
    std::vector<std::string> args = {"apply", "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {kPrograms[0], dir.File("in.ppm"), dir.File("out.ppm")});
    ASSERT_EQ(RunVexlor(args).status, 0);
    std::string out = ReadFile(dir.File("out.ppm"));
    if (first.empty()) first = out;
    EXPECT_EQ(out, first);
  }
}

TEST(ApplyTest, ProgramFromAFile) {
  ScratchDir dir;
  Picture in = NoisePicture(4, 3, 9);
  WriteFile(dir.File("in.ppm"), Bytes(cli::EncodePpm(in)));
  WriteFile(dir.File("prog.txt"), "rd=gs;gd=bs;bd=rs;\n");
  RunResult r = RunVexlor({"apply", "-f", dir.File("prog.txt"), dir.File("in.ppm"),
                           dir.File("out.ppm")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBack(dir.File("out.ppm")).pixels,
            Rgb(MapLikeHost("rd=gs;gd=bs;bd=rs;", false, Rgb(in.pixels), 4, 3, 0)));
  r = RunVexlor({"apply", "-f", "-", dir.File("in.ppm"), dir.File("out2.ppm")}, "rd=gs;gd=bs;bd=rs;");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.File("out2.ppm")), ReadFile(dir.File("out.ppm")));
}

TEST(ApplyTest, EveryFailureIsOneLineAndLeavesTheOutputAsItWas) {
  ScratchDir dir;
  std::string good = dir.File("in.png");
  WriteFile(good, Bytes(cli::EncodePng(NoisePicture(8, 8, 1))));
  std::string png = ReadFile(good);
  WriteFile(dir.File("truncated.png"), png.substr(0, png.size() - 30));
  std::string corrupt = png;
  corrupt[corrupt.size() - 20] ^= 0x55;
  WriteFile(dir.File("corrupt.png"), corrupt);
  WriteFile(dir.File("text.png"), "hello");
  WriteFile(dir.File("p3.ppm"), "P3\n1 1\n255\n0 0 0\n");
  WriteFile(dir.File("nul.txt"), std::string("rd=1;\0gd=1;", 11));
  std::filesystem::create_directory(dir.File("adir"));
  std::string out = dir.File("out.png");
  const std::string prog = "rd=rs;gd=gs;bd=bs;";

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string mention;  // a part of the message: the file or option and the reason
  } cases[] = {
      {{prog, dir.File("missing.png"), out}, 1, "missing.png: cannot open: No such file"},
      {{prog, dir.File("adir"), out}, 1, "adir: is a directory"},
      {{prog, dir.File("truncated.png"), out}, 1, "truncated.png: truncated PNG"},
      {{prog, dir.File("corrupt.png"), out}, 1, "corrupt.png: corrupt PNG"},
      {{prog, dir.File("text.png"), out}, 1, "text.png: unsupported format"},
      {{prog, dir.File("p3.ppm"), out}, 1, "p3.ppm: unsupported format P3"},
      {{"--exact-text", std::string(2048, ' '), good, out}, 1, "2048 characters long; the filter's settings "
                                               "record holds at most 2047"},
      {{"-f", dir.File("nul.txt"), good, out}, 1, "nul.txt: NUL byte at offset 5"},
      {{"-f", dir.File("none.txt"), good, out}, 1, "none.txt: cannot open"},
      {{"--bogus", prog, good, out}, 2, "unknown option --bogus"},
      {{"--frame", "1.5", prog, good, out}, 2, "--frame: '1.5' is not a whole number"},
      {{"--threads", "-1", prog, good, out}, 2, "--threads: '-1'"},
      {{"--clamp=1", prog, good, out}, 2, "--clamp takes no value"},
      {{prog, good}, 2, "apply takes PROGRAM INPUT OUTPUT"},
      {{prog, good, out, "extra"}, 2, "unexpected 'extra'"},
      {{prog, good, dir.File("out.gif")}, 2, "in.png is a picture and"},
      {{prog, good, dir.File("out.xyz")}, 2, "out.xyz: no picture format for .xyz"},
      {{prog, good, dir.File("out")}, 2, "out: OUTPUT has no extension"},
      {{prog, good, out, "-f"}, 2, "-f needs a FILE"},
  };
  for (const Case& c : cases) {
    WriteFile(out, "keep me");
    std::vector<std::string> args = {"apply"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = RunVexlor(args);
    EXPECT_EQ(r.status, c.status) << c.mention;
    EXPECT_NE(r.err.find(c.mention), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("vexlor: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(ReadFile(out), "keep me") << c.mention;
  }
  // Nothing new appeared beside the output: no temporary file is left.
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"adir", "corrupt.png", "in.png", "nul.txt",
                                                    "out.png", "p3.ppm", "text.png",
                                                    "truncated.png"}));
}

TEST(ApplyTest, AnOutputThatCannotBeCreatedIsNotHalfWritten) {
  ScratchDir dir;
  WriteFile(dir.File("in.ppm"), Bytes(cli::EncodePpm(NoisePicture(2, 2, 3))));
  std::filesystem::create_directory(dir.File("taken.png"));
  RunResult r = RunVexlor({"apply", "rd=1;gd=1;bd=1;", dir.File("in.ppm"), dir.File("taken.png")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("taken.png: cannot replace"), std::string::npos) << r.err;
  r = RunVexlor({"apply", "rd=1;gd=1;bd=1;", dir.File("in.ppm"), dir.File("no/such/dir.png")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("dir.png: the folder " + dir.File("no/such") + " does not exist"),
            std::string::npos) << r.err;
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.ppm", "taken.png"}));
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("taken.png")));
}

}  // namespace
}  // namespace vexlor::test
