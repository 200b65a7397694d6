// Array loops of the fast frame path. The loops are plain element-wise code so
// that the compiler vectorises what the target allows; no loop reorders or
// fuses floating-point operations (the build forbids contraction).
#include "pixel/block_ops.h"

#include "engine/ops.h"
#include "pixel/pixel.h"

#include <algorithm>
#include <cmath>

namespace vexlor {

namespace {

template <typename F>
void Map1(double* __restrict out, const double* __restrict a, int n, F f) {
  for (int i = 0; i < n; ++i) out[i] = f(a[i]);
}

template <typename F>
void Map2(double* __restrict out, const double* __restrict a, const double* __restrict b, int n,
          F f) {
  for (int i = 0; i < n; ++i) out[i] = f(a[i], b[i]);
}

// The list functions walk from the last argument toward the first, like the
// engine's handlers: out starts as the last argument and takes in the others.
template <typename F>
void Fold(double* __restrict out, const double* const* args, int argc, int n, F f) {
  if (argc == 1) return static_cast<void>(std::copy(args[0], args[0] + n, out));
  Map2(out, args[argc - 1], args[argc - 2], n, f);
  for (int j = argc - 3; j >= 0; --j) {
    const double* __restrict a = args[j];
    for (int i = 0; i < n; ++i) out[i] = f(out[i], a[i]);
  }
}

void RunBinary(const Kernel& k, double* out, const double* a, const double* b, int n) {
  switch (k.op) {
    case BlockOp::kAdd: return Map2(out, a, b, n, op::Add);
    case BlockOp::kSub: return Map2(out, a, b, n, op::Sub);
    case BlockOp::kMul: return Map2(out, a, b, n, op::Mul);
    case BlockOp::kDiv: return Map2(out, a, b, n, op::Div);
    case BlockOp::kEq: return Map2(out, a, b, n, op::Eq);
    case BlockOp::kNe: return Map2(out, a, b, n, op::Ne);
    case BlockOp::kLt: return Map2(out, a, b, n, op::Lt);
    case BlockOp::kLe: return Map2(out, a, b, n, op::Le);
    case BlockOp::kGt: return Map2(out, a, b, n, op::Gt);
    case BlockOp::kGe: return Map2(out, a, b, n, op::Ge);
    default: {
      BinaryHandler h = k.binary;
      return Map2(out, a, b, n, [h](double l, double r) { return h(l, r); });
    }
  }
}

void RunUnary(const Kernel& k, double* out, const double* a, int n) {
  switch (k.op) {
    case BlockOp::kNeg: return Map1(out, a, n, op::Negate);
    case BlockOp::kSqr: return Map1(out, a, n, op::Sqr);
    case BlockOp::kScale: {
      double f = k.factor;
      return Map1(out, a, n, [f](double x) { return x * f; });
    }
    case BlockOp::kSqrt: return Map1(out, a, n, [](double x) { return std::sqrt(x); });
    case BlockOp::kAbs: return Map1(out, a, n, [](double x) { return std::fabs(x); });
    case BlockOp::kFloor: return Map1(out, a, n, [](double x) { return std::floor(x); });
    case BlockOp::kCeil: return Map1(out, a, n, [](double x) { return std::ceil(x); });
    case BlockOp::kNot: return Map1(out, a, n, op::Not);
    default: {
      UnaryHandler h = k.unary;
      return Map1(out, a, n, [h](double x) { return h(x); });
    }
  }
}

// if(c, a, b) with every argument already evaluated.
void RunIf(double* __restrict out, const double* const* args, int n) {
  const double* __restrict c = args[0];
  const double* __restrict a = args[1];
  const double* __restrict b = args[2];
  for (int i = 0; i < n; ++i) {
    double x = a[i], y = b[i];  // loaded either way, so the select needs no branch
    out[i] = op::Select(c[i], x, y);
  }
}

void RunList(const Kernel& k, double* out, const double* const* args, int n) {
  switch (k.op) {
    case BlockOp::kIf: return RunIf(out, args, n);
    case BlockOp::kMax: return Fold(out, args, k.argc, n, op::MaxStep);
    case BlockOp::kMin: return Fold(out, args, k.argc, n, op::MinStep);
    default: {
      Fold(out, args, k.argc, n, op::SumStep);
      if (k.op == BlockOp::kMed)
        for (int i = 0; i < n; ++i) out[i] = op::Mean(out[i], k.argc);
    }
  }
}

// ToInt32 for the values that fit 32 bits, which a plain truncation converts.
bool FitsInt32(double d) { return d > -2147483649.0 && d < 2147483648.0; }

// The array operation of each row of the engine's tables, by the row's
// identifier, with the fixed parameters the identifier gives: deg and rad are
// products by their named factors. The switch names every identifier and has
// no default, so that a row added to the tables must be placed here; false
// for rand(), which is no array operation.
bool KernelFor(Fn id, Kernel& k) {
  switch (id) {
    case Fn::kNegate: k.op = BlockOp::kNeg; return true;
    case Fn::kAbs: k.op = BlockOp::kAbs; return true;
    case Fn::kSqr: k.op = BlockOp::kSqr; return true;
    case Fn::kSqrt: k.op = BlockOp::kSqrt; return true;
    case Fn::kFloor: k.op = BlockOp::kFloor; return true;
    case Fn::kCeil: k.op = BlockOp::kCeil; return true;
    case Fn::kNot: k.op = BlockOp::kNot; return true;
    case Fn::kDeg: k.op = BlockOp::kScale; k.factor = op::kDegreesPerRadian; return true;
    case Fn::kRad: k.op = BlockOp::kScale; k.factor = op::kRadiansPerDegree; return true;
    case Fn::kAcos: case Fn::kAsin: case Fn::kAtan: case Fn::kCos: case Fn::kCosh:
    case Fn::kExp: case Fn::kFac: case Fn::kLog: case Fn::kLog10: case Fn::kRound:
    case Fn::kSin: case Fn::kSinh: case Fn::kTan: case Fn::kTanh: case Fn::kTrunc:
      k.op = BlockOp::kUnary;
      return true;
    case Fn::kAdd: k.op = BlockOp::kAdd; return true;
    case Fn::kSub: k.op = BlockOp::kSub; return true;
    case Fn::kMul: k.op = BlockOp::kMul; return true;
    case Fn::kDiv: k.op = BlockOp::kDiv; return true;
    case Fn::kEq: k.op = BlockOp::kEq; return true;
    case Fn::kNe: k.op = BlockOp::kNe; return true;
    case Fn::kLt: k.op = BlockOp::kLt; return true;
    case Fn::kLe: k.op = BlockOp::kLe; return true;
    case Fn::kGt: k.op = BlockOp::kGt; return true;
    case Fn::kGe: k.op = BlockOp::kGe; return true;
    case Fn::kOr: case Fn::kXor: case Fn::kAnd: case Fn::kMod: case Fn::kPow:
      k.op = BlockOp::kBinary;
      return true;
    // The list functions read the engine's single value stack, so every one
    // of them has its own loop.
    case Fn::kMax: k.op = BlockOp::kMax; return true;
    case Fn::kMin: k.op = BlockOp::kMin; return true;
    case Fn::kSum: k.op = BlockOp::kSum; return true;
    case Fn::kMed: k.op = BlockOp::kMed; return true;
    case Fn::kIf: k.op = BlockOp::kIf; return true;
    case Fn::kRand: return false;
  }
  return false;
}

}  // namespace

bool IsRandCall(const Instruction& in) {
  const ListFunctionRow* row = in.kind == OP_CALL_LIST ? ListRowOf(in.operand.list) : nullptr;
  return row && row->id == Fn::kRand;
}

bool KernelOf(const Instruction& in, Kernel& k) {
  k = Kernel{.op = BlockOp::kUnary, .argc = 1};
  if (in.kind == OP_CALL_UNARY) {
    const UnaryFunctionRow* row = UnaryRowOf(in.operand.unary);
    k.unary = in.operand.unary;
    return row && KernelFor(row->id, k);
  }
  if (in.kind == OP_CALL_BINARY) {
    const BinaryOperatorRow* row = BinaryRowOf(in.operand.binary);
    k.argc = 2;
    k.binary = in.operand.binary;
    return row && KernelFor(row->id, k);
  }
  if (in.kind == OP_CALL_LIST) {
    const ListFunctionRow* row = ListRowOf(in.operand.list);
    k.argc = in.count;
    return row && KernelFor(row->id, k);
  }
  return false;
}

void RunKernel(const Kernel& k, double* out, const double* const* args, int n) {
  switch (k.op) {
    case BlockOp::kIf: case BlockOp::kMax: case BlockOp::kMin: case BlockOp::kSum:
    case BlockOp::kMed:
      return RunList(k, out, args, n);
    case BlockOp::kAdd: case BlockOp::kSub: case BlockOp::kMul: case BlockOp::kDiv:
    case BlockOp::kEq: case BlockOp::kNe: case BlockOp::kLt: case BlockOp::kLe:
    case BlockOp::kGt: case BlockOp::kGe: case BlockOp::kBinary:
      return RunBinary(k, out, args[0], args[1], n);
    case BlockOp::kNeg: case BlockOp::kSqr: case BlockOp::kScale: case BlockOp::kSqrt:
    case BlockOp::kAbs: case BlockOp::kFloor: case BlockOp::kCeil: case BlockOp::kNot:
    case BlockOp::kUnary:
      return RunUnary(k, out, args[0], n);
  }
}

// The loop over all values converts those within the 32-bit range by a plain
// truncation, without branches, so that the compiler can vectorise it; the
// rare others, which the loop counts as 0, then go through ChannelTerm.
// Inlined into AddChannelTerms, whose single body the compiler schedules
// better than a call per clamp mode.
template <bool kClamp, CodeUse kUse>
[[gnu::always_inline]] inline uint32_t AddTerms(uint32_t* __restrict out,
                                                const double* __restrict v, int n, int shift,
                                                uint32_t* __restrict codes) {
  // kAny takes only the values whose codes are in 0..255 as fitting: the
  // others, which the rare loop handles, are the ones that carry, so that a
  // block without a carry costs no more than without kAny.
  auto fit = [](double d) { return kUse == CodeUse::kAny ? d > -1.0 && d < 256.0 : FitsInt32(d); };
  int rare = 0;  // a count: the vectoriser takes no reduction of bools
  uint32_t carried = 0;
  for (int i = 0; i < n; ++i) {
    double d = static_cast<double>(static_cast<float>(v[i])) * 256.0;
    bool fits = fit(d);
    rare += fits ? 0 : 1;
    if (!fits) d = 0.0;
    // Limiting before the truncation gives the same as after it.
    if (kClamp) d = d < 0.0 ? 0.0 : d > 255.0 ? 255.0 : d;
    uint32_t c = static_cast<uint32_t>(static_cast<int32_t>(d));
    out[i] += c << shift;
    if (kUse == CodeUse::kStore) codes[i] = c;
    if (kUse == CodeUse::kOr) codes[i] |= c;
    if (kUse == CodeUse::kCount) carried += (c >> 8) != 0 ? 1 : 0;
    if (kUse == CodeUse::kOrCount) carried += ((codes[i] | c) >> 8) != 0 ? 1 : 0;
  }
  if (rare == 0) return carried;
  // The loop took a rare value's code as 0; its own code may change the count.
  for (int i = 0; i < n; ++i)
    if (!fit(static_cast<double>(static_cast<float>(v[i])) * 256.0)) {
      out[i] += ChannelTerm(v[i], kClamp, shift);
      uint32_t c = static_cast<uint32_t>(ChannelCode(v[i]));
      if (kUse == CodeUse::kStore || kUse == CodeUse::kOr) codes[i] |= c;
      if (kUse == CodeUse::kCount) carried += c > 255u;
      if (kUse == CodeUse::kOrCount) carried += (codes[i] | c) > 255u && codes[i] <= 255u;
      if (kUse == CodeUse::kAny) carried |= c;
    }
  return carried;
}

uint32_t AddChannelTerms(uint32_t* out, const double* v, int n, bool clamp, int shift,
                         uint32_t* codes, CodeUse use) {
  if (clamp) return AddTerms<true, CodeUse::kNone>(out, v, n, shift, nullptr);
  switch (use) {
    case CodeUse::kNone: return AddTerms<false, CodeUse::kNone>(out, v, n, shift, nullptr);
    case CodeUse::kStore: return AddTerms<false, CodeUse::kStore>(out, v, n, shift, codes);
    case CodeUse::kOr: return AddTerms<false, CodeUse::kOr>(out, v, n, shift, codes);
    case CodeUse::kCount: return AddTerms<false, CodeUse::kCount>(out, v, n, shift, codes);
    case CodeUse::kOrCount: return AddTerms<false, CodeUse::kOrCount>(out, v, n, shift, codes);
    case CodeUse::kAny: return AddTerms<false, CodeUse::kAny>(out, v, n, shift, nullptr);
  }
  return 0;
}

// The values within the 32-bit range by truncation, the rare others after.
void OrChannelCodes(uint32_t* __restrict codes, const double* __restrict v, int n) {
  int rare = 0;
  for (int i = 0; i < n; ++i) {
    double d = static_cast<double>(static_cast<float>(v[i])) * 256.0;
    bool fits = FitsInt32(d);
    rare += fits ? 0 : 1;
    codes[i] |= static_cast<uint32_t>(static_cast<int32_t>(fits ? d : 0.0));
  }
  if (rare == 0) return;
  for (int i = 0; i < n; ++i)
    if (!FitsInt32(static_cast<double>(static_cast<float>(v[i])) * 256.0))
      codes[i] |= static_cast<uint32_t>(ChannelCode(v[i]));
}

}  // namespace vexlor
