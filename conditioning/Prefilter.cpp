#include "conditioning/Prefilter.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>

#include "conditioning/PortableMath.h"

namespace tonevolt {
namespace {

constexpr int kRangeHighPassOrder = 2;
constexpr int kRangeLowPassOrder = 4;
constexpr int kNoteOrder = 8;
constexpr double kNoteRippleDb = 0.5;  // and 80 dB stopband, in kElliptic8Poles and Zeros

enum class Family { kButterworth, kElliptic };
enum class Band { kLowPass, kHighPass };

std::string FormatHz(double hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g Hz", hz);
  return text;
}

struct Biquad {
  double b0, b1, b2, a1, a2;
};

// Complex numbers in the design, with the textbook arithmetic spelled out:
// std::complex's * and / go through libgcc, which rounds differently on i386.
struct Complex {
  double re, im;
};

Complex Over(Complex a, Complex b) {
  double size = b.re * b.re + b.im * b.im;
  return {(a.re * b.re + a.im * b.im) / size, (a.im * b.re - a.re * b.im) / size};
}
double SquaredSize(Complex a) { return a.re * a.re + a.im * a.im; }
double SquaredDistance(Complex a, Complex b) { return SquaredSize({a.re - b.re, a.im - b.im}); }

// The analog prototypes (band edge at 1 rad/s), one root of each conjugate
// pair: even orders of these families have no real root. These are the float
// roots liquid-dsp's butter_azpkf and ellip_azpkf gave on i386 (the elliptic
// one for 0.5 dB ripple and 80 dB stopband, its epsilons rounded to float),
// printed once with %a and kept exactly, so the designs stayed where they
// were when that library was dropped.
constexpr Complex kButterworth2Poles[] = {{-0x1.6a09e6p-1, 0x1.6a09e6p-1}};
constexpr Complex kButterworth4Poles[] = {{-0x1.87de28p-2, 0x1.d906bep-1},
                                          {-0x1.d906bcp-1, 0x1.87de2ep-2}};
constexpr Complex kElliptic8Poles[] = {{-0x1.c0072ep-6, 0x1.010122p+0},
                                       {-0x1.7fd1e2p-4, 0x1.cedd98p-1},
                                       {-0x1.7877d8p-3, 0x1.541a52p-1},
                                       {-0x1.0f5076p-2, 0x1.01a462p-2}};
constexpr Complex kElliptic8Zeros[] = {
    {0, 0x1.539f7ap+0}, {0, 0x1.7c65acp+0}, {0, 0x1.071a3cp+1}, {0, 0x1.60c516p+2}};

// The bilinear transform and the sections are worked out here in double:
// rounding the digital poles to float would move a low note's passband at
// 96 kHz by more than its ripple. Every step is + - * / or a PortableMath
// function, so the sections have the same bits on every architecture.
bool DesignSections(Family family, Band band, int order, double edge_hz, double rate,
                    std::vector<Biquad>* sections) {
  const Complex* analog_poles = nullptr;
  const Complex* analog_zeros = nullptr;  // none: all at infinity
  double passband_gain = 1.0;
  if (family == Family::kButterworth && order == 2) {
    analog_poles = kButterworth2Poles;
  } else if (family == Family::kButterworth && order == 4) {
    analog_poles = kButterworth4Poles;
  } else if (family == Family::kElliptic && order == 8) {
    analog_poles = kElliptic8Poles;
    analog_zeros = kElliptic8Zeros;
    passband_gain = PortablePow10(-kNoteRippleDb / 20.0);
  } else {
    return false;
  }

  // Pre-warped so that the edge lands exactly; a high-pass is the low-pass
  // at the mirrored frequency with z negated.
  double warp = PortableTan(M_PI * edge_hz / rate);
  double m = band == Band::kLowPass ? warp : 1.0 / warp;
  double sign = band == Band::kLowPass ? 1.0 : -1.0;
  auto bilinear = [&](Complex s) {
    Complex sm{s.re * m, s.im * m};
    Complex z = Over({1.0 + sm.re, sm.im}, {1.0 - sm.re, -sm.im});
    return Complex{sign * z.re, sign * z.im};
  };
  std::vector<Complex> poles, zeros;
  for (int i = 0; i < order / 2; ++i) {
    poles.push_back(bilinear(analog_poles[i]));
    // Zeros at infinity land at Nyquist, or at DC for a high-pass.
    zeros.push_back(analog_zeros ? bilinear(analog_zeros[i]) : Complex{-sign, 0.0});
  }

  // Each pole pair with the nearest free zero pair, the poles nearest the
  // unit circle last. Each section has unity gain in the passband's middle
  // (DC, or Nyquist for a high-pass); the ripple's offset goes into the first.
  std::sort(poles.begin(), poles.end(),
            [](const Complex& a, const Complex& b) { return SquaredSize(a) < SquaredSize(b); });
  double at = sign;
  size_t first = sections->size();
  for (const auto& pole : poles) {
    auto nearest =
        std::min_element(zeros.begin(), zeros.end(), [&](const Complex& a, const Complex& b) {
          return SquaredDistance(a, pole) < SquaredDistance(b, pole);
        });
    Complex zero = *nearest;
    zeros.erase(nearest);
    Biquad section{1.0, -2 * zero.re, SquaredSize(zero), -2 * pole.re, SquaredSize(pole)};
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
  if (choice.kind == PrefilterChoice::Kind::kFollow ||
      choice.kind == PrefilterChoice::Kind::kLive) {
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

std::vector<double> Prefilter::Coefficients() const {
  std::vector<double> coefficients;
  for (const Section& s : m_sections)
    coefficients.insert(coefficients.end(), {s.b0, s.b1, s.b2, s.a1, s.a2});
  return coefficients;
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

}  // namespace tonevolt
