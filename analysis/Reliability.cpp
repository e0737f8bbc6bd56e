#include "analysis/Reliability.h"

#include <algorithm>
#include <cmath>

namespace tonevolt {
namespace {

constexpr double kEdgeCrossings = 2;
constexpr double kSilenceDb = -200.0;

double Median(std::vector<double>* values) {
  if (values->empty()) return 0;
  size_t middle = values->size() / 2;
  std::nth_element(values->begin(), values->begin() + middle, values->end());
  double upper = (*values)[middle];
  if (values->size() % 2) return upper;
  double lower = *std::max_element(values->begin(), values->begin() + middle);
  return (lower + upper) / 2;
}

}  // namespace

const char* ReliabilityName(Reliability mark) {
  switch (mark) {
    case Reliability::kOk:
      return "ok";
    case Reliability::kHarmonics:
      return "harmonics";
    case Reliability::kNoPitch:
      return "no pitch";
    case Reliability::kReadsLow:
      return "reads low";
  }
  return "?";
}

ReliabilityCheck::ReliabilityCheck(int sample_rate, int hop, const ReliabilityOptions& options)
    : m_rate(sample_rate), m_half_hop_s(0.5 * hop / sample_rate), m_options(options) {}

double ReliabilityCheck::CrossingsPerPeriod(const CrossingWindow& crossings, double hz,
                                            int sample_rate) {
  double periods = crossings.samples * hz / sample_rate;
  return periods > 0 ? crossings.crossings / periods : 0.0;
}

bool ReliabilityCheck::HasPitch(const PitchFrame& frame, const ReliabilityOptions& options) {
  return frame.hz > 0 && frame.hz <= options.max_hz && frame.confidence >= options.min_confidence;
}

// The tracker is less sure of a chord's common fundamental than of a note:
// its confidence does not count here.
bool ReliabilityCheck::SeveralPitches(const PitchFrame& frame, const ReliabilityOptions& options) {
  return frame.several_pitches && frame.hz <= options.max_hz && frame.level_db >= options.gate_db;
}

Reliability ReliabilityCheck::Classify(const PitchFrame& frame, const CrossingWindow& crossings,
                                       int sample_rate, const ReliabilityOptions& options) {
  // A chord's tracked pitch is a common fundamental below all its notes,
  // whose crossings say nothing of the module's reading.
  if (!HasPitch(frame, options) || frame.level_db < options.gate_db || frame.several_pitches)
    return Reliability::kNoPitch;
  // A window P periods long holds fewer than 2 (P + 1) crossings of a clean
  // tone, however they are spaced: two more than 2 P can be where the
  // window's edges fall; only more than that counts.
  double periods = crossings.samples * frame.hz / sample_rate;
  if (crossings.crossings > kEdgeCrossings + options.harmonic_limit * periods) {
    return Reliability::kHarmonics;
  }
  return Reliability::kOk;
}

Reliability ReliabilityCheck::Add(const PitchFrame& frame, const CrossingWindow& crossings) {
  bool pitched = frame.hz > 0;
  Reliability mark = Classify(frame, crossings, m_rate, m_options);

  if (m_open && mark != m_current.mark) Close();
  if (!m_open) {
    m_open = true;
    m_current = Stretch();
    m_current.mark = mark;
    m_current.start_s =
        m_stretches.empty() ? std::max(0.0, frame.time_s - m_half_hop_s) : m_stretches.back().end_s;
  }
  m_current.end_s = frame.time_s + m_half_hop_s;
  ++m_current.frames;
  if (pitched) {
    m_hz.push_back(frame.hz);
    m_crossings_per_period.push_back(CrossingsPerPeriod(crossings, frame.hz, m_rate));
  }
  return mark;
}

void ReliabilityCheck::Close() {
  m_current.median_hz = Median(&m_hz);
  m_current.median_crossings_per_period = Median(&m_crossings_per_period);
  m_stretches.push_back(m_current);
  m_hz.clear();
  m_crossings_per_period.clear();
  m_open = false;
}

void ReliabilityCheck::Finish(double duration_s) {
  if (!m_open) return;
  m_current.end_s = std::max(m_current.start_s, duration_s);
  Close();
}

HopLevels::HopLevels(int hop) : m_hop(std::max(hop, 1)), m_hop_end(m_hop - m_hop / 2) {}

void HopLevels::Process(const float* in, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    double x = std::isfinite(in[i]) ? in[i] : 0.0;
    m_sum += x * x;
    ++m_count;
    if (++m_position == m_hop_end) Close();
  }
}

void HopLevels::Finish() {
  // Frames run to the last one centred within the input.
  int64_t frames = (m_position + m_hop - 1) / m_hop;
  while (m_frames < frames) Close();
}

void HopLevels::Close() {
  m_levels.push_back(Db(m_sum, m_count));
  ++m_frames;
  m_hop_end += m_hop;
  m_sum = 0;
  m_count = 0;
}

double HopLevels::Db(double sum_of_squares, int64_t count) {
  if (count <= 0) return kSilenceDb;
  double rms = std::sqrt(sum_of_squares / static_cast<double>(count));
  return rms > 1e-10 ? 20 * std::log10(rms) : kSilenceDb;
}

}  // namespace tonevolt
