#include "analysis/Prefilter.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>

#include "analysis/Frequency.h"

// liquid.h picks std::complex when <complex> is already in.
#include <liquid/liquid.h>

namespace tonevolt {
namespace {

constexpr int kRangeHighPassOrder = 2;
constexpr int kRangeLowPassOrder = 4;
constexpr int kNoteOrder = 8;
constexpr double kNoteEdgeFactor = 1.3;
constexpr double kNoteRippleDb = 0.5;
constexpr double kNoteStopbandDb = 80.0;

enum class Family { kButterworth, kElliptic };
enum class Band { kLowPass, kHighPass };

std::string FormatHz(double hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g Hz", hz);
  return text;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

struct Biquad {
  double b0, b1, b2, a1, a2;
};

// The analog prototype (band edge at 1 rad/s) comes from liquid-dsp; the
// bilinear transform and the sections are worked out here in double, because
// liquid's digital design rounds poles and coefficients to float, which moves
// a low note's passband at 96 kHz by more than its ripple.
bool DesignSections(Family family, Band band, int order, double edge_hz, double rate,
                    std::vector<Biquad>* sections) {
  std::vector<std::complex<float>> analog_zeros(order), analog_poles(order);
  std::complex<float> analog_gain;
  int zero_count = 0;
  double passband_gain = 1.0;
  if (family == Family::kButterworth) {
    if (butter_azpkf(order, analog_zeros.data(), analog_poles.data(), &analog_gain) != 0) {
      return false;
    }
  } else {
    passband_gain = std::pow(10.0, -kNoteRippleDb / 20.0);
    double stopband_gain = std::pow(10.0, -kNoteStopbandDb / 20.0);
    double passband_epsilon = std::sqrt(1.0 / (passband_gain * passband_gain) - 1.0);
    double stopband_epsilon = std::sqrt(1.0 / (stopband_gain * stopband_gain) - 1.0);
    if (ellip_azpkf(order, static_cast<float>(passband_epsilon),
                    static_cast<float>(stopband_epsilon), analog_zeros.data(), analog_poles.data(),
                    &analog_gain) != 0) {
      return false;
    }
    zero_count = order;
  }

  // Pre-warped so that the edge lands exactly; a high-pass is the low-pass
  // at the mirrored frequency with z negated.
  double warp = std::tan(M_PI * edge_hz / rate);
  double m = band == Band::kLowPass ? warp : 1.0 / warp;
  double sign = band == Band::kLowPass ? 1.0 : -1.0;
  auto bilinear = [&](std::complex<float> s) {
    std::complex<double> sm = std::complex<double>(s) * m;
    return sign * (1.0 + sm) / (1.0 - sm);
  };
  // One of each conjugate pair: even orders of these families have no real root.
  std::vector<std::complex<double>> poles, zeros;
  for (const auto& p : analog_poles) {
    if (p.imag() > 0) poles.push_back(bilinear(p));
  }
  for (int i = 0; i < zero_count; ++i) {
    if (analog_zeros[i].imag() > 0) zeros.push_back(bilinear(analog_zeros[i]));
  }
  if (zero_count == 0) zeros.assign(order / 2, -sign);  // all at Nyquist, or at DC
  if (poles.size() != static_cast<size_t>(order / 2) || zeros.size() != poles.size()) {
    return false;
  }

  // Each pole pair with the nearest free zero pair, the poles nearest the
  // unit circle last. Each section has unity gain in the passband's middle
  // (DC, or Nyquist for a high-pass); the ripple's offset goes into the first.
  std::sort(poles.begin(), poles.end(),
            [](const auto& a, const auto& b) { return std::abs(a) < std::abs(b); });
  double at = sign;
  size_t first = sections->size();
  for (const auto& pole : poles) {
    auto nearest = std::min_element(zeros.begin(), zeros.end(), [&](const auto& a, const auto& b) {
      return std::abs(a - pole) < std::abs(b - pole);
    });
    std::complex<double> zero = *nearest;
    zeros.erase(nearest);
    Biquad section{1.0, -2 * zero.real(), std::norm(zero), -2 * pole.real(), std::norm(pole)};
    double scale = (1.0 + (section.a1 + section.a2 * at) * at) /
                   (section.b0 + (section.b1 + section.b2 * at) * at);
    if (sections->size() == first) scale *= passband_gain;
    section.b0 *= scale;
    section.b1 *= scale;
    section.b2 *= scale;
    sections->push_back(section);
  }
  return true;
}

}  // namespace

bool Prefilter::Parse(const std::string& text, PrefilterChoice* choice, std::string* error) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  PrefilterChoice parsed;
  std::string frequency;
  if (lower == "off" || lower == "follow" || lower == "live") {
    if (lower == "follow") parsed.kind = PrefilterChoice::Kind::kFollow;
    if (lower == "live") parsed.kind = PrefilterChoice::Kind::kLive;
    *choice = parsed;
    return true;
  } else if (StartsWith(lower, "range:")) {
    parsed.kind = PrefilterChoice::Kind::kRange;
    frequency = text.substr(6);
  } else if (StartsWith(lower, "note:")) {
    parsed.kind = PrefilterChoice::Kind::kNote;
    frequency = text.substr(5);
  } else {
    *error = "unknown pre-filter '" + text + "': use off, follow, live, range:LOWEST or note:NOTE";
    return false;
  }
  std::string why;
  if (!ParseFrequency(frequency, &parsed.hz, &why)) {
    *error = "pre-filter '" + text + "': " + why;
    return false;
  }
  *choice = parsed;
  return true;
}

bool Prefilter::Design(std::string* error) {
  std::string name = m_choice.kind == PrefilterChoice::Kind::kRange ? "range:" : "note:";
  name += FormatHz(m_choice.hz);
  if (!(m_rate > 0 && std::isfinite(m_rate))) {
    *error = "pre-filter " + name + ": no valid sample rate";
    return false;
  }
  double nyquist = m_rate / 2;
  double top_edge =
      m_choice.kind == PrefilterChoice::Kind::kRange ? m_choice.hz : kNoteEdgeFactor * m_choice.hz;
  if (!(m_choice.hz > 0 && top_edge < nyquist)) {
    *error = "pre-filter " + name + " does not fit " + FormatHz(m_rate) + " audio: its edge " +
             FormatHz(top_edge) + " is not below the Nyquist frequency " + FormatHz(nyquist);
    return false;
  }

  std::vector<Biquad> sections;
  bool designed = true;
  if (m_choice.kind == PrefilterChoice::Kind::kRange) {
    designed = DesignSections(Family::kButterworth, Band::kHighPass, kRangeHighPassOrder,
                              m_choice.hz / 2, m_rate, &sections) &&
               DesignSections(Family::kButterworth, Band::kLowPass, kRangeLowPassOrder, m_choice.hz,
                              m_rate, &sections);
  } else {
    designed = (m_choice.kind != PrefilterChoice::Kind::kBand ||
                DesignSections(Family::kButterworth, Band::kHighPass, kRangeHighPassOrder,
                               m_choice.hz / 2, m_rate, &sections)) &&
               DesignSections(Family::kElliptic, Band::kLowPass, kNoteOrder,
                              kNoteEdgeFactor * m_choice.hz, m_rate, &sections);
  }
  if (!designed) {
    *error = "pre-filter " + name + ": the filter design failed at " + FormatHz(m_rate);
    return false;
  }
  m_sections.clear();
  for (const Biquad& biquad : sections) {
    m_sections.push_back({biquad.b0, biquad.b1, biquad.b2, biquad.a1, biquad.a2});
  }
  return true;
}

std::unique_ptr<Prefilter> Prefilter::Create(const PrefilterChoice& choice, double sample_rate,
                                             std::string* error) {
  std::unique_ptr<Prefilter> filter(new Prefilter(choice, sample_rate));
  if (choice.kind == PrefilterChoice::Kind::kFollow || choice.kind == PrefilterChoice::Kind::kLive) {
    *error = "a pre-filter that follows the tune is built from bands";
    return nullptr;
  }
  if (choice.kind != PrefilterChoice::Kind::kOff && !filter->Design(error)) return nullptr;
  return filter;
}

void Prefilter::Process(const float* in, float* out, size_t count) {
  if (m_sections.empty()) {
    if (in != out && count > 0) std::memmove(out, in, count * sizeof(float));
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    double x = in[i];
    for (Section& s : m_sections) {
      double y = s.b0 * x + s.s1;
      s.s1 = s.b1 * x - s.a1 * y + s.s2;
      s.s2 = s.b2 * x - s.a2 * y;
      x = y;
    }
    out[i] = static_cast<float>(x);
  }
  // States decaying in silence would reach subnormals, which are slow; at
  // this size they cannot show in a float output.
  for (Section& s : m_sections) {
    if (std::fabs(s.s1) < 1e-100) s.s1 = 0;
    if (std::fabs(s.s2) < 1e-100) s.s2 = 0;
  }
}

void Prefilter::Reset() {
  for (Section& s : m_sections) s.s1 = s.s2 = 0;
}

double Prefilter::GainDb(double hz) const {
  std::complex<double> z1 = std::polar(1.0, -2 * M_PI * hz / m_rate);
  std::complex<double> response = 1.0;
  for (const Section& s : m_sections) {
    response *= (s.b0 + (s.b1 + s.b2 * z1) * z1) / (1.0 + (s.a1 + s.a2 * z1) * z1);
  }
  return 20 * std::log10(std::abs(response));
}

double Prefilter::DelaySeconds(double hz) const {
  // The phase's slope, from the sections' response a little either side.
  auto phase = [&](double f) {
    std::complex<double> z1 = std::polar(1.0, -2 * M_PI * f / m_rate);
    double sum = 0;
    for (const Section& s : m_sections) {
      sum += std::arg((s.b0 + (s.b1 + s.b2 * z1) * z1) / (1.0 + (s.a1 + s.a2 * z1) * z1));
    }
    return sum;
  };
  if (m_sections.empty()) return 0;
  const double step = std::max(1e-3, 1e-4 * hz);
  double turn = phase(hz + step) - phase(hz - step);
  // Each section's phase stays within (-pi, pi]: unwrap a jump across it.
  turn = std::remainder(turn, 2 * M_PI);
  return -turn / (2 * M_PI * 2 * step);
}

std::string Prefilter::Describe(const PrefilterChoice& choice) {
  switch (choice.kind) {
    case PrefilterChoice::Kind::kRange:
      return "2-pole Butterworth high-pass at " + FormatHz(choice.hz / 2) +
             ", 4-pole Butterworth low-pass at " + FormatHz(choice.hz);
    case PrefilterChoice::Kind::kNote:
      return "8-pole elliptic low-pass, passband to " + FormatHz(kNoteEdgeFactor * choice.hz) +
             " (0.5 dB ripple), 80 dB stopband";
    case PrefilterChoice::Kind::kBand:
      return "2-pole Butterworth high-pass at " + FormatHz(choice.hz / 2) +
             ", 8-pole elliptic low-pass to " + FormatHz(kNoteEdgeFactor * choice.hz);
    case PrefilterChoice::Kind::kFollow:
      return "following the tune: for each note, a 2-pole Butterworth high-pass at half its "
             "pitch and an 8-pole elliptic low-pass to 1.3 times it";
    case PrefilterChoice::Kind::kLive:
      return "following the tune as it comes, as the tracker plug-ins do: for each note, a "
             "2-pole Butterworth high-pass at half its pitch and an 8-pole elliptic low-pass to "
             "1.3 times it";
    case PrefilterChoice::Kind::kOff:
      break;
  }
  return "off";
}

}  // namespace tonevolt
