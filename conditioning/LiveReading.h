// What the tracker plug-ins do to the module's reading behind LiveTracker:
// hold a note's reading through the silence after it, and put the reading
// back on the note at rates other than the module's calibrated one. Both
// work in place on the module's output, in its units, and allocate nothing
// after construction.
#pragma once

#include <cstddef>
#include <vector>

namespace tonevolt {

// While LiveTracker's gate is closed after a note, that note's reading
// instead of the module's decay toward no pitch: the reading from as far
// before the gate closed as its closing can trail the note's end (or from
// the note's start, if it was shorter), before its release reached it.
// Before the first note the reading passes unchanged.
class NoteHold {
 public:
  // close_delay: LiveTracker::CloseDelaySamples() of the tracker whose gate
  // it follows.
  explicit NoteHold(size_t close_delay);

  // Follows the gate over `count` samples of the reading, and with `hold`
  // replaces the reading wherever the gate is closed after a note.
  void Process(float* pitch, const float* gate, size_t count, bool hold);
  // No note yet, as freshly made.
  void Reset();

 private:
  // The readings of the open gate's last close_delay samples.
  std::vector<float> m_recent;
  size_t m_recent_pos = 0, m_recent_count = 0;
  bool m_gate_was_open = false;
  bool m_has_note = false;  // a note has ended since Reset()
  float m_note_value = 0.0f;
};

// The module's gain is set for its reference rate: at another rate it reads
// a frequency f as f * reference / rate. A tracker is for playing, so its
// reading is put back on the note played: a fixed step in 1 V/oct, a factor
// in 1 V/kHz. At the reference rate nothing changes.
class RateStep {
 public:
  explicit RateStep(double sample_rate);

  // In the control state the module's call ran in.
  void Process(float* pitch, size_t count, bool volt_per_octave) const;

 private:
  double m_sample_rate;
  double m_factor;
  double m_step;  // in the module's units: one octave is 1 V
};

}  // namespace tonevolt
