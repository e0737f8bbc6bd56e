// Where a note holds: a run of pitches (in cents) that stays within a
// tolerance of its running mean. The note report feeds it frames of the
// module's output weighted by their samples; advise, the tracker's frames.
// How short a run is too short to be a note is each caller's to say, in its
// own units.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace tonevolt {

class HeldPitch {
 public:
  explicit HeldPitch(double tolerance_cents) : m_tolerance(tolerance_cents) {}

  bool Empty() const { return m_weight == 0; }
  // Whether value lies within the tolerance of the mean so far; never for
  // an empty stretch.
  bool Holds(double value) const {
    return m_weight > 0 && std::fabs(value - m_sum / m_weight) <= m_tolerance;
  }
  void Add(double value, double weight = 1) {
    m_sum += value * weight;
    m_weight += weight;
  }
  void Clear() { m_sum = m_weight = 0; }

 private:
  double m_tolerance;
  double m_sum = 0, m_weight = 0;
};

// Values first..last, both included.
struct PitchRun {
  size_t first = 0, last = 0;
  size_t Length() const { return last - first + 1; }
};

// The stretches of values, each weighing alike, in order. A NaN (no pitch)
// ends a run and starts none; a value off the open run's mean starts the next.
std::vector<PitchRun> FindPitchRuns(const std::vector<double>& values, double tolerance_cents);

}  // namespace tonevolt
