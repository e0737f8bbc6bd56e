#include "analysis/PitchTracker.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>

namespace tonevolt {
namespace {

constexpr double kSilenceDb = -200.0;
// aubio's yinfft reads low pure tones sharp (measured: 5 cents at 110 Hz, 25
// at 55 Hz, 120 at 27.5 Hz); the period is searched this far either side of
// its reading.
constexpr double kSearchRatio = 1.15;
// A half or a third of the period is taken when its peak is this close.
constexpr double kSubdivisionRatio = 1.02;
constexpr double kSubdivisionSlack = 0.01;
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

bool IsPowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

// A spectral peak's place between bins: a parabola through the logarithms of
// its bin and their neighbours (close to exact for a Hann window).
double PeakBin(const float* norm, int k) {
  double a = std::log(std::max(norm[k - 1], 1e-30f)), b = std::log(norm[k]),
         c = std::log(std::max(norm[k + 1], 1e-30f));
  double curvature = a - 2 * b + c;
  return k + (curvature < 0 ? 0.5 * (a - c) / curvature : 0.0);
}

// Normalised autocorrelation of a window at whole lags, over a fixed length.
class Correlation {
 public:
  Correlation(const float* samples, int length) : m_samples(samples), m_length(length) {
    for (int j = 0; j < length; ++j) m_energy += static_cast<double>(samples[j]) * samples[j];
  }

  double At(int lag) const {
    const float* lagged = m_samples + lag;
    double cross = 0, energy = 0;
    for (int j = 0; j < m_length; ++j) {
      cross += static_cast<double>(m_samples[j]) * lagged[j];
      energy += static_cast<double>(lagged[j]) * lagged[j];
    }
    return m_energy > 0 && energy > 0 ? cross / std::sqrt(m_energy * energy) : 0.0;
  }

  // Climbs from start to a local peak within [lo, hi], placed between lags
  // by a parabola. False when it runs into the limits.
  bool Peak(int start, int lo, int hi, double* lag, double* height) const {
    if (lo + 1 > hi - 1) return false;
    int at = std::clamp(start, lo + 1, hi - 1);
    double left = At(at - 1), centre = At(at), right = At(at + 1);
    while (right > centre && at + 1 < hi) {
      ++at;
      left = centre;
      centre = right;
      right = At(at + 1);
    }
    while (left > centre && at - 1 > lo) {
      --at;
      right = centre;
      centre = left;
      left = At(at - 1);
    }
    if (left > centre || right > centre) return false;
    double curvature = left - 2 * centre + right;
    double offset = curvature < 0 ? 0.5 * (left - right) / curvature : 0.0;
    *lag = at + offset;
    *height = centre - 0.25 * (left - right) * offset;
    return true;
  }

