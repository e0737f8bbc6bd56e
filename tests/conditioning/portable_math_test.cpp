#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "conditioning/PortableMath.h"

namespace tonevolt {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Within a few ulp of libm; far from the last bit, and far from any
// reduction or series gone wrong, which costs many digits.
constexpr double kMostRelativeError = 1e-14;

struct Range {
  double from, to;
  bool log_spaced;  // spread evenly over the exponents, not the values
  bool either_sign;
};

struct Function {
  const char* name;
  std::function<double(double)> portable, libm;
  std::vector<Range> ranges;
};

double RelativeError(double value, double reference) {
  if (value == reference) return 0;
  return std::fabs(value - reference) / std::fabs(reference);
}

TEST(PortableMath, AgreesWithLibmOverWideRanges) {
  const std::vector<Function> kFunctions = {
      {"sin",
       PortableSin,
       [](double x) { return std::sin(x); },
       {{1e-300, 1e8, true, true}, {0, 10, false, true}}},
      {"cos",
       PortableCos,
       [](double x) { return std::cos(x); },
       {{1e-300, 1e8, true, true}, {0, 10, false, true}}},
      {"tan",
       PortableTan,
       [](double x) { return std::tan(x); },
       {{1e-300, 1e8, true, true}, {0, 10, false, true}}},
      // Results within the normal doubles: a subnormal holds fewer digits.
      {"exp2",
       PortableExp2,
       [](double x) { return std::exp2(x); },
       {{-1022, 1023.99, false, false}, {1e-300, 1, true, true}}},
      {"exp",
       PortableExp,
       [](double x) { return std::exp(x); },
       {{-708, 709.7, false, false}, {1e-300, 1, true, true}}},
      {"pow10",
       PortablePow10,
       [](double x) { return std::pow(10.0, x); },
       {{-307, 308.2, false, false}, {1e-300, 1, true, true}}},
      {"log2",
       PortableLog2,
       [](double x) { return std::log2(x); },
       {{4.9e-324, 1.7e308, true, false}, {0.5, 2, false, false}}},
      {"log",
       PortableLog,
       [](double x) { return std::log(x); },
       {{4.9e-324, 1.7e308, true, false}, {0.5, 2, false, false}}},
      {"log10",
       PortableLog10,
       [](double x) { return std::log10(x); },
       {{4.9e-324, 1.7e308, true, false}, {0.5, 2, false, false}}},
  };
  std::mt19937_64 engine(7);
  std::uniform_real_distribution<double> unit(0, 1);
  for (const Function& f : kFunctions) {
    for (const Range& range : f.ranges) {
      double worst = 0, worst_x = 0;
      for (int i = 0; i < 200000; ++i) {
        double x =
            range.log_spaced
                ? std::exp(std::log(range.from) + unit(engine) * std::log(range.to / range.from))
                : range.from + unit(engine) * (range.to - range.from);
        if (range.either_sign && engine() % 2 == 1) x = -x;
        double error = RelativeError(f.portable(x), f.libm(x));
        if (!(error <= worst)) {
          worst = error;
          worst_x = x;
        }
      }
      EXPECT_LT(worst, kMostRelativeError)
          << f.name << " over " << range.from << ".." << range.to << ", worst at " << worst_x;
    }
  }
}

// Where the reduction cancels most: next to multiples of pi/2, where sin,
// cos or tan is nearly 0 or infinite.
TEST(PortableMath, TrigonometryNextToMultiplesOfHalfPi) {
  for (long k = 1; k < 60000000; k += 9973) {
    double centre = static_cast<double>(k) * M_PI / 2;
    for (double x : {centre, std::nextafter(centre, 0.0), std::nextafter(centre, kInfinity)}) {
      EXPECT_LT(RelativeError(PortableSin(x), std::sin(x)), kMostRelativeError) << x;
      EXPECT_LT(RelativeError(PortableCos(x), std::cos(x)), kMostRelativeError) << x;
      EXPECT_LT(RelativeError(PortableTan(x), std::tan(x)), kMostRelativeError) << x;
      EXPECT_LT(RelativeError(PortableSin(-x), std::sin(-x)), kMostRelativeError) << -x;
    }
  }
}

TEST(PortableMath, ExactValuesAndEdges) {
  EXPECT_EQ(PortableSin(0), 0);
  EXPECT_EQ(PortableCos(0), 1);
  EXPECT_EQ(PortableTan(0), 0);
  for (int k = -1074; k <= 1023; ++k) {
    ASSERT_EQ(PortableExp2(k), std::ldexp(1.0, k)) << k;
    ASSERT_EQ(PortableLog2(std::ldexp(1.0, k)), k) << k;
  }
  EXPECT_EQ(PortableExp2(1024), kInfinity);
  EXPECT_EQ(PortableExp2(-1080), 0);
  EXPECT_EQ(PortableExp(1000), kInfinity);
  EXPECT_EQ(PortableExp(-1000), 0);
  EXPECT_EQ(PortablePow10(400), kInfinity);
  EXPECT_EQ(PortablePow10(-400), 0);
  EXPECT_EQ(PortableExp(0), 1);
  EXPECT_EQ(PortablePow10(0), 1);
  EXPECT_EQ(PortableLog(1), 0);
  EXPECT_EQ(PortableLog10(1), 0);
  for (auto log : {PortableLog2, PortableLog, PortableLog10}) {
    EXPECT_EQ(log(0), -kInfinity);
    EXPECT_EQ(log(kInfinity), kInfinity);
    EXPECT_TRUE(std::isnan(log(-1)));
    EXPECT_TRUE(std::isnan(log(std::nan(""))));
  }
  for (auto trig : {PortableSin, PortableCos, PortableTan}) {
    EXPECT_TRUE(std::isnan(trig(kInfinity)));
    EXPECT_TRUE(std::isnan(trig(-kInfinity)));
    EXPECT_TRUE(std::isnan(trig(std::nan(""))));
  }
  for (auto exp : {PortableExp2, PortableExp, PortablePow10}) {
    EXPECT_TRUE(std::isnan(exp(std::nan(""))));
    EXPECT_EQ(exp(-kInfinity), 0);
    EXPECT_EQ(exp(kInfinity), kInfinity);
  }
}

}  // namespace
}  // namespace tonevolt
