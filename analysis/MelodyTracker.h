// The pitch of a line of single notes, frame by frame, good enough to steer
// a filter by: an octave wrong in the track is an octave wrong in what the
// module then reads. A difference-function search (YIN's) on the input
// brought down to about 11 kHz, where the candidates of successive frames
// are joined by the cheapest path (few and small leaps), each frame decided
// a fixed number of frames late.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace tonevolt {

struct MelodyOptions {
  double lowest_hz = 41.2;    // E1: the longest period searched
  double highest_hz = 4200;   // C8, or less where the reduced rate cannot hold it
  // How many frames later a frame is decided: what follows can still pull a
  // frame out of an octave's mistake. 0 decides each frame as it comes.
  int decision_lag = 25;
};

struct MelodyFrame {
  double hz = 0;          // 0: no pitch (silence, noise, a chord's blur)
  double clarity = 0;     // 1 - the normalised difference at the period: 1 is a pure repetition
  double level_db = -200; // RMS of the frame's span, dBFS (full-scale sine -3.01)
};

class Fft;
class Prefilter;

class MelodyTracker {
 public:
  MelodyTracker(double sample_rate, const MelodyOptions& options = {});
  ~MelodyTracker();
  MelodyTracker(const MelodyTracker&) = delete;
  MelodyTracker& operator=(const MelodyTracker&) = delete;

  // Frame k is centred on input sample k * Hop(), from k = 0 (half its span
  // before the input, read as silence).
  int64_t Hop() const { return m_hop * m_factor; }
  double SampleRate() const { return m_rate; }

  void Process(const float* in, size_t count);
  // Input samples until the one that completes the next frame, that one
  // included.
  int64_t InputUntilNextFrame() const;
  // Ends the input: decides every frame up to its end.
  void Finish();

  // Decided frames, oldest first: Frames()[i] is frame Taken() + i. The
  // reader pops what it has used.
  std::deque<MelodyFrame>& Frames() { return m_decided; }
  uint64_t Taken() const { return m_taken; }
  void Pop(size_t count);

 private:
  struct Candidate {
    double period;  // in reduced-rate samples; 0 for no pitch
    double depth;   // the normalised difference there: 0 is a perfect repetition
    double cost;    // of the frame alone
  };
  struct Column {
    std::vector<Candidate> candidates;  // the last one stands for no pitch
    std::vector<double> total;          // cheapest path ending in each
    std::vector<int> from;              // its candidate in the column before
    double level_db;
  };

  void PushReduced(double sample);
  void AnalyseFrame();
  void Decide(bool all);
  Column& NewColumn();

  double m_rate;
  MelodyOptions m_options;
  int m_factor;      // input samples per reduced sample
  double m_reduced_rate;
  int m_hop;         // reduced samples per frame
  int m_max_period;  // reduced samples
  int m_min_period;
  size_t m_fft_size;
  std::unique_ptr<Fft> m_fft;

  std::unique_ptr<Prefilter> m_antialias;  // ahead of the reduction
  int m_phase = 0;  // input samples since the last one kept
  std::vector<float> m_block;

  std::vector<double> m_ring;  // the last frame's span of reduced samples, twice over
  size_t m_ring_pos = 0;
  int64_t m_reduced = 0;       // reduced samples pushed, the lead included
  int64_t m_next_centre;       // reduced sample at which the next frame's span is complete
  int64_t m_input_reduced = 0; // reduced samples that came from the input
  bool m_finished = false;

  std::deque<Column> m_columns;  // undecided frames, the oldest first
  std::deque<MelodyFrame> m_decided;
  uint64_t m_taken = 0;

  // Scratch for the difference function.
  std::vector<double> m_span, m_re, m_im, m_diff;
};

}  // namespace tonevolt