 private:
  const float* m_samples;
  int m_length;
  double m_energy = 0;
};

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

// aubio runs with its hop equal to its window and is given the whole window
// each hop: its silence test then looks at the window the frame stands for,
// not only at the newest hop, so that a note's last half window before
// digital silence (or the end) keeps its pitch.
struct PitchTracker::Aubio {
  aubio_pitch_t* pitch;
  fvec_t* window;
  fvec_t* result;
  // For the fundamental's peak and the test for one pitch: the window,
  // Hann-weighted and padded to twice its length, and its spectrum.
  aubio_fft_t* fft = nullptr;
  fvec_t* padded = nullptr;
  fvec_t* complex = nullptr;  // real and imaginary parts, before their norms
  cvec_t* spectrum = nullptr;
  std::vector<float> hann;
};

PitchTracker::PitchTracker(int sample_rate, const PitchOptions& options)
    : m_rate(sample_rate),
      m_options(options),
      m_ring(options.window, 0.0f),
      m_lead((options.hop - (options.window / 2) % options.hop) % options.hop) {}

std::unique_ptr<PitchTracker> PitchTracker::Create(int sample_rate, const PitchOptions& options,
                                                   std::string* error) {
  if (sample_rate < 1000 || sample_rate > 1000000) {
    *error = "pitch tracking needs a sample rate of 1000 to 1000000 Hz, not " +
             std::to_string(sample_rate);
    return nullptr;
  }
  if (!IsPowerOfTwo(options.window) || options.window < 1024 || options.window > 65536) {
    *error = "pitch window " + std::to_string(options.window) +
             " is not a power of two from 1024 to 65536";
    return nullptr;
  }
  if (options.hop < 1 || options.hop > options.window / 2) {
    *error = "pitch hop " + std::to_string(options.hop) + " is not 1 to half the window (" +
             std::to_string(options.window / 2) + ")";
    return nullptr;
  }
  if (!(options.tolerance > 0 && options.tolerance <= 1)) {
    *error = "pitch tolerance must be above 0 and at most 1";
    return nullptr;
  }
  if (!(options.silence_db >= -200 && options.silence_db <= 0)) {
    *error = "pitch silence threshold must be -200 to 0 dB";
    return nullptr;
  }
  aubio_pitch_t* pitch = new_aubio_pitch("yinfft", options.window, options.window, sample_rate);
  if (!pitch) {
    *error = "aubio cannot track pitch with a window of " + std::to_string(options.window);
    return nullptr;
  }
  aubio_pitch_set_unit(pitch, "Hz");
  aubio_pitch_set_tolerance(pitch, static_cast<smpl_t>(options.tolerance));
  aubio_pitch_set_silence(pitch, static_cast<smpl_t>(options.silence_db));

  std::unique_ptr<PitchTracker> tracker(new PitchTracker(sample_rate, options));
  tracker->m_aubio = new Aubio();
  tracker->m_aubio->pitch = pitch;
  tracker->m_aubio->window = new_fvec(options.window);
  tracker->m_aubio->result = new_fvec(1);
  Aubio* a = tracker->m_aubio;
  a->fft = new_aubio_fft(2 * options.window);
  a->padded = new_fvec(2 * options.window);
  a->complex = new_fvec(2 * options.window);
  a->spectrum = new_cvec(2 * options.window);
  a->hann.resize(options.window);
  for (int i = 0; i < options.window; ++i)
    a->hann[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * M_PI * i / options.window));
  for (int i = 0; i < tracker->m_lead; ++i) tracker->Push(0.0f);
  return tracker;
}

PitchTracker::~PitchTracker() {
  if (m_aubio) {
    del_aubio_pitch(m_aubio->pitch);
    del_fvec(m_aubio->window);
    del_fvec(m_aubio->result);
    del_aubio_fft(m_aubio->fft);
    del_fvec(m_aubio->padded);
    del_fvec(m_aubio->complex);
    del_cvec(m_aubio->spectrum);
    delete m_aubio;
  }
}

void PitchTracker::Process(const float* in, size_t count) {
  if (m_finished) return;
  for (size_t i = 0; i < count; ++i) {
    ++m_input;
    Push(in[i]);
  }
}

void PitchTracker::Finish() {
  if (m_finished) return;
  m_finished = true;
  // Silence after the end until the last frame centred within the input.
  int64_t hop = m_options.hop;
  int64_t frames = (m_input + hop - 1) / hop;
  while (static_cast<int64_t>(m_dropped + m_frames.size()) < frames) Push(0.0f);
}

void PitchTracker::DropFrames(size_t count) {
  count = std::min(count, m_frames.size());
  m_frames.erase(m_frames.begin(), m_frames.begin() + static_cast<std::ptrdiff_t>(count));
  m_dropped += count;
}

void PitchTracker::Push(float sample) {
  m_ring[m_ring_pos] = sample;
  m_ring_pos = (m_ring_pos + 1) % m_ring.size();
  ++m_fed;
  if (++m_hop_fill == m_options.hop) {
    m_hop_fill = 0;
    AnalyseHop();
  }
}

void PitchTracker::AnalyseHop() {
  int64_t centre = m_fed - m_lead - m_options.window / 2;  // in input samples
  if (centre < 0) return;

  float* window = m_aubio->window->data;
  std::copy(m_ring.begin() + m_ring_pos, m_ring.end(), window);
  std::copy(m_ring.begin(), m_ring.begin() + m_ring_pos, window + (m_ring.size() - m_ring_pos));
  aubio_pitch_do(m_aubio->pitch, m_aubio->window, m_aubio->result);

  PitchFrame frame;
  frame.time_s = static_cast<double>(centre) / m_rate;
  double hz = m_aubio->result->data[0];
  if (hz > 0 && std::isfinite(hz)) frame.hz = Refine(hz, &frame.confidence);
  if (frame.hz > 0) {
    Spectrum();
    if (m_options.fundamental_peak) frame.hz = FundamentalPeak(frame.hz);
    frame.several_pitches = SeveralPitches(frame.hz);
  }
  frame.level_db = HopLevelDb(centre);
  m_frames.push_back(frame);
}

// The period is the peak of the normalised autocorrelation nearest aubio's
// reading, or a half or third of it where that peak is as high: on a pure
// tone aubio can take two periods for one. The peak's height is the frame's
// confidence: aubio's own reports 0 below about 1300 Hz in the version this
// is built with.
double PitchTracker::Refine(double hz, double* confidence) {
  int window = m_options.window;
  double period = m_rate / hz;
  int hi = std::min(window / 2, static_cast<int>(std::ceil(period * kSearchRatio)));
  Correlation correlation(m_aubio->window->data, window - hi);
  int lo = std::max(1, static_cast<int>(std::floor(period / kSearchRatio)));
  double lag = 0, height = 0;
  if (!correlation.Peak(static_cast<int>(std::lround(period)), lo, hi, &lag, &height)) {
    *confidence = 0;
    return hz;
  }
  for (bool shorter = true; shorter;) {
    shorter = false;
    for (int divisor : {2, 3}) {
      double part = lag / divisor, part_lag = 0, part_height = 0;
      int part_lo = static_cast<int>(std::floor(part / kSubdivisionRatio));
      int part_hi = static_cast<int>(std::ceil(part * kSubdivisionRatio));
      if (part_lo >= 2 &&
          correlation.Peak(static_cast<int>(std::lround(part)), part_lo, part_hi, &part_lag,
                           &part_height) &&
          part_height >= height - kSubdivisionSlack) {
        lag = part_lag;
        height = part_height;
        shorter = true;
        break;
      }
    }
  }
  *confidence = std::clamp(height, 0.0, 1.0);
  return m_rate / lag;
}

// The lowest partial that stands out (no more than kPeakFloorDb below the
// strongest): the largest bin within kPeakSearch of hz, or of 2 hz, 3 hz ...,
// that is a peak of its own, placed between bins (PeakBin). A fundamental that is
// missing (a piano's lowest notes, an organ's mixtures) is no use to a
// crossing counter: behind a low-pass it counts the lowest partial there is.
double PitchTracker::FundamentalPeak(double hz) {
  const int size = 2 * m_options.window;
  const float* norm = m_aubio->spectrum->norm;
  const int bins = size / 2 + 1;
  const float floor = static_cast<float>(*std::max_element(norm + 1, norm + bins) *
                                         std::pow(10.0, kPeakFloorDb / 20));
  for (int harmonic = 1; harmonic <= kLowestPartialSearched; ++harmonic) {
    double bin = harmonic * hz * size / m_rate;
    int lo = std::max(1, static_cast<int>(std::floor(bin * (1 - kPeakSearch))) - 1);
    int hi = std::min(bins - 2, static_cast<int>(std::ceil(bin * (1 + kPeakSearch))) + 1);
    if (lo + 1 >= hi) break;
    int peak = lo + 1;
    for (int k = lo + 1; k < hi; ++k)
      if (norm[k] > norm[peak]) peak = k;
    if (!(norm[peak] > norm[peak - 1] && norm[peak] >= norm[peak + 1]) || norm[peak] < floor)
      continue;
    return PeakBin(norm, peak) * m_rate / size;
  }
  return hz;
}

void PitchTracker::Spectrum() {
  const int size = 2 * m_options.window;
  const float* window = m_aubio->window->data;
  float* padded = m_aubio->padded->data;
  for (int i = 0; i < m_options.window; ++i) padded[i] = window[i] * m_aubio->hann[i];
  std::fill(padded + m_options.window, padded + size, 0.0f);
  // Norms alone: the phases' arctangents would cost more than the FFT.
  aubio_fft_do_complex(m_aubio->fft, m_aubio->padded, m_aubio->complex);
  aubio_fft_get_norm(m_aubio->complex, m_aubio->spectrum);
}

bool PitchTracker::SeveralPitches(double hz) const {
  const int size = 2 * m_options.window;
  const double hz_per_bin = static_cast<double>(m_rate) / size;
  const float* norm = m_aubio->spectrum->norm;
  const int first = std::max(2, static_cast<int>(std::ceil(kLowestPartialHz / hz_per_bin)));
  const int last = std::min(size / 2 - 1, static_cast<int>(kHighestPartialHz / hz_per_bin));
  if (first >= last) return false;
  const float strongest = *std::max_element(norm + first, norm + last + 1);
  if (!(strongest > 0)) return false;
  if (Flatness(norm + first, last + 1 - first) > std::pow(10.0, kTonalFlatnessDb / 10))
    return false;
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
  if (lowest_strong == 0) return false;
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
  if (one_series(hz)) return false;
  for (int harmonic = 1; harmonic <= 1 + kMostMissingHarmonics; ++harmonic)
    if (one_series(lowest_strong / harmonic)) return false;
  return true;
}

double PitchTracker::HopLevelDb(int64_t centre) const {
  int64_t start = std::max<int64_t>(0, centre - m_options.hop / 2);
  int64_t end = std::min<int64_t>(m_input, centre - m_options.hop / 2 + m_options.hop);
  if (end <= start) return kSilenceDb;
  // Input sample i sits at i + lead - (fed - window) in the window.
  int64_t offset = m_lead - (m_fed - m_options.window);
  const float* window = m_aubio->window->data;
  double sum = 0;
  for (int64_t i = start; i < end; ++i) {
    double x = window[i + offset];
    if (std::isfinite(x)) sum += x * x;  // the module counts the others as zero
  }
  double rms = std::sqrt(sum / static_cast<double>(end - start));
  return rms > 1e-10 ? 20 * std::log10(rms) : kSilenceDb;
}

}  // namespace tonevolt
