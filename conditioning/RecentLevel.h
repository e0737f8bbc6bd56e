// The input's mean square over its last few samples (a window as long as
// the longest period listened for), updated sample by sample: where it is
// below a level, what a band gives the module is its own ringing, not the
// sound, however faint.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace tonevolt {

class RecentLevel {
 public:
  explicit RecentLevel(size_t window) : m_squares(window > 0 ? window : 1, 0.0) {}

  // Takes the next sample (a non-finite one as 0) and returns the mean
  // square over the window ending with it.
  double Push(float sample) {
    const double x = std::isfinite(sample) ? static_cast<double>(sample) : 0.0;
    double& oldest = m_squares[m_pos];
    m_sum += x * x - oldest;
    oldest = x * x;
    m_pos = m_pos + 1 == m_squares.size() ? 0 : m_pos + 1;
    return m_sum / static_cast<double>(m_squares.size());
  }
  size_t Window() const { return m_squares.size(); }
  void Reset() {
    std::fill(m_squares.begin(), m_squares.end(), 0.0);
    m_pos = 0;
    m_sum = 0;
  }

 private:
  std::vector<double> m_squares;
  size_t m_pos = 0;
  double m_sum = 0;
};

}  // namespace tonevolt
