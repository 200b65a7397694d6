// Lexer: token kinds, number forms, operators and invalid characters.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace vexlor {
namespace {

struct Lexed {
  int kind;
  double number;
};

// All tokens of text up to and including the end token.
std::vector<Lexed> Lex(const std::string& text) {
  static std::string keep;  // the lexer reads the text in place
  keep = text;
  LexerStart(keep);
  std::vector<Lexed> out;
  for (int guard = 0; guard < 1000; ++guard) {
    int kind = NextToken();
    out.push_back({kind, kind == TK_NUMBER ? CurrentToken().value.number : 0.0});
    if (kind == TK_END) break;
  }
  return out;
}

std::vector<int> Kinds(const std::string& text) {
  std::vector<int> kinds;
  for (const Lexed& t : Lex(text)) kinds.push_back(t.kind);
  return kinds;
}

TEST(Lexer, NumberForms) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"  12.5e-1", 1.25}, {".5", 0.5},     {"5.", 5.0},   {"2e", 2.0},
      {"2e+", 2.0},        {"1E3", 1000.0}, {"007", 7.0},  {"1e-400", 0.0},
      {"0.1", 0.1},        {"4.9e-324", 4.9e-324},
  };
  for (const Case& c : cases) {
    auto toks = Lex(c.text);
    ASSERT_EQ(toks.size(), 2u) << c.text;
    EXPECT_EQ(toks[0].kind, TK_NUMBER) << c.text;
    EXPECT_EQ(toks[0].number, c.value) << c.text;
  }
  EXPECT_EQ(Lex("1e999")[0].number, HUGE_VAL);
}

TEST(Lexer, NumbersSplitWhereTheFormEnds) {
  auto t = Lex("1.2.3");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].number, 1.2);
  EXPECT_EQ(t[1].number, 0.3);
  EXPECT_EQ(Kinds("2ex"), (std::vector<int>{TK_NUMBER, TK_UNDEFINED, TK_END}));
  EXPECT_EQ(Kinds("2x"), (std::vector<int>{TK_NUMBER, TK_UNDEFINED, TK_END}));
  EXPECT_EQ(Kinds("-2"), (std::vector<int>{TK_MINUS, TK_NUMBER, TK_END}));
  EXPECT_EQ(Kinds("."), (std::vector<int>{TK_INVALID, TK_END}));
  EXPECT_EQ(Kinds(".e5"), (std::vector<int>{TK_INVALID, TK_UNDEFINED, TK_END}));
}

TEST(Lexer, NumberLengthLimit) {
  EXPECT_EQ(Kinds(std::string(100, '1'))[0], TK_NUMBER);
  EXPECT_EQ(Kinds(std::string(101, '1'))[0], TK_BADNUMBER);
  EXPECT_EQ(Kinds("1." + std::string(99, '0'))[0], TK_BADNUMBER);
  EXPECT_EQ(Kinds(std::string(101, '1') + "+1"),
            (std::vector<int>{TK_BADNUMBER, TK_PLUS, TK_NUMBER, TK_END}));
}

TEST(Lexer, OperatorsAndPunctuation) {
  EXPECT_EQ(Kinds("+-*/%^(,)&|~"),
            (std::vector<int>{TK_PLUS, TK_MINUS, TK_MUL, TK_DIV, TK_MOD, TK_POW, TK_LPAREN,
                              TK_COMMA, TK_RPAREN, TK_AND, TK_OR, TK_XOR, TK_END}));
  EXPECT_EQ(Kinds("< <= > >= == !="),
            (std::vector<int>{TK_LT, TK_LE, TK_GT, TK_GE, TK_EQ, TK_NE, TK_END}));
  EXPECT_EQ(Kinds("&&"), (std::vector<int>{TK_AND, TK_AND, TK_END}));
  EXPECT_EQ(Kinds("a=b"), (std::vector<int>{TK_UNDEFINED, TK_INVALID, TK_UNDEFINED, TK_END}));
  EXPECT_EQ(Kinds("!x"), (std::vector<int>{TK_INVALID, TK_UNDEFINED, TK_END}));
  EXPECT_EQ(Kinds("<=="), (std::vector<int>{TK_LE, TK_INVALID, TK_END}));
}

TEST(Lexer, InvalidCharacters) {
  for (const char* text : {"#", "$", "\x80", "\xff", "@", "[", ";", "\""})
    EXPECT_EQ(Kinds(text), (std::vector<int>{TK_INVALID, TK_END})) << text;
}

TEST(Lexer, BlanksAreTheCLocaleSix) {
  EXPECT_EQ(Kinds(" \t\n\v\f\r1 \t"), (std::vector<int>{TK_NUMBER, TK_END}));
  EXPECT_EQ(Kinds(""), (std::vector<int>{TK_END}));
}

TEST(Lexer, EndOfTextRepeats) {
  LexerStart("1");
  EXPECT_EQ(NextToken(), TK_NUMBER);
  EXPECT_EQ(NextToken(), TK_END);
  EXPECT_EQ(NextToken(), TK_END);
}

TEST(Lexer, NamesAreClassifiedByTheTables) {
  LexerStart("sin max rand pi e Pi E abs fabs _x");
  EXPECT_EQ(NextToken(), TK_UNARY);
  EXPECT_EQ(NextToken(), TK_LIST);
  EXPECT_EQ(CurrentToken().arity, -1);
  EXPECT_EQ(NextToken(), TK_LIST);
  EXPECT_EQ(CurrentToken().arity, 0);
  EXPECT_EQ(NextToken(), TK_NUMBER);
  EXPECT_EQ(CurrentToken().value.number, 3.14159265358);
  EXPECT_EQ(NextToken(), TK_NUMBER);
  EXPECT_EQ(CurrentToken().value.number, 2.85);
  EXPECT_EQ(NextToken(), TK_UNDEFINED);
  EXPECT_EQ(NextToken(), TK_UNDEFINED);
  EXPECT_EQ(NextToken(), TK_UNARY);
  EXPECT_EQ(NextToken(), TK_UNDEFINED);
  EXPECT_EQ(NextToken(), TK_UNDEFINED);
}

TEST(Lexer, LongNamesAreClassifiedWhole) {
  EXPECT_EQ(Kinds("sin" + std::string(500, 'x')), (std::vector<int>{TK_UNDEFINED, TK_END}));
}

}  // namespace
}  // namespace vexlor
