// Compiler and evaluator: golden postfix listings, the codes every malformed
// expression returns, precedence pinned by equivalence pairs, and limits.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/engine.h"

namespace vexlor {
namespace {

// Compiles text, requiring success, and returns its value.
double Eval(const std::string& text) {
  EXPECT_EQ(CompileExpression(text), ERR_NONE) << text;
  return EvaluateProgram();
}

std::string Listing(const std::string& text) {
  EXPECT_EQ(CompileExpression(text), ERR_NONE) << text;
  return DisassembleProgram();
}

class Compiler : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearVariables();
    RegisterVariable("x", &x);
  }
  void TearDown() override { ClearVariables(); }
  double x = 5.0;
};

TEST_F(Compiler, GoldenListings) {
  EXPECT_EQ(Listing("1+2*3"),
            "0000 PUSHC 1\n0001 PUSHC 2\n0002 PUSHC 3\n0003 CALLB *\n0004 CALLB +\n0005 END\n");
  EXPECT_EQ(Listing("-x^2"), "0000 PUSHV x\n0001 CALLU neg\n0002 PUSHC 2\n0003 CALLB ^\n0004 END\n");
  EXPECT_EQ(Listing("max(sin(x),rand(),pi)"),
            "0000 PUSHV x\n0001 CALLU sin\n0002 CALLL rand 0\n0003 PUSHC 3.14159265358\n"
            "0004 CALLL max 3\n0005 END\n");
  EXPECT_EQ(Listing("1|2&3==4<5+6*7^8"),
            "0000 PUSHC 1\n0001 PUSHC 2\n0002 PUSHC 3\n0003 PUSHC 4\n0004 PUSHC 5\n"
            "0005 PUSHC 6\n0006 PUSHC 7\n0007 PUSHC 8\n0008 CALLB ^\n0009 CALLB *\n"
            "0010 CALLB +\n0011 CALLB <\n0012 CALLB ==\n0013 CALLB &\n0014 CALLB |\n0015 END\n");
  EXPECT_EQ(Listing("8-2-1"),
            "0000 PUSHC 8\n0001 PUSHC 2\n0002 CALLB -\n0003 PUSHC 1\n0004 CALLB -\n0005 END\n");
  EXPECT_EQ(Listing("max()"), "0000 CALLL max 0\n0001 END\n");
}

TEST_F(Compiler, ReturnedCodes) {
  struct Case {
    const char* text;
    EngineError code;
  } cases[] = {
      {"2*-3", ERR_INVALID_EXPRESSION},   {"2+-3", ERR_INVALID_EXPRESSION},
      {"2^+3", ERR_INVALID_EXPRESSION},   {"2*+3", ERR_INVALID_EXPRESSION},
      {"2/-3", ERR_INVALID_EXPRESSION},   {"+-2", ERR_INVALID_EXPRESSION},
      {"2--3", ERR_INVALID_EXPRESSION},   {"--2", ERR_INVALID_EXPRESSION},
      {"2^-1", ERR_INVALID_EXPRESSION},   {"2*%3", ERR_INVALID_EXPRESSION},
      {"1&&2", ERR_INVALID_EXPRESSION},   {"1||2", ERR_INVALID_EXPRESSION},
      {"1<<2", ERR_INVALID_EXPRESSION},   {"1==!=2", ERR_INVALID_EXPRESSION},
      {"2^3^2", ERR_INVALID_EXPRESSION},  {"", ERR_PREMATURE_END},
      {"2+", ERR_PREMATURE_END},          {"-", ERR_PREMATURE_END},
      {"sin", ERR_LPAREN_EXPECTED},       {"sin 2", ERR_INVALID_EXPRESSION},
      {"sin()", ERR_INVALID_EXPRESSION},  {"()", ERR_INVALID_EXPRESSION},
      {"(()", ERR_EXPRESSION_EXPECTED},   {"(2", ERR_RPAREN_EXPECTED},
      {"sin(2", ERR_RPAREN_EXPECTED},     {"max(1", ERR_RPAREN_EXPECTED},
      {"max(1,)", ERR_UNKNOWN},           {"max(1 2)", ERR_INVALID_EXPRESSION},
      {"max(1,,2)", ERR_INVALID_EXPRESSION}, {"rand(1)", ERR_INVALID_EXPRESSION},
      {"if(1,2)", ERR_INVALID_EXPRESSION},   {"(rand(1)", ERR_INVALID_EXPRESSION},
      {"foo", ERR_INVALID_EXPRESSION},    {"#", ERR_INVALID_EXPRESSION},
      {"1 2", ERR_INVALID_EXPRESSION},    {"max", ERR_LPAREN_EXPECTED},
      {"2*", ERR_PREMATURE_END},          {"1+foo", ERR_INVALID_EXPRESSION},
  };
  for (const Case& c : cases) EXPECT_EQ(CompileExpression(c.text), c.code) << c.text;
  EXPECT_EQ(CompileExpression(std::string(101, '9')), ERR_INVALID_EXPRESSION);
  EXPECT_EQ(CompileExpression("1+" + std::string(101, '9')), ERR_INVALID_EXPRESSION);
}

