#include "conditioning/LiveReading.h"

#include <algorithm>
#include <cmath>

#include "TonevoltPins.h"

namespace tonevolt {

NoteHold::NoteHold(size_t close_delay) : m_recent(close_delay, 0.0f) {}

void NoteHold::Reset() {
  m_recent_pos = 0;
  m_recent_count = 0;
  m_gate_was_open = false;
  m_has_note = false;
}

void NoteHold::Process(float* pitch, const float* gate, size_t count, bool hold) {
  const size_t size = m_recent.size();
  for (size_t i = 0; i < count; ++i) {
    if (gate[i] != 0.0f) {
      if (!m_gate_was_open) m_recent_count = 0;
      m_recent[m_recent_pos] = pitch[i];
      m_recent_pos = m_recent_pos + 1 == size ? 0 : m_recent_pos + 1;
      m_recent_count = std::min(m_recent_count + 1, size);
      m_gate_was_open = true;
    } else {
      if (m_gate_was_open) {
        m_note_value = m_recent[(m_recent_pos + size - m_recent_count) % size];
        m_has_note = true;
        m_gate_was_open = false;
      }
      if (hold && m_has_note) pitch[i] = m_note_value;
    }
  }
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
