// check's hints: each is given where the failing text makes it certain, says
// what to write instead, and is not given for programs that merely look
// alike. The engine's messages stay as they are.
#include <gtest/gtest.h>

#include <cstring>

#include "explain/hints.h"
#include "cli_test_util.h"

namespace vexlor::cli {
namespace {

using test::Joined;

// The hints under the failing statement of a program, or none.
std::vector<std::string> HintsOf(const std::string& program) {
  for (const StatementReport& r : CheckProgram(program).statements)
    if (r.fails) return r.hints;
  return {};
}

TEST(HintsTest, EachFailingSpellingGetsItsFix) {
  struct Case {
    const char* program;
    const char* hint;
  } cases[] = {
      {"rd=if(rs>0.5,1);", "if takes 3 arguments, here 2"},
      {"rd=max(if(1,2,3,4),0);", "if takes 3 arguments, here 4"},
      {"rd=rand(1);", "rand takes no arguments, here 1"},
      {"rd=sin(1,2);", "sin takes 1 argument, here 2"},
      {"rd=rs*-1;", "write rs*(-1) or -1*rs"},
      {"rd=fr/-256;", "write fr/(-256)"},
      {"x1=1;rd=2^-x1;", "write 2^(-x1)"},
      {"rd=(rs*-gs)+1;", "write (rs*(-gs))+1 or (-gs*rs)+1"},
      {"rd=gs+rs*-sin(bs);", "write gs+rs*(-sin(bs))"},
      {"rd=rs+-gs;", "write rs-gs"},
      {"rd=rs--gs;", "write rs+gs"},
      {"rd=--2;", "write -(-2)"},
      {"rd=rs**2;", "there is no ** operator: a power is written with ^: write rs^2"},
      {"rd=rs>0.5&&gs<0.5;", "is their 'and': write rs>0.5&gs<0.5"},
      {"rd=rs>0.5||gs<0.5;", "is their 'or': write rs>0.5|gs<0.5"},
      {"rd=1<<2;", "x*2^n shifts x left"},
      {"rd=8>>2;", "floor(x/2^n) shifts x right"},
      {"rd=rs<>gs;", "write rs!=gs"},
      {"rd=rs=<gs;", "write rs<=gs"},
      {"rd=rs=>gs;", "write rs>=gs"},
      {"rd=rs=gs;", "a comparison is written =="},
      {"rd=!rs;", "not(x)"},
      {"rd=2^3^2;", "group it, (2^3)^2 or 2^(3^2)"},
      {"rd=(rs+1)^gs^2;", "group it, ((rs+1)^gs)^2 or (rs+1)^(gs^2)"},
      {"rd=sine(rs);", "did you mean sin?"},
      {"rd=fabs(rs);", "this engine's function is abs"},
      {"rd=Rs;", "did you mean rs? (names are case-sensitive)"},
      {"rd=PI*rs;", "did you mean pi?"},
      {"rd=maxx(rs,gs);", "did you mean max?"},
      {"rd=sqtr(rs);", "did you mean sqr or sqrt?"},
      {"rd=pow(rs,2);", "a power is written a^b"},
  };
  for (const Case& c : cases) {
    std::string hints = Joined(HintsOf(c.program));
    EXPECT_NE(hints.find(c.hint), std::string::npos) << c.program << " gave:\n" << hints;
  }
}

// The failing statement's report, or an empty one.
StatementReport FailingOf(const std::string& program) {
  for (const StatementReport& r : CheckProgram(program).statements)
    if (r.fails) return r;
  return {};
}

TEST(HintsTest, HintsInsideCallsMatchTheTopLevelAndMarkTheOperator) {
  // Failing expressions whose hint is about one place; each is put in every
  // argument position of several calls, nested too. The hint (up to its
  // rewrite, which names the whole expression) and the caret's place within
  // the expression must be those of the expression standing alone.
  const char* expressions[] = {"rs>0.5&&gs>0.5", "rs**2",  "rs||gs", "1<<2",  "8>>2",
                               "rs<>gs",         "rs=<gs", "rs=>gs", "rs=gs", "!rs",
                               "rs*-1",          "rs+-gs", "2^3^2",  "sine(rs)"};
  const std::pair<const char*, const char*> calls[] = {
      {"max(", ",0)"},       {"max(0,", ")"},      {"max(0,", ",1)"}, {"if(", ",1,0)"},
      {"if(1,", ",0)"},      {"if(1,0,", ")"},     {"sin(", ")"},     {"max(1,min(", ",2))"},
      {"if(1,abs(", "),0)"}, {"1+sum(2,", ",3)*2"}};
  for (const char* e : expressions) {
    StatementReport alone = FailingOf(std::string("rd=") + e + ";");
    ASSERT_FALSE(alone.hints.empty()) << e;
    std::string hint = alone.hints[0].substr(0, alone.hints[0].find(": write"));
    for (const auto& [before, after] : calls) {
      std::string expression = std::string(before) + e + after;
      StatementReport r = FailingOf("rd=" + expression + ";");
      ASSERT_TRUE(r.fails) << expression;
      EXPECT_NE(Joined(r.hints).find(hint), std::string::npos)
          << expression << " gave:\n" << Joined(r.hints);
      EXPECT_EQ(r.offset, alone.offset + std::strlen(before)) << expression;
    }
  }
}

TEST(HintsTest, NoHintWhereNothingIsCertain) {
  const char* programs[] = {
      "rd=foo;",        // unknown and close to nothing
      "rd=(2;",         // an unclosed parenthesis says it all
      "rd=;",           // nothing to fix but the missing expression
      "rd=max(1,);",    // an empty argument
      "rd=xyzzy(1);",   // no known name is near
      "rd=rs*2#;",      // an invalid character
      "rd=rs*+-1;",     // two signs: no parentheses make them acceptable
  };
  for (const char* p : programs) EXPECT_EQ(Joined(HintsOf(p)), "") << p;
  // Programs that compile get no hints at all, however close they look.
  const char* fine[] = {"rd=rs*(-1);gd=-1*gs;bd=(2^3)^2;", "rd=if(rs>0.5,1,0);gd=rand();bd=0;",
                        "rd=rs>0.5&gs<0.5;gd=max(rs,gs,bs);bd=sin(1);", "rd=abs(-rs);gd=0;bd=0;"};
  for (const char* p : fine)
    for (const StatementReport& r : CheckProgram(p).statements) EXPECT_TRUE(r.hints.empty()) << p;
}

TEST(HintsTest, CloseNamesPreferCaseThenAPrefixThenOneEdit) {
  EXPECT_EQ(CloseNames("Rd"), (std::vector<std::string>{"rd"}));
  EXPECT_EQ(CloseNames("sine"), (std::vector<std::string>{"sin"}));  // not sinh as well
  EXPECT_EQ(CloseNames("cosj"), (std::vector<std::string>{"cos"}));
  EXPECT_EQ(CloseNames("sqtr"), (std::vector<std::string>{"sqr", "sqrt"}));
  EXPECT_EQ(CloseNames("tna"), (std::vector<std::string>{"tan"}));  // two letters swapped
  EXPECT_TRUE(CloseNames("rx").empty());  // two letters are too short to guess from
  EXPECT_TRUE(CloseNames("zzzz").empty());
  EXPECT_EQ(NameHint("sinn"), "did you mean sin?");
}

TEST(HintsTest, CheckPrintsHintsUnderTheEngineMessage) {
  std::string out = FormatReport(CheckProgram("rd=rs*-1;"), false);
  EXPECT_NE(out.find("  error at column 7: invalid expression\n"
                     "    rd=rs*-1\n"
                     "          ^\n"
                     "  hint: a sign cannot follow an operator or another sign: write rs*(-1) "
                     "or -1*rs\n"),
            std::string::npos)
      << out;
  // The engine's own texts, misspellings included, are kept.
  out = FormatReport(CheckProgram("rd=rs**2;"), false);
  EXPECT_NE(out.find("error at column 7: unknown error\n"), std::string::npos) << out;
  // User text in a hint is shown with its control bytes escaped.
  out = FormatReport(CheckProgram("rd=rs*\n-1;"), false);
  EXPECT_NE(out.find("  hint: a sign cannot follow an operator or another sign: write rs*\\n(-1)"
                     " or -1*rs\n"),
            std::string::npos)
      << out;
  out = FormatReport(CheckProgram("rd=;"), false);
  EXPECT_NE(out.find("imature expression terminated"), std::string::npos) << out;
}

TEST(HintsTest, CheckSaysWhenAProgramRunsButLeavesAChannelUnassigned) {
  // Byte for byte, text after the last ';' is lost; free-form gets its ';'.
  test::RunResult r = test::RunVexlor({"check", "--exact-text", "rd=rs;gd=gs;bd=bs"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("the program runs, but bd stays 0 at every pixel\n"), std::string::npos)
      << r.out;
  EXPECT_TRUE(test::RunVexlor({"check", "rd=rs;gd=gs;bd=bs"}).out.ends_with("\nthe program runs\n"));
  r = test::RunVexlor({"check", "Rd=rs;gd=gs;bd=bs;"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("fix: statement 1 assigns Rd, a new variable: write rd"),
            std::string::npos)
      << r.out;
  r = test::RunVexlor({"check", "rd=rs;gd=gs;bd=bs;"});
  EXPECT_TRUE(r.out.ends_with("\nthe program runs\n")) << r.out;

  test::ScratchDir dir;
  test::WriteFile(dir.File("lines.txt"), "rd=rs;\ngd=gs;\nbd=bs;\n");
  r = test::RunVexlor({"check", "--exact-text", "-f", dir.File("lines.txt")});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("fix: write the program on one line"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("the program runs, but gd, bd stay 0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nhint: the program is written one statement per line"),
            std::string::npos)
      << r.out;
  // One line break among statements on one line is no such layout.
  EXPECT_EQ(FormatReport(CheckProgram("rd=rs;gd=gs;\nbd=bs;x=1;"), false).find("hint:"),
            std::string::npos);
}

}  // namespace
}  // namespace vexlor::cli
