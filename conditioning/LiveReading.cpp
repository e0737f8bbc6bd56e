#include "conditioning/LiveReading.h"

#include <algorithm>
#include <cmath>

#include "TonevoltPins.h"

namespace tonevolt {

NoteHold::NoteHold(size_t close_delay, double sample_rate)
    : m_rate(sample_rate),
      m_close_delay(close_delay),
      m_recent(2 * close_delay, 0.0f),
      m_recent_hz(2 * close_delay, 0.0f) {}

void NoteHold::Reset() {
  m_recent_pos = 0;
  m_recent_count = 0;
  m_gate_was_open = false;
  m_has_note = false;
}

void NoteHold::Process(float* pitch, const float* gate, const float* note_hz, size_t count,
                       bool hold) {
  const size_t size = m_recent.size();
  for (size_t i = 0; i < count; ++i) {
    if (gate[i] != 0.0f) {
      if (!m_gate_was_open) m_recent_count = 0;
      m_recent[m_recent_pos] = pitch[i];
      m_recent_hz[m_recent_pos] = note_hz[i];
      m_recent_pos = m_recent_pos + 1 == size ? 0 : m_recent_pos + 1;
      m_recent_count = std::min(m_recent_count + 1, size);
      m_gate_was_open = true;
    } else {
      if (m_gate_was_open) {
        m_note_value = SettledReading();
        m_has_note = true;
        m_gate_was_open = false;
      }
      if (hold && m_has_note) pitch[i] = m_note_value;
    }
  }
}

size_t NoteHold::RecentIndex(size_t j) const {
  const size_t size = m_recent.size();
  return (m_recent_pos + size - m_recent_count + j) % size;
}

float NoteHold::SettledReading() const {
  // The hold point: the close delay before the gate closed, or the note's
  // first sample.
  const size_t point = m_recent_count > m_close_delay ? m_recent_count - m_close_delay : 0;
  const double hz = m_recent_hz[RecentIndex(point)];
  size_t length = 1;
  if (hz > 0) {
    const double period = m_rate / hz;
    const double periods = std::max(1.0, std::floor(static_cast<double>(m_close_delay) / period));
    length = static_cast<size_t>(std::max(1L, std::lround(periods * period)));
  }
  // Ending at the hold point, or from the note's start if that is nearer.
  length = std::min(length, m_recent_count);
  const size_t first = point + 1 >= length ? point + 1 - length : 0;
  double sum = 0;
  for (size_t j = first; j < first + length; ++j) sum += m_recent[RecentIndex(j)];
  return static_cast<float>(sum / static_cast<double>(length));
}

// libm's log2: only the x86-64 plug-ins step, so no other build need agree.
RateStep::RateStep(double sample_rate)
    : m_sample_rate(sample_rate),
      m_factor(sample_rate / kReferenceRate),
      m_step(std::log2(m_factor) / kVoltsPerUnit) {}

void RateStep::Process(float* pitch, size_t count, bool volt_per_octave) const {
  if (m_sample_rate == kReferenceRate) return;
  if (volt_per_octave) {
    for (size_t i = 0; i < count; ++i) pitch[i] = static_cast<float>(pitch[i] + m_step);
  } else {
    for (size_t i = 0; i < count; ++i) pitch[i] = static_cast<float>(pitch[i] * m_factor);
  }
}

}  // namespace tonevolt
