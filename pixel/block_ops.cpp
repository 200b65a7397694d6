// Array loops of the fast frame path. The loops are plain element-wise code so
// that the compiler vectorises what the target allows; no loop reorders or
// fuses floating-point operations (the build forbids contraction).
#include "pixel/block_ops.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

double Truth(bool b) { return b ? 1.0 : 0.0; }

void RunBinary(const Kernel& k, double* out, const double* a, const double* b, int n) {
  switch (k.op) {
    case BlockOp::kAdd: return Map2(out, a, b, n, [](double l, double r) { return l + r; });
    case BlockOp::kSub: return Map2(out, a, b, n, [](double l, double r) { return l - r; });
    case BlockOp::kMul: return Map2(out, a, b, n, [](double l, double r) { return l * r; });
    // Division by either zero gives +infinity, 0/0 included.
    case BlockOp::kDiv:
      return Map2(out, a, b, n, [](double l, double r) { return r == 0 ? HUGE_VAL : l / r; });
    case BlockOp::kEq: return Map2(out, a, b, n, [](double l, double r) { return Truth(l == r); });
    case BlockOp::kNe: return Map2(out, a, b, n, [](double l, double r) { return Truth(l != r); });
    case BlockOp::kLt: return Map2(out, a, b, n, [](double l, double r) { return Truth(l < r); });
    case BlockOp::kLe: return Map2(out, a, b, n, [](double l, double r) { return Truth(l <= r); });
    case BlockOp::kGt: return Map2(out, a, b, n, [](double l, double r) { return Truth(l > r); });
    case BlockOp::kGe: return Map2(out, a, b, n, [](double l, double r) { return Truth(l >= r); });
    default: {
      BinaryHandler h = k.binary;
      return Map2(out, a, b, n, [h](double l, double r) { return h(l, r); });
    }
  }
}

void RunUnary(const Kernel& k, double* out, const double* a, int n) {
  switch (k.op) {
    case BlockOp::kNeg: return Map1(out, a, n, [](double x) { return -x; });
    case BlockOp::kSqr: return Map1(out, a, n, [](double x) { return x * x; });
    case BlockOp::kScale: {
      double f = k.factor;
      return Map1(out, a, n, [f](double x) { return x * f; });
    }
    case BlockOp::kSqrt: return Map1(out, a, n, [](double x) { return std::sqrt(x); });
    case BlockOp::kAbs: return Map1(out, a, n, [](double x) { return std::fabs(x); });
    case BlockOp::kFloor: return Map1(out, a, n, [](double x) { return std::floor(x); });
    case BlockOp::kCeil: return Map1(out, a, n, [](double x) { return std::ceil(x); });
    case BlockOp::kNot: return Map1(out, a, n, [](double x) { return Truth(x == 0); });
    default: {
      UnaryHandler h = k.unary;
      return Map1(out, a, n, [h](double x) { return h(x); });
    }
  }
}

// if(c, a, b) with every argument already evaluated; a NaN condition is true.
void RunIf(double* __restrict out, const double* const* args, int n) {
  const double* __restrict c = args[0];
  const double* __restrict a = args[1];
  const double* __restrict b = args[2];
  for (int i = 0; i < n; ++i) {
    double x = a[i], y = b[i];  // loaded either way, so the select needs no branch
    out[i] = c[i] != 0 ? x : y;
  }
}

void RunList(const Kernel& k, double* out, const double* const* args, int n) {
  switch (k.op) {
    case BlockOp::kIf: return RunIf(out, args, n);
    case BlockOp::kMax:
      return Fold(out, args, k.argc, n, [](double r, double a) { return r < a ? a : r; });
    case BlockOp::kMin:
      return Fold(out, args, k.argc, n, [](double r, double a) { return r > a ? a : r; });
    default: {
      Fold(out, args, k.argc, n, [](double r, double a) { return r + a; });
      if (k.op == BlockOp::kMed) {
        double count = k.argc;
        for (int i = 0; i < n; ++i) out[i] = out[i] / count;
      }
    }
  }
}

// ToInt32 for the values that fit 32 bits, which a plain truncation converts.
bool FitsInt32(double d) { return d > -2147483649.0 && d < 2147483648.0; }

struct NamedOp {
  const char* name;
  BlockOp op;
};

