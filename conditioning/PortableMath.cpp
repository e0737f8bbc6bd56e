#include "conditioning/PortableMath.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

// Only + - * / and exact operations (floor, comparisons, bit fields) below:
// SSE2 gives those the same bits on i386 and x86-64. The series are summed
// from their smallest term, where the rounding costs least.

namespace tonevolt {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Constants to the double nearest; the _Low ones are what the double misses.
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
constexpr double kLn2 = 0x1.62e42fefa39efp-1;
constexpr double kLn2Low = 0x1.abc9e3b39803fp-56;
constexpr double kLog2OfE = 0x1.71547652b82fep+0;
constexpr double kLog2OfELow = 0x1.777d0ffda0d24p-56;
constexpr double kLog2Of10 = 0x1.a934f0979a371p+1;
constexpr double kLog2Of10Low = 0x1.7f2495fb7fa6dp-53;
constexpr double kLog10Of2 = 0x1.34413509f79ffp-2;
constexpr double kLog10OfE = 0x1.bcb7b1526e50ep-2;

// pi/2 in four pieces: three of 27 bits, so that n times each is exact for
// |n| < 2^26, and the rest. Together they hold pi/2 to 2^-139.
constexpr double kHalfPi1 = 0x1.921fb54p+0;
constexpr double kHalfPi2 = 0x1.10b461p-30;
constexpr double kHalfPi3 = 0x1.a62633p-58;
constexpr double kHalfPi4 = 0x1.45c06e0e68948p-86;

// a + b = sum + error exactly.
double TwoSum(double a, double b, double* error) {
  double sum = a + b;
  double b_kept = sum - a;
  *error = (a - (sum - b_kept)) + (b - b_kept);
  return sum;
}

// a * b = product + error exactly (Dekker; no FMA), for |a|, |b| < 2^995.
double TwoProduct(double a, double b, double* error) {
  auto split = [](double v, double* high, double* low) {
    double scaled = 134217729.0 * v;  // 2^27 + 1
    *high = scaled - (scaled - v);
    *low = v - *high;
  };
  double a_high, a_low, b_high, b_low;
  split(a, &a_high, &a_low);
  split(b, &b_high, &b_low);
  double product = a * b;
  *error = ((a_high * b_high - product) + a_high * b_low + a_low * b_high) + a_low * b_low;
  return product;
}

double Bits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

uint64_t BitsOf(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// 2^k for the normal range, -1022 <= k <= 1023.
double PowerOfTwo(int k) { return Bits(static_cast<uint64_t>(k + 1023) << 52); }

// value * 2^k, rounded once even into the subnormals.
double Scale(double value, int k) {
  while (k > 1023) {
    value *= PowerOfTwo(1023);
    k -= 1023;
  }
  while (k < -1022) {
    value *= PowerOfTwo(-1022);
    k += 1022;
  }
  return value * PowerOfTwo(k);
}

// 2^(high + low), |low| well below 1.
double Exp2Of(double high, double low) {
  if (std::isnan(high)) return high;
  if (high > 1025) return kInfinity;
  if (high < -1100) return 0;
  double whole = std::floor(high + 0.5);
  // high - whole is exact; |t| <= ln 2 / 2, where e^t's series is short.
  double t = ((high - whole) + low) * kLn2;
  double sum = 1;
  for (int k = 17; k >= 1; --k) sum = 1 + t / k * sum;
  return Scale(sum, static_cast<int>(whole));
}

// 2^(x * (factor + factor_low)), the product kept to twice double's precision
// so that a large x loses nothing.
double Exp2Times(double x, double factor, double factor_low) {
  if (std::isnan(x)) return x;
  if (std::fabs(x) > 4096) return x > 0 ? kInfinity : 0;
  double error;
  double high = TwoProduct(x, factor, &error);
  return Exp2Of(high, error + x * factor_low);
}

// x = r + n pi/2 with |r| <= pi/4: r as high + low, and n mod 4.
struct Reduced {
  double high, low;
  int quadrant;
};

Reduced ReduceByHalfPi(double x) {
  double n = std::floor(x * kTwoOverPi + 0.5);
  // Exact: n * kHalfPi1 is within a factor 2 of x (or n is 0).
  double a = x - n * kHalfPi1;
  double error1, error2;
  double b = TwoSum(a, -(n * kHalfPi2), &error1);
  double c = TwoSum(b, -(n * kHalfPi3), &error2);
  double tail = (error1 + error2) - n * kHalfPi4;
  double high = c + tail;
  double low = tail - (high - c);
  int quadrant = static_cast<int>(n - 4 * std::floor(n * 0.25));
  return {high, low, quadrant};
}

// sin r = r (1 - r^2/(2 3) (1 - r^2/(4 5) (1 - ...))) and the like, for
// |r| <= pi/4, where the terms left out are below 2^-80.
double SinKernel(double r) {
  double r2 = r * r;
  double sum = 1;
  for (int k = 10; k >= 1; --k) sum = 1 - r2 / ((2.0 * k) * (2.0 * k + 1)) * sum;
  return r * sum;
}

double CosKernel(double r) {
  double r2 = r * r;
  double sum = 1;
  for (int k = 10; k >= 1; --k) sum = 1 - r2 / ((2.0 * k - 1) * (2.0 * k)) * sum;
  return sum;
}

// With the reduction's low word: sin(h + l) ~ sin h + l cos h.
double SinOf(const Reduced& r) { return SinKernel(r.high) + r.low * (1 - 0.5 * r.high * r.high); }
double CosOf(const Reduced& r) { return CosKernel(r.high) - r.low * r.high; }

// ln x = e ln 2 + ln m, x = m 2^e, sqrt(1/2) <= m < sqrt(2); x > 0 and finite.
double LnOfMantissa(double x, int* exponent) {
  int e = 0;
  if (x < 0x1p-1022) {  // subnormal: make it normal first
    x *= 0x1p54;
    e = -54;
  }
  uint64_t bits = BitsOf(x);
  e += static_cast<int>((bits >> 52) & 0x7ff) - 1023;
  double m = Bits((bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1023} << 52));
  if (m > 0x1.6a09e667f3bcdp+0) {  // sqrt(2)
    m *= 0.5;
    ++e;
  }
  *exponent = e;
  // ln m = 2 atanh s = 2 (s + s^3/3 + s^5/5 + ...), s = (m - 1)/(m + 1),
  // |s| <= 0.172; m - 1 is exact.
  double s = (m - 1) / (m + 1);
  double s2 = s * s;
  double sum = 0;
  for (int k = 12; k >= 1; --k) sum = (sum + 1.0 / (2 * k + 1)) * s2;
  return 2 * s + 2 * s * sum;
}

// For NaN, infinity or x <= 0, the log's value there (NaN below 0): true.
bool LogAtEdge(double x, double* value) {
  if (std::isnan(x) || x < 0) {
    *value = kNaN;
  } else if (x == 0) {
    *value = -kInfinity;
  } else if (x == kInfinity) {
    *value = kInfinity;
  } else {
    return false;
  }
  return true;
}

}  // namespace

