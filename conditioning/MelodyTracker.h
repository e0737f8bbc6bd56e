// The pitch of a line of single notes, frame by frame, good enough to steer
// a filter by: an octave wrong in the track is an octave wrong in what the
// module then reads. A difference-function search (YIN's) on the input
// brought down to about 11 kHz, where the candidates of successive frames
// are joined by the cheapest path (few and small leaps), each frame decided
// a fixed number of frames late.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tonevolt {

struct MelodyOptions {
  double lowest_hz = 41.2;   // E1: the longest period searched
  double highest_hz = 4200;  // C8, or less where the reduced rate cannot hold it
  // How many frames after it a frame waits for before it is decided: what
  // follows can still pull a frame out of an octave's mistake. 0 decides
  // each frame as it comes.
  int decision_lag = 26;
  // A frame every this long: 10 ms to steer by; a reader that wants less
  // pays less.
  double frame_seconds = 0.01;
  // Quieter frames have no pitch: a filter is not steered by hiss.
  double silence_db = -70;
};

struct MelodyFrame {
  double hz = 0;           // 0: no pitch (silence, noise, a chord's blur)
  double clarity = 0;      // 1 - the normalised difference at the period: 1 is a pure repetition
  double level_db = -200;  // RMS of the frame's span, dBFS (full-scale sine -3.01)
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
  // The longest period searched, in input samples. A frame compares the
  // first half of its span with what follows it, so it hears the sound
  // about half of (this - the period) before its centre.
  int64_t LongestPeriod() const { return static_cast<int64_t>(m_max_period) * m_factor; }
  double SampleRate() const { return m_rate; }

  void Process(const float* in, size_t count);
  // Input samples until the one that completes the next frame, that one
  // included.
  int64_t InputUntilNextFrame() const;
  // Ends the input: decides every frame up to its end.
  void Finish();

  // Decided frames, oldest first: Frame(i) is frame Taken() + i, for i <
  // Ready(). The reader pops what it has used; a reader that pops after
  // every frame keeps the tracker from allocating after construction.
  size_t Ready() const { return m_ready; }
  const MelodyFrame& Frame(size_t i) const;
  uint64_t Taken() const { return m_taken; }
  void Pop(size_t count);

 private:
  static constexpr size_t kMostCandidates = 6;
  struct Candidate {
    double period;  // in reduced-rate samples; 0 for no pitch
    double depth;   // the normalised difference there: 0 is a perfect repetition
    double cost;    // of the frame alone
  };
  struct Column {
    // The deepest few dips, then one for no pitch.
    Candidate candidates[kMostCandidates + 1];
    double total[kMostCandidates + 1];  // cheapest path ending in each
    int from[kMostCandidates + 1];      // its candidate in the column before
    size_t count;
    double level_db;
  };

  void PushReduced(double sample);
  void AnalyseFrame();
  void FindCandidates(Column* column);
  void Decide(bool all);
  Column& ColumnAt(size_t i) { return m_columns[(m_first_column + i) % m_columns.size()]; }
  void Emit(const MelodyFrame& frame);

  double m_rate;
  MelodyOptions m_options;
  int m_factor;  // input samples per reduced sample
  double m_reduced_rate;
  int m_hop;         // reduced samples per frame
  int m_max_period;  // reduced samples
  int m_min_period;
  size_t m_fft_size;
  std::unique_ptr<Fft> m_fft;

  std::unique_ptr<Prefilter> m_antialias;  // ahead of the reduction
  int m_phase = 0;                         // input samples since the last one kept
  std::vector<float> m_block;              // a piece of the input, made finite and filtered

  std::vector<double> m_ring;  // the last frame's span of reduced samples, twice over
  size_t m_ring_pos = 0;
  int64_t m_reduced = 0;        // reduced samples pushed, the lead included
  int64_t m_next_end;           // reduced samples pushed when the next frame's span is complete
  int64_t m_input_reduced = 0;  // reduced samples that came from the input
  bool m_finished = false;

  // Undecided frames, the oldest first, in a ring that also keeps the last
  // decided one (just before the first) once there is one.
  std::vector<Column> m_columns;
  size_t m_first_column = 0, m_column_count = 0;
  bool m_decided_any = false;
  std::vector<int> m_path;
  // Decided frames not yet popped: a ring that grows only when the reader
  // lets it fill.
  std::vector<MelodyFrame> m_decided;
  size_t m_first_ready = 0, m_ready = 0;
  uint64_t m_taken = 0;

  // Scratch, sized once.
  std::vector<double> m_squares, m_re, m_im, m_product_re, m_product_im, m_diff;
  std::vector<Candidate> m_dips;
};

}  // namespace tonevolt
