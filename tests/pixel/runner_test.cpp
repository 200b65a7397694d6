// Statement runner: the language's statement rules and quirks.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/engine.h"
#include "pixel/pixel.h"

namespace vexlor {
namespace {

struct Out {
  bool ok;
  float rd, gd, bd;
};

// Runs text with outputs preset to -7 so that unwritten outputs show.
Out Exec(const std::string& text, float rs = 0.5f, float gs = 0.25f, float bs = 0.125f,
        int32_t frame = 0) {
  Out o{false, -7, -7, -7};
  o.ok = RunStatements(text, rs, gs, bs, frame, o.rd, o.gd, o.bd);
  return o;
}

TEST(TrimField, SpacesOnly) {
  EXPECT_EQ(TrimField(" rs"), "rs");
  EXPECT_EQ(TrimField("rs + gs"), "rs");
  EXPECT_EQ(TrimField("   "), "");
  EXPECT_EQ(TrimField(""), "");
  EXPECT_EQ(TrimField("\trs"), "\trs");
  EXPECT_EQ(TrimField("a\tb c"), "a\tb");
}

// What the walk tells its users about each statement: the runner, the frame
// plan and check all act on these fields.
TEST(StatementWalk, KindsSlotsAndTargets) {
  double slots[kSlotCount] = {};
  StatementWalk walk("x=1;rd=x+1;pi=2;x=3;y=(;a b=rs;rd 1;never=1;", slots);
  struct Want {
    WalkStep::Kind kind;
    bool registered;
    int slot;  // -1: no target
  };
  const Want wants[] = {
      {WalkStep::Kind::kCompiled, true, kBuiltinCount},  // x: the first new slot
      {WalkStep::Kind::kCompiled, false, kSlotRd},
      {WalkStep::Kind::kCompiled, false, -1},             // a constant cannot be assigned
      {WalkStep::Kind::kCompiled, false, kBuiltinCount},  // x again keeps its slot
      {WalkStep::Kind::kFails, true, kBuiltinCount + 1},  // registered before it fails
      {WalkStep::Kind::kCompiled, true, kBuiltinCount + 2},  // the name is "a"
      {WalkStep::Kind::kNoEquals, false, -1},
  };
  for (const Want& want : wants) {
    WalkStep step;
    ASSERT_TRUE(walk.Next(step));
    SCOPED_TRACE(std::string(step.statement.text));
    EXPECT_EQ(step.kind, want.kind);
    EXPECT_EQ(step.registered, want.registered);
    EXPECT_EQ(step.target, want.slot < 0 ? nullptr : &slots[want.slot]);
    EXPECT_EQ(step.error != ERR_NONE, want.kind == WalkStep::Kind::kFails);
  }
  // The walk goes on as far as its user asks; the built-ins are bound in
  // their named slots.
  EXPECT_EQ(FindVariable(kBuiltinNames[kSlotFr]), &slots[kSlotFr]);
  EXPECT_EQ(FindVariable("gs"), &slots[kSlotGs]);
  Statement last;
  EXPECT_TRUE(walk.Split(last));
  EXPECT_EQ(last.name, "never");
  EXPECT_FALSE(walk.Split(last));
}

TEST(RunStatements, Identity) {
  Out o = Exec("rd=rs;gd=gs;bd=bs;", 0.1f, 0.2f, 0.3f);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.rd, 0.1f);
  EXPECT_EQ(o.gd, 0.2f);
  EXPECT_EQ(o.bd, 0.3f);
}

TEST(RunStatements, FrameNumber) {
  EXPECT_EQ(Exec("rd=fr/1000;gd=0;bd=0;", 0, 0, 0, 250).rd, 0.25f);
  EXPECT_EQ(Exec("rd=fr;gd=0;bd=0;", 0, 0, 0, -2147483647 - 1).rd, -2147483648.0f);
}

TEST(RunStatements, Failures) {
  for (const char* text : {"rd 0.5;", "rd=;", "rd=0.5;;", ";", "rd=1;gd=(;bd=1;", "rd=1;x;"}) {
    Out o = Exec(text);
    EXPECT_FALSE(o.ok) << text;
    EXPECT_EQ(o.rd, -7) << text;  // outputs unwritten
  }
}

TEST(RunStatements, UnassignedOutputsReadZero) {
  for (const char* text : {"", "rd=0.5", "gd=1;", "   "}) {
    Out o = Exec(text);
    EXPECT_TRUE(o.ok) << text;
    EXPECT_EQ(o.rd, 0.0f) << text;
    EXPECT_EQ(o.bd, 0.0f) << text;
  }
  EXPECT_EQ(Exec("rd=x;x=1;", 0, 0, 0).ok, false);  // x undefined when first read
  EXPECT_EQ(Exec("x=x+1;rd=x;").rd, 1.0f);          // registered before its own expression
}

TEST(RunStatements, TextAfterTheLastSemicolonNeverRuns) {
  Out o = Exec("rd=rs;gd=gs;bd=bs");
  EXPECT_EQ(o.bd, 0.0f);
  EXPECT_TRUE(Exec("rd=1;this is not a statement").ok);
}

TEST(RunStatements, ExpressionsEndAtTheirFirstSpace) {
  EXPECT_EQ(Exec("rd= rs;").rd, 0.5f);
  EXPECT_EQ(Exec("rd=rs *2;").rd, 0.5f);
  EXPECT_EQ(Exec("rd=rs*2;").rd, 1.0f);
  EXPECT_EQ(Exec("  rd  =rs*2;").rd, 1.0f);
  EXPECT_EQ(Exec("rd=rs*\t2;").rd, 1.0f);  // the lexer skips tabs
}

TEST(RunStatements, LineBreaksBeforeANameMakeItInvalid) {
  Out o = Exec("rd=1;\ngd=1;\nbd=1;");
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.rd, 1.0f);
  EXPECT_EQ(o.gd, 0.0f);
  EXPECT_EQ(o.bd, 0.0f);
}

