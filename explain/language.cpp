// The language's reference for the editor. The names, arities and constant
// values are read from the engine's tables; what each does and its example
// are this file's table, keyed by the engine's row ids, so that a row the
// engine gains without a text here is found by the test of the list.
#include "explain/language.h"

#include <string_view>

#include "engine/engine.h"
#include "explain/quirks.h"
#include "pixel/statements.h"

namespace vexlor {

namespace {

// What a row does and an example of it.
struct Text {
  Fn id;
  int binding;  // operators only
  const char* about;
  const char* example;
};

constexpr Text kTexts[] = {
    {Fn::kAbs, 0, "absolute value", "rd=abs(rs-0.5)*2;"},
    {Fn::kAcos, 0, "arc cosine, in radians; NaN outside -1..1", "rd=acos(rs)/pi;"},
    {Fn::kAsin, 0, "arc sine, in radians; NaN outside -1..1", "rd=asin(rs)*2/pi;"},
    {Fn::kAtan, 0, "arc tangent, in radians", "rd=atan(rs*4)*2/pi;"},
    {Fn::kCos, 0, "cosine of radians", "rd=cos(rs*pi)/2+0.5;"},
    {Fn::kCosh, 0, "hyperbolic cosine", "rd=cosh(rs)-1;"},
    {Fn::kDeg, 0, "radians to degrees: x times 57.29577951326093 (deg(pi) is 180.00000000000003)",
     "rd=deg(rs)/57.3;"},
    {Fn::kExp, 0, "Euler's number (2.718..., not the constant e) to the power x",
     "rd=exp(rs)-1;"},
    {Fn::kFac, 0, "factorial of trunc(x): 0 for negative numbers, 34 above 170 (fac(171) is 34)",
     "rd=fac(rs*5)/120;"},
    {Fn::kLog, 0, "natural logarithm; -infinity at 0, NaN below", "rd=log(1+rs)/log(2);"},
    {Fn::kLog10, 0, "logarithm to base 10", "rd=log10(1+rs*9);"},
    {Fn::kRad, 0, "degrees to radians: x times 0.01745329251988889", "rd=sin(rad(rs*180));"},
    {Fn::kRound, 0, kQuirkNotes[kQuirkRound].data(),
     "rd=round(rs*4)/4;"},
    {Fn::kSin, 0, "sine of radians", "rd=sin(rs*pi);"},
    {Fn::kSinh, 0, "hyperbolic sine", "rd=sinh(rs);"},
    {Fn::kSqr, 0, "the square, x times x (not the square root: that is sqrt)", "rd=sqr(rs);"},
    {Fn::kSqrt, 0, "square root; NaN below 0", "rd=sqrt(rs);"},
    {Fn::kTan, 0, "tangent of radians", "rd=tan(rs);"},
    {Fn::kTanh, 0, "hyperbolic tangent", "rd=tanh(rs*3);"},
    {Fn::kTrunc, 0,
     "toward zero to a 32-bit signed integer: trunc(3000000000) is -1294967296",
     "rd=trunc(rs*4)/4;"},
    {Fn::kFloor, 0, "the largest whole number not above x", "rd=floor(rs*8)/8;"},
    {Fn::kCeil, 0, "the smallest whole number not below x", "rd=ceil(rs*8)/8;"},
    {Fn::kNot, 0, "1 when x is 0, else 0", "rd=not(rs>0.5);"},
    {Fn::kMax, 0,
     "the largest argument; a NaN is passed over, unless it is the last argument: then the "
     "result is NaN",
     "rd=max(rs,gs,bs);"},
    {Fn::kMed, 0, kQuirkNotes[kQuirkMed].data(), "rd=med(rs,gs,bs);"},
    {Fn::kMin, 0,
     "the smallest argument; a NaN is passed over, unless it is the last argument: then the "
     "result is NaN",
     "rd=min(rs,gs,bs);"},
    {Fn::kRand, 0,
     "the next pseudo-random value, 0 to 1; the sequence runs on from pixel to pixel and frame "
     "to frame, column by column from the bottom line up, from the generator's first state",
     "n=rand()*0.2;rd=rs+n;"},
    {Fn::kSum, 0, "the sum of its arguments", "rd=sum(rs,gs,bs)/3;"},
    {Fn::kIf, 0,
     "if(c,a,b): a when c is not 0 (a NaN counts as true), else b; all three are computed "
     "(rand() too)",
     "rd=if(rs>0.5,1,0);"},
    {Fn::kOr, 1, "bitwise or of 32-bit integers (each side truncated toward zero)",
     "rd=(trunc(rs*256)|15)/256;"},
    {Fn::kXor, 1, "bitwise exclusive or of 32-bit integers", "rd=(trunc(rs*256)~255)/256;"},
    {Fn::kAnd, 2, "bitwise and of 32-bit integers (there is no && or ||)",
     "rd=(trunc(rs*256)&192)/256;"},
    {Fn::kEq, 3, "1 when equal, else 0", "rd=rs==gs;"},
    {Fn::kNe, 3, "1 when not equal, else 0", "rd=rs!=gs;"},
    {Fn::kLt, 4, "1 when less, else 0 (false with a NaN)", "rd=rs<0.5;"},
    {Fn::kLe, 4, "1 when less or equal, else 0", "rd=rs<=0.5;"},
    {Fn::kGt, 4, "1 when greater, else 0", "rd=rs>0.5;"},
    {Fn::kGe, 4, "1 when greater or equal, else 0", "rd=rs>=0.5;"},
    {Fn::kAdd, 5, "sum", "rd=rs+0.1;"},
    {Fn::kSub, 5, "difference", "rd=rs-0.1;"},
    {Fn::kMul, 6, "product", "rd=rs*0.5;"},
    {Fn::kDiv, 6, "quotient; any x/0, 0/0 included, is +infinity", "rd=rs/2;"},
    {Fn::kMod, 6, "remainder, with the sign of the left side", "rd=(rs*4)%1;"},
    {Fn::kPow, 7, "power, at most once in a row: 2^3^2 is an error, write (2^3)^2",
     "rd=rs^0.5;"},
    {Fn::kNegate, 8,
     "sign; it binds tighter than ^ (-2^2 is 4) and may not follow another operator: write "
     "2*(-3), not 2*-3",
     "rd=-rs+1;"},
};

const Text* TextOf(Fn id) {
  for (const Text& t : kTexts)
    if (t.id == id) return &t;
  return nullptr;
}

// An entry of an engine row, with its text when the table has one.
LanguageEntry Entry(LanguageEntry::Kind kind, std::string_view name, int arity, Fn id) {
  const Text* t = TextOf(id);
  return {kind, std::string(name), arity, 0, t ? t->about : "", t ? t->example : "",
          t ? t->binding : 0};
}

// The built-in variables' texts, in kBuiltinNames' order.
constexpr const char* kBuiltinTexts[kBuiltinCount][2] = {
    {"the source pixel's red, its byte divided by 256 (0 to 255/256)", "rd=rs;"},
    {"the source pixel's green, its byte divided by 256", "gd=gs;"},
    {"the source pixel's blue, its byte divided by 256", "bd=bs;"},
    {"the output red: times 256, truncated; without clamp a value outside 0..255 carries into "
     "the next channel (1.0 makes 256: one more green, no red)",
     "rd=rs*0.9;"},
    {"the output green, as rd", "gd=gs*0.9;"},
    {"the output blue, as rd", "bd=bs*0.9;"},
    {"the frame number (for a picture the --frame given, 0 by default)", "rd=rs*abs(sin(fr/10));"},
};

// The constants' texts, by name.
const char* ConstantText(std::string_view name) {
  if (name == "pi") return "3.14159265358, to 12 digits only";
  if (name == "e") return kQuirkNotes[kQuirkE].data();
  return "";
}

}  // namespace

std::vector<LanguageEntry> LanguageEntries() {
  using Kind = LanguageEntry::Kind;
  std::vector<LanguageEntry> out;
  for (int i = 0; i < kBuiltinCount; ++i)
    out.push_back({Kind::kVariable, kBuiltinNames[i], 0, 0, kBuiltinTexts[i][0],
                   kBuiltinTexts[i][1], 0});
  for (int i = 0; i < kConstantCount; ++i) {
    const ConstantRow& c = kConstants[i];
    out.push_back({Kind::kConstant, c.name, 0, c.value, ConstantText(c.name),
                   "rd=rs*" + std::string(c.name) + "/4;", 0});
  }
  for (int i = 0; i < kUnaryFunctionCount; ++i)
    out.push_back(Entry(Kind::kFunction, kUnaryFunctions[i].name, 1, kUnaryFunctions[i].id));
  for (int i = 0; i < kListFunctionCount; ++i)
    out.push_back(Entry(Kind::kFunction, kListFunctions[i].name, kListFunctions[i].arity,
                        kListFunctions[i].id));
  for (int i = 0; i < kBinaryOperatorCount; ++i)
    out.push_back(Entry(Kind::kOperator, kBinaryOperators[i].name, 2, kBinaryOperators[i].id));
  out.push_back(Entry(Kind::kOperator, "-", 1, kNegateRow.id));
  return out;
}

// Each renders a picture well as it stands; the inverts subtract from
// 255/256, since 1-rs makes 256 at a channel of 0, which carries into the
// next channel without clamp.
const ExampleProgram kExamplePrograms[] = {
    {"grayscale", "y=0.299*rs+0.587*gs+0.114*bs;rd=y;gd=y;bd=y;", false,
     "luma by the BT.601 weights"},
    {"sepia", "rd=rs*0.393+gs*0.769+bs*0.189;gd=rs*0.349+gs*0.686+bs*0.168;bd=rs*0.272+gs*0.534+bs*0.131;",
     true, "warm brown tones; needs clamp, since bright reds go past 1"},
    {"invert", "rd=0.99609375-rs;gd=0.99609375-gs;bd=0.99609375-bs;", false,
     "the negative: 255/256 minus each channel (1-rs would make 256 at 0 and carry)"},
    {"posterize", "rd=floor(rs*4)/4;gd=floor(gs*4)/4;bd=floor(bs*4)/4;", false,
     "four levels a channel"},
    {"gamma", "rd=rs^0.6;gd=gs^0.6;bd=bs^0.6;", false, "brightens the shadows (gamma 0.6)"},
    {"channel swap", "rd=bs;gd=rs;bd=gs;", false, "red takes blue, green red, blue green"},
    {"noise", "n=(rand()-0.5)*0.2;rd=rs+n;gd=gs+n;bd=bs+n;", true,
     "grain of up to 0.1 either way; clamp keeps it inside 0..1"},
    {"flicker", "k=0.85+0.15*sin(fr*1.7);rd=rs*k;gd=gs*k;bd=bs*k;", false,
     "brightness that changes from frame to frame with fr"},
};
const int kExampleProgramCount = sizeof kExamplePrograms / sizeof kExamplePrograms[0];

}  // namespace vexlor
