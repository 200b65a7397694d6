// Built-in functions and operators of the expression language. Every handler
// takes and returns doubles; library functions are the C library's own, and
// the arithmetic of the others is engine/ops.h's.
#include <cmath>

#include "engine/ops.h"
#include "state.h"

namespace vexlor {

int32_t ToInt32(double x) {
  // The 64-bit range is [-2^63, 2^63); NaN fails both comparisons.
  if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0)) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(x))));
}

double Negate(double x) { return op::Negate(x); }

namespace {

// ---- One-argument functions -------------------------------------------------

double Abs(double x) { return std::fabs(x); }
double Acos(double x) { return std::acos(x); }
double Asin(double x) { return std::asin(x); }
double Atan(double x) { return std::atan(x); }
double Cos(double x) { return std::cos(x); }
double Cosh(double x) { return std::cosh(x); }
double Deg(double x) { return op::Deg(x); }
double Exp(double x) { return std::exp(x); }
double Log(double x) { return std::log(x); }
double Log10(double x) { return std::log10(x); }
double Rad(double x) { return op::Rad(x); }
double Round(double x) { return ToInt32(x + 0.5); }
double Sin(double x) { return std::sin(x); }
double Sinh(double x) { return std::sinh(x); }
double Sqr(double x) { return op::Sqr(x); }
double Sqrt(double x) { return std::sqrt(x); }
double Tan(double x) { return std::tan(x); }
double Tanh(double x) { return std::tanh(x); }
double Trunc(double x) { return ToInt32(x); }
double Floor(double x) { return std::floor(x); }
double Ceil(double x) { return std::ceil(x); }
double Not(double x) { return op::Not(x); }

// Factorial of ToInt32(x), multiplied from the largest factor down; above 170
// the language answers 34.
double Fac(double x) {
  int32_t n = ToInt32(x);
  if (n > 170) return 34.0;
  if (n < 0) return 0.0;
  if (n < 2) return 1.0;
  double r = 1.0;
  for (int32_t k = n; k >= 2; --k) r *= k;
  return r;
}

// ---- List functions ---------------------------------------------------------
// Arguments are the top n stack entries, the first deepest. With no
// arguments, max, min, sum and med read nothing and return 0.

const double* Args(int n) { return g_engine.stack.values + g_engine.stack.depth - n; }

// Folds the arguments from the last toward the first with one step of
// engine/ops.h.
template <double (*Step)(double, double)>
double Fold(int n) {
  if (n == 0) return 0.0;
  const double* a = Args(n);
  double r = a[n - 1];
  for (int i = n - 2; i >= 0; --i) r = Step(r, a[i]);
  return r;
}

double Max(int n) { return Fold<op::MaxStep>(n); }
double Min(int n) { return Fold<op::MinStep>(n); }
double Sum(int n) { return Fold<op::SumStep>(n); }
double Med(int n) { return n == 0 ? 0.0 : op::Mean(Sum(n), n); }

double Rand(int) { return RandNext(); }

double If(int n) {
  const double* a = Args(n);
  return op::Select(a[0], a[1], a[2]);
}

// ---- Operators --------------------------------------------------------------

double Or(double l, double r) { return ToInt32(l) | ToInt32(r); }
double Xor(double l, double r) { return ToInt32(l) ^ ToInt32(r); }
double And(double l, double r) { return ToInt32(l) & ToInt32(r); }
double Eq(double l, double r) { return op::Eq(l, r); }
double Ne(double l, double r) { return op::Ne(l, r); }
double Lt(double l, double r) { return op::Lt(l, r); }
double Le(double l, double r) { return op::Le(l, r); }
double Gt(double l, double r) { return op::Gt(l, r); }
double Ge(double l, double r) { return op::Ge(l, r); }
double Add(double l, double r) { return op::Add(l, r); }
double Sub(double l, double r) { return op::Sub(l, r); }
double Mul(double l, double r) { return op::Mul(l, r); }
double Div(double l, double r) { return op::Div(l, r); }
double Mod(double l, double r) { return std::fmod(l, r); }
double Pow(double l, double r) { return std::pow(l, r); }

// Generator of rand(): a linear congruential generator per thread.
thread_local uint32_t t_randState = kRandFirstState;

}  // namespace

constexpr RandStep kRandStep = {214013u, 2531011u};