TEST(RunStatements, AssignmentsWithoutEffect) {
  EXPECT_EQ(Exec("pi=3;rd=pi;gd=0;bd=0;").rd, static_cast<float>(3.14159265358));
  Out o = Exec("sin=1;rd=1;gd=1;bd=1;");
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.rd, 1.0f);
  EXPECT_TRUE(Exec("=1;rd=1;gd=1;bd=1;").ok);
  EXPECT_TRUE(Exec("1x=1;rd=1;").ok);
}

TEST(RunStatements, BuiltinsCanBeAssigned) {
  EXPECT_EQ(Exec("rs=1-rs;rd=rs;").rd, 0.5f);
  EXPECT_EQ(Exec("rs=0.75;rd=rs;", 0.25f).rd, 0.75f);
}

TEST(RunStatements, NewVariables) {
  Out o = Exec("t=rs*2;rd=t;gd=t;bd=t;");
  EXPECT_EQ(o.rd, 1.0f);
  EXPECT_EQ(o.bd, 1.0f);
  EXPECT_EQ(Exec("rd=a==b;", 0, 0, 0).ok, false);  // a, b undefined
  EXPECT_EQ(Exec("a=1;b=1;rd=a==b;").rd, 1.0f);
}

TEST(RunStatements, AtMost94NewVariables) {
  std::string text;
  for (int i = 0; i < 95; ++i) text += "v" + std::to_string(i) + "=" + std::to_string(i) + ";";
  text += "rd=v93;";
  EXPECT_EQ(Exec(text).rd, 93.0f);
  EXPECT_FALSE(Exec(text + "gd=v94;").ok);  // the 95th was never registered
}

TEST(RunStatements, LongNamesAreNotRegistered) {
  std::string n255(255, 'a'), n256(256, 'a');
  EXPECT_EQ(Exec(n255 + "=0.5;rd=" + n255 + ";").rd, 0.5f);
  Out o = Exec(n256 + "=0.5;rd=1;");
  EXPECT_TRUE(o.ok);
  EXPECT_FALSE(Exec(n256 + "=0.5;rd=" + n256 + ";").ok);
  // Spaces after a name do not count toward its length.
  EXPECT_EQ(Exec("rd" + std::string(400, ' ') + "=0.25;").rd, 0.25f);
}

TEST(RunStatements, ResultsAreRoundedToSinglePrecision) {
  EXPECT_EQ(Exec("rd=0.99999999;").rd, 1.0f);
  EXPECT_EQ(Exec("rd=1/3;").rd, 1.0f / 3.0f);
  EXPECT_EQ(Exec("rd=1e300;").rd, HUGE_VALF);
  EXPECT_TRUE(std::isnan(Exec("rd=sqrt(0-1);").rd));
}

TEST(RunStatements, StatementsBeforeAFailureStillRun) {
  RandSetState(1);
  EXPECT_FALSE(Exec("rd=rand();gd=(;").ok);
  EXPECT_EQ(RandState(), 1u * 214013u + 2531011u);
}

TEST(RunStatements, TextEndsAtANul) {
  std::string text("rd=1;\0gd=1;", 11);
  Out o = Exec(text);
  EXPECT_EQ(o.rd, 1.0f);
  EXPECT_EQ(o.gd, 0.0f);
}

TEST(TestMessage, Texts) {
  EXPECT_EQ(TestMessage("rd=rs;gd=gs;bd=bs;"),
            "Expression Successfully Parsed : result (0.5,0.5,0.5,fr=100) = 0.50 0.50 0.50");
  EXPECT_EQ(TestMessage("rd=fr/200;gd=rs*4;bd=0-1;"),
            "Expression Successfully Parsed : result (0.5,0.5,0.5,fr=100) = 0.50 2.00 -1.00");
  EXPECT_EQ(TestMessage("rd 0.5;"), "Error in expression !");
  EXPECT_EQ(TestMessage(""),
            "Expression Successfully Parsed : result (0.5,0.5,0.5,fr=100) = 0.00 0.00 0.00");
  std::string inf = TestMessage("rd=1e38*10;gd=0;bd=0;");
  EXPECT_EQ(inf.substr(inf.size() - 16), " = inf 0.00 0.00");
}

}  // namespace
}  // namespace vexlor
