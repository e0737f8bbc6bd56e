// A pre-filter that follows the tune: for the pitch it is steered to, a band
// that keeps the fundamental alone (note:F's steep low-pass just above it, a
// high-pass at half of it), so that the module counts the fundamental's
// crossings whatever the note. A new note's band is first run over the last
// moments of the input, so that it starts as if it had always been in
// place, and faded in over the old one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "conditioning/Prefilter.h"
#include "conditioning/RecentLevel.h"

namespace tonevolt {

class FollowFilter {
 public:
  static constexpr double kCrossfadeSeconds = 0.008;
  // A band moves when the pitch leaves it by more than this.
  static constexpr double kStayCents = 70;

  // Designs every band from a semitone below lowest_hz up to the highest
  // whose low-pass fits below the Nyquist frequency, and sizes every
  // buffer: Steer and Process allocate nothing.
  FollowFilter(double sample_rate, double lowest_hz);

  // From the next sample on, the band for hz; 0 (no pitch) leaves the band
  // in place. Before the first pitch the signal passes unchanged. A pitch
  // that arrives during a fade waits for its end.
  void Steer(double hz);
  // From the next sample on, silence wherever the input over the last period
  // of the lowest note is below level_db (dBFS): when a note fades into
  // noise or silence the band would go on ringing near its edge, and the
  // module would count that ringing as a note above the one played. Off
  // (every sample passes) until called. Once silent it stays so until the
  // level is kUnmuteAboveDb above level_db: a note's tail that wavers about
  // the level would else be cut into pieces, whose edges the module counts.
  void MuteBelow(double level_db);
  static constexpr double kUnmuteAboveDb = 6;
  // Filters the next block; in == out is allowed.
  void Process(const float* in, float* out, size_t count);

  // The band's centre in use (after any fade), in Hz; 0 before the first.
  double BandHz() const;

 private:
  // Bands are a semitone apart: the steering may be off by a few semitones
  // without loss, and a design serves every note that lands on it.
  int NoteFor(double hz) const;
  void Start(int note);

  double m_rate;
  int m_lowest_note, m_highest_note;
  std::vector<std::unique_ptr<Prefilter>> m_designs;  // from m_lowest_note up
  // The band in use and the one fading in: copies of designs, each with its state.
  std::unique_ptr<Prefilter> m_current, m_next;
  int m_current_note = -1, m_next_note = -1;  // -1: the signal unchanged
  bool m_fading = false;
  double m_wanted_hz = 0;
  std::vector<double> m_fade;  // the new band's weight, sample by sample
  size_t m_fade_done = 0;
  std::vector<float> m_history;  // the last input, for warming a new band
  size_t m_history_pos = 0;
  std::vector<float> m_old, m_new, m_warm;
  double m_mute_power = 0;  // mean square below which the output is silence; 0: never
  double m_unmute_power = 0;
  bool m_muted = false;
  RecentLevel m_level;
  std::vector<uint8_t> m_quiet;  // per sample of a piece: below m_mute_power
};

}  // namespace tonevolt
