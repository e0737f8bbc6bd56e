// Pitch over time, one frame per hop, for checking what the module reads
// against what is played: the melody tracker's pitch, and the spectrum of
// the frame's window for what it holds (one pitch or several, and where the
// lowest partial lies).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "conditioning/MelodyTracker.h"

namespace tonevolt {

// Frame k stands for the analysis window centred on input sample k * hop:
// time_s = k * hop / rate, the window spanning half a window either side.
// Frames run from k = 0 (its window half before the start, read as silence)
// to the last k with k * hop before the end (Finish reads silence after it).
struct PitchFrame {
  double time_s = 0;
  double hz = 0;          // 0 when the tracker finds no pitch
  double confidence = 0;  // 0..1: the melody tracker's clarity there (MelodyFrame)
  double level_db = 0;    // RMS in dBFS (full-scale sine -3.01) of the hop centred on
                          // time_s, within the input; -200 for digital silence
  // With a pitch: partials stand out of the spectrum, but fit no one
  // harmonic series (a chord, or several sounds at once), so the pitch is
  // none of theirs alone.
  // Costs an FFT of twice the window per frame with a pitch
  // (WindowPartials::SeveralPitches).
  bool several_pitches = false;
  // With a pitch: which of its harmonics is the lowest partial that stands
  // out; from 2 up the fundamental is missing, and a crossing counter reads
  // that harmonic at best (WindowPartials::FindLowestPartial).
  int lowest_partial = 1;
};

struct PitchOptions {
  int window = 8192;         // analysis window, a power of two from 1024 to 65536
  int hop = 512;             // 1 to window / 2
  // The melody tracker's frames: one every this long, each decided this
  // many frames late. The check's frame is the melody frame nearest it.
  double melody_frame_seconds = 0.04;
  int melody_decision_lag = 8;
  double lowest_hz = 25;     // below A0
  double silence_db = -120;  // quieter has no pitch, nor a spectrum looked at
  // Moves the pitch to the peak of its fundamental in the spectrum, where
  // it stands out. A period follows all partials, which in a piano run
  // sharp (measured: +16 cents at A2), while the module, once a low-pass
  // leaves the lowest partial, counts that partial alone. A missing
  // fundamental moves nothing: the pitch stays the note heard, and
  // lowest_partial says which harmonic is there instead.
  bool fundamental_peak = false;
};

class WindowPartials;

class PitchTracker {
 public:
  // Null and a one-line error for options it cannot run with. With
  // `shared`, the melody tracker is another reader's (the following
  // filter's, on the same input): it is run once, and its frames come
  // through TakeMelody, the melody options here unused.
  static std::unique_ptr<PitchTracker> Create(int sample_rate, const PitchOptions& options,
                                              std::string* error,
                                              const MelodyTracker* shared = nullptr);
  ~PitchTracker();
  PitchTracker(const PitchTracker&) = delete;
  PitchTracker& operator=(const PitchTracker&) = delete;

  // Feeds the next block; frames whose window and melody frames it
  // completes are added.
  void Process(const float* in, size_t count);
  // Ends the input: adds the frames up to its end (with a shared tracker,
  // once its last frames are taken). Nothing more after it.
  void Finish();

  // A shared tracker's frames decided and not yet popped, taken before its
  // owner pops them; `ended`: it has finished, no frame follows.
  void TakeMelody(const MelodyTracker& shared, bool ended);

  // The frames not yet dropped: Frames()[i] is frame DroppedFrames() + i.
  const std::vector<PitchFrame>& Frames() const { return m_frames; }
  // Forgets the oldest `count` frames, so that a long stream keeps only
  // the frames its reader has not taken yet.
  void DropFrames(size_t count);
  uint64_t DroppedFrames() const { return m_dropped; }
  int SampleRate() const { return m_rate; }
  const PitchOptions& Options() const { return m_options; }

 private:
  PitchTracker(int sample_rate, const PitchOptions& options);
  void AddFrames();
  const MelodyFrame& Melody(uint64_t index) const;  // a no-pitch frame where not kept
  float Sample(int64_t i) const;                    // input sample i; 0 outside the input
  double HopLevelDb(int64_t centre) const;

  int m_rate;
  PitchOptions m_options;
  std::unique_ptr<MelodyTracker> m_melody;  // its own, unless shared
  int64_t m_melody_hop = 0;
  int64_t m_longest_period = 0;
  // Decided melody frames still needed, the first of them frame
  // m_melody_first; m_melody_ended once none follows.
  std::deque<MelodyFrame> m_melody_frames;
  uint64_t m_melody_first = 0;
  bool m_melody_ended = false;
  std::unique_ptr<WindowPartials> m_partials;
  // The input from sample m_history_first on, as far back as the oldest
  // frame still waiting needs.
  std::vector<float> m_history;
  int64_t m_history_first = 0;
  int64_t m_input = 0;  // input samples received
  bool m_finished = false;
  std::vector<float> m_window;  // the frame's window, scratch
  std::vector<PitchFrame> m_frames;
  uint64_t m_dropped = 0;
};

}  // namespace tonevolt
