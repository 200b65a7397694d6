// vexlor check's diagnosis: it agrees with the statement runner on whether
// a program runs, and points at the right statement, column and dead text.
#include <gtest/gtest.h>

#include "cli_test_util.h"

namespace vexlor::cli {
namespace {

// The statement that fails, or nullptr.
const StatementReport* Failing(const ProgramReport& report) {
  for (const StatementReport& r : report.statements)
    if (r.fails) return &r;
  return nullptr;
}

bool HasNote(const std::vector<std::string>& notes, const std::string& part) {
  for (const std::string& n : notes)
    if (n.find(part) != std::string::npos) return true;
  return false;
}

TEST(CheckTest, AgreesWithTheRunnerAndBlamesExactlyOneStatementOnFailure) {
  const char* programs[] = {
      "",          "rd=0.5",        "rd=rs;gd=gs;bd=bs;", "rd 0.5;",         "rd=;",
      "rd=0.5;;",  "=1;rd=1;",      "sin=1;rd=1;",        "pi=3;rd=pi;",     "x=x+1;rd=x;",
      "rd=foo;",   "rd=2^3^2;",     "rd=max(1,);",        "rd=rand(1);",     "rd=(2;",
      "rd=rs *2;", "rd=sin 2;",     "\nrd=1;gd=1;",       "rd=1;\ngd=foo;",  "rd=#;",
      "a=1;b=a;c=b;rd=c;gd=q;",     "rd=1 ;gd=2; bd=3 ;", "rd=if(rs>0.4,1,0);",
  };
  for (const char* text : programs) {
    ProgramReport report = CheckProgram(text);
    float rd, gd, bd;
    bool runs = RunStatements(text, 0.5f, 0.5f, 0.5f, 100, rd, gd, bd);
    EXPECT_EQ(report.runs, runs) << text;
    EXPECT_EQ(Failing(report) == nullptr, runs) << text;
    // Statements after the failing one are listed but marked as not run.
    bool afterFailure = false;
    for (const StatementReport& r : report.statements) {
      EXPECT_EQ(r.ran, !afterFailure) << text << " statement " << r.number;
      afterFailure = afterFailure || r.fails;
    }
  }
}

TEST(CheckTest, ErrorsGiveTheEngineMessageAndTheColumnInTheStatement) {
  struct Case {
    const char* text;
    int statement, column;
    const char* error;
  } cases[] = {
      {"rd=rs;gd=  2+;", 2, 8, "imature expression terminated"},
      {"rd=(rs;", 1, 7, "\")\" expected"},
      {"rd=1;gd=foo+1;", 2, 4, "invalid expression (undefined identifier \"foo\")"},
      {"rd=2^3^2;", 1, 7, "invalid expression"},
      {"rd=  ;", 1, 6, "imature expression terminated"},
      {"rd=1#;", 1, 5, "invalid expression (invalid character \"#\")"},
      {"rd=1;x=1+2\u00e9;", 2, 6, "invalid expression (invalid character \"\u00e9\")"},
      {"rd=max(1,);", 1, 10, "unknown error"},
      {"rd=1;gd 2;", 2, 1, "no '=' (every statement is name=expression;)"},
      {"rd=1;;", 2, 1, "empty statement (every statement is name=expression;)"},
  };
  for (const Case& c : cases) {
    ProgramReport report = CheckProgram(c.text);
    const StatementReport* r = Failing(report);
    ASSERT_NE(r, nullptr) << c.text;
    EXPECT_EQ(r->number, c.statement) << c.text;
    EXPECT_EQ(r->column, c.column) << c.text;
    EXPECT_EQ(r->error, c.error) << c.text;
  }
}

TEST(CheckTest, PartsWithoutEffectAreNamed) {
  ProgramReport r = CheckProgram("rd=rs *2;gd x=gs;pi=1;sin=2;\ngd=1; =3;bd=bs;rd=1");
  ASSERT_EQ(r.statements.size(), 7u);
  EXPECT_EQ(r.statements[0].assigns, "rd");
  EXPECT_EQ(r.statements[0].expression, "rs");
  EXPECT_TRUE(HasNote(r.statements[0].notes, "\" *2\" (an expression ends at its first space)"));
  EXPECT_EQ(r.statements[1].assigns, "gd");
  EXPECT_TRUE(HasNote(r.statements[1].notes, "\" x\" (a name ends at its first space)"));
  EXPECT_TRUE(HasNote(r.statements[2].notes, "\"pi\" is a constant"));
  EXPECT_TRUE(HasNote(r.statements[3].notes, "\"sin\" is a function"));
  EXPECT_TRUE(HasNote(r.statements[4].notes, "a line break before the name"));
  EXPECT_EQ(r.statements[4].assigns, "");
  EXPECT_TRUE(HasNote(r.statements[5].notes, "the left side is empty"));
  EXPECT_TRUE(HasNote(r.notes, "text after the last ';' is never run: \"rd=1\""));
  EXPECT_TRUE(r.runs);
}

TEST(CheckTest, NewVariablesAndTheirLimit) {
  std::string text;
  for (int i = 0; i < 95; ++i) text.append("v").append(std::to_string(i)).append("=1;");
  text += "rd=v93;gd=v94;bd=0;";
  ProgramReport r = CheckProgram(text);
  EXPECT_TRUE(r.statements[0].newVariable);
  EXPECT_EQ(r.statements[93].assigns, "v93");
  EXPECT_EQ(r.statements[94].assigns, "");
  EXPECT_TRUE(HasNote(r.statements[94].notes, "at most 94 variables"));
  // Reading the unregistered name fails, as it does in the runner.
  EXPECT_FALSE(r.runs);
  EXPECT_EQ(Failing(r)->number, 97);
}

TEST(CheckTest, ReportShowsTheCaretUnderTheColumnAndEscapesControlBytes) {
  std::string out = FormatReport(CheckProgram("rd=1;gd=\t(1+foo;"), false);
  EXPECT_NE(out.find("statement 2: gd=\\t(1+foo\n"
                     "  error at column 8: invalid expression (undefined identifier \"foo\")\n"
                     "    gd=\\t(1+foo\n"
                     "            ^\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("the program does not run"), std::string::npos);
  // Columns and the caret count characters, not bytes.
  out = FormatReport(CheckProgram("\u00e9=foo;"), false);
  EXPECT_NE(out.find("column 3: invalid expression (undefined identifier \"foo\")\n"
                     "    \u00e9=foo\n"
                     "      ^\n"),
            std::string::npos)
      << out;

  std::string listing = FormatReport(CheckProgram("rd=rs*2;"), true);
  EXPECT_NE(listing.find("  assigns rd = rs*2\n  program:\n    0000 PUSHV rs\n    0001 PUSHC 2\n"
                         "    0002 CALLB *\n    0003 END\n"),
            std::string::npos)
      << listing;
  EXPECT_NE(listing.find("gd, bd never assigned"), std::string::npos) << listing;
}

}  // namespace
}  // namespace vexlor::cli
