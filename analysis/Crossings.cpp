#include "analysis/Crossings.h"

#include <algorithm>

#include "SignalSteps.h"

namespace tonevolt {

bool CrossingCounter::IsCrossing(float prev, float x) { return ZeroCrossingPulse(prev, x) != 0.0f; }

CrossingCounter::CrossingCounter(int hop, int window)
    : m_hop(std::max(hop, 1)), m_half(std::max(window, 1) / 2), m_ring(std::max(window, 1), 0) {}

void CrossingCounter::Process(const float* in, size_t count) {
  if (m_finished) return;
  for (size_t i = 0; i < count; ++i) {
    bool crossing = IsCrossing(m_prev, in[i]);
    m_prev = in[i];
    m_total += crossing;
    ++m_input;
    Push(crossing);
  }
}

void CrossingCounter::Finish() {
  if (m_finished) return;
  m_finished = true;
  int64_t frames = (m_input + m_hop - 1) / m_hop;
  while (static_cast<int64_t>(m_dropped + m_windows.size()) < frames) Push(false);
}

void CrossingCounter::DropWindows(size_t count) {
  count = std::min(count, m_windows.size());
  m_windows.erase(m_windows.begin(), m_windows.begin() + static_cast<std::ptrdiff_t>(count));
  m_dropped += count;
}

void CrossingCounter::Push(bool crossing) {
  m_in_window += crossing;
  m_in_window -= m_ring[m_ring_pos];
  m_ring[m_ring_pos] = crossing;
  m_ring_pos = (m_ring_pos + 1) % m_ring.size();
  ++m_position;
  // Window k ends at k * hop - half + window.
  int64_t window = static_cast<int64_t>(m_ring.size());
  int64_t k = static_cast<int64_t>(m_dropped + m_windows.size());
  int64_t start = k * m_hop - m_half;
  if (m_position == start + window) {
    int64_t end = std::min(m_position, m_input);
    m_windows.push_back({m_in_window, static_cast<uint32_t>(end - std::max<int64_t>(start, 0))});
  }
}

}  // namespace tonevolt
