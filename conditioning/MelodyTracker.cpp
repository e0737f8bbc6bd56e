#include "conditioning/MelodyTracker.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "conditioning/Fft.h"
#include "conditioning/PortableMath.h"
#include "conditioning/Prefilter.h"

namespace tonevolt {
namespace {

// Rates come down by a whole factor to at least this, which halves the work
// at 44.1 kHz. Lower, a high note's period falls between samples and its
// dip shows shallower than its multiples' (a C6 at 11 kHz).
constexpr double kLeastReducedRate = 22000;
// The anti-aliasing low-pass's passband edge, and the highest pitch
// searched, as shares of the reduced rate.
constexpr double kAntialiasEdge = 0.4;
constexpr double kHighestShare = 0.38;

// A dip of the normalised difference deeper than this is a candidate
// period; the deepest few of them (kMostCandidates) are weighed.
constexpr double kCandidateLimit = 0.6;
// A period that is a multiple of a shorter one is that one's undertone far
// more often than a note, when the shorter dip is clear (below kClearDip)
// and nearly as deep (within kMultipleSlack): it costs this more. A dip at
// half the period of that depth is a strong second harmonic, not the note.
constexpr double kClearDip = 0.5;
constexpr double kMultipleCost = 0.3;
constexpr double kMultipleTolerance = 0.03;
constexpr double kMultipleSlack = 0.1;
// No pitch costs as much as a dip this deep.
constexpr double kNoPitchCost = 0.45;
// The path: starting or ending a pitch, a leap (more than a glide), and
// every octave moved.
constexpr double kVoicingCost = 0.1;
constexpr double kLeapCost = 0.15;
constexpr double kOctaveCost = 0.3;
constexpr double kGlideOctaves = 0.1;

// Input taken at a time: the scratch for it is sized once.
constexpr size_t kPiece = 1024;

size_t PowerOfTwoAtLeast(size_t n) {
  size_t p = 2;
  while (p < n) p *= 2;
  return p;
}

}  // namespace

MelodyTracker::MelodyTracker(double sample_rate, const MelodyOptions& options)
    : m_rate(sample_rate), m_options(options) {
  m_factor = std::max(1, static_cast<int>(std::floor(sample_rate / kLeastReducedRate)));
  m_reduced_rate = sample_rate / m_factor;
  m_hop = std::max(1, static_cast<int>(std::lround(m_reduced_rate * options.frame_seconds)));
  m_max_period = static_cast<int>(std::ceil(m_reduced_rate / options.lowest_hz)) + 1;
  double highest = std::min(options.highest_hz, kHighestShare * m_reduced_rate);
  m_min_period = std::max(2, static_cast<int>(std::floor(m_reduced_rate / highest)));
  const size_t span = 2 * static_cast<size_t>(m_max_period);
  m_fft_size = PowerOfTwoAtLeast(span);
  m_fft = std::make_unique<Fft>(m_fft_size);
  if (m_factor > 1) {
    std::string error;
    PrefilterChoice antialias{PrefilterChoice::Kind::kNote,
                              kAntialiasEdge * m_reduced_rate / Prefilter::kNoteEdgeFactor};
    m_antialias = Prefilter::Create(antialias, sample_rate, &error);
  }
  m_block.resize(kPiece);
  m_ring.assign(2 * span, 0.0);
  // Half a span of silence ahead of the input centres frame 0 on its start.
  m_reduced = m_max_period;
  m_next_end = static_cast<int64_t>(span);
  // The undecided frames, one more being added, and the last decided one,
  // which the next frame's paths start from.
  m_columns.resize(static_cast<size_t>(std::max(0, options.decision_lag)) + 2);
  m_path.resize(m_columns.size());
  m_decided.resize(m_columns.size() + 1);
  m_squares.resize(span + 1);
  m_re.resize(m_fft_size);
  m_im.resize(m_fft_size);
  m_product_re.resize(m_fft_size);
  m_product_im.resize(m_fft_size);
  m_diff.resize(static_cast<size_t>(m_max_period) + 1);
  m_dips.reserve(static_cast<size_t>(m_max_period));
}

MelodyTracker::~MelodyTracker() = default;

void MelodyTracker::Process(const float* in, size_t count) {
  for (size_t done = 0; done < count;) {
    const size_t piece = std::min(kPiece, count - done);
    for (size_t i = 0; i < piece; ++i)
      m_block[i] = std::isfinite(in[done + i]) ? in[done + i] : 0.0f;
    if (m_antialias) m_antialias->Process(m_block.data(), m_block.data(), piece);
    for (size_t i = 0; i < piece; ++i) {
      if (m_phase == 0) {
        ++m_input_reduced;
        PushReduced(m_block[i]);
      }
      m_phase = (m_phase + 1) % m_factor;
    }
    done += piece;
  }
}

int64_t MelodyTracker::InputUntilNextFrame() const {
  const int64_t reduced = m_next_end - m_reduced;
  const int64_t first = m_phase == 0 ? 1 : m_factor - m_phase + 1;
  return first + (reduced - 1) * m_factor;
}

void MelodyTracker::Finish() {
  if (m_finished) return;
  m_finished = true;
  // Frames centred within the input, each with silence after the end.
  const int64_t frames = (m_input_reduced + m_hop - 1) / m_hop;
  const int64_t last_end = (frames - 1) * m_hop + 2 * static_cast<int64_t>(m_max_period);
  while (m_reduced < last_end) PushReduced(0.0);
  Decide(true);
}

const MelodyFrame& MelodyTracker::Frame(size_t i) const {
  return m_decided[(m_first_ready + i) % m_decided.size()];
}

void MelodyTracker::Pop(size_t count) {
  count = std::min(count, m_ready);
  m_first_ready = (m_first_ready + count) % m_decided.size();
  m_ready -= count;
  m_taken += count;
}

void MelodyTracker::Emit(const MelodyFrame& frame) {
  if (m_ready == m_decided.size()) {
    // Full: the reader has let frames pile up (only the tool does).
    std::vector<MelodyFrame> larger(2 * m_decided.size());
    for (size_t i = 0; i < m_ready; ++i) larger[i] = Frame(i);
    m_decided.swap(larger);
    m_first_ready = 0;
  }
  m_decided[(m_first_ready + m_ready) % m_decided.size()] = frame;
  ++m_ready;
}

void MelodyTracker::PushReduced(double sample) {
  const size_t span = 2 * static_cast<size_t>(m_max_period);
  m_ring[m_ring_pos] = m_ring[m_ring_pos + span] = sample;
  m_ring_pos = (m_ring_pos + 1) % span;
  if (++m_reduced == m_next_end) {
    AnalyseFrame();
    m_next_end += m_hop;
    Decide(false);
  }
}

// YIN's cumulative mean normalised difference over the frame's span, its
// cross terms by FFT: d(tau) = e(0) + e(tau) - 2 r(tau) for a window of the
// longest period.
void MelodyTracker::AnalyseFrame() {
  const size_t span = 2 * static_cast<size_t>(m_max_period);
  const size_t window = static_cast<size_t>(m_max_period);
  const double* x = &m_ring[m_ring_pos];  // the oldest first
  const size_t n = m_fft_size;

  // The window in the real part, the whole span in the imaginary part: one
  // transform gives both spectra.
  for (size_t j = 0; j < n; ++j) {
    m_re[j] = j < window ? x[j] : 0.0;
    m_im[j] = j < span ? x[j] : 0.0;
  }
  m_fft->Transform(m_re.data(), m_im.data(), false);
  // conj(A) B for A = window, B = span; kept Hermitian, so the inverse is real.
  for (size_t k = 0; k < n; ++k) {
    const size_t mirror = (n - k) & (n - 1);
    const double ar = 0.5 * (m_re[k] + m_re[mirror]), ai = 0.5 * (m_im[k] - m_im[mirror]);
    const double br = 0.5 * (m_im[k] + m_im[mirror]), bi = -0.5 * (m_re[k] - m_re[mirror]);
    m_product_re[k] = ar * br + ai * bi;
    m_product_im[k] = ar * bi - ai * br;
  }
  m_fft->Transform(m_product_re.data(), m_product_im.data(), true);

  // Energies of every window position from running sums of squares.
  m_squares[0] = 0;
  for (size_t j = 0; j < span; ++j) m_squares[j + 1] = m_squares[j] + x[j] * x[j];
  const double e0 = m_squares[window];
  m_diff[0] = 1.0;
  double running = 0;
  for (size_t tau = 1; tau <= window; ++tau) {
    const double r = m_product_re[tau] / static_cast<double>(n);
    const double d = std::max(0.0, e0 + (m_squares[tau + window] - m_squares[tau]) - 2 * r);
    running += d;
    m_diff[tau] = running > 0 ? d * static_cast<double>(tau) / running : 1.0;
  }

  // The central hop's level.
  const size_t centre = window, half = static_cast<size_t>(m_hop) / 2;
  const size_t from = centre - std::min(centre, half), to = std::min(span, from + m_hop);
  const double level = (m_squares[to] - m_squares[from]) / static_cast<double>(to - from);

  Column& column = ColumnAt(m_column_count++);
  column.level_db = level > 1e-20 ? 10 * PortableLog10(level) : -200.0;
  FindCandidates(&column);

  // The cheapest path into each candidate.
  const Column* before =
      m_column_count > 1 ? &ColumnAt(m_column_count - 2)
      : m_decided_any    ? &m_columns[(m_first_column + m_columns.size() - 1) % m_columns.size()]
                         : nullptr;
  double least = 1e300;
  for (size_t j = 0; j < column.count; ++j) {
    double best = 0;
    column.from[j] = -1;
    if (before != nullptr) {
      best = 1e300;
      for (size_t i = 0; i < before->count; ++i) {
        const double p = before->candidates[i].period, q = column.candidates[j].period;
        double step = 0;
        if ((p > 0) != (q > 0)) {
          step = kVoicingCost;
        } else if (p > 0) {
          const double octaves = std::fabs(PortableLog2(q / p));
          step = kOctaveCost * octaves + (octaves > kGlideOctaves ? kLeapCost : 0.0);
        }
        if (before->total[i] + step < best) {
          best = before->total[i] + step;
          column.from[j] = static_cast<int>(i);
        }
      }
    }
    column.total[j] = best + column.candidates[j].cost;
    least = std::min(least, column.total[j]);
  }
  for (size_t j = 0; j < column.count; ++j) column.total[j] -= least;
}

// The dips of the normalised difference, weighed, the cheapest few kept,
// and no pitch.
void MelodyTracker::FindCandidates(Column* column) {
  m_dips.clear();
  if (column->level_db >= m_options.silence_db) {
    for (int tau = m_min_period; tau < m_max_period; ++tau) {
      const double a = m_diff[tau - 1], b = m_diff[tau], c = m_diff[tau + 1];
      if (!(b < a && b <= c && b < kCandidateLimit)) continue;
      const double curvature = a - 2 * b + c;
      const double shift = curvature > 0 ? 0.5 * (a - c) / curvature : 0.0;
      const double depth = std::max(0.0, b - 0.25 * (a - c) * shift);
      m_dips.push_back({tau + shift, depth, depth});
    }
    for (Candidate& longer : m_dips) {
      for (const Candidate& shorter : m_dips) {
        if (shorter.period >= longer.period) break;
        const double ratio = longer.period / shorter.period;
        const double whole = std::round(ratio);
        if (whole >= 2 && std::fabs(ratio - whole) < kMultipleTolerance * whole &&
            shorter.depth < kClearDip && shorter.depth < longer.depth + kMultipleSlack) {
          longer.cost += kMultipleCost;
          break;
        }
      }
    }
    const size_t kept = std::min(kMostCandidates, m_dips.size());
    std::partial_sort(m_dips.begin(), m_dips.begin() + static_cast<std::ptrdiff_t>(kept),
                      m_dips.end(), [](const Candidate& p, const Candidate& q) {
                        return p.cost < q.cost || (p.cost == q.cost && p.period < q.period);
                      });
    m_dips.resize(kept);
  }
  column->count = 0;
  for (const Candidate& dip : m_dips) column->candidates[column->count++] = dip;
  column->candidates[column->count++] = {0.0, 1.0, m_dips.empty() ? 0.0 : kNoPitchCost};
}

// Emits the oldest frames the lag allows (all of them at the end), each on
// the cheapest path through the frames after it.
void MelodyTracker::Decide(bool all) {
  const size_t keep = all ? 0 : m_columns.size() - 2;
  if (m_column_count <= keep) return;
  const size_t emit = m_column_count - keep;
  const Column& last = ColumnAt(m_column_count - 1);
  int choice = static_cast<int>(std::min_element(last.total, last.total + last.count) - last.total);
  for (size_t c = m_column_count; c-- > 0;) {
    m_path[c] = choice;
    choice = ColumnAt(c).from[choice];
  }
  for (size_t c = 0; c < emit; ++c) {
    const Column& column = ColumnAt(c);
    const Candidate& chosen = column.candidates[m_path[c]];
    MelodyFrame frame;
    frame.level_db = column.level_db;
    if (chosen.period > 0) {
      frame.hz = m_reduced_rate / chosen.period;
      frame.clarity = 1.0 - chosen.depth;
    }
    Emit(frame);
  }
  m_first_column = (m_first_column + emit) % m_columns.size();
  m_column_count -= emit;
  m_decided_any = true;
}

}  // namespace tonevolt
