#include "conditioning/FollowFilter.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "conditioning/Frequency.h"
#include "conditioning/PortableMath.h"

namespace tonevolt {
namespace {

// Input kept for warming a new band: ten periods of E1.
constexpr double kHistorySeconds = 0.25;
// A new band runs over this many of its note's periods before it is heard:
// its own ringing from starting at rest has died away by then.
constexpr double kWarmPeriods = 10;
// The highest band's low-pass edge stays below this share of the rate.
constexpr double kHighestEdgeShare = 0.45;
constexpr int kLowestNote = 12;  // C0, 16 Hz
// Input filtered at a time: the scratch for it is sized once.
constexpr size_t kPiece = 512;

}  // namespace

FollowFilter::FollowFilter(double sample_rate, double lowest_hz)
    : m_rate(sample_rate),
      m_level(static_cast<size_t>(std::max(1L, std::lround(sample_rate / lowest_hz)))) {
  m_highest_note = static_cast<int>(std::floor(
      12 * PortableLog2(kHighestEdgeShare * sample_rate / Prefilter::kNoteEdgeFactor / 440) + 69));
  m_lowest_note =
      std::clamp(static_cast<int>(std::floor(12 * PortableLog2(lowest_hz / 440) + 69)) - 1,
                 kLowestNote, m_highest_note);
  std::string error;
  for (int note = m_lowest_note; note <= m_highest_note; ++note)
    m_designs.push_back(
        Prefilter::Create({PrefilterChoice::Kind::kBand, MidiNoteHz(note)}, sample_rate, &error));
  m_current = std::make_unique<Prefilter>(*m_designs.front());
  m_next = std::make_unique<Prefilter>(*m_designs.front());
  const size_t fade =
      static_cast<size_t>(std::max(1L, std::lround(kCrossfadeSeconds * sample_rate)));
  for (size_t j = 0; j < fade; ++j)
    m_fade.push_back(
        0.5 - 0.5 * PortableCos(M_PI * (static_cast<double>(j) + 0.5) / static_cast<double>(fade)));
  m_history.assign(static_cast<size_t>(std::max(1L, std::lround(kHistorySeconds * sample_rate))),
                   0.0f);
  m_warm.resize(m_history.size());
  m_old.resize(kPiece);
  m_new.resize(kPiece);
  m_quiet.resize(kPiece);
}

void FollowFilter::MuteBelow(double level_db) {
  m_mute_power = PortablePow10(level_db / 10);
  m_unmute_power = PortablePow10((level_db + kUnmuteAboveDb) / 10);
}

void FollowFilter::Steer(double hz) {
  if (hz > 0 && std::isfinite(hz)) m_wanted_hz = hz;
}

double FollowFilter::BandHz() const {
  return m_current_note < 0 ? 0.0 : MidiNoteHz(m_current_note);
}

int FollowFilter::NoteFor(double hz) const {
  long note = std::lround(12 * PortableLog2(hz / 440) + 69);
  return static_cast<int>(std::clamp<long>(note, m_lowest_note, m_highest_note));
}

void FollowFilter::Start(int note) {
  *m_next = *m_designs[static_cast<size_t>(note - m_lowest_note)];
  m_next->Reset();
  m_next_note = note;
  m_fading = true;
  m_fade_done = 0;
  const size_t size = m_history.size();
  const size_t warm =
      std::min(size, static_cast<size_t>(std::lround(kWarmPeriods * m_rate / MidiNoteHz(note))));
  for (size_t j = 0; j < warm; ++j) m_warm[j] = m_history[(m_history_pos + size - warm + j) % size];
  m_next->Process(m_warm.data(), m_warm.data(), warm);
}

void FollowFilter::Process(const float* in, float* out, size_t count) {
  size_t done = 0;
  while (done < count) {
    if (!m_fading && m_wanted_hz > 0) {
      const bool outside =
          m_current_note < 0 ||
          std::fabs(1200 * PortableLog2(m_wanted_hz / MidiNoteHz(m_current_note))) > kStayCents;
      const int note = NoteFor(m_wanted_hz);
      if (outside && note != m_current_note) Start(note);
    }
    size_t run = std::min(count - done, kPiece);
    if (m_fading) run = std::min(run, m_fade.size() - m_fade_done);
    const float* x = in + done;
    std::copy(x, x + run, m_old.begin());
    if (m_current_note >= 0) m_current->Process(m_old.data(), m_old.data(), run);
    if (m_fading) {
      std::copy(x, x + run, m_new.begin());
      m_next->Process(m_new.data(), m_new.data(), run);
    }
    const size_t size = m_history.size();
    for (size_t j = 0; j < run; ++j) {
      m_history[m_history_pos] = x[j];
      m_history_pos = (m_history_pos + 1) % size;
    }
    if (m_mute_power > 0)
      for (size_t j = 0; j < run; ++j) {
        const double power = m_level.Push(x[j]);
        if (power < m_mute_power)
          m_muted = true;
        else if (power >= m_unmute_power)
          m_muted = false;
        m_quiet[j] = m_muted;
      }
    if (m_fading) {
      for (size_t j = 0; j < run; ++j) {
        const double weight = m_fade[m_fade_done + j];
        out[done + j] = static_cast<float>((1 - weight) * m_old[j] + weight * m_new[j]);
      }
      m_fade_done += run;
      if (m_fade_done == m_fade.size()) {
        std::swap(m_current, m_next);
        m_current_note = m_next_note;
        m_fading = false;
      }
    } else {
      std::copy(m_old.begin(), m_old.begin() + static_cast<std::ptrdiff_t>(run), out + done);
    }
    if (m_mute_power > 0)
      for (size_t j = 0; j < run; ++j)
        if (m_quiet[j]) out[done + j] = 0.0f;
    done += run;
  }
}

}  // namespace tonevolt
