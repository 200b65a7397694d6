// The arithmetic of the language's operators and of the functions that are
// more than one library call, one inline function each. The engine's handlers
// and the fast frame path's array loops both call these, so the two paths
// compute every operation by the same code; each is plain IEEE arithmetic on
// doubles, which the vectoriser may widen but never reorders.
#pragma once

#include <cmath>

namespace vexlor::op {

// The factors of deg and rad: 180/pi and pi/180 for the language's 12-digit
// pi (3.14159265358), not for full-precision pi.
inline constexpr double kDegreesPerRadian = 57.29577951326093;
inline constexpr double kRadiansPerDegree = 0.01745329251988889;

// A comparison's or a test's result: 1 for true, 0 for false.
inline double Truth(bool b) { return b ? 1.0 : 0.0; }

inline double Add(double l, double r) { return l + r; }
inline double Sub(double l, double r) { return l - r; }
inline double Mul(double l, double r) { return l * r; }
// Division by either zero gives +infinity, 0/0 included.
inline double Div(double l, double r) { return r == 0 ? HUGE_VAL : l / r; }
inline double Eq(double l, double r) { return Truth(l == r); }
inline double Ne(double l, double r) { return Truth(l != r); }
inline double Lt(double l, double r) { return Truth(l < r); }
inline double Le(double l, double r) { return Truth(l <= r); }
inline double Gt(double l, double r) { return Truth(l > r); }
inline double Ge(double l, double r) { return Truth(l >= r); }

inline double Negate(double x) { return -x; }
inline double Sqr(double x) { return x * x; }
inline double Not(double x) { return Truth(x == 0); }
inline double Deg(double x) { return x * kDegreesPerRadian; }
inline double Rad(double x) { return x * kRadiansPerDegree; }

// One step of max, min and sum, which fold their arguments from the last
// toward the first: r is the value so far, a the next argument.
inline double MaxStep(double r, double a) { return r < a ? a : r; }
inline double MinStep(double r, double a) { return r > a ? a : r; }
inline double SumStep(double r, double a) { return r + a; }
// med: the sum divided by the argument count.
inline double Mean(double sum, int count) { return sum / count; }

// if(c, a, b): a NaN condition counts as true.
inline double Select(double c, double a, double b) { return c != 0 ? a : b; }

}  // namespace vexlor::op
