// Symbol tables: registration limits, new-name rules, lookups.
#include <gtest/gtest.h>

#include <string>

#include "engine/engine.h"

namespace vexlor {
namespace {

class Symbols : public ::testing::Test {
 protected:
  void TearDown() override { ClearVariables(); }
  double slots[110] = {};
};

TEST_F(Symbols, TableHoldsExactly101Variables) {
  ClearVariables();
  for (int i = 0; i < 101; ++i) EXPECT_EQ(RegisterVariable("v" + std::to_string(i), &slots[i]), 1);
  EXPECT_EQ(RegisterVariable("v101", &slots[101]), 0);
  EXPECT_EQ(FindVariable("v101"), nullptr);
  EXPECT_EQ(FindVariable("v100"), &slots[100]);
  EXPECT_EQ(RegisterVariable("v7", &slots[105]), 1);  // rebinding needs no new entry
  EXPECT_EQ(FindVariable("v7"), &slots[105]);
  EXPECT_EQ(ClearVariables(), 101);
  EXPECT_EQ(ClearVariables(), 0);
}

TEST_F(Symbols, NewNameRules) {
  ClearVariables();
  RegisterVariable("rd", &slots[0]);
  for (const char* ok : {"x1", "_t", "my_var", "X", "_", "sinx", "E", "Pi"})
    EXPECT_TRUE(IsNewVariableName(ok)) << ok;
  for (const char* bad : {"1x", "a.b", "sin", "pi", "e", "rd", "", "max", "a b", "\xe9t"})
    EXPECT_FALSE(IsNewVariableName(bad)) << bad;
  EXPECT_EQ(RegisterVariable("sin", &slots[1]), 0);
  EXPECT_EQ(RegisterVariable("1x", &slots[1]), 0);
}

TEST_F(Symbols, Classification) {
  ClearVariables();
  RegisterVariable("v", &slots[3]);
  EXPECT_EQ(ClassifyName("e").kind, TK_NUMBER);
  EXPECT_EQ(ClassifyName("e").value.number, 2.85);
  EXPECT_EQ(ClassifyName("E").kind, TK_UNDEFINED);
  EXPECT_EQ(ClassifyName("v").kind, TK_VARIABLE);
  EXPECT_EQ(ClassifyName("v").value.variable, &slots[3]);
  EXPECT_EQ(ClassifyName("if").kind, TK_LIST);
  EXPECT_EQ(ClassifyName("if").arity, 3);
  EXPECT_EQ(ClassifyName("not").kind, TK_UNARY);
  EXPECT_EQ(ListFunctionArity("rand"), 0);
  EXPECT_EQ(ListFunctionArity("sin"), -1);
  EXPECT_EQ(kUnaryFunctionCount, 23);
  EXPECT_EQ(kListFunctionCount, 6);
}

TEST_F(Symbols, GetAndSet) {
  ClearVariables();
  RegisterVariable("v", &slots[0]);
  EXPECT_EQ(SetVariable("v", 4.5), 1);
  EXPECT_EQ(slots[0], 4.5);
  EXPECT_EQ(SetVariable("pi", 3), 0);
  EXPECT_EQ(SetVariable("w", 3), 0);
  EXPECT_EQ(GetVariable("nothing"), 0.0);
  EXPECT_EQ(LastError(), ERR_VARIABLE_NOT_FOUND);
  EXPECT_EQ(GetVariable("pi"), 3.14159265358);
  EXPECT_EQ(LastError(), ERR_NONE);
  EXPECT_EQ(GetVariable("v"), 4.5);
}

}  // namespace
}  // namespace vexlor
