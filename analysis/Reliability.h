// Where the module's reading can be trusted: per frame, the crossings the
// module counts per tracked period, and stretches of frames alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "analysis/Crossings.h"
#include "analysis/PitchTracker.h"

namespace tonevolt {

enum class Reliability {
  kOk,
  // The module reads too high: a frame's window holds more than two
  // crossings a period, or a stretch's reading lies above its tracked pitch.
  kHarmonics,
  kNoPitch,  // too quiet, no clear pitch to compare with, or several at once
  // A stretch's reading lies below its tracked pitch (a frame's crossings
  // never say so alone: a window holds fewer for many reasons).
  kReadsLow,
};

// "ok", "harmonics", "no pitch" or "reads low".
const char* ReliabilityName(Reliability mark);

struct ReliabilityOptions {
  double gate_db = -60;         // frames quieter than this have no pitch
  double min_confidence = 0.8;  // frames the tracker is less sure of have none
  // A tracked pitch above this is a hiss's, not a note's (a piccolo's top is
  // 4186 Hz): a sibilant's short lags correlate well.
  double max_hz = 5000;
  // Crossings per period beyond this are harmonics (after allowing two for
  // where the window's edges fall).
  double harmonic_limit = 2.02;
};

struct Stretch {
  double start_s = 0;
  double end_s = 0;
  Reliability mark = Reliability::kOk;
  double median_hz = 0;                    // over frames with a pitch; 0 if none
  double median_crossings_per_period = 0;  // likewise
  size_t frames = 0;
};

// Fed frame by frame (PitchTracker's frames with CrossingCounter's windows of
// the same index); merges neighbours with the same mark into stretches. A
// frame covers half a hop either side of its time.
class ReliabilityCheck {
 public:
  ReliabilityCheck(int sample_rate, int hop, const ReliabilityOptions& options = {});

  Reliability Add(const PitchFrame& frame, const CrossingWindow& crossings);
  // Closes the last stretch at the input's duration.
  void Finish(double duration_s);
  // The stretches closed so far, in time order; all of them after Finish.
  const std::vector<Stretch>& Stretches() const { return m_stretches; }

  // Whether the tracker found a pitch it is sure of, whatever the level:
  // the gate decides marks, never where the sound has a pitch.
  static bool HasPitch(const PitchFrame& frame, const ReliabilityOptions& options);

  // One frame's mark, as Add gives it, without keeping stretches.
  static Reliability Classify(const PitchFrame& frame, const CrossingWindow& crossings,
                              int sample_rate, const ReliabilityOptions& options);
  // Whether a frame has no pitch for holding several (a chord), where it
  // would otherwise have one: why Classify marks it so.
  static bool SeveralPitches(const PitchFrame& frame, const ReliabilityOptions& options);

  // crossings / (window seconds * hz); 0 without a pitch.
  static double CrossingsPerPeriod(const CrossingWindow& crossings, double hz, int sample_rate);

 private:
  void Close();

  int m_rate;
  double m_half_hop_s;
  ReliabilityOptions m_options;
  bool m_open = false;
  Stretch m_current;
  std::vector<double> m_hz;  // of the open stretch's frames with a pitch
  std::vector<double> m_crossings_per_period;
  std::vector<Stretch> m_stretches;
};

// The level of a signal hop by hop, on the pitch tracker's frame grid: frame
// k's hop spans the input samples [k * hop - hop / 2, that + hop), within the
// input. NaN and infinite samples count as zero, as the module counts them.
// Fed apart from the tracker, it can measure a signal before a filter the
// tracker sees it after.
class HopLevels {
 public:
  explicit HopLevels(int hop);

  void Process(const float* in, size_t count);
  // Ends the input: adds the levels of the frames up to its end.
  void Finish();

  // dBFS (full-scale sine -3.01), -200 for digital silence; the oldest
  // first, taken by the reader.
  std::deque<double>& Levels() { return m_levels; }

  // The RMS level of `count` samples whose squares sum to `sum_of_squares`.
  static double Db(double sum_of_squares, int64_t count);

 private:
  void Close();

  int64_t m_hop;
  int64_t m_position = 0;  // input samples
  int64_t m_hop_end;       // where the filling hop ends
  int64_t m_frames = 0;    // hops closed
  double m_sum = 0;
  int64_t m_count = 0;
  std::deque<double> m_levels;
};

}  // namespace tonevolt
