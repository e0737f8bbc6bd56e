// Test signals made in the tests, and measurements on them.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace tonevolt {
namespace signals {

inline std::vector<float> Generate(size_t count, const std::function<double(size_t)>& sample) {
  std::vector<float> samples(count);
  for (size_t i = 0; i < count; ++i) samples[i] = static_cast<float>(sample(i));
  return samples;
}

inline std::vector<float> Sine(double hz, double rate, size_t count, double amplitude = 0.5,
                               double phase = 0) {
  return Generate(count,
                  [=](size_t i) { return amplitude * std::sin(2 * M_PI * hz * i / rate + phase); });
}

// Fundamental plus harmonics: {harmonic, amplitude, phase} each.
struct Partial {
  int harmonic;
  double amplitude;
  double phase;
};
inline double Partials(const std::vector<Partial>& partials, double cycles) {
  double x = 0;
  for (const Partial& p : partials)
    x += p.amplitude * std::sin(2 * M_PI * p.harmonic * cycles + p.phase);
  return x;
}

// Seeded Gaussian noise with this RMS.
inline std::vector<float> Noise(double rms, size_t count, uint32_t seed = 1) {
  std::mt19937 engine(seed);
  std::normal_distribution<double> normal(0.0, rms);
  return Generate(count, [&](size_t) { return normal(engine); });
}

// The amplitude of the component at hz over samples [begin, end): a least
// squares fit of a sine and a cosine.
inline double AmplitudeAt(const std::vector<float>& x, double hz, double rate, size_t begin,
                          size_t end) {
  double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
  for (size_t i = begin; i < end; ++i) {
    double s = std::sin(2 * M_PI * hz * i / rate), c = std::cos(2 * M_PI * hz * i / rate);
    ss += s * s;
    cc += c * c;
    sc += s * c;
    xs += x[i] * s;
    xc += x[i] * c;
  }
  double det = ss * cc - sc * sc;
  double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
  return std::hypot(a, b);
}

inline double Db(double ratio) { return 20 * std::log10(ratio); }
inline double Cents(double hz, double reference) { return 1200 * std::log2(hz / reference); }

// Feeds x to process(block pointer, block length) in blocks of this length.
template <typename Process>
void InBlocks(const std::vector<float>& x, size_t block, Process process) {
  for (size_t i = 0; i < x.size(); i += block) process(x.data() + i, std::min(block, x.size() - i));
}

}  // namespace signals
}  // namespace tonevolt
