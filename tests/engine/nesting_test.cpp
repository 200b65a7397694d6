// Deep nesting: the compiler recurses once per parenthesis, argument and
// right-hand side. Every program the settings field holds must compile as any
// other, and the nesting bound, beyond the field's reach, keeps longer texts
// given to the engine from exhausting the stack. These tests measure the
// stack a level costs, and compile the deepest programs of the field, and far
// deeper texts, on a thread with a small stack, as the host's workers may have.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "engine/engine.h"
#include "pixel/pixel.h"

namespace vexlor {
namespace {

// The smallest stack the module is assumed to run on: Windows threads may be
// created with 1 MiB or less, and a host may start its workers smaller.
constexpr size_t kSmallestStack = 256 * 1024;

// Sanitizers and unoptimised builds spend several times the stack per call:
// the budget holds for the optimised builds the module and the tool ship as.
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__)
constexpr bool kLeanBuild = true;
#else
constexpr bool kLeanBuild = false;
#endif
constexpr size_t kTestStack = kLeanBuild ? kSmallestStack : 4 * kSmallestStack;

// ---- Running on a thread with a given stack --------------------------------

struct ThreadCall {
  void (*fn)(void*);
  void* arg;
};

#ifdef _WIN32
DWORD WINAPI ThreadMain(LPVOID p) {
  auto* call = static_cast<ThreadCall*>(p);
  call->fn(call->arg);
  return 0;
}

// Runs fn(arg) to completion on a new thread that reserves `bytes` of stack.
bool RunOnThread(size_t bytes, void (*fn)(void*), void* arg) {
  ThreadCall call{fn, arg};
  HANDLE thread = CreateThread(nullptr, bytes, ThreadMain, &call,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (!thread) return false;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return true;
}
#else
void* ThreadMain(void* p) {
  auto* call = static_cast<ThreadCall*>(p);
  call->fn(call->arg);
  return nullptr;
}

// Runs fn(arg) to completion on a new thread with a stack of `bytes`.
bool RunOnThread(size_t bytes, void (*fn)(void*), void* arg) {
  ThreadCall call{fn, arg};
  pthread_attr_t attr;
  pthread_t thread;
  bool ok = pthread_attr_init(&attr) == 0 && pthread_attr_setstacksize(&attr, bytes) == 0 &&
            pthread_create(&thread, &attr, ThreadMain, &call) == 0;
  pthread_attr_destroy(&attr);
  return ok && pthread_join(thread, nullptr) == 0;
}
#endif

// ---- Measuring the stack a call uses ---------------------------------------

// The stack is painted with this byte below the measuring frame; the deepest
// byte that no longer holds it is how far the measured call reached.
constexpr unsigned char kPaint = 0xA5;
constexpr size_t kPaintBytes = 768 * 1024;

// Fills kPaintBytes of stack below the caller and gives the lowest address.
[[gnu::noinline]] [[gnu::no_sanitize_address]] void PaintStack(uintptr_t* lowest) {
  volatile unsigned char area[kPaintBytes];
  for (size_t i = 0; i < kPaintBytes; ++i) area[i] = kPaint;
  *lowest = reinterpret_cast<uintptr_t>(&area[0]);
}

// The lowest address from `from` up that lost its paint.
[[gnu::noinline]] [[gnu::no_sanitize_address]] uintptr_t DeepestWrite(uintptr_t from,
                                                                       uintptr_t to) {
  auto* p = reinterpret_cast<volatile unsigned char*>(from);
  while (reinterpret_cast<uintptr_t>(p) < to && *p == kPaint) ++p;
  return reinterpret_cast<uintptr_t>(p);
}

// Stack bytes used below this frame by CompileExpression(text), or by
// RunStatements when `statements` is set.
[[gnu::noinline]] size_t StackUsedToCompile(const std::string& text, bool statements) {
  // A first run outside the measurement, so that no symbol the dynamic
  // linker resolves on a first call counts.
  CompileExpression(text);
  volatile char marker = 0;
  uintptr_t top = reinterpret_cast<uintptr_t>(&marker);
  uintptr_t lowest = 0;
  PaintStack(&lowest);
  if (statements) {
    float rd, gd, bd;
    RunStatements(text, 0.5f, 0.5f, 0.5f, 0, rd, gd, bd);
  } else {
    CompileExpression(text);
  }
  return top - DeepestWrite(lowest, top);
}

// ---- Nested expressions ----------------------------------------------------

// The stack the deepest statement of the settings field may take in an
// optimised build: half of the smallest stack, the rest is the host's. On
// 64-bit Windows every call also reserves 32 bytes of shadow space and saves
// the callee-saved xmm registers it uses, which nearly doubles the stack a
// level takes (measured: 171 KB where x86-64 Linux takes 93 KB): there three
// quarters, still leaving the host 64 KiB of the smallest stack.
#if defined(_WIN64)
constexpr size_t kFieldBudget = 192 * 1024;
#else
constexpr size_t kFieldBudget = 128 * 1024;
#endif

// Ways to nest one level deeper; each recurses through different rules.
// Only bare parentheses cost no instruction, so only they can nest through a
// whole field in a program that compiles; calls also take places on the
// 100-entry pending-call stack, which stops them first.
struct Shape {
  const char* name;
  const char* open;
  const char* close;
  EngineError closedCode;  // what the deepest closed nesting of the field compiles to
  EngineError openCode;    // and the deepest one left open at the field's end
  bool call;
};
constexpr Shape kShapes[] = {
    {"parentheses", "(", ")", ERR_NONE, ERR_RPAREN_EXPECTED, false},
    {"negated parentheses", "-(", ")", ERR_OUT_OF_MEMORY, ERR_OUT_OF_MEMORY, false},
    {"operands in parentheses", "1+2*(", ")", ERR_OUT_OF_MEMORY, ERR_OUT_OF_MEMORY, false},
    {"every level's operator", "1|1&1==1<1+1*1^(", ")", ERR_OUT_OF_MEMORY, ERR_OUT_OF_MEMORY,
     false},
    {"function calls", "sqrt(", ")", ERR_OUT_OF_MEMORY, ERR_RPAREN_EXPECTED, true},
    {"list arguments", "max(1,", ")", ERR_INVALID_EXPRESSION, ERR_INVALID_EXPRESSION, true},
};

// An expression whose nesting depth is `depth`: the outermost level counts.
std::string Nest(const Shape& shape, int depth, bool closed = true) {
  std::string text;
  for (int i = 1; i < depth; ++i) text += shape.open;
  text += "1";
  if (closed)
    for (int i = 1; i < depth; ++i) text += shape.close;
  return text;
}

// The statement "rd=...;" of this shape nested as deeply as the settings
// field holds: closed, or cut off at the field's end.
std::string DeepestStatement(const Shape& shape, bool closed) {
  size_t per = std::string(shape.open).size() + (closed ? 1 : 0);
  int depth = int((kMaxTextLength - 5) / per) + 1;
  std::string text = "rd=" + Nest(shape, depth, closed) + ";";
  EXPECT_LE(text.size(), size_t(kMaxTextLength)) << shape.name;
  return text;
}

// What a thread reports back: tests assert on the main thread.
struct Depths {
  const Shape* shape;
  EngineError closed, open, atBound, pastBound, farPast, hugeProgram;
  int pastBoundOffset;
};

// Runs the deepest programs of the field, and compiles texts at, one past
// and far past the bound.
void CompileDeep(void* p) {
  auto* d = static_cast<Depths*>(p);
  float rd, gd, bd;
  RunStatements(DeepestStatement(*d->shape, true), 0.5f, 0.5f, 0.5f, 0, rd, gd, bd);
  d->closed = LastError();
  RunStatements(DeepestStatement(*d->shape, false), 0.5f, 0.5f, 0.5f, 0, rd, gd, bd);
  d->open = LastError();
  d->atBound = CompileExpression(Nest(*d->shape, kMaxNesting));
  d->pastBound = CompileExpression(Nest(*d->shape, kMaxNesting + 1));
  d->pastBoundOffset = LastErrorOffset();
  d->farPast = CompileExpression(Nest(*d->shape, 200000));
  RunStatements("gd=1;rd=" + Nest(*d->shape, 100000) + ";", 0.5f, 0.5f, 0.5f, 0, rd, gd, bd);
  d->hugeProgram = LastError();
}

TEST(Nesting, DeepestProgramsCompileOnASmallStack) {
  for (const Shape& shape : kShapes) {
    SCOPED_TRACE(shape.name);
    Depths d{&shape, ERR_NONE, ERR_NONE, ERR_NONE, ERR_NONE, ERR_NONE, ERR_NONE, -1};
    ASSERT_TRUE(RunOnThread(kTestStack, CompileDeep, &d));
    // Within the field the bound never speaks: what stops these is their
    // own fault (too many instructions or calls, or the missing ')').
    EXPECT_EQ(d.closed, shape.closedCode);
    EXPECT_EQ(d.open, shape.openCode);
    if (shape.call) {
      for (EngineError e : {d.pastBound, d.farPast, d.hugeProgram}) EXPECT_NE(e, ERR_NONE);
      continue;
    }
    if (&shape == &kShapes[0]) {
      // Bare parentheses reach the bound, one level a parenthesis; the
      // code and place where it stopped the compilation stand.
      EXPECT_EQ(d.atBound, ERR_NONE);
      EXPECT_EQ(d.pastBound, ERR_OUT_OF_MEMORY);
      EXPECT_EQ(d.pastBoundOffset, kMaxNesting);
    }
    EXPECT_EQ(d.farPast, ERR_OUT_OF_MEMORY);
    EXPECT_EQ(d.hugeProgram, ERR_OUT_OF_MEMORY);
  }
}

struct Measurement {
  const Shape* shape;
  size_t shallow, deep, closed, open;
};

// Depths that every shape reaches: below the pending-call stack's 100.
constexpr int kShallow = 16, kDeep = 96;

// Shallow and deep compilations, and whole runs of the deepest statements.
void Measure(void* p) {
  auto* m = static_cast<Measurement*>(p);
  m->shallow = StackUsedToCompile(Nest(*m->shape, kShallow), false);
  m->deep = StackUsedToCompile(Nest(*m->shape, kDeep), false);
  m->closed = StackUsedToCompile(DeepestStatement(*m->shape, true), true);
  m->open = StackUsedToCompile(DeepestStatement(*m->shape, false), true);
}

// The stack a nesting level costs, per way of nesting, and what the deepest
// statements of the field need as a whole. Printed for the record; in an
// optimised build the deepest statement must leave most of the smallest
// stack to the host.
TEST(Nesting, StackPerLevelFitsTheSmallestStack) {
  size_t worst = 0;
  for (const Shape& shape : kShapes) {
    Measurement m{&shape, 0, 0, 0, 0};
    ASSERT_TRUE(RunOnThread(4 * kPaintBytes, Measure, &m));
    ASSERT_GT(m.deep, m.shallow) << shape.name;
    double perLevel = double(m.deep - m.shallow) / (kDeep - kShallow);
    std::printf("%-24s %6.1f bytes a level; deepest statement %zu bytes closed, %zu open\n",
                shape.name, perLevel, m.closed, m.open);
    worst = std::max({worst, m.closed, m.open});
  }
  std::printf("deepest statement of the field: %zu bytes\n", worst);
  RecordProperty("deepest_statement_stack_bytes", std::to_string(worst));
  if (kLeanBuild) {
    EXPECT_LE(worst, kFieldBudget);
  }
}

}  // namespace
}  // namespace vexlor
