#include "advice/Suggestions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "module/Readings.h"
#include "options/Values.h"

namespace tonevolt {

float SuggestedCutoff(double lowest_hz) {
  double cutoff = lowest_hz * kCutoffPerLowestNote;
  if (cutoff > 0) {
    double unit = std::pow(10.0, std::floor(std::log10(cutoff)) - 1);
    cutoff = std::floor(cutoff / unit + 1e-9) * unit;
  }
  return static_cast<float>(std::clamp<double>(cutoff, kCutoffMinHz, kCutoffMaxHz));
}

std::string CutoffReason(double lowest_hz) {
  double wanted = lowest_hz * kCutoffPerLowestNote;
  char text[160];
  int at = std::snprintf(text, sizeof text, "%.1f / %g = %.2f Hz, ", lowest_hz,
                         1 / kCutoffPerLowestNote, wanted);
  if (wanted < kCutoffMinHz)
    std::snprintf(text + at, sizeof text - at, "raised to the least the module offers, %g Hz",
                  kCutoffMinHz);
  else if (wanted > kCutoffMaxHz)
    std::snprintf(text + at, sizeof text - at, "lowered to the most the module offers, %g Hz",
                  kCutoffMaxHz);
  else
    std::snprintf(text + at, sizeof text - at, "within %g..%g Hz", kCutoffMinHz, kCutoffMaxHz);
  return text;
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

namespace {

bool PastOctaveTable(double cutoff, double highest_hz) {
  double peak = highest_hz * std::exp2(RippleCents(cutoff, highest_hz) / 2 / 1200);
  return peak > kOctaveTableTopHz;
}

}  // namespace

Scale SuggestedScale(double cutoff, double lowest_hz, double highest_hz) {
  double bias = OctaveBiasCents(RippleCents(cutoff, lowest_hz));
  return std::fabs(bias) <= kOctaveBiasLimitCents && !PastOctaveTable(cutoff, highest_hz)
             ? Scale::kVoltPerOctave
             : Scale::kVoltPerKhz;
}

std::string ScaleReason(double cutoff, double lowest_hz, double highest_hz) {
  char text[128];
  if (PastOctaveTable(cutoff, highest_hz)) {
    std::snprintf(text, sizeof text, "1 V/oct's table ends at %g Hz, below %s", kOctaveTableTopHz,
                  NoteName(highest_hz).c_str());
  } else {
    double bias = OctaveBiasCents(RippleCents(cutoff, lowest_hz));
    std::snprintf(text, sizeof text, "1 V/oct reads %+.1f cents at %s from the ripple", bias,
                  NoteName(lowest_hz).c_str());
  }
  return text;
}

}  // namespace tonevolt
