// Program text as people write it: comments, blanks and the last ';' taken
// away or added to give the plug-in's one-line program, every command
// running that text, and texts whose blanks keep two tokens apart refused
// with their place. --exact-text keeps the plug-in's reading.
#include <gtest/gtest.h>

#include "explain/freeform.h"
#include "cli_test_util.h"

namespace vexlor::cli {
namespace {

using test::RunResult;
using test::RunVexlor;

TEST(FreeFormTest, CommentsAndBlanksGoAndTheLastSemicolonComes) {
  struct Case {
    const char* written;
    const char* runs;
  } cases[] = {
      {"rd = rs * 0.5;\ngd = gs;\nbd = bs;\n", "rd=rs*0.5;gd=gs;bd=bs;"},
      {"# grey\ny=0.3*rs+0.59*gs+0.11*bs;  # luminance\n\nrd=y;gd=y;\r\n\tbd=y",
       "y=0.3*rs+0.59*gs+0.11*bs;rd=y;gd=y;bd=y;"},
      {"rd=rs # ; gd=1 is part of the comment\n;", "rd=rs;"},
      {"rd=max(rs ,\n gs)", "rd=max(rs,gs);"},
      {"rd = rs - -1", "rd=rs--1;"},  // two tokens still: the language decides
      {"rd=a <= b", "rd=a<=b;"},
      {"", ""},
      {"  # nothing but a comment\n", ""},
      {"rd=rs;gd=gs;bd=bs;#", "rd=rs;gd=gs;bd=bs;"},
  };
  for (const Case& c : cases) {
    ProgramText text = FreeFormProgram(c.written);
    EXPECT_EQ(text.runs, c.runs) << c.written;
    EXPECT_EQ(text.refusal, "") << c.written;
  }
}

TEST(FreeFormTest, EachByteThatRunsKnowsWhereItWasWritten) {
  std::string written = "# c\nrd = rs;\ngd=gs";
  ProgramText text = FreeFormProgram(written);
  ASSERT_EQ(text.runs, "rd=rs;gd=gs;");
  EXPECT_EQ(written[WrittenOffset(text, 0)], 'r');
  EXPECT_EQ(WrittenOffset(text, 2), written.find('='));
  EXPECT_EQ(WrittenOffset(text, 6), written.find("gd"));
  EXPECT_EQ(WrittenOffset(text, 5), written.find(';'));
  // The added ';' and the end stand at the written text's end.
  EXPECT_EQ(WrittenOffset(text, text.runs.size() - 1), written.size());
  EXPECT_EQ(WrittenOffset(text, text.runs.size()), written.size());
  EXPECT_EQ(ExactProgram(written).runs, written);
}

TEST(FreeFormTest, BlanksThatWouldJoinTwoTokensAreRefusedAtTheirPlace) {
  struct Case {
    const char* written;
    const char* tokens;
    const char* place;
  } cases[] = {
      {"rd=1 2;", "\"1\" and \"2\"", "(line 1, column 5)"},
      {"rd=rs;\ngd=g s;", "\"g\" and \"s\"", "(line 2, column 5)"},
      {"rd=rs< =gs;", "\"<\" and \"=\"", "(line 1, column 7)"},
      {"rd=rs= =gs;", "\"=\" and \"=\"", "(line 1, column 7)"},
      {"rd=2e +3;", "\"2e\" and \"+\"", "(line 1, column 6)"},
      {"rd=1.\n5;", "\"1.\" and \"5\"", "(line 1, column 6)"},
      {"rd=rs\ngd=gs\n", "\"rs\" and \"gd\"", "(line 1, column 6)"},  // a ';' left out
      {"rd=sin #x\n (rs);", "", ""},  // a name and '(' stay two tokens
  };
  for (const Case& c : cases) {
    ProgramText text = FreeFormProgram(c.written);
    if (*c.tokens == '\0') {
      EXPECT_EQ(text.refusal, "") << c.written;
      continue;
    }
    std::string lines = RefusalLines(c.written, text);
    EXPECT_NE(lines.find(std::string(c.tokens) + " would become one token"), std::string::npos)
        << c.written << "\n" << lines;
    EXPECT_NE(lines.find(c.place), std::string::npos) << c.written << "\n" << lines;
  }
  EXPECT_EQ(RefusalLines("rd=1 2;", FreeFormProgram("rd=1 2;")).substr(
                RefusalLines("rd=1 2;", FreeFormProgram("rd=1 2;")).find(")\n")),
            ")\n    rd=1 2;\n        ^\n");
}

TEST(FreeFormTest, EveryCommandRunsTheFreeFormTextAndExactTextKeepsTheQuirks) {
  RunResult r = RunVexlor({"check", "rd = rs * 0.5;  # half\ngd = gs;\nbd = bs"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("runs as: rd=rs*0.5;gd=gs;bd=bs;\nstatement 1: rd=rs*0.5\n", 0), 0u)
      << r.out;
  r = RunVexlor({"check", "--exact-text", "rd=rs * 0.5;gd=gs;bd=bs;"});
  EXPECT_EQ(r.out.rfind("runs as: rd=rs * 0.5;gd=gs;bd=bs;\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("an expression ends at its first space"), std::string::npos) << r.out;
  EXPECT_EQ(RunVexlor({"pixel", "--rgb", "0.5,0.25,0", "rd = rs * 2;\ngd = gs"}).out, "1 0.25 0\n");
  EXPECT_EQ(RunVexlor({"pixel", "--exact-text", "--rgb", "0.5,0.25,0", "rd=rs * 2;"}).out,
            "0.5 0 0\n");
  EXPECT_EQ(RunVexlor({"test", "rd = rs;\ngd = gs;\nbd = bs"}).out,
            RunVexlor({"test", "rd=rs;gd=gs;bd=bs;"}).out);
  r = RunVexlor({"check", "rd = 1 2"});
  EXPECT_EQ(r.status, kExitData);
  EXPECT_NE(r.err.find("(--exact-text runs the text as written)"), std::string::npos) << r.err;
}

TEST(FreeFormTest, InvertIsCleanByDefaultAndCarriesOnlyWhenAsked) {
  test::ScratchDir dir;
  // Black, white and a grey: 1-rs of black is exactly 1.0.
  Picture in{3, 1, {0x000000u, 0xFFFFFFu, 0x808080u}};
  test::WriteFile(dir.File("in.ppm"), test::Bytes(EncodePpm(in)));
  const std::string invert = "rd=1-rs;gd=1-gs;bd=1-bs;";
  RunResult r = RunVexlor({"apply", invert, dir.File("in.ppm"), dir.File("out.ppm")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadPicture(dir.File("out.ppm")).pixels,
            (std::vector<uint32_t>{0xFFFFFFu, 0x010101u, 0x808080u}));
  r = RunVexlor({"apply", "--carry", invert, dir.File("in.ppm"), dir.File("out.ppm")});
  EXPECT_EQ(r.status, 0) << r.err;
  // A picture is told of once, after it is written.
  EXPECT_EQ(r.err.rfind("vexlor: warning: 1 of 3 pixels had a channel outside 0..1", 0), 0u)
      << r.err;
  // 256 in each channel: red spills into the top byte, green into red, blue into green.
  EXPECT_EQ(ReadPicture(dir.File("out.ppm")).pixels[0], 0x010100u);
}

TEST(FreeFormTest, AFailingProgramSaysWhyInApplyAndStream) {
  test::ScratchDir dir;
  test::WriteFile(dir.File("in.ppm"), test::Bytes(EncodePpm(test::NoisePicture(4, 3, 1))));
  const std::string expected =
      "statement 1: rd=sine(rs)\n"
      "  error at column 4: invalid expression (undefined identifier \"sine\")\n"
      "    rd=sine(rs)\n"
      "       ^\n"
      "  hint: did you mean sin?\n";
  RunResult a = RunVexlor({"apply", "rd=sine(rs);gd=gs;bd=bs;", dir.File("in.ppm"),
                           dir.File("out.png")});
  EXPECT_EQ(a.status, kExitData);
  EXPECT_NE(a.err.find(expected), std::string::npos) << a.err;
  RunResult s = RunVexlor({"stream", "-s", "4x3", "rd=sine(rs);gd=gs;bd=bs;"}, "");
  EXPECT_EQ(s.status, kExitData);
  EXPECT_NE(s.err.find(expected), std::string::npos) << s.err;
}

}  // namespace
}  // namespace vexlor::cli