double RandNext() {
  t_randState = kRandStep.Apply(t_randState);
  return RandValue(t_randState);
}

// Square-and-multiply over the step's powers; powers of one map commute, so
// the order of composition does not matter.
RandStep RandAdvance(uint64_t steps) {
  RandStep result = {1u, 0u}, power = kRandStep;
  for (uint32_t n = static_cast<uint32_t>(steps); n != 0; n >>= 1) {
    if (n & 1u) result = {result.mul * power.mul, power.mul * result.add + power.add};
    power = {power.mul * power.mul, power.mul * power.add + power.add};
  }
  return result;
}
uint32_t RandState() { return t_randState; }
void RandSetState(uint32_t state) { t_randState = state; }

const UnaryFunctionRow kUnaryFunctions[] = {
    {"abs", Fn::kAbs, Abs},       {"acos", Fn::kAcos, Acos},    {"asin", Fn::kAsin, Asin},
    {"atan", Fn::kAtan, Atan},    {"cos", Fn::kCos, Cos},       {"cosh", Fn::kCosh, Cosh},
    {"deg", Fn::kDeg, Deg},       {"exp", Fn::kExp, Exp},       {"fac", Fn::kFac, Fac},
    {"log", Fn::kLog, Log},       {"log10", Fn::kLog10, Log10}, {"rad", Fn::kRad, Rad},
    {"round", Fn::kRound, Round}, {"sin", Fn::kSin, Sin},       {"sinh", Fn::kSinh, Sinh},
    {"sqr", Fn::kSqr, Sqr},       {"sqrt", Fn::kSqrt, Sqrt},    {"tan", Fn::kTan, Tan},
    {"tanh", Fn::kTanh, Tanh},    {"trunc", Fn::kTrunc, Trunc}, {"floor", Fn::kFloor, Floor},
    {"ceil", Fn::kCeil, Ceil},    {"not", Fn::kNot, Not},
};
const int kUnaryFunctionCount = sizeof kUnaryFunctions / sizeof kUnaryFunctions[0];
const UnaryFunctionRow kNegateRow = {"neg", Fn::kNegate, Negate};

const ListFunctionRow kListFunctions[] = {
    {"max", Fn::kMax, -1, Max},  {"med", Fn::kMed, -1, Med}, {"min", Fn::kMin, -1, Min},
    {"rand", Fn::kRand, 0, Rand}, {"sum", Fn::kSum, -1, Sum}, {"if", Fn::kIf, 3, If},
};
const int kListFunctionCount = sizeof kListFunctions / sizeof kListFunctions[0];

const BinaryOperatorRow kBinaryOperators[] = {
    {TK_OR, "|", Fn::kOr, Or},      {TK_XOR, "~", Fn::kXor, Xor},    {TK_AND, "&", Fn::kAnd, And},
    {TK_EQ, "==", Fn::kEq, Eq},     {TK_NE, "!=", Fn::kNe, Ne},      {TK_LT, "<", Fn::kLt, Lt},
    {TK_LE, "<=", Fn::kLe, Le},     {TK_GT, ">", Fn::kGt, Gt},       {TK_GE, ">=", Fn::kGe, Ge},
    {TK_PLUS, "+", Fn::kAdd, Add},  {TK_MINUS, "-", Fn::kSub, Sub},  {TK_MUL, "*", Fn::kMul, Mul},
    {TK_DIV, "/", Fn::kDiv, Div},   {TK_MOD, "%", Fn::kMod, Mod},    {TK_POW, "^", Fn::kPow, Pow},
};
const int kBinaryOperatorCount = sizeof kBinaryOperators / sizeof kBinaryOperators[0];

const UnaryFunctionRow* UnaryRowOf(UnaryHandler handler) {
  if (handler == kNegateRow.handler) return &kNegateRow;
  for (const UnaryFunctionRow& row : kUnaryFunctions)
    if (row.handler == handler) return &row;
  return nullptr;
}

const ListFunctionRow* ListRowOf(ListHandler handler) {
  for (const ListFunctionRow& row : kListFunctions)
    if (row.handler == handler) return &row;
  return nullptr;
}

const BinaryOperatorRow* BinaryRowOf(BinaryHandler handler) {
  for (const BinaryOperatorRow& row : kBinaryOperators)
    if (row.handler == handler) return &row;
  return nullptr;
}

}  // namespace vexlor
