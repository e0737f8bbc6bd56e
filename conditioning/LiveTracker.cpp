#include "conditioning/LiveTracker.h"

#include <algorithm>
#include <cmath>

#include "conditioning/FollowFilter.h"
#include "conditioning/MelodyTracker.h"
#include "conditioning/PortableMath.h"

namespace tonevolt {

namespace {

// Align() reads its silence in pieces of this many samples.
constexpr size_t kAlignPiece = 256;

}  // namespace

LiveTracker::LiveTracker(double sample_rate, const LiveOptions& options)
    : m_rate(sample_rate),
      m_options(options),
      m_level(CloseDelaySamples(sample_rate, options.lowest_hz)) {
  m_silence.resize(kAlignPiece);
  SetThreshold(options.threshold_db);
  Reset();
}

LiveTracker::~LiveTracker() = default;

void LiveTracker::SetThreshold(double threshold_db) {
  m_options.threshold_db = threshold_db;
  m_open_power = PortablePow10(threshold_db / 10);
  m_close_power = PortablePow10((threshold_db - kGateHysteresisDb) / 10);
}

void LiveTracker::Reset() {
  const double lowest = std::max(m_options.lowest_hz, kLowestHz);
  MelodyOptions melody;
  melody.lowest_hz = lowest;
  // Each frame decided as it comes: what follows would cost its wait.
  melody.decision_lag = 0;
  m_tracker = std::make_unique<MelodyTracker>(m_rate, melody);
  m_quiet.assign(static_cast<size_t>(m_tracker->Hop()) + 1, 0);
  m_filter = std::make_unique<FollowFilter>(m_rate, lowest);
  m_gate_open = false;
  m_frame_opens = false;
  m_pitchless = 0;
  m_note_hz = 0;
  m_frame_level_db = -200;
  m_gate_note_hz = 0;
  m_gate_peak_db = -200;
  m_released = false;
  m_least_db = 0;
  m_taken = 0;
  m_level.Reset();
}

void LiveTracker::Process(const float* in, float* out, float* gate, size_t count, float* note_hz) {
  const int64_t close_after = static_cast<int64_t>(kGateCloseSeconds * m_rate);
  m_taken += static_cast<int64_t>(count);
  size_t done = 0;
  while (done < count) {
    // Up to the sample that completes the next frame, so that a frame's
    // pitch steers from the sample after it whatever the host's blocks.
    const size_t run = static_cast<size_t>(
        std::min<int64_t>({static_cast<int64_t>(count - done), m_tracker->InputUntilNextFrame(),
                           static_cast<int64_t>(m_quiet.size())}));
    // The input is read before the filter may overwrite it.
    m_tracker->Process(in + done, run);
    for (size_t i = 0; i < run; ++i) {
      const double power = m_level.Push(in[done + i]);
      m_quiet[i] = power < m_close_power;
      if (m_quiet[i]) m_released = false;
      if (m_gate_open && (m_quiet[i] || m_pitchless + static_cast<int64_t>(i) >= close_after)) {
        m_gate_open = false;
      } else if (!m_gate_open && !m_released && m_frame_opens && power >= m_open_power) {
        m_gate_open = true;
        m_gate_note_hz = m_note_hz;
        m_gate_peak_db = m_frame_level_db;
      }
      if (gate != nullptr) gate[done + i] = m_gate_open ? 1.0f : 0.0f;
      if (note_hz != nullptr) note_hz[done + i] = static_cast<float>(m_note_hz);
    }
    m_filter->Process(in + done, out + done, run);
    for (size_t i = 0; i < run; ++i)
      if (m_quiet[i]) out[done + i] = 0.0f;
    m_pitchless += static_cast<int64_t>(run);
    for (size_t i = 0; i < m_tracker->Ready(); ++i) {
      const MelodyFrame& frame = m_tracker->Frame(i);
      m_filter->Steer(frame.hz);
      if (frame.hz > 0) {
        m_pitchless = 0;
        m_note_hz = frame.hz;
      }
      m_frame_opens = frame.hz > 0 && frame.level_db >= m_options.threshold_db;
      m_frame_level_db = frame.level_db;
      FollowNote(frame);
    }
    m_tracker->Pop(m_tracker->Ready());
    done += run;
  }
}

int64_t LiveTracker::Hop() const { return m_tracker->Hop(); }

void LiveTracker::Align(int64_t timeline_sample) {
  const int64_t hop = Hop();
  int64_t behind = (timeline_sample - m_taken) % hop;
  if (behind < 0) behind += hop;
  while (behind > 0) {
    const size_t piece = static_cast<size_t>(std::min<int64_t>(behind, kAlignPiece));
    std::fill(m_silence.begin(), m_silence.end(), 0.0f);
    Process(m_silence.data(), m_silence.data(), nullptr, piece);
    behind -= static_cast<int64_t>(piece);
  }
}

bool LiveTracker::IsPartialOf(double hz, double note_hz) {
  const double multiple = std::round(hz / note_hz);
  return multiple >= 2 &&
         std::fabs(1200 * PortableLog2(hz / (multiple * note_hz))) <= kPartialCents;
}

void LiveTracker::FollowNote(const MelodyFrame& frame) {
  if (m_released) {
    m_least_db = std::min(m_least_db, frame.level_db);
    if (frame.level_db >= m_least_db + kOnsetDb) m_released = false;
    return;
  }
  if (!m_gate_open || frame.hz <= 0) return;
  const double leap_cents = 1200 * std::fabs(PortableLog2(frame.hz / m_gate_note_hz));
  if (leap_cents <= kReleaseLeapCents) {
    m_gate_note_hz = frame.hz;
    m_gate_peak_db = std::max(m_gate_peak_db, frame.level_db);
  } else if (frame.level_db > m_gate_peak_db - kReleaseDb ||
             !IsPartialOf(frame.hz, m_gate_note_hz)) {
    m_gate_note_hz = frame.hz;  // legato: the next note
    m_gate_peak_db = frame.level_db;
  } else {
    m_gate_open = false;
    m_released = true;
    m_least_db = frame.level_db;
  }
}

}  // namespace tonevolt
