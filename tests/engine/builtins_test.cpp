// Built-in functions: conversions, factorial, rounding, the deg/rad factors,
// the generator, and the exact order of the list functions.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <thread>

#include "engine/engine.h"

namespace vexlor {
namespace {

double Eval(const std::string& text) {
  EXPECT_EQ(CompileExpression(text), ERR_NONE) << text;
  return EvaluateProgram();
}

TEST(ToInt32, Corners) {
  EXPECT_EQ(ToInt32(2.9), 2);
  EXPECT_EQ(ToInt32(-2.9), -2);
  EXPECT_EQ(ToInt32(-0.0), 0);
  EXPECT_EQ(ToInt32(2147483647.0), 2147483647);
  EXPECT_EQ(ToInt32(2147483648.0), -2147483647 - 1);
  EXPECT_EQ(ToInt32(3000000000.0), -1294967296);
  EXPECT_EQ(ToInt32(4294967297.0), 1);
  EXPECT_EQ(ToInt32(-4294967297.0), -1);
  EXPECT_EQ(ToInt32(9223372036854774784.0), -1024);  // 2^63 - 1024, the largest below 2^63
  EXPECT_EQ(ToInt32(9223372036854775808.0), 0);  // 2^63: out of range
  EXPECT_EQ(ToInt32(-9223372036854775808.0), 0); // -2^63: in range, low bits 0
  EXPECT_EQ(ToInt32(1e19), 0);
  EXPECT_EQ(ToInt32(NAN), 0);
  EXPECT_EQ(ToInt32(HUGE_VAL), 0);
  EXPECT_EQ(ToInt32(-HUGE_VAL), 0);
  EXPECT_EQ(ToInt32(4294967295.5), -1);
  EXPECT_EQ(ToInt32(1099511627776.0 + 7), 7);  // 2^40 + 7
}

TEST(Builtins, TruncAndRound) {
  EXPECT_EQ(Eval("trunc(0-2.7)"), -2.0);
  EXPECT_EQ(Eval("trunc(3000000000)"), -1294967296.0);
  EXPECT_EQ(Eval("round(2.5)"), 3.0);
  EXPECT_EQ(Eval("round(0-1.2)"), 0.0);
  EXPECT_EQ(Eval("round(0-1.7)"), -1.0);
  EXPECT_EQ(Eval("round(2147483647)"), 2147483647.0);
  EXPECT_EQ(Eval("round(2147483647.5)"), -2147483648.0);
  EXPECT_FALSE(std::signbit(Eval("trunc(-0.5)")));
}

TEST(Builtins, Factorial) {
  EXPECT_EQ(Eval("fac(5)"), 120.0);
  EXPECT_EQ(Eval("fac(5.9)"), 120.0);
  EXPECT_EQ(Eval("fac(-0.5)"), 1.0);
  EXPECT_EQ(Eval("fac(-1)"), 0.0);
  EXPECT_EQ(Eval("fac(0)"), 1.0);
  EXPECT_EQ(Eval("fac(2)"), 2.0);
  EXPECT_EQ(Eval("fac(171)"), 34.0);
  EXPECT_EQ(Eval("fac(1e300)"), 1.0);  // beyond the 64-bit range: n = 0
  double f = 1.0;
  for (int k = 170; k >= 2; --k) f *= k;
  EXPECT_EQ(Eval("fac(170)"), f);
  EXPECT_NEAR(f, 7.2574156153080e306, 1e294);
}

TEST(Builtins, AngleFactorsMatchTheEnginePi) {
  EXPECT_EQ(Eval("deg(pi)"), 180.00000000000003);
  EXPECT_EQ(Eval("rad(180)"), 3.1415926535800005);
  EXPECT_EQ(Eval("pi"), 3.14159265358);
  EXPECT_EQ(Eval("e"), 2.85);
}

TEST(Builtins, LibraryFunctions) {
  EXPECT_EQ(Eval("abs(0-3)"), 3.0);
  EXPECT_EQ(Eval("sqr(3)"), 9.0);
  EXPECT_EQ(Eval("sqrt(2)"), std::sqrt(2.0));
  EXPECT_EQ(Eval("sin(1)"), std::sin(1.0));
  EXPECT_EQ(Eval("log10(1000)"), 3.0);
  EXPECT_EQ(Eval("floor(0-1.5)"), -2.0);
  EXPECT_EQ(Eval("ceil(0-1.5)"), -1.0);
  EXPECT_TRUE(std::isnan(Eval("sqrt(0-1)")));
  EXPECT_EQ(Eval("log(0)"), -HUGE_VAL);
  EXPECT_EQ(Eval("exp(1000)"), HUGE_VAL);
  EXPECT_EQ(Eval("not(0)"), 1.0);
  EXPECT_EQ(Eval("not(0.001)"), 0.0);
  EXPECT_EQ(Eval("not(0/0-0/0)"), 0.0);  // inf-inf is NaN
  EXPECT_EQ(CompileExpression("fabs(1)"), ERR_INVALID_EXPRESSION);
}

TEST(Builtins, ListFunctions) {
  EXPECT_EQ(Eval("max(1,5,5,2)"), 5.0);
  EXPECT_EQ(Eval("min(4)"), 4.0);
  EXPECT_EQ(Eval("min(3,0-1,2)"), -1.0);
  EXPECT_EQ(Eval("med(1,2,6)"), 3.0);
  EXPECT_EQ(Eval("sum(0.1,0.2,0.3)"), (0.3 + 0.2) + 0.1);
  EXPECT_NE((0.3 + 0.2) + 0.1, (0.1 + 0.2) + 0.3);  // the order is observable
  EXPECT_EQ(Eval("med(0.1,0.2,0.3)"), ((0.3 + 0.2) + 0.1) / 3);
  EXPECT_EQ(Eval("if(0,1,2)"), 2.0);
  EXPECT_EQ(Eval("if(0-3,1,2)"), 1.0);
  EXPECT_EQ(Eval("if(0/0-0/0,1,2)"), 1.0);  // NaN counts as true
}

TEST(Builtins, MaxMinSkipNaNFromTheLastArgument) {
  // The walk starts at the last argument; a NaN never replaces nor is replaced.
  EXPECT_TRUE(std::isnan(Eval("max(1,0/0-0/0)")));
  EXPECT_EQ(Eval("max(0/0-0/0,1)"), 1.0);
  EXPECT_TRUE(std::isnan(Eval("min(5,0/0-0/0)")));
  EXPECT_EQ(Eval("min(0/0-0/0,5)"), 5.0);
}

TEST(Builtins, EmptyArgumentListsGiveZero) {
  for (const char* text : {"max()", "min()", "sum()", "med()"}) EXPECT_EQ(Eval(text), 0.0) << text;
  EXPECT_EQ(Eval("7+max()"), 7.0);
}

TEST(Builtins, RandSequence) {
  // A fresh thread starts at state 1: outputs 41, 18467, 6334.
  double first = 0, second = 0, third = 0, sumOfTwo = 0;
  std::thread([&] {
    first = Eval("rand()");
    second = Eval("rand()");
    third = Eval("rand()");
    RandSetState(1);
    sumOfTwo = Eval("rand()+rand()");
  }).join();
  EXPECT_EQ(first, 41 * kRandScale);
  EXPECT_EQ(second, 18467 * kRandScale);
  EXPECT_EQ(third, 6334 * kRandScale);
  EXPECT_EQ(sumOfTwo, first + second);
  EXPECT_EQ(32767 * kRandScale, 1.0);
}

TEST(Builtins, IfEvaluatesEveryArgument) {
  RandSetState(1);
  Eval("if(1,rand(),rand())");
  EXPECT_EQ(RandNext(), 6334 * kRandScale);
}

}  // namespace
}  // namespace vexlor
