// What the tracker plug-ins do to the module's reading behind LiveTracker:
// hold a note's reading through the silence after it, and put the reading
// back on the note at rates other than the module's calibrated one. Both
// work in place on the module's output, in its units, and allocate nothing
// after construction.
#pragma once

#include <cstddef>
#include <vector>

namespace tonevolt {

// While LiveTracker's gate is closed after a note, that note's settled
// reading instead of the module's decay toward no pitch. The reading
// ripples at the note's period (hundreds of cents at a low cutoff on a low
// note), so one sample of it is as far off as the ripple is deep: what is
// held is the mean of the readings over whole periods of the note, as many
// as fit in the longest period, ending as far before the gate closed as its
// closing can trail the note's end (or from the note's start, if it was
// shorter), before its release reached it. In 1 V/oct that is the mean of
// the values, a cent or so from the note. Before the first note the reading
// passes unchanged.
class NoteHold {
 public:
  // close_delay: LiveTracker::CloseDelaySamples() of the tracker whose gate
  // it follows, at sample_rate.
  NoteHold(size_t close_delay, double sample_rate);

  // Follows the gate over `count` samples of the reading, and with `hold`
  // replaces the reading wherever the gate is closed after a note. note_hz:
  // LiveTracker's pitch of the same samples. In the default control state
  // (round to nearest), wherever it runs, so that its mean is the same bits.
  void Process(float* pitch, const float* gate, const float* note_hz, size_t count, bool hold);
  // No note yet, as freshly made.
  void Reset();

 private:
  // The mean over whole periods of the note of the recorded readings.
  float SettledReading() const;
  // The j-th of the recorded samples, oldest first.
  size_t RecentIndex(size_t j) const;

  double m_rate;
  size_t m_close_delay;
  // The readings of the open gate's last 2 * close_delay samples (the
  // close delay, and the longest period before it) and the pitch of each.
  std::vector<float> m_recent, m_recent_hz;
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
