// The fast frame path's parts: the generator's jumps, the array operations
// against the engine's handlers, the output packing, the plan's translation,
// and whole frames against the reference for the cases that random programs
// reach rarely (thread and block boundaries, failing programs, limits).
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "pixel/frame_plan.h"

namespace vexlor {
namespace {

FilterSettings Settings(const std::string& text, bool clamp = false) {
  FilterSettings s{};
  s.clamp = clamp ? 1 : 0;
  std::strncpy(s.text, text.c_str(), kMaxTextLength);
  return s;
}

// Same bits, or both NaN: a NaN's sign and payload never reach a pixel.
bool Same(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kValues[] = {0.0,    -0.0,   1.0,   -1.0,  0.5,    -0.5,      2.5,     -2.7,
                          0.001,  3.0,    170.0, 171.0, 1e308,  -1e308,    4.9e-324, 2147483648.0,
                          3e9,    -3e9,   1e19,  kInf,  -kInf,  kNaN,      255.0 / 256, 3.14159265358};

// ---- The generator ----------------------------------------------------------

TEST(FastRand, AdvanceEqualsSteppingAndWrapsAtThePeriod) {
  for (uint32_t seed : {1u, 0u, 0xDEADBEEFu}) {
    for (uint64_t steps : {0, 1, 2, 7, 1000}) {
      RandSetState(seed);
      double last = 0;
      for (uint64_t i = 0; i < steps; ++i) last = RandNext();
      uint32_t state = RandAdvance(steps).Apply(seed);
      EXPECT_EQ(state, RandState()) << seed << " + " << steps;
      if (steps > 0) {
        EXPECT_EQ(RandValue(state), last);
      }
    }
    EXPECT_EQ(RandAdvance((uint64_t(1) << 32) + 5).Apply(seed), RandAdvance(5).Apply(seed));
  }
}

// ---- Array operations against the handlers ----------------------------------

// Runs a kernel over the value grid and compares it with the handler.
void ExpectUnaryMatches(const Instruction& in, const char* name) {
  Kernel k;
  ASSERT_TRUE(KernelOf(in, k)) << name;
  const int n = static_cast<int>(std::size(kValues));
  std::vector<double> out(n);
  const double* args[] = {kValues};
  RunKernel(k, out.data(), args, n);
  for (int i = 0; i < n; ++i)
    EXPECT_TRUE(Same(out[i], in.operand.unary(kValues[i]))) << name << "(" << kValues[i] << ")";
}

TEST(FastKernels, UnaryFunctionsMatchTheirHandlers) {
  Instruction in{OP_CALL_UNARY, 0, {}};
  for (int i = 0; i < kUnaryFunctionCount; ++i) {
    in.operand.unary = kUnaryFunctions[i].handler;
    ExpectUnaryMatches(in, kUnaryFunctions[i].name);
  }
  in.operand.unary = Negate;
  ExpectUnaryMatches(in, "negation");
}

TEST(FastKernels, OperatorsMatchTheirHandlers) {
  const int n = static_cast<int>(std::size(kValues));
  std::vector<double> left, right, out(size_t(n) * n);
  for (double l : kValues)
    for (double r : kValues) left.push_back(l), right.push_back(r);
  for (int row = 0; row < kBinaryOperatorCount; ++row) {
    Instruction in{OP_CALL_BINARY, 0, {}};
    in.operand.binary = kBinaryOperators[row].handler;
    Kernel k;
    ASSERT_TRUE(KernelOf(in, k));
    const double* args[] = {left.data(), right.data()};
    RunKernel(k, out.data(), args, n * n);
    for (int i = 0; i < n * n; ++i)
      EXPECT_TRUE(Same(out[i], in.operand.binary(left[i], right[i])))
          << left[i] << kBinaryOperators[row].name << right[i];
  }
}

// List functions against the engine evaluating "f(x0,...)" over triples of
// values with -0, NaN and ties, where the walking order shows.
TEST(FastKernels, ListFunctionsMatchTheEngine) {
  const double picks[] = {0.0, -0.0, 1.0, -1.0, kNaN, kInf, 0.1, 0.2, 0.3};
  double vars[3];
  ClearVariables();
  for (int i = 0; i < 3; ++i) RegisterVariable("x" + std::to_string(i), &vars[i]);
  const char* const calls[] = {"max(x0)",       "max(x0,x1)", "max(x0,x1,x2)", "min(x0,x1,x2)",
                               "min(x1,x0)",    "sum(x0,x1,x2)", "med(x0,x1,x2)", "med(x2,x0)",
                               "if(x0,x1,x2)"};
  for (const char* call : calls) {
    ASSERT_EQ(CompileExpression(call), ERR_NONE) << call;
    const Program program = CurrentProgram();
    Kernel k;
    const Instruction& last = program.code[program.count - 1];
    ASSERT_TRUE(KernelOf(last, k)) << call;
    // The arguments in the order the program pushes them.
    std::vector<const double*> slots;
    for (int i = 0; i < program.count - 1; ++i) slots.push_back(program.code[i].operand.variable);
    for (double a : picks)
      for (double b : picks)
        for (double c : picks) {
          vars[0] = a, vars[1] = b, vars[2] = c;
          double want = EvaluateProgram(), got;
          RunKernel(k, &got, slots.data(), 1);
          EXPECT_TRUE(Same(got, want)) << call << " on " << a << ", " << b << ", " << c;
        }
  }
  ClearVariables();
}

// ---- Output packing ---------------------------------------------------------

TEST(FastPacking, ChannelTermsAddUpToPackPixel) {
  const float picks[] = {0.0f,   -0.0f,  1.0f,     0.999f,  -0.1f,   255.0f / 256, -1.0f / 256,
                         200.0f, 1e10f,  -1e10f,   8.4e6f,  -8.4e6f, 16777216.0f,  0.99999999f,
                         std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()};
  std::vector<double> values(std::begin(picks), std::end(picks));
  const int n = static_cast<int>(values.size());
  for (bool clamp : {false, true}) {
    for (int shift : kChannelShift) {
      std::vector<uint32_t> sums(size_t(n), 7u);
      AddChannelTerms(sums.data(), values.data(), n, clamp, shift);
      for (int i = 0; i < n; ++i)
        EXPECT_EQ(sums[i], 7u + ChannelTerm(values[i], clamp, shift)) << values[i];
    }
    for (float r : picks)
      for (float g : picks)
        for (float b : picks) {
          uint32_t sum = ChannelTerm(r, clamp, 16) + ChannelTerm(g, clamp, 8) + ChannelTerm(b, clamp, 0);
          ASSERT_EQ(sum, PackPixel(r, g, b, clamp)) << r << " " << g << " " << b << " " << clamp;
        }
  }
}

// ---- Translation --------------------------------------------------------------

TEST(FastPlan, SortsValuesIntoTablesAndBlockSteps) {
  // One input channel per output: tables only, no per-pixel step.
  EXPECT_EQ(FramePlan(Settings("rd=rs*0.5;gd=gs;bd=bs;"), 0).blockSteps(), 0);
  EXPECT_EQ(FramePlan(Settings("rd=sin(rs*3);gd=fr/100;bd=if(fr>5,gs,bs);"), 9).blockSteps(), 0);
  // rand() calls count even where nothing reads their value.
  FramePlan unread(Settings("x=rand();sin=rand();pi=rand()+rand();rd=1;gd=0;bd=0;"), 0);
  EXPECT_EQ(unread.status(), FramePlan::Status::kRuns);
  EXPECT_EQ(unread.randCalls(), 4u);
  EXPECT_EQ(unread.blockSteps(), 0);
  FramePlan noisy(Settings("rd=rand();gd=rd;bd=rs+gs;"), 0);
  EXPECT_EQ(noisy.randCalls(), 1u);
  EXPECT_GT(noisy.blockSteps(), 0);
  // A two-channel value that calls a library function becomes one table look-up
  // on large frames.
  const FilterSettings pair = Settings("rd=sin(rs+bs)*2;gd=gs*bs;bd=0;");
  EXPECT_EQ(FramePlan(pair, 0, true).blockSteps(), 1 + 3);
  EXPECT_EQ(FramePlan(pair, 0, false).blockSteps(), 4 + 3);
  // A failing statement ends the count; the statements before it still count.
  FramePlan failing(Settings("a=rand();b=rand()*rand();rd=(;c=rand();"), 0);
  EXPECT_EQ(failing.status(), FramePlan::Status::kFails);
  EXPECT_EQ(failing.randCalls(), 3u);
  EXPECT_EQ(FramePlan(Settings("a=rand();rd 1;"), 0).status(), FramePlan::Status::kFails);
}

// ---- Whole frames -------------------------------------------------------------

struct Image {
  int width, height;
  std::vector<uint32_t> pixels;
  Image(int w, int h, uint32_t seed) : width(w), height(h), pixels(size_t(w) * h) {
    for (uint32_t& p : pixels) p = seed = seed * 1664525u + 1013904223u;
  }
  ConstPixelView CView() const { return {pixels.data(), width, height, width * 4}; }
  PixelView View() { return {pixels.data(), width, height, width * 4}; }
};

// The reference mapping without a report, as MapWith calls it.
void Reference(const FilterSettings& settings, ConstPixelView src, PixelView dst, int32_t frame) {
  MapFrameReference(settings, src, dst, frame);
}

// The destination words and the generator's final state of one mapping.
template <typename MapFn>
std::pair<std::vector<uint32_t>, uint32_t> MapWith(const std::string& text, bool clamp,
                                                    const Image& src, MapFn map) {
  Image dst(src.width, src.height, 99);
  RandSetState(12345);
  map(Settings(text, clamp), src.CView(), dst.View(), 42);
  return {dst.pixels, RandState()};
}

TEST(FastFrame, EveryThreadAndBlockDivisionMatchesTheReference) {
  const std::string text =
      "n=rand()-0.5;t=sin(rs*9)*gs;rd=t+n*0.2;gd=max(gs,bs,n)%0.3;bd=if(n>0,bs,1-rs)^2;"
      "bd=bd+cos(bs-rs*2)*0.1;gd=gd+atan(gs/(bs+0.1))/9;";
  Image src(67, 45, 5);
  for (bool clamp : {false, true}) {
    auto want = MapWith(text, clamp, src, Reference);
    for (int threads : {1, 2, 3, 8})
      for (int block : {1, 5, 64, 256}) {
        // Two-channel tables on every other division.
        FrameOptions options{threads, block, 1, (threads + block) % 2 ? 0 : int64_t(1) << 40};
        auto got = MapWith(text, clamp, src, [&](auto&&... a) { MapFrameWith(a..., options); });
        EXPECT_EQ(got.first, want.first) << threads << " threads, blocks of " << block;
        EXPECT_EQ(got.second, want.second) << threads << " threads, blocks of " << block;
      }
    auto public_ = MapWith(text, clamp, src, [](auto&&... a) { MapFrame(a...); });
    EXPECT_EQ(public_.first, want.first);
    EXPECT_EQ(public_.second, want.second);
  }
}

// Worker threads compute under the caller's rounding mode, as the reference does.
TEST(FastFrame, ThreadsFollowTheCallersRounding) {
  const std::string text = "n=rand()/3;rd=rs/3+n;gd=gs/7-bs/11;bd=sin(rs+gs)/3+bs*0.1;";
  Image src(64, 48, 9);
  int mode = std::fegetround();
  for (int rounding : {FE_UPWARD, FE_TOWARDZERO}) {
    ASSERT_EQ(std::fesetround(rounding), 0);
    auto want = MapWith(text, false, src, Reference);
    FrameOptions options{4, 16, 1, 0};
    auto got = MapWith(text, false, src, [&](auto&&... a) { MapFrameWith(a..., options); });
    std::fesetround(mode);
    EXPECT_EQ(got, want) << rounding;
  }
}

TEST(FastFrame, FailingProgramsWriteZeroAndMoveTheGenerator) {
  Image src(5, 3, 1);
  for (bool clamp : {false, true}) {
    auto want = MapWith("a=rand()+rand();b=rand();rd=(;", clamp, src, Reference);
    auto got = MapWith("a=rand()+rand();b=rand();rd=(;", clamp, src, [](auto&&... a) { MapFrame(a...); });
    EXPECT_EQ(got, want);
    EXPECT_EQ(got.second, RandAdvance(3 * 15).Apply(12345));
    for (uint32_t p : got.first) EXPECT_EQ(p, 0u);
  }
}

TEST(FastFrame, EmptyFramesWriteNothingAndKeepTheGenerator) {
  Image src(4, 4, 3);
  for (auto [w, h] : {std::pair{0, 4}, std::pair{4, 0}, std::pair{-3, 4}, std::pair{4, -1}}) {
    Image dst(4, 4, 7);
    std::vector<uint32_t> before = dst.pixels;
    ConstPixelView s = src.CView();
    PixelView d = dst.View();
    s.width = d.width = w;
    s.height = d.height = h;
    RandSetState(77);
    MapFrame(Settings("rd=rand();gd=1;bd=1;", true), s, d, 0, 2);
    EXPECT_EQ(dst.pixels, before);
    EXPECT_EQ(RandState(), 77u);
  }
}

// 99 instructions compile, 101 do not; both as the reference has them.
TEST(FastFrame, ProgramsAtTheInstructionLimit) {
  Image src(6, 5, 11);
  for (int terms : {50, 51}) {
    std::string e = "rs";
    for (int i = 1; i < terms; ++i) e += i % 7 ? "+gs" : "*rand()";
    std::string text = "rd=" + e + ";gd=rd/50;bd=rand();";
    EXPECT_EQ(FramePlan(Settings(text), 0).status(),
              terms == 50 ? FramePlan::Status::kRuns : FramePlan::Status::kFails);
    EXPECT_EQ(MapWith(text, false, src, [](auto&&... a) { MapFrame(a...); }),
              MapWith(text, false, src, Reference));
  }
}

// Values that the tables, the uniform folding and the blocks must carry alike.
TEST(FastFrame, SpecialValuesMatchTheReference) {
  const char* const programs[] = {
      "rd=atan((-0*rs)^(0-1));gd=atan((0*rs)^(0-1));bd=atan((-0)^(0-1));",
      "rd=max(0,-0*rs)^(0-1)<0;gd=min(-0,0*gs)^(0-1)<0;bd=sum(-0,-0*bs)^(0-1)<0;",
      "rd=rs/0;gd=(gs-gs)/(bs-bs);bd=not(0/0-0/0);",
      "rd=if(sqrt(0-1),1,0);gd=(log(0-rs)==log(0-rs));bd=fac(1e400)+round(0-1e19);",
      "rd=trunc(3e9*rs)/4e9;gd=(rs*1e10)|0;bd=(bs*1e40)&(gs*1e40);",
      "rd=0.99999999;gd=rs*256-0.5;bd=0-1/256;",
  };
  Image src(16, 16, 0);
  for (int i = 0; i < 256; ++i) src.pixels[size_t(i)] = uint32_t(i) * 0x010101u ^ uint32_t(i << 24);
  for (const char* text : programs)
    for (bool clamp : {false, true})
      EXPECT_EQ(MapWith(text, clamp, src, [](auto&&... a) { MapFrame(a...); }),
                MapWith(text, clamp, src, Reference))
          << text << " clamp " << clamp;
}

}  // namespace
}  // namespace vexlor
