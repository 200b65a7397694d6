// The commands that print: test and pixel keep their output format, check
// reports and exits by whether the program runs, and the help texts.
#include <gtest/gtest.h>

#include "cli_test_util.h"

namespace vexlor::test {
namespace {

TEST(CommandsTest, TestAndPixelKeepTheirOutput) {
  RunResult r = RunVexlor({"test", "rd=rs;gd=gs*0.5;bd=sin(bs*pi);"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Expression Successfully Parsed : result (0.5,0.5,0.5,fr=100) = 0.50 0.25 1.00\n");
  r = RunVexlor({"test", "rd=;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error in expression !\n");
  r = RunVexlor({"pixel", "--rgb", "0.5,0.25,0.125", "rd=gs;gd=rs;bd=bs*2;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0.25 0.5 0.25\n");
  r = RunVexlor({"pixel", "--frame", "250", "rd=fr/1000;gd=1/3;bd=-0;"});
  EXPECT_EQ(r.out, "0.25 0.333333343 -0\n");
  r = RunVexlor({"pixel", "rd 1;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(RunVexlor({"pixel", "--rgb", "1,2", "rd=1;"}).status, 2);
  EXPECT_EQ(RunVexlor({"test", "a", "b"}).status, 2);
}

TEST(CommandsTest, ProgramFileDropsOneTrailingLineBreakAndKeepsTheRest) {
  ScratchDir dir;
  struct Case {
    std::string file, exact, free;
  } cases[] = {
      {"rd=0.5;\n", "0.5 0 0\n", "0.5 0 0\n"},
      {"rd=0.5;\r\n", "0.5 0 0\n", "0.5 0 0\n"},
      // Byte for byte, the line break before gd makes that statement assign
      // nothing, and text after the last ';' is lost.
      {"rd=0.5;\ngd=0.5;\n", "0.5 0 0\n", "0.5 0.5 0\n"},
      {"rd=0.5;gd=0.25\n", "0.5 0 0\n", "0.5 0.25 0\n"},
  };
  for (const Case& c : cases) {
    WriteFile(dir.File("p"), c.file);
    RunResult r = RunVexlor({"pixel", "--exact-text", "-f", dir.File("p")});
    EXPECT_EQ(r.out, c.exact) << c.file;
    EXPECT_EQ(RunVexlor({"pixel", "--exact-text", "-f", "-"}, c.file).out, c.exact) << c.file;
    EXPECT_EQ(RunVexlor({"pixel", "-f", dir.File("p")}).out, c.free) << c.file;
  }
}

TEST(CommandsTest, CheckExitsByWhetherTheProgramRuns) {
  RunResult r = RunVexlor({"check", "rd=rs;gd=gs;bd=bs;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "runs as: rd=rs;gd=gs;bd=bs;\n"
            "statement 1: rd=rs\n  assigns rd = rs\nstatement 2: gd=gs\n  assigns gd = gs\n"
            "statement 3: bd=bs\n  assigns bd = bs\nthe program runs\n");
  r = RunVexlor({"check", "rd=rs;gd=sqrt(;bd=bs;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("  error at column 9: \")\" expected\n"
                       "    gd=sqrt(\n"
                       "            ^\n"
                       "statement 3: bd=bs\n"
                       "  not run (an earlier statement fails)\n"),
            std::string::npos)
      << r.out;
  r = RunVexlor({"check", "--listing", "rd=1;"});
  EXPECT_NE(r.out.find("    0000 PUSHC 1\n    0001 END\n"), std::string::npos) << r.out;
  r = RunVexlor({"check", std::string(2048, ';')});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("at most 2047"), std::string::npos);
}

TEST(CommandsTest, HelpVersionAndUnknownCommands) {
  RunResult r = RunVexlor({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* command : {"apply", "stream", "check", "frames", "test", "pixel"}) {
    EXPECT_NE(r.out.find(std::string("  ") + command + " "), std::string::npos) << command;
    RunResult help = RunVexlor({command, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(std::string("usage: vexlor ") + command, 0), 0u) << help.out;
    EXPECT_NE(help.out.find("example"), std::string::npos) << command;
    EXPECT_EQ(RunVexlor({"help", command}).out, help.out);
  }
  r = RunVexlor({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("vexlor ", 0), 0u);
  r = RunVexlor({"frobnicate"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "vexlor: unknown command 'frobnicate' (see 'vexlor --help')\n");
  EXPECT_EQ(RunVexlor({}).status, 2);
}

}  // namespace
}  // namespace vexlor::test