double PortableSin(double x) {
  if (!std::isfinite(x)) return kNaN;
  Reduced r = ReduceByHalfPi(x);
  switch (r.quadrant) {
    case 0:
      return SinOf(r);
    case 1:
      return CosOf(r);
    case 2:
      return -SinOf(r);
    default:
      return -CosOf(r);
  }
}

double PortableCos(double x) {
  if (!std::isfinite(x)) return kNaN;
  Reduced r = ReduceByHalfPi(x);
  switch (r.quadrant) {
    case 0:
      return CosOf(r);
    case 1:
      return -SinOf(r);
    case 2:
      return -CosOf(r);
    default:
      return SinOf(r);
  }
}

double PortableTan(double x) {
  if (!std::isfinite(x)) return kNaN;
  Reduced r = ReduceByHalfPi(x);
  return r.quadrant % 2 == 0 ? SinOf(r) / CosOf(r) : -CosOf(r) / SinOf(r);
}

double PortableExp2(double x) { return Exp2Of(x, 0); }

double PortableExp(double x) { return Exp2Times(x, kLog2OfE, kLog2OfELow); }

double PortablePow10(double x) { return Exp2Times(x, kLog2Of10, kLog2Of10Low); }

double PortableLog2(double x) {
  double edge;
  if (LogAtEdge(x, &edge)) return edge;
  int e;
  double ln_m = LnOfMantissa(x, &e);
  return e + ln_m * kLog2OfE;
}

double PortableLog(double x) {
  double edge;
  if (LogAtEdge(x, &edge)) return edge;
  int e;
  double ln_m = LnOfMantissa(x, &e);
  return e * kLn2 + (e * kLn2Low + ln_m);
}

double PortableLog10(double x) {
  double edge;
  if (LogAtEdge(x, &edge)) return edge;
  int e;
  double ln_m = LnOfMantissa(x, &e);
  return e * kLog10Of2 + ln_m * kLog10OfE;
}

}  // namespace tonevolt
