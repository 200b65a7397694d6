// The fast frame path against the reference on random programs and frames:
// every destination word (padding included) and the generator's final state
// must be equal.
//
// A bounded number of cases runs by default. More, or another seed:
//   VEXLOR_DIFF_CASES=20000 VEXLOR_DIFF_SEED=7 build/release/tests/vexlor_fast_tests
//     --gtest_filter='Differential.*'
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "pixel/frame_plan.h"

namespace vexlor {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(_WIN32)
constexpr int kDefaultCases = 800;  // the sanitizers and wine are slow
#else
constexpr int kDefaultCases = 2000;
#endif

long EnvOr(const char* name, long fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

// Random program texts: mostly valid ones, with every operator and function,
// and now and then a flaw that makes a statement fail or change its meaning.
class ProgramMaker {
 public:
  explicit ProgramMaker(uint32_t seed) : rng_(seed) {}

  uint32_t Next() { return static_cast<uint32_t>(rng_()); }
  int Pick(int n) { return static_cast<int>(Next() % uint32_t(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }
  template <typename T, size_t N>
  const T& PickOf(const T (&items)[N]) { return items[Pick(int(N))]; }

  std::string Program() {
    names_ = {"rs", "gs", "bs", "rd", "gd", "bd", "fr"};
    flaws_ = Chance(25);
    std::string text;
    int count = 1 + Pick(Chance(10) ? 30 : 8);
    for (int i = 0; i < count; ++i) text += Statement() + ";";
    if (flaws_ && Chance(30)) text += Statement();  // after the last ';': never runs
    if (Chance(3)) text = LongSum();
    return text;
  }

 private:
  std::string Statement() {
    if (flaws_ && Chance(3)) return Pick(2) ? "" : "rd " + Expr(2);  // no '='
    std::string target = Target();
    std::string expr = Expr(Pick(5));
    if (Chance(8)) expr = " " + expr;  // leading spaces are trimmed
    if (flaws_ && Chance(5)) expr += " " + Expr(1);  // cut at the space
    if (Chance(4)) target = " " + target + (Pick(2) ? " " : "  x");
    return target + "=" + expr;
  }

  std::string Target() {
    static const char* const kOutputs[] = {"rd", "gd", "bd"};
    static const char* const kOthers[] = {"rs", "gs", "bs", "fr", "pi", "e", "sin", "rand",
                                          "max", "",   "1x", "a.b", "\tq", "rd\n"};
    static const char* const kNew[] = {"a", "b", "t1", "_x", "Zz", "v9", "rD"};
    int kind = Pick(10);
    if (kind < 5) return PickOf(kOutputs);
    if (kind < 8) {
      std::string name = PickOf(kNew);
      names_.push_back(name);
      return name;
    }
    if (Chance(3)) return std::string(256 + Pick(3), 'n');  // too long to register
    return PickOf(kOthers);
  }

  std::string Number() {
    static const char* const kNumbers[] = {
        "0",   "1",      "2",    "0.5",   ".25",  "3.",     "256",  "1e308",  "1e-310", "1e400",
        "2.85", "1E3",   "0.1",  "255",   "65536", "1e10",  "7",    "3000000000", "0.0",
        "1e-5", "170",   "171",  "0.999", "12345678901234567890"};
    if (Chance(1)) return std::string(101, '1');  // a bad number
    if (Chance(20)) return std::to_string(Pick(1000)) + "." + std::to_string(Pick(1000));
    return PickOf(kNumbers);
  }

  std::string Atom() {
    int kind = Pick(13);
    if (kind < 4) return Number();
    if (kind < 9) {
      if (flaws_ && Chance(3)) return "undefinedname";
      return names_[Pick(int(names_.size()))];
    }
    if (kind < 10) return Pick(2) ? "pi" : "e";
    if (kind < 11) {
      // -0, an infinity and NaNs, which the operators must carry like the engine.
      static const char* const kSpecial[] = {"(-0)", "(1/0)", "(1e400-1e400)", "sqrt(-1)",
                                             "(-(rs*0))", "log(0)"};
      return PickOf(kSpecial);
    }
    return "rand()";
  }

  std::string Expr(int depth) {
    if (depth <= 0 || Chance(20)) return Atom();
    static const char* const kUnary[] = {"abs",  "acos", "asin",  "atan",  "cos",   "cosh",
                                         "deg",  "exp",  "fac",   "log",   "log10", "rad",
                                         "round", "sin", "sinh",  "sqr",   "sqrt",  "tan",
                                         "tanh", "trunc", "floor", "ceil", "not"};
    static const char* const kBinary[] = {"|", "~", "&", "==", "!=", "<", "<=", ">",
                                          ">=", "+", "-", "*", "/", "%", "^"};
    static const char* const kList[] = {"max", "min", "sum", "med"};
    switch (Pick(10)) {
      case 0:
      case 1:
        return std::string(PickOf(kUnary)) + "(" + Expr(depth - 1) + ")";
      case 2: {
        std::string call = std::string(PickOf(kList)) + "(";
        int n = Pick(5);
        for (int i = 0; i < n; ++i) call += (i ? "," : "") + Expr(depth - 1);
        return call + ")";
      }
      case 3:
        if (flaws_ && Chance(10)) return "if(" + Expr(depth - 1) + "," + Expr(depth - 1) + ")";
        return "if(" + Expr(depth - 1) + "," + Expr(depth - 1) + "," + Expr(depth - 1) + ")";
      case 4:
        return (Pick(3) ? "-" : "+") + Operand(depth - 1);
      case 5:
        return "(" + Expr(depth - 1) + ")";
      default: {
        // Parenthesised operands keep most of them valid; bare ones give
        // precedence and refused sequences such as "2^3^2" or "2*-3".
        std::string op = PickOf(kBinary);
        if (flaws_ && Chance(5)) op = PickOf({"#", "&&", "=", "!"});
        return Operand(depth - 1) + op + Operand(depth - 1);
      }
    }
  }

  std::string Operand(int depth) {
    std::string e = Expr(depth);
    return Chance(flaws_ ? 70 : 85) ? "(" + e + ")" : e;
  }

  // A single statement near the 100-instruction limit.
  std::string LongSum() {
    int terms = 48 + Pick(6);  // 2 * terms - 1 instructions
    std::string e = "rs";
    for (int i = 1; i < terms; ++i) e += Pick(3) ? "+gs" : "*rand()";
    return "rd=" + e + ";gd=rd/" + std::to_string(terms) + ";bd=bs;";
  }

  std::mt19937 rng_;
  std::vector<std::string> names_;
  bool flaws_ = false;
};

// A frame of random pixels in a buffer with padding on the right of each row,
// laid bottom-up when the pitch is negative.
struct TestFrame {
  std::vector<uint32_t> buf;
  int width, height, stride;
  bool flip;
  TestFrame(int w, int h, int pad, bool flip_)
      : buf(size_t(std::max(w, 0) + pad) * size_t(std::max(h, 0)) + 1), width(w), height(h),
        stride(std::max(w, 0) + pad), flip(flip_) {}
  uint32_t* Base() {
    return flip && height > 0 ? buf.data() + size_t(stride) * size_t(height - 1) : buf.data();
  }
  PixelView View() { return {Base(), width, height, (flip ? -stride : stride) * 4}; }
  ConstPixelView CView() { return {Base(), width, height, (flip ? -stride : stride) * 4}; }
};

struct Case {
  std::string text;
  bool clamp;
  int32_t frame;
  int width, height, pad;
  bool flip, inPlace;
  FrameOptions options;
  uint32_t randState;
};

Case MakeCase(ProgramMaker& pm) {
  Case c;
  c.text = pm.Program();
  c.clamp = pm.Chance(50);
  static const int32_t kFrames[] = {0, 1, 100, -7, 2147483647, -2147483647 - 1};
  c.frame = pm.Chance(50) ? pm.PickOf(kFrames) : int32_t(pm.Next() % 5000);
  c.width = pm.Chance(5) ? 0 : 1 + pm.Pick(pm.Chance(10) ? 40 : 9);
  c.height = pm.Chance(5) ? 0 : 1 + pm.Pick(pm.Chance(10) ? 30 : 9);
  if (pm.Chance(2)) c.width = -c.width;
  c.pad = pm.Chance(50) ? 0 : pm.Pick(4);
  c.flip = pm.Chance(40);
  c.inPlace = pm.Chance(10);
  c.options.threads = 1 + pm.Pick(4);
  c.options.blockPixels = pm.Chance(30) ? 256 : 1 + pm.Pick(8);
  c.options.minPixelsPerThread = 1;
  c.options.minPixelsForPairTables = pm.Chance(50) ? 0 : int64_t(1) << 40;
  c.randState = pm.Chance(20) ? 1u : pm.Next();
  static const MemoUse kMemoUses[] = {MemoUse::kAuto, MemoUse::kAlways, MemoUse::kNever};
  c.options.memo = pm.PickOf(kMemoUses);
  return c;
}

std::string Describe(const Case& c) {
  return "program \"" + c.text + "\" clamp " + std::to_string(c.clamp) + " frame " +
         std::to_string(c.frame) + " size " + std::to_string(c.width) + "x" +
         std::to_string(c.height) + " pad " + std::to_string(c.pad) + " flip " +
         std::to_string(c.flip) + " in place " + std::to_string(c.inPlace) + " threads " +
         std::to_string(c.options.threads) + " block " + std::to_string(c.options.blockPixels) + " pair tables " +
         std::to_string(c.options.minPixelsForPairTables == 0) + " memo " +
         std::to_string(int(c.options.memo));
}

// Runs one case through a mapping function on a fresh copy of the source.
struct Outcome {
  std::vector<uint32_t> dst;
  uint32_t randState;
  int64_t carried;
};

FilterSettings SettingsOf(const Case& c) {
  FilterSettings settings{};
  settings.clamp = c.clamp ? 1 : 0;
  std::strncpy(settings.text, c.text.c_str(), kMaxTextLength);
  return settings;
}

template <typename MapFn>
Outcome RunCase(const Case& c, const TestFrame& source, MapFn map) {
  FilterSettings settings = SettingsOf(c);
  TestFrame src = source, dst(c.width, c.height, c.pad, !c.flip);
  std::fill(dst.buf.begin(), dst.buf.end(), 0xA5A5A5A5u);
  TestFrame& out = c.inPlace ? src : dst;
  RandSetState(c.randState);
  FrameReport report{.carried = -1};
  map(settings, src.CView(), out.View(), c.frame, &report);
  return {out.buf, RandState(), report.carried};
}

TEST(Differential, RandomProgramsMatchTheReference) {
  long cases = EnvOr("VEXLOR_DIFF_CASES", kDefaultCases);
  uint32_t seed = static_cast<uint32_t>(EnvOr("VEXLOR_DIFF_SEED", 20240601));
  ProgramMaker pm(seed);
  int failures = 0, runs = 0, fails = 0, carrying = 0;
  for (long i = 0; i < cases && failures < 5; ++i) {
    Case c = MakeCase(pm);
    TestFrame source(c.width, c.height, c.pad, c.flip);
    // Unique colours, or a few repeated ones (which the memo finds again).
    bool repeated = pm.Chance(40);
    for (uint32_t& p : source.buf)
      p = pm.Chance(10) ? 0x00FFFFFFu * pm.Pick(2) : repeated ? 0x01030507u * pm.Pick(5) : pm.Next();
    Outcome want = RunCase(c, source, MapFrameReference);
    Outcome got = RunCase(c, source, [&](auto& s, auto in, auto out, int32_t f, FrameReport* r) {
      MapFrameWith(s, in, out, f, c.options, r);
    });
    FramePlan::Status status = FramePlan(SettingsOf(c), c.frame).status();
    runs += status == FramePlan::Status::kRuns;
    fails += status == FramePlan::Status::kFails;
    carrying += want.carried > 0;
    if (got.dst != want.dst || got.randState != want.randState || got.carried != want.carried) {
      ++failures;
      ADD_FAILURE() << "case " << i << " of seed " << seed << ": " << Describe(c)
                    << (got.randState != want.randState ? " (generator differs)" : "")
                    << " carried " << got.carried << ", the reference " << want.carried;
    }
  }
  // The generator must keep producing both kinds of program.
  if (cases >= 100) {
    EXPECT_GT(runs, cases / 2);
    EXPECT_GT(fails, cases / 10);
    EXPECT_GT(carrying, cases / 10);
  }
  EXPECT_EQ(runs + fails, std::min<long>(cases, runs + fails)) << "untranslated programs";
}

// Sequences of frames through one mapper, which keeps its plan and its memo
// from frame to frame: programs with and without fr, with and without
// rand(), frames of few colours and of unique ones, edited in place or not,
// on any number of threads; a program change in the middle starts afresh.
TEST(Differential, FrameSequencesThroughOneMapperMatchTheReference) {
  const char* const kPrograms[] = {
      "rd=sin(rs+gs+bs);gd=cos(rs*gs*bs);bd=exp(rs-gs-bs);",
      "y=(0.299*rs+0.587*gs+0.114*bs)^0.45;rd=y;gd=y;bd=y;",
      "rd=sin(rs*gs+bs*fr/7);gd=if(fr>3,gs,bs);bd=rs+gs*bs;",
      "m=max(rs,gs,bs);n=min(rs,gs,bs);rd=if(m==n,0,(m-n)/m);gd=sqrt(m*n);bd=log(m+1)*fr;",
      "n=rand();rd=sin(rs+gs+bs)+n*0;gd=gs;bd=bs;",
      "x=rand()*0;rd=tan(rs-gs*bs);gd=rs;bd=1;",
  };
  ProgramMaker pm(77);
  int differences = 0;
  for (int round = 0; round < 24 && differences < 5; ++round) {
    FrameMapper mapper(round % 2 == 0);
    FrameOptions options;
    options.threads = 1 + round % 4;
    options.minPixelsPerThread = 1;
    options.blockPixels = round % 3 == 0 ? 256 : 1 + pm.Pick(40);
    options.memo = round % 3 == 2 ? MemoUse::kAuto : MemoUse::kAlways;
    int width = 20 + pm.Pick(50), height = 10 + pm.Pick(30);
    bool few = round % 2 == 1;
    const char* first = kPrograms[round % 6];
    const char* second = kPrograms[(round + 1) % 6];
    for (int f = 0; f < 6; ++f) {
      Case c;
      c.text = f < 4 ? first : second;
      c.clamp = round % 4 == 0;
      c.frame = f % 3 == 2 ? 5 : f;  // a frame number met again
      c.width = width;
      c.height = height;
      c.pad = f % 2;
      c.flip = f == 1;
      c.inPlace = f == 3;
      c.options = options;
      c.randState = pm.Next();
      TestFrame source(c.width, c.height, c.pad, c.flip);
      for (uint32_t& p : source.buf) p = few ? 0x00050301u * pm.Pick(7) + 0x200000u * f : pm.Next();
      Outcome want = RunCase(c, source, MapFrameReference);
      Outcome got = RunCase(c, source, [&](auto& s, auto in, auto out, int32_t f, FrameReport* r) {
        mapper.Map(s, in, out, f, options, r);
      });
      if (got.dst != want.dst || got.randState != want.randState || got.carried != want.carried) {
        ++differences;
        ADD_FAILURE() << "round " << round << " frame " << f << ": " << Describe(c);
      }
      // Few colours are found again.
      bool memoized = std::strstr(c.text.c_str(), "fr") == nullptr &&
                      std::strstr(c.text.c_str(), "rand") == nullptr;
      if (few && options.memo == MemoUse::kAlways && memoized) {
        EXPECT_GT(mapper.lastStats().hits, mapper.lastStats().lookups * 9 / 10) << c.text;
      }
    }
  }
}

}  // namespace
}  // namespace vexlor
