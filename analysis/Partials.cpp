#include "analysis/Partials.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>

namespace tonevolt {
namespace {

// A partial's peak is looked for this far either side of where the period
// puts it, and taken only if at most this far below the strongest partial;
// the first few partials are looked at.
constexpr double kPeakSearch = 0.03;
constexpr double kPeakFloorDb = -40;
constexpr int kLowestPartialSearched = 4;

// Whether a frame holds one pitch: the partials that stand out must fit one
// harmonic series whose fundamental is the tracked pitch or the lowest
// strong partial, or half or a third of it (a piano's lowest notes, an
// organ's mixtures), its lowest strong partial its 1st to 3rd. A chord's
// partials fit only a series far below its lowest note: C-E-G's is C2, two
// octaves under C4; a real instrument's lowest strong partial is its 1st to
// 3rd. Measured on sampled pianos, strings, winds and sines, single notes
// against chords, on the spectrum of the fundamental's peak.
//
// Partials: peaks within kPartialFloorDb of the strongest, from 20 Hz to
// kHighestPartialHz; those within kStrongDb of it are strong. Only partials up to kSeriesSpan times
// it are weighed: a piano's high partials run sharp of the series (and its bass strings ring at
// other frequencies of their own), while a chord's notes lie well within that span (of the lowest
// strong partial).
constexpr double kPartialFloorDb = -30;
constexpr double kStrongDb = -20;
constexpr double kLowestPartialHz = 20, kHighestPartialHz = 5000;
constexpr double kSeriesSpan = 6;
// Vibrato spreads a partial into neighbouring peaks: peaks less than this
// apart (relative; a semitone is 0.059), over a span of at most twice it,
// are one partial at their centre of energy.
constexpr double kOnePartialRatio = 0.04;
// A partial fits harmonic n within (kFitBase + kFitPerHarmonic n) times the
// fundamental, for stretched partials and vibrato, but never a quarter of
// the way to the next one.
constexpr double kFitBase = 0.04, kFitPerHarmonic = 0.03, kFitMost = 0.25;
// The fundamental may be missing up to the third harmonic, but a series
// without its fundamental must hold the harmonic after its lowest: a sixth
// (3:5) or a tenth is two notes, not one with three missing.
constexpr int kMostMissingHarmonics = 2;
// Partials stand out of noise: within bands of kFlatnessBand bins, the
// power's geometric mean lies below its arithmetic mean (by 2.5 dB for
// noise of any colour), by this much at least, averaged over the bands
// weighed by their power. Measured: noise -2 to -6 dB, a singer's or a
// violin's vibrato -5 to -12, chords of strings -10 and below, of a piano -24
// and below.
constexpr double kTonalFlatnessDb = -8;
constexpr int kFlatnessBand = 32;
// A partial outside the series this close to the strongest is another pitch.
// Single notes' strays (reverb, bow noise) stay below it in 3 frames of 4 at
// worst (a piano's A5 decaying), a chord's other notes rise above it. A
// series without its fundamental is held closer: a major triad's root and
// fifth fit the series an octave below the root, its third alone does not,
// and a piano's third fades to 15 dB below the others as its strings beat.
constexpr double kOtherPitchDb = -12, kOtherPitchWithoutFundamentalDb = -16;

// A spectral peak's place between bins: a parabola through the logarithms of
// its bin and their neighbours (close to exact for a Hann window).
double PeakBin(const float* norm, int k) {
  double a = std::log(std::max(norm[k - 1], 1e-30f)), b = std::log(norm[k]),
         c = std::log(std::max(norm[k + 1], 1e-30f));
  double curvature = a - 2 * b + c;
  return k + (curvature < 0 ? 0.5 * (a - c) / curvature : 0.0);
}

// The power-weighted mean over bands of kFlatnessBand bins of each band's
// geometric over arithmetic mean power: 1 for a flat spectrum, near 0 for
// one of sharp peaks.
double Flatness(const float* norm, int bins) {
  double weighted = 0, total = 0;
  for (int band = 0; band + kFlatnessBand <= bins; band += kFlatnessBand) {
    double sum = 0, logs = 0;
    for (int k = band; k < band + kFlatnessBand; ++k) {
      double power = static_cast<double>(norm[k]) * norm[k] + 1e-30;
      sum += power;
      logs += std::log(power);
    }
    double mean = sum / kFlatnessBand;
    weighted += sum * (logs / kFlatnessBand - std::log(mean));
    total += sum;
  }
  return total > 0 ? std::exp(weighted / total) : 1.0;
}

}  // namespace

struct WindowPartials::Transform {
  float* padded = nullptr;
  fftwf_complex* bins = nullptr;
  fftwf_plan plan = nullptr;
};

WindowPartials::WindowPartials(int window, int sample_rate)
    : m_window(window),
      m_size(2 * window),
      m_rate(sample_rate),
      m_hann(window),
      m_norm(window + 1),
      m_transform(std::make_unique<Transform>()) {
  for (int i = 0; i < window; ++i)
    m_hann[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * M_PI * i / window));
  Transform& t = *m_transform;
  t.padded = fftwf_alloc_real(m_size);
  t.bins = fftwf_alloc_complex(m_size / 2 + 1);
  // Planned by estimate: measuring would cost more than a file's frames.
  t.plan = fftwf_plan_dft_r2c_1d(m_size, t.padded, t.bins, FFTW_ESTIMATE);
  std::fill(t.padded, t.padded + m_size, 0.0f);
}

