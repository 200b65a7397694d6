// Warnings: each part without effect and each unassigned channel gets one
// line with its statement and fix; programs that do what they say get none;
// apply and stream print them first, never changing what they write.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "explain/warnings.h"
#include "cli_test_util.h"

namespace vexlor::cli {
namespace {

using test::RunResult;
using test::Joined;
using test::RunVexlor;

TEST(WarningsTest, EachPartWithoutEffectNamesItsStatementAndFix) {
  struct Case {
    const char* program;
    const char* warning;
  } cases[] = {
      {"rd=rs;\ngd=gs;\nbd=bs;",
       "statement 2: assigns nothing: a line break before the name makes \"\\ngd\" no name (only "
       "spaces may precede it); fix: write the program on one line (a space may follow each "
       "';') (the same in statement 3)\n"},
      {"rd=rs;\tgd=gs;bd=bs;", "statement 2: assigns nothing: a tab before the name"},
      {"rd=rs;gd=gs;bd=bs;sin=1;", "statement 4: assigns nothing: \"sin\" is a function"},
      {"rd=rs;gd=gs;bd=bs;pi=1;", "\"pi\" is a constant and cannot be assigned; fix: give"},
      {"=1;rd=rs;gd=gs;bd=bs;", "statement 1: assigns nothing: the left side is empty"},
      {"rd=rs;gd=gs;bd=bs;1x=2;", "\"1x\" is not a name"},
      {"rd x=rs;gd=gs;bd=bs;", "statement 1: no effect: \" x\" (a name ends at its first space); "
                               "fix: remove the spaces in the name"},
      {"rd=rs *2;gd=gs;bd=bs;", "statement 1: no effect: \" *2\" (an expression ends at its first "
                                "space); fix: remove the spaces inside the expression"},
      {"rd=rs;gd=gs;bd=bs",
       "text after the last ';' is never run: \"bd=bs\"; fix: end it with ';'"},
      {"rd=rs;gd=gs;bd=bs;junk", "never run: \"junk\"; fix: remove it"},
      {"rd=rs,gd=gs,bd=bs", "fix: separate statements with ';', not ','"},
      {"", "the program has no statement"},
      {"rd=rs;gd=gs;", "bd never assigned: such a channel is 0 at every pixel; fix: assign it, "
                       "e.g. bd=bs;"},
      {"Rd=rs;gd=gs;bd=bs;", "rd never assigned: such a channel is 0 at every pixel; fix: "
                             "statement 1 assigns Rd, a new variable: write rd"},
      {"rd=rs;\ngd=gs;bd=bs;", "gd never assigned: such a channel is 0 at every pixel; fix: "
                               "statement 2 names gd but assigns nothing"},
  };
  for (const Case& c : cases) {
    std::string warnings = Joined(ProgramWarnings(c.program));
    EXPECT_NE(warnings.find(c.warning), std::string::npos) << c.program << " gave:\n"
                                                           << warnings;
  }
  // Many statements with the same fix make one line, not one each.
  std::string many;
  for (int i = 0; i < 9; ++i) many += "x" + std::to_string(i) + "=rs *2;";
  std::vector<std::string> lines = ProgramWarnings(many + "rd=rs;gd=gs;bd=bs;");
  ASSERT_EQ(lines.size(), 1u) << Joined(lines);
  EXPECT_TRUE(lines[0].ends_with("(the same in statements 2, 3, 4, 5, 6 and 3 more)")) << lines[0];
}

TEST(WarningsTest, ProgramsThatDoWhatTheySayGetNone) {
  const char* programs[] = {
      "rd=rs;gd=gs;bd=bs;",
      "rd=rs; gd=gs; bd=bs;",  // spaces before a name are skipped
      "rd=rs;gd=gs;bd=bs;\n",  // blanks after the last ';'
      "t=rs*2;rd=t;gd=t;bd=t;",
      "rd=rs*\n2;gd=gs;bd=bs;",  // a line break inside an expression is a blank
      "rs=1-rs;rd=rs;gd=gs;bd=bs;",
  };
  for (const char* p : programs) EXPECT_EQ(Joined(ProgramWarnings(p)), "") << p;
}

// The demo's programs, read from its script.
std::vector<std::string> DemoPrograms() {
  std::ifstream script(VEXLOR_SOURCE_DIR "/scripts/demo.sh");
  std::vector<std::string> programs;
  std::regex effect("^  \"[a-z]+\\|[^|]*\\|(.*)\"$");
  std::smatch m;
  for (std::string line; std::getline(script, line);)
    if (std::regex_match(line, m, effect)) programs.push_back(m[1]);
  return programs;
}

TEST(WarningsTest, TheDemosProgramsGetNone) {
  std::vector<std::string> programs = DemoPrograms();
  EXPECT_GE(programs.size(), 5u);
  for (const std::string& p : programs) EXPECT_EQ(Joined(ProgramWarnings(p)), "") << p;
}

TEST(WarningsTest, ApplyRefusesWhatCannotDoWhatItSaysAndLenientWarnsFirst) {
  test::ScratchDir dir;
  Picture in = test::NoisePicture(9, 7, 4);
  test::WriteFile(dir.File("in.ppm"), test::Bytes(EncodePpm(in)));
  test::WriteFile(dir.File("lines.txt"), "y=rand();\nrd=y;\ngd=y;\nbd=y;\n");
  // rand() in a warned-about program: checking it leaves the generator alone.
  const std::string program = "rd=rand();gd=rand();bd=rs;pi=1;";
  RunResult refused = RunVexlor({"apply", "--reference", program, dir.File("in.ppm"),
                                 dir.File("a.ppm")});
  EXPECT_EQ(refused.status, kExitData);
  EXPECT_EQ(refused.err,
            "vexlor: the program cannot do what it says:\n"
            "  statement 4: assigns nothing: \"pi\" is a constant and cannot be assigned; fix: "
            "give the variable another name\n(--lenient runs it as the plug-in would)\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("a.ppm")));
  RunResult quiet = RunVexlor({"apply", "--reference", "--lenient", "--no-warnings", program,
                               dir.File("in.ppm"), dir.File("a.ppm")});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  RunResult warned = RunVexlor({"apply", "--reference", "--lenient", "--quiet", program,
                                dir.File("in.ppm"), dir.File("b.ppm")});
  EXPECT_EQ(warned.status, 0);
  EXPECT_EQ(warned.err,
            "vexlor: warning: statement 4: assigns nothing: \"pi\" is a constant and cannot be "
            "assigned; fix: give the variable another name\n");
  EXPECT_EQ(test::ReadFile(dir.File("a.ppm")), test::ReadFile(dir.File("b.ppm")));
  RandSetState(1);  // where a fresh thread's generator starts
  EXPECT_EQ(ReadPicture(dir.File("a.ppm")).pixels,
            test::Rgb(test::MapLikeHost(program, false, in.pixels, 9, 7, 0)));

  // One statement per line runs as written; byte for byte, only its first
  // line assigns anything.
  RunResult free = RunVexlor({"apply", "-f", dir.File("lines.txt"), dir.File("in.ppm"),
                              dir.File("c.png")});
  EXPECT_EQ(free.status, 0);
  EXPECT_EQ(free.err, "");
  RunResult joined = RunVexlor({"apply", "--exact-text", "y=rand();rd=y;gd=y;bd=y;",
                                dir.File("in.ppm"), dir.File("d.png")});
  EXPECT_EQ(test::ReadFile(dir.File("c.png")), test::ReadFile(dir.File("d.png")));
  RunResult lines = RunVexlor({"apply", "--exact-text", "--lenient", "-f", dir.File("lines.txt"),
                               dir.File("in.ppm"), dir.File("c.png")});
  EXPECT_EQ(lines.status, 0);
  EXPECT_EQ(lines.err.rfind("vexlor: warning: statement 2: assigns nothing: a line break before "
                            "the name makes \"\\nrd\" no name",
                            0),
            0u)
      << lines.err;
  EXPECT_NE(lines.err.find("fix: write the program on one line"), std::string::npos);
  EXPECT_NE(lines.err.find("rd, gd, bd never assigned"), std::string::npos);
  EXPECT_EQ(std::count(lines.err.begin(), lines.err.end(), '\n'), 2) << lines.err;
}

TEST(WarningsTest, StreamWarnsFirstAndTakesDashS) {
  std::string frame(4 * 4 * 2, '\x40');
  RunResult refused = RunVexlor({"stream", "-s", "4x2", "rd=rs;gd=gs;"}, frame);
  EXPECT_EQ(refused.status, kExitData);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("  bd never assigned: such a channel is 0 at every pixel; fix: "
                             "assign it, e.g. bd=bs;\n"),
            std::string::npos)
      << refused.err;
  RunResult a = RunVexlor({"stream", "-s", "4x2", "--lenient", "rd=rs;gd=gs;"}, frame);
  RunResult b = RunVexlor({"stream", "--size", "4x2", "--lenient", "--no-warnings", "rd=rs;gd=gs;"},
                          frame);
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(a.err, "vexlor: warning: bd never assigned: such a channel is 0 at every pixel; fix: "
                   "assign it, e.g. bd=bs;\n");
  EXPECT_EQ(b.status, 0);
  EXPECT_EQ(b.err, "");
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(a.out.size(), frame.size());
  RunResult bad = RunVexlor({"stream", "-s", "4", "rd=rs;gd=gs;bd=bs;"}, frame);
  EXPECT_EQ(bad.status, kExitUsage);
  EXPECT_NE(bad.err.find("'4' is not WIDTHxHEIGHT"), std::string::npos) << bad.err;
}

TEST(PixelTest, BytesClampAndThePackedWord) {
  RunResult r = RunVexlor({"pixel", "--bytes", "128,64,32", "rd=rs;gd=gs;bd=bs;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0.5 0.25 0.125\n");
  r = RunVexlor({"pixel", "--bytes", "200,100,50", "--carry", "rd=rs*1.5;gd=gs;bd=bs;"});
  EXPECT_EQ(r.out, "1.171875 0.390625 0.1953125\n0x012C6432\n");  // red 300 carries
  r = RunVexlor({"pixel", "--bytes", "200,100,50", "--packed", "rd=rs*1.5;gd=gs;bd=bs;"});
  EXPECT_EQ(r.out, "1.171875 0.390625 0.1953125\n0x00FF6432\n");  // clamped by default
  r = RunVexlor({"pixel", "--rgb", "1,1,1", "--packed", "rd=rs;gd=gs;bd=bs;"});
  EXPECT_EQ(r.out, "1 1 1\n0x00FFFFFF\n");  // white stays white
  r = RunVexlor({"pixel", "--bytes", "200,100,50", "--clamp", "rd=rs*1.5;gd=gs;bd=-bs;"});
  EXPECT_EQ(r.out, "1.171875 0.390625 -0.1953125\n0x00FF6400\n");
  r = RunVexlor({"pixel", "--carry", "rd=0;gd=0;bd=-1/256;"});
  EXPECT_EQ(r.out, "0 0 -0.00390625\n0xFFFFFFFF\n");
  for (const char* bad : {"256,0,0", "1.5,0,0", "-1,0,0", "1,2", "a,b,c", "1,2,3,4"})
    EXPECT_EQ(RunVexlor({"pixel", "--bytes", bad, "rd=1;"}).status, kExitUsage) << bad;
  EXPECT_EQ(RunVexlor({"pixel", "--bytes", "1,2,3", "--rgb", "0,0,0", "rd=1;"}).status,
            kExitUsage);
}

TEST(PixelTest, RgbAboveOneWarnsThatItLooksLikeAByte) {
  RunResult r = RunVexlor({"pixel", "--rgb", "128,64,32", "rd=rs/256;gd=0;bd=0;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0.5 0 0\n");  // the value is taken as given
  EXPECT_EQ(r.err, "vexlor: warning: --rgb 128,64,32: a value above 1 looks like a byte; channel "
                   "values run from 0 to 255/256 (--bytes takes bytes)\n");
  EXPECT_EQ(RunVexlor({"pixel", "--no-warnings", "--rgb", "128,64,32", "rd=1;"}).err, "");
  EXPECT_EQ(RunVexlor({"pixel", "--rgb", "1,0.5,-3", "rd=1;"}).err, "");
}

}  // namespace
}  // namespace vexlor::cli