TEST_F(Compiler, WellFormedExpressionsCompile) {
  for (const char* text : {"2-(-3)", "1&2", "(2^3)^2", "max()", "rand()", "-2", "+2", "2*(-3)",
                           "if(1,2,3)", "x", " x ", "\tx\n", "not(x)==0", "2^3*4"})
    EXPECT_EQ(CompileExpression(text), ERR_NONE) << text;
}

TEST_F(Compiler, RecordedCodesBeforeTheLeftOverCheck) {
  // The first detection is overwritten by the final check for text left over;
  // the error offset still points at the token where the last one was found.
  EXPECT_EQ(CompileExpression("rand(1)"), ERR_INVALID_EXPRESSION);
  EXPECT_EQ(CompileExpression("1+2)"), ERR_INVALID_EXPRESSION);
  EXPECT_EQ(LastErrorOffset(), 3);
  EXPECT_EQ(CompileExpression("(2"), ERR_RPAREN_EXPECTED);
  EXPECT_EQ(LastErrorOffset(), 2);
  EXPECT_EQ(CompileExpression("1+2"), ERR_NONE);
  EXPECT_EQ(LastErrorOffset(), -1);
}

TEST_F(Compiler, EquivalencePairs) {
  const char* pairs[][2] = {
      {"-2^2", "(-2)^2"},      {"2+3*4", "2+(3*4)"},     {"2*3^2", "2*(3^2)"},
      {"8-2-1", "(8-2)-1"},    {"8/4/2", "(8/4)/2"},     {"1+2<4", "(1+2)<4"},
      {"1<2==1", "(1<2)==1"},  {"3&1==1", "3&(1==1)"},   {"1|2&3", "1|(2&3)"},
      {"6~3|1", "(6~3)|1"},    {"-x*2", "(-x)*2"},       {"2*3%4", "(2*3)%4"},
      {"7%4*2", "(7%4)*2"},    {"2^3*4", "(2^3)*4"},     {"-sin(x)", "-(sin(x))"},
      {"2^(-x)*0+4", "4"},     {"x-1<x", "1"},           {"-x^2", "(-x)^2"},
  };
  for (auto& p : pairs) EXPECT_EQ(Eval(p[0]), Eval(p[1])) << p[0] << " vs " << p[1];
  EXPECT_EQ(Eval("-2^2"), 4.0);
  EXPECT_EQ(Eval("1&2"), 0.0);
}

TEST_F(Compiler, OperatorResults) {
  EXPECT_EQ(Eval("1+2*3"), 7.0);
  EXPECT_EQ(Eval("1/0"), HUGE_VAL);
  EXPECT_EQ(Eval("(0-1)/0"), HUGE_VAL);
  EXPECT_EQ(Eval("0/0"), HUGE_VAL);
  EXPECT_EQ(Eval("1/(-0)"), HUGE_VAL);
  EXPECT_EQ(Eval("(0-7)%4"), -3.0);
  EXPECT_EQ(Eval("7%(0-4)"), 3.0);
  EXPECT_TRUE(std::isnan(Eval("1%0")));
  EXPECT_EQ(Eval("(0-1)|0"), -1.0);
  EXPECT_EQ(Eval("2.9&3"), 2.0);
  EXPECT_EQ(Eval("4294967297|0"), 1.0);
  EXPECT_EQ(Eval("5~3"), 6.0);
  EXPECT_EQ(Eval("1e300|1"), 1.0);  // beyond the 64-bit range: 0
  EXPECT_TRUE(std::signbit(Eval("-0")));
  EXPECT_EQ(Eval("2^0.5"), std::pow(2.0, 0.5));
}