WindowPartials::~WindowPartials() {
  fftwf_destroy_plan(m_transform->plan);
  fftwf_free(m_transform->padded);
  fftwf_free(m_transform->bins);
}

void WindowPartials::Analyse(const float* window) {
  Transform& t = *m_transform;
  for (int i = 0; i < m_window; ++i) t.padded[i] = window[i] * m_hann[i];
  std::fill(t.padded + m_window, t.padded + m_size, 0.0f);
  fftwf_execute(t.plan);
  for (int k = 0; k <= m_size / 2; ++k)
    m_norm[k] = std::sqrt(t.bins[k][0] * t.bins[k][0] + t.bins[k][1] * t.bins[k][1]);
}

WindowPartials::LowestPartial WindowPartials::FindLowestPartial(double hz) const {
  const int size = m_size;
  const float* norm = m_norm.data();
  const int bins = size / 2 + 1;
  const float floor = static_cast<float>(*std::max_element(norm + 1, norm + bins) *
                                         std::pow(10.0, kPeakFloorDb / 20));
  // The peak bin of harmonic n of hz where it stands out; 0 where it does
  // not, -1 past the spectrum.
  auto peak_of = [&](int harmonic) {
    double bin = harmonic * hz * size / m_rate;
    int lo = std::max(1, static_cast<int>(std::floor(bin * (1 - kPeakSearch))) - 1);
    int hi = std::min(bins - 2, static_cast<int>(std::ceil(bin * (1 + kPeakSearch))) + 1);
    if (lo + 1 >= hi) return -1;
    int peak = lo + 1;
    for (int k = lo + 1; k < hi; ++k)
      if (norm[k] > norm[peak]) peak = k;
    if (!(norm[peak] > norm[peak - 1] && norm[peak] >= norm[peak + 1]) || norm[peak] < floor)
      return 0;
    return peak;
  };
  for (int harmonic = 1; harmonic <= kLowestPartialSearched; ++harmonic) {
    const int peak = peak_of(harmonic);
    if (peak < 0) break;
    if (peak == 0) continue;
    const double peak_hz = PeakBin(norm, peak) * m_rate / size;
    if (harmonic == 1) return {peak_hz, 1};
    // hz is the fundamental heard only if a partial between the lowest one's
    // multiples stands out (the 3rd beside the 2nd); where none does, the
    // lowest partial is the note and hz an undertone of it.
    for (int above = harmonic + 1; above < 2 * harmonic; ++above)
      if (peak_of(above) > 0) return {peak_hz, harmonic};
    return {peak_hz, 1};
  }
  return {hz, 1};
}

