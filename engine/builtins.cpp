// Built-in functions and operators of the expression language. Every handler
// takes and returns doubles; library functions are the C library's own.
#include <cmath>

#include "state.h"

namespace vexlor {

int32_t ToInt32(double x) {
  // The 64-bit range is [-2^63, 2^63); NaN fails both comparisons.
  if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0)) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(x))));
}

double Negate(double x) { return -x; }

namespace {

// ---- One-argument functions -------------------------------------------------

double Abs(double x) { return std::fabs(x); }
double Acos(double x) { return std::acos(x); }
double Asin(double x) { return std::asin(x); }
double Atan(double x) { return std::atan(x); }
double Cos(double x) { return std::cos(x); }
double Cosh(double x) { return std::cosh(x); }
// The factors match the engine's 12-digit pi, not full-precision pi.
double Deg(double x) { return x * 57.29577951326093; }
double Exp(double x) { return std::exp(x); }
double Log(double x) { return std::log(x); }
double Log10(double x) { return std::log10(x); }
double Rad(double x) { return x * 0.01745329251988889; }
double Round(double x) { return ToInt32(x + 0.5); }
double Sin(double x) { return std::sin(x); }
double Sinh(double x) { return std::sinh(x); }
double Sqr(double x) { return x * x; }
double Sqrt(double x) { return std::sqrt(x); }
double Tan(double x) { return std::tan(x); }
double Tanh(double x) { return std::tanh(x); }
double Trunc(double x) { return ToInt32(x); }
double Floor(double x) { return std::floor(x); }
double Ceil(double x) { return std::ceil(x); }
double Not(double x) { return x == 0 ? 1.0 : 0.0; }

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

double Max(int n) {
  if (n == 0) return 0.0;
  const double* a = Args(n);
  double r = a[n - 1];
  for (int i = n - 2; i >= 0; --i)
    if (r < a[i]) r = a[i];
  return r;
}

double Min(int n) {
  if (n == 0) return 0.0;
  const double* a = Args(n);
  double r = a[n - 1];
  for (int i = n - 2; i >= 0; --i)
    if (r > a[i]) r = a[i];
  return r;
}

double Sum(int n) {
  if (n == 0) return 0.0;
  const double* a = Args(n);
  double r = a[n - 1];
  for (int i = n - 2; i >= 0; --i) r += a[i];
  return r;
}

double Med(int n) { return n == 0 ? 0.0 : Sum(n) / n; }

double Rand(int) { return RandNext(); }

// if(c, a, b): a NaN condition counts as true.
double If(int n) {
  const double* a = Args(n);
  return a[0] != 0 ? a[1] : a[2];
}

// ---- Operators --------------------------------------------------------------

double Or(double l, double r) { return ToInt32(l) | ToInt32(r); }
double Xor(double l, double r) { return ToInt32(l) ^ ToInt32(r); }
double And(double l, double r) { return ToInt32(l) & ToInt32(r); }
double Eq(double l, double r) { return l == r; }
double Ne(double l, double r) { return l != r; }
double Lt(double l, double r) { return l < r; }
double Le(double l, double r) { return l <= r; }
double Gt(double l, double r) { return l > r; }
double Ge(double l, double r) { return l >= r; }
double Add(double l, double r) { return l + r; }
double Sub(double l, double r) { return l - r; }
double Mul(double l, double r) { return l * r; }
// Division by either zero gives +infinity, 0/0 included.
double Div(double l, double r) { return r == 0 ? HUGE_VAL : l / r; }
double Mod(double l, double r) { return std::fmod(l, r); }
double Pow(double l, double r) { return std::pow(l, r); }

// Generator of rand(): a linear congruential generator per thread, started at 1.
thread_local uint32_t t_randState = 1;

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
    {"abs", Abs},   {"acos", Acos},   {"asin", Asin},   {"atan", Atan},   {"cos", Cos},
    {"cosh", Cosh}, {"deg", Deg},     {"exp", Exp},     {"fac", Fac},     {"log", Log},
    {"log10", Log10}, {"rad", Rad},   {"round", Round}, {"sin", Sin},     {"sinh", Sinh},
    {"sqr", Sqr},   {"sqrt", Sqrt},   {"tan", Tan},     {"tanh", Tanh},   {"trunc", Trunc},
    {"floor", Floor}, {"ceil", Ceil}, {"not", Not},
};
const int kUnaryFunctionCount = sizeof kUnaryFunctions / sizeof kUnaryFunctions[0];

const ListFunctionRow kListFunctions[] = {
    {"max", -1, Max}, {"med", -1, Med}, {"min", -1, Min},
    {"rand", 0, Rand}, {"sum", -1, Sum}, {"if", 3, If},
};
const int kListFunctionCount = sizeof kListFunctions / sizeof kListFunctions[0];

const BinaryOperatorRow kBinaryOperators[] = {
    {TK_OR, "|", Or},   {TK_XOR, "~", Xor}, {TK_AND, "&", And}, {TK_EQ, "==", Eq},
    {TK_NE, "!=", Ne},  {TK_LT, "<", Lt},   {TK_LE, "<=", Le},  {TK_GT, ">", Gt},
    {TK_GE, ">=", Ge},  {TK_PLUS, "+", Add}, {TK_MINUS, "-", Sub}, {TK_MUL, "*", Mul},
    {TK_DIV, "/", Div}, {TK_MOD, "%", Mod}, {TK_POW, "^", Pow},
};
const int kBinaryOperatorCount = sizeof kBinaryOperators / sizeof kBinaryOperators[0];

}  // namespace vexlor