TEST_F(Compiler, ComparisonsWithNaN) {
  x = NAN;
  EXPECT_EQ(Eval("x==x"), 0.0);
  EXPECT_EQ(Eval("x!=x"), 1.0);
  EXPECT_EQ(Eval("x<1"), 0.0);
  EXPECT_EQ(Eval("x>=1"), 0.0);
  EXPECT_EQ(Eval("(x<=1)+(x>1)"), 0.0);
}

TEST_F(Compiler, VariablesAreReadWhenTheProgramRuns) {
  ASSERT_EQ(CompileExpression("x"), ERR_NONE);
  EXPECT_EQ(EvaluateProgram(), 5.0);
  x = 6.0;
  EXPECT_EQ(EvaluateProgram(), 6.0);
}

TEST_F(Compiler, ListCallsLeaveOneValue) {
  EXPECT_EQ(Eval("max(3,1,2)"), 3.0);
  EXPECT_EQ(CurrentStack().depth, 1);
  EXPECT_EQ(Eval("1+max(3,1,2)*2"), 7.0);
  EXPECT_EQ(CurrentStack().depth, 1);
}

// n numbers joined by '+': 2n-1 instructions.
std::string Sum(int n) {
  std::string s = "1";
  for (int i = 1; i < n; ++i) s += "+1";
  return s;
}

TEST_F(Compiler, InstructionLimit) {
  EXPECT_EQ(CompileExpression(Sum(50)), ERR_NONE);  // 99 instructions
  EXPECT_EQ(CompileExpression("-" + Sum(50)), ERR_NONE);  // exactly 100
  EXPECT_EQ(CurrentProgram().count, 100);
  EXPECT_EQ(CurrentProgram().code[100].kind, OP_END);
  EXPECT_EQ(EvaluateProgram(), 48.0);
  EXPECT_EQ(CompileExpression(Sum(51)), ERR_OUT_OF_MEMORY);
  EXPECT_EQ(CurrentProgram().count, 100);
  EXPECT_EQ(CurrentProgram().code[100].kind, OP_END);
}

TEST_F(Compiler, DeepestStack) {
  // 99 values and the call that sums them fill the program exactly.
  std::string args = "1";
  for (int i = 1; i < 99; ++i) args += ",x";
  EXPECT_EQ(CompileExpression("sum(" + args + ")"), ERR_NONE);
  EXPECT_EQ(EvaluateProgram(), 1.0 + 98 * 5.0);
  EXPECT_EQ(CurrentStack().depth, 1);
  EXPECT_EQ(CompileExpression("sum(" + args + ",1)"), ERR_OUT_OF_MEMORY);
}

TEST_F(Compiler, NestingIsBounded) {
  std::string ok = std::string(kMaxNesting - 1, '(') + "1" + std::string(kMaxNesting - 1, ')');
  EXPECT_EQ(CompileExpression(ok), ERR_NONE);
  EXPECT_NE(CompileExpression("(" + ok + ")"), ERR_NONE);
  std::string deep = std::string(5000, '(') + "1" + std::string(5000, ')');
  EXPECT_NE(CompileExpression(deep), ERR_NONE);
  std::string calls;
  for (int i = 0; i < 3000; ++i) calls += "sin(";
  calls += "1" + std::string(3000, ')');
  EXPECT_NE(CompileExpression(calls), ERR_NONE);
}

TEST_F(Compiler, PendingCallStackOverflow) {
  std::string calls;
  for (int i = 0; i < 101; ++i) calls += "abs(";
  calls += "1" + std::string(101, ')');
  EXPECT_EQ(CompileExpression(calls), ERR_OUT_OF_MEMORY);
}

TEST(EngineMessages, Table) {
  EXPECT_STREQ(EngineMessage(0), "sucess");
  EXPECT_STREQ(EngineMessage(51), "imature expression terminated");
  EXPECT_STREQ(EngineMessage(53), "\"(\" expected");
  EXPECT_STREQ(EngineMessage(56), "inverid nuber of parameters");
  EXPECT_STREQ(EngineMessage(58), "indent lenght exceed limits");
  EXPECT_STREQ(EngineMessage(62), "out memory");
  EXPECT_STREQ(EngineMessage(63), "invalid character");
}

}  // namespace
}  // namespace vexlor
