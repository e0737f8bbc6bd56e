#include "analysis/FollowFilter.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "analysis/Frequency.h"

namespace tonevolt {
namespace {

// Input kept for warming a new band: ten periods of E1.
constexpr double kHistorySeconds = 0.25;
// A new band runs over this many of its note's periods before it is heard:
// its own ringing from starting at rest has died away by then.
constexpr double kWarmPeriods = 10;
// The highest band's low-pass edge stays below this share of the rate.
constexpr double kHighestEdgeShare = 0.45;
constexpr double kLowPassEdgeFactor = 1.3;  // note:F's passband ends at 1.3 F
constexpr int kLowestNote = 12;             // C0, 16 Hz

}  // namespace

FollowFilter::FollowFilter(double sample_rate) : m_rate(sample_rate) {
  m_highest_note = static_cast<int>(
      std::floor(12 * std::log2(kHighestEdgeShare * sample_rate / kLowPassEdgeFactor / 440) + 69));
  m_fade_length = static_cast<size_t>(std::max(1L, std::lround(kCrossfadeSeconds * sample_rate)));
  m_history.assign(static_cast<size_t>(std::max(1L, std::lround(kHistorySeconds * sample_rate))),
                   0.0f);
}

void FollowFilter::Steer(double hz) {
  if (hz > 0 && std::isfinite(hz)) m_wanted_hz = hz;
}

double FollowFilter::BandHz() const {
  return m_current_note < 0 ? 0.0 : MidiNoteHz(m_current_note);
}

int FollowFilter::NoteFor(double hz) const {
  long note = std::lround(12 * std::log2(hz / 440) + 69);
  return static_cast<int>(std::clamp<long>(note, kLowestNote, m_highest_note));
}

const Prefilter& FollowFilter::Design(int note) {
  std::unique_ptr<Prefilter>& design = m_designs[note];
  if (!design) {
    std::string error;
    design = Prefilter::Create({PrefilterChoice::Kind::kBand, MidiNoteHz(note)}, m_rate, &error);
  }
  return *design;
}

void FollowFilter::Start(int note) {
  m_next = std::make_unique<Prefilter>(Design(note));
  m_next->Reset();
  m_next_note = note;
  m_fade_done = 0;
  const size_t size = m_history.size();
  const size_t warm = std::min(
      size, static_cast<size_t>(std::lround(kWarmPeriods * m_rate / MidiNoteHz(note))));
  m_warm.resize(warm);
  for (size_t j = 0; j < warm; ++j) m_warm[j] = m_history[(m_history_pos + size - warm + j) % size];
  m_next->Process(m_warm.data(), m_warm.data(), warm);
}

void FollowFilter::Process(const float* in, float* out, size_t count) {
  size_t done = 0;
  while (done < count) {
    if (!m_next && m_wanted_hz > 0) {
      const bool outside =
          m_current_note < 0 ||
          std::fabs(1200 * std::log2(m_wanted_hz / MidiNoteHz(m_current_note))) > kStayCents;
      const int note = NoteFor(m_wanted_hz);
      if (outside && note != m_current_note) Start(note);
    }
    size_t run = count - done;
    if (m_next) run = std::min(run, m_fade_length - m_fade_done);
    const float* x = in + done;
    m_old.assign(x, x + run);
    if (m_current) m_current->Process(m_old.data(), m_old.data(), run);
    if (m_next) {
      m_new.assign(x, x + run);
      m_next->Process(m_new.data(), m_new.data(), run);
    }
    const size_t size = m_history.size();
    for (size_t j = 0; j < run; ++j) {
      m_history[m_history_pos] = x[j];
      m_history_pos = (m_history_pos + 1) % size;
    }
    if (m_next) {
      for (size_t j = 0; j < run; ++j) {
        const double weight =
            0.5 - 0.5 * std::cos(M_PI * (static_cast<double>(m_fade_done + j) + 0.5) /
                                 static_cast<double>(m_fade_length));
        out[done + j] = static_cast<float>((1 - weight) * m_old[j] + weight * m_new[j]);
      }
      m_fade_done += run;
      if (m_fade_done == m_fade_length) {
        m_current = std::move(m_next);
        m_current_note = m_next_note;
      }
    } else {
      std::copy(m_old.begin(), m_old.begin() + static_cast<std::ptrdiff_t>(run), out + done);
    }
    done += run;
  }
}

}  // namespace tonevolt