double WindowPartials::Series(double hz) const {
  const int size = m_size;
  const double hz_per_bin = static_cast<double>(m_rate) / size;
  const float* norm = m_norm.data();
  const int first = std::max(2, static_cast<int>(std::ceil(kLowestPartialHz / hz_per_bin)));
  const int last = std::min(size / 2 - 1, static_cast<int>(kHighestPartialHz / hz_per_bin));
  if (first >= last) return kNoPartials;
  const float strongest = *std::max_element(norm + first, norm + last + 1);
  if (!(strongest > 0)) return kNoPartials;
  if (Flatness(norm + first, last + 1 - first) > std::pow(10.0, kTonalFlatnessDb / 10))
    return kNoPartials;
  const float floor = static_cast<float>(strongest * std::pow(10.0, kPartialFloorDb / 20));
  const float strong = static_cast<float>(strongest * std::pow(10.0, kStrongDb / 20));

  struct Partial {
    double hz = 0, energy = 0, first_hz = 0, last_hz = 0;
  };
  std::vector<Partial> partials;
  double lowest_strong = 0;
  for (int k = first; k <= last; ++k) {
    if (!(norm[k] > norm[k - 1] && norm[k] >= norm[k + 1]) || norm[k] < floor) continue;
    double peak_hz = PeakBin(norm, k) * hz_per_bin;
    if (lowest_strong == 0 && norm[k] >= strong) lowest_strong = peak_hz;
    if (lowest_strong > 0 && peak_hz > kSeriesSpan * lowest_strong) break;
    double energy = static_cast<double>(norm[k]) * norm[k];
    if (!partials.empty() && peak_hz <= partials.back().last_hz * (1 + kOnePartialRatio) &&
        peak_hz <= partials.back().first_hz * (1 + 2 * kOnePartialRatio)) {
      Partial& p = partials.back();
      p.hz += peak_hz * energy;
      p.energy += energy;
      p.last_hz = peak_hz;
      continue;
    }
    partials.push_back({peak_hz * energy, energy, peak_hz, peak_hz});
  }
  if (lowest_strong == 0) return kNoPartials;
  double loudest = 0;
  for (Partial& p : partials) {
    p.hz /= p.energy;
    loudest = std::max(loudest, p.energy);
  }
  // One series, of the tracked pitch or with the lowest strong partial as
  // its 1st to 3rd harmonic, whose lowest strong partial is its 1st to 3rd
  // (and then, but for the 1st, the next is there), and that leaves no other
  // pitch outside it.
  const double strong_energy = loudest * std::pow(10.0, kStrongDb / 10);
  auto one_series = [&](double f0) {
    long lowest = 0;
    std::vector<long> fitting;
    for (const Partial& p : partials) {
      long n = std::lround(p.hz / f0);
      bool fits = n >= 1 && std::fabs(p.hz - n * f0) <=
                                f0 * std::min(kFitMost, kFitBase + kFitPerHarmonic * n);
      fitting.push_back(fits ? n : 0);
      if (fits && p.energy >= strong_energy && (lowest == 0 || n < lowest)) lowest = n;
    }
    if (lowest == 0 || lowest > 1 + kMostMissingHarmonics) return false;
    if (lowest > 1 && std::find(fitting.begin(), fitting.end(), lowest + 1) == fitting.end())
      return false;
    const double other_pitch =
        loudest *
        std::pow(10.0, (lowest == 1 ? kOtherPitchDb : kOtherPitchWithoutFundamentalDb) / 10);
    for (size_t i = 0; i < partials.size(); ++i)
      if (fitting[i] == 0 && partials[i].energy >= other_pitch) return false;
    return true;
  };
  if (hz > 0 && one_series(hz)) return hz;
  for (int harmonic = 1; harmonic <= 1 + kMostMissingHarmonics; ++harmonic)
    if (one_series(lowest_strong / harmonic)) return lowest_strong / harmonic;
  return 0;
}

bool WindowPartials::SeveralPitches(double hz) const { return Series(hz) == 0; }

}  // namespace tonevolt