// Rows of the engine's tables whose results the block loops compute inline;
// the handlers of the other rows are called.
constexpr NamedOp kInlineUnary[] = {
    {"abs", BlockOp::kAbs},     {"sqr", BlockOp::kSqr},   {"sqrt", BlockOp::kSqrt},
    {"floor", BlockOp::kFloor}, {"ceil", BlockOp::kCeil}, {"not", BlockOp::kNot},
    {"deg", BlockOp::kScale},   {"rad", BlockOp::kScale},
};
constexpr NamedOp kInlineBinary[] = {
    {"+", BlockOp::kAdd}, {"-", BlockOp::kSub},  {"*", BlockOp::kMul},  {"/", BlockOp::kDiv},
    {"==", BlockOp::kEq}, {"!=", BlockOp::kNe},  {"<", BlockOp::kLt},   {"<=", BlockOp::kLe},
    {">", BlockOp::kGt},  {">=", BlockOp::kGe},
};
// The list functions read the engine's single value stack, so every one of
// them has its own loop.
constexpr NamedOp kListOps[] = {
    {"max", BlockOp::kMax}, {"min", BlockOp::kMin}, {"sum", BlockOp::kSum},
    {"med", BlockOp::kMed}, {"if", BlockOp::kIf},   {"rand", BlockOp::kRand},
};

template <size_t N>
BlockOp FindOp(const NamedOp (&table)[N], const char* name, BlockOp otherwise) {
  for (const NamedOp& row : table)
    if (std::strcmp(row.name, name) == 0) return row.op;
  return otherwise;
}

}  // namespace

bool KernelOf(const Instruction& in, Kernel& k) {
  k = Kernel{BlockOp::kUnary, 1, 0.0, nullptr, nullptr};
  if (in.kind == OP_CALL_UNARY) {
    k.unary = in.operand.unary;
    if (k.unary == Negate) {
      k.op = BlockOp::kNeg;
      return true;
    }
    for (int i = 0; i < kUnaryFunctionCount; ++i)
      if (kUnaryFunctions[i].handler == k.unary) {
        k.op = FindOp(kInlineUnary, kUnaryFunctions[i].name, BlockOp::kUnary);
        // deg and rad multiply by a literal, which their handler returns for 1.
        if (k.op == BlockOp::kScale) k.factor = k.unary(1.0);
        return true;
      }
  } else if (in.kind == OP_CALL_BINARY) {
    k.argc = 2;
    k.op = BlockOp::kBinary;
    k.binary = in.operand.binary;
    for (int i = 0; i < kBinaryOperatorCount; ++i)
      if (kBinaryOperators[i].handler == k.binary) {
        k.op = FindOp(kInlineBinary, kBinaryOperators[i].name, BlockOp::kBinary);
        return true;
      }
  } else if (in.kind == OP_CALL_LIST) {
    k.argc = in.count;
    for (int i = 0; i < kListFunctionCount; ++i)
      if (kListFunctions[i].handler == in.operand.list) {
        k.op = FindOp(kListOps, kListFunctions[i].name, BlockOp::kUnary);
        return k.op != BlockOp::kUnary;
      }
  }
  return false;
}

void RunKernel(const Kernel& k, double* out, const double* const* args, int n) {
  if (k.op >= BlockOp::kIf) return RunList(k, out, args, n);
  if (k.argc == 2) return RunBinary(k, out, args[0], args[1], n);
  RunUnary(k, out, args[0], n);
}

uint32_t ChannelTerm(double v, bool clamp, int shift) {
  int32_t c = ToInt32(static_cast<double>(static_cast<float>(v)) * 256.0);
  if (clamp) c = std::clamp(c, 0, 255);
  return static_cast<uint32_t>(c) << shift;
}

// The loop over all values converts those within the 32-bit range by a plain
// truncation, without branches, so that the compiler can vectorise it; the
// rare others, which the loop counts as 0, then go through ChannelTerm.
template <bool kClamp>
void AddTerms(uint32_t* __restrict out, const double* __restrict v, int n, int shift) {
  int rare = 0;  // a count: the vectoriser takes no reduction of bools
  for (int i = 0; i < n; ++i) {
    double d = static_cast<double>(static_cast<float>(v[i])) * 256.0;
    bool fits = FitsInt32(d);
    rare += fits ? 0 : 1;
    if (!fits) d = 0.0;
    // Limiting before the truncation gives the same as after it.
    if (kClamp) d = d < 0.0 ? 0.0 : d > 255.0 ? 255.0 : d;
    out[i] += static_cast<uint32_t>(static_cast<int32_t>(d)) << shift;
  }
  if (rare == 0) return;
  for (int i = 0; i < n; ++i)
    if (!FitsInt32(static_cast<double>(static_cast<float>(v[i])) * 256.0))
      out[i] += ChannelTerm(v[i], kClamp, shift);
}

void AddChannelTerms(uint32_t* out, const double* v, int n, bool clamp, int shift) {
  if (clamp) return AddTerms<true>(out, v, n, shift);
  AddTerms<false>(out, v, n, shift);
}

}  // namespace vexlor
