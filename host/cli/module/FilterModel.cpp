#include "module/FilterModel.h"

#include <cmath>

namespace tonevolt {

namespace {

constexpr double kRippleCentsAtUnitRatio = 2300;
constexpr double kSettleCyclesTwoPoles = 1.2, kSettleCyclesOnePole = 0.8;

}  // namespace

double RippleCents(double cutoff, double hz) {
  double ratio = cutoff / hz;
  return kRippleCentsAtUnitRatio * ratio * ratio;
}

double SettleSeconds(const Settings& settings) {
  return (settings.order == 2 ? kSettleCyclesTwoPoles : kSettleCyclesOnePole) / settings.cutoff;
}

double TwoPoleSettleSeconds(double cutoff) { return kSettleCyclesTwoPoles / cutoff; }

double DelaySeconds(const Settings& settings) {
  return settings.order / (2 * M_PI * settings.cutoff);
}

double OctaveBiasCents(double ripple_cents) {
  // A value m (1 + a sin): the mean of its logarithm is log m + log((1 + sqrt(1 - a^2)) / 2).
  double q = std::exp2(ripple_cents / 1200);
  double a = (q - 1) / (q + 1);
  return 1200 * std::log2((1 + std::sqrt(1 - a * a)) / 2);
}

}  // namespace tonevolt
