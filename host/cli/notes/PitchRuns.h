// Where a note holds: a run of pitches (in cents) that stays within a
// tolerance of its running mean. The note report feeds it frames of the
// module's output weighted by their samples; advise, the tracker's frames.
// How short a run is too short to be a note is each caller's to say, in its
// own units, from the lengths below.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace tonevolt {

// A pitch further than this from its note's mean starts another note: a
// quarter tone either side is the note's own (vibrato, the tracker's or the
// ripple's wobble), the next semitone's middle is not.
constexpr double kNoteToleranceCents = 50;
// A note is held at least this long as played (advise's notes, from the
// tracker's frames). The module's output holds it a little less: the report
// reads it in frames of at least 20 ms that end where a ripple cycle starts,
// and one of them can be lost to the glide into the note, so a stretch of
// the output counts as a note from one such frame less.
constexpr double kShortestNoteSeconds = 0.1;
constexpr double kShortestStretchSeconds = 0.08;
// A note, or a stretch of the output, whose frames hold several pitches at
// once in at least this share of them is a chord, whatever the tracker made
// of the rest: measured on fluidsynth's piano, guitar, strings and organ
// triads and sevenths (32-100 % of a chord's frames, once its upper notes
// have faded), against a melody's note changes (a frame or two of a note).
constexpr double kChordShareOfFrames = 0.3;

// Vibrato, a note's pitch swinging about its own, as played: 4 Hz or
// faster, up to 100 cents either side. It is no change of note, however
// far past the tolerance its swing takes the pitch.
constexpr double kSlowestVibratoHz = 4;
constexpr double kDeepestVibratoCents = 100;

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
  double Mean() const { return m_weight > 0 ? m_sum / m_weight : 0; }

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
