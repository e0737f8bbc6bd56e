#include "Advice.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "Analysis.h"

namespace tonevolt {

namespace {

constexpr double kRippleCentsAtUnitRatio = 2300;
constexpr double kSettleCycles = 1.2;

}  // namespace

double ExpectedRippleCents(double cutoff, double hz) {
  double ratio = cutoff / hz;
  return kRippleCentsAtUnitRatio * ratio * ratio;
}

double ExpectedSettleSeconds(double cutoff) { return kSettleCycles / cutoff; }

double ExpectedOctaveBiasCents(double ripple_cents) {
  // A value m (1 + a sin): the mean of its logarithm is log m + log((1 + sqrt(1 - a^2)) / 2).
  double q = std::exp2(ripple_cents / 1200);
  double a = (q - 1) / (q + 1);
  return 1200 * std::log2((1 + std::sqrt(1 - a * a)) / 2);
}

float SuggestedCutoff(double lowest_hz) {
  double cutoff = lowest_hz * kCutoffPerLowestNote;
  if (cutoff > 0) {
    double unit = std::pow(10.0, std::floor(std::log10(cutoff)) - 1);
    cutoff = std::floor(cutoff / unit + 1e-9) * unit;
  }
  return static_cast<float>(std::clamp<double>(cutoff, kCutoffMinHz, kCutoffMaxHz));
}

std::string NoteOption(double hz) { return NoteName(hz); }

std::string PrefilterOption(const PrefilterChoice& choice) {
  switch (choice.kind) {
    case PrefilterChoice::Kind::kNote:
      return "note:" + NoteOption(choice.hz);
    case PrefilterChoice::Kind::kRange:
      return "range:" + NoteOption(choice.hz);
    case PrefilterChoice::Kind::kOff:
      break;
  }
  return "off";
}

std::string SuggestedOptions(const Settings& s, const PrefilterChoice& prefilter) {
  const Settings defaults;
  std::ostringstream out;
  out << "--order " << s.order << " --cutoff " << s.cutoff;
  if (s.scale != defaults.scale)
    out << " --scale " << (s.scale == Scale::kVoltPerOctave ? "oct" : "khz");
  if (s.octave != defaults.octave) out << " --octave " << (s.octave > 0 ? "+" : "") << s.octave;
  if (prefilter.kind != PrefilterChoice::Kind::kOff)
    out << " --prefilter " << PrefilterOption(prefilter);
  return out.str();
}

Scale SuggestedScale(double cutoff, double lowest_hz) {
  double bias = ExpectedOctaveBiasCents(ExpectedRippleCents(cutoff, lowest_hz));
  return std::fabs(bias) <= kOctaveBiasLimitCents ? Scale::kVoltPerOctave : Scale::kVoltPerKhz;
}

}  // namespace tonevolt
