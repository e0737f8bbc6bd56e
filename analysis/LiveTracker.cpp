#include "analysis/LiveTracker.h"

#include <algorithm>

#include "analysis/FollowFilter.h"
#include "analysis/MelodyTracker.h"

namespace tonevolt {
namespace {

MelodyOptions LiveMelodyOptions(const LiveOptions& options) {
  MelodyOptions melody;
  melody.lowest_hz = std::max(options.lowest_hz, LiveTracker::kLowestHz);
  // Each frame decided as it comes: what follows would cost its wait.
  melody.decision_lag = 0;
  return melody;
}

}  // namespace

LiveTracker::LiveTracker(double sample_rate, const LiveOptions& options)
    : m_rate(sample_rate), m_options(options) {
  Reset();
}

LiveTracker::~LiveTracker() = default;

void LiveTracker::SetThreshold(double threshold_db) { m_options.threshold_db = threshold_db; }

void LiveTracker::Reset() {
  m_tracker = std::make_unique<MelodyTracker>(m_rate, LiveMelodyOptions(m_options));
  m_filter = std::make_unique<FollowFilter>(m_rate, std::max(m_options.lowest_hz, kLowestHz));
  m_gate_open = false;
  m_pitchless = 0;
}

void LiveTracker::Process(const float* in, float* out, float* gate, size_t count) {
  const int64_t close_after = static_cast<int64_t>(kGateCloseSeconds * m_rate);
  size_t done = 0;
  while (done < count) {
    // Up to the sample that completes the next frame, so that a frame's
    // pitch steers from the sample after it whatever the host's blocks.
    const size_t run = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(count - done), m_tracker->InputUntilNextFrame()));
    m_filter->Process(in + done, out + done, run);
    if (gate != nullptr) std::fill(gate + done, gate + done + run, m_gate_open ? 1.0f : 0.0f);
    m_tracker->Process(in + done, run);
    m_pitchless += static_cast<int64_t>(run);
    for (size_t i = 0; i < m_tracker->Ready(); ++i) {
      const MelodyFrame& frame = m_tracker->Frame(i);
      m_filter->Steer(frame.hz);
      if (frame.hz > 0) m_pitchless = 0;
      if (!m_gate_open)
        m_gate_open = frame.hz > 0 && frame.level_db >= m_options.threshold_db;
      else if (frame.level_db < m_options.threshold_db - kGateHysteresisDb ||
               m_pitchless >= close_after)
        m_gate_open = false;
    }
    m_tracker->Pop(m_tracker->Ready());
    done += run;
  }
}

}  // namespace tonevolt
