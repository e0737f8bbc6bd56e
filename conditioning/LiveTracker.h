// The filter that follows the tune, made causal and real-time, with a gate:
// what the tracker plug-ins run ahead of the module, and what the tool runs
// for `--prefilter live`, sample for sample the same. Each sample's band is
// steered by the newest pitch the melody tracker has decided from the input
// up to that sample; nothing looks ahead, so nothing is held back.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "conditioning/RecentLevel.h"

namespace tonevolt {

class MelodyTracker;
class FollowFilter;
struct MelodyFrame;

struct LiveOptions {
  // The lowest note to expect, in Hz: the longest period searched and the
  // lowest band. At least kLowestHz.
  double lowest_hz = 41.2;
  // The gate's level (dBFS, full-scale sine -3.01). See LiveTracker.
  double threshold_db = -50;
};

// The gate opens on a frame with a pitch whose level is above the
// threshold, while the input's level over the last longest period (one
// period of lowest_hz) is above it too; it closes when that level falls
// kGateHysteresisDb below the threshold, or when no frame has had a pitch
// for kGateCloseSeconds. While the level is below the closing level the
// module gets silence: a band rings on after its note, near its edge, and
// the module would count that ringing, however faint.
//
// It also closes on a note's release: a frame whose pitch leaps more than
// kReleaseLeapCents from the note to one of its partials (within
// kPartialCents of a multiple) while its level is kReleaseDb or more below
// the note's loudest frame. A fading note's fundamental often dies before
// its upper partials (a clarinet's third), and the tracker then takes a
// partial for the pitch: the band would move to it, and the reading with
// it, with the level still above the gate's. A leap at a level near the
// note's, or to a pitch that is none of its partials (a new note below it,
// rising out of its fading), is a new note, legato. After a release the gate opens again
// only on a new note: once the level has risen kOnsetDb above its least
// since, or after the level has fallen below the closing level.
class LiveTracker {
 public:
  static constexpr double kLowestHz = 20;
  static constexpr double kGateHysteresisDb = 6;
  static constexpr double kGateCloseSeconds = 0.03;
  static constexpr double kReleaseDb = 12;
  static constexpr double kReleaseLeapCents = 300;
  static constexpr double kOnsetDb = 6;
  static constexpr double kPartialCents = 50;

  // Designs every band it can steer to and sizes every buffer: Process
  // allocates nothing.
  LiveTracker(double sample_rate, const LiveOptions& options);
  ~LiveTracker();
  LiveTracker(const LiveTracker&) = delete;
  LiveTracker& operator=(const LiveTracker&) = delete;

  // Cheap: takes effect from the next sample.
  void SetThreshold(double threshold_db);

  // Filters `count` samples for the module; in == out is allowed. gate[i]
  // (may be null) is 1 while a pitch is held at sample i, else 0; note_hz[i]
  // (may be null) the newest pitch found by then, in Hz (0 before the first).
  void Process(const float* in, float* out, float* gate, size_t count, float* note_hz = nullptr);
  // Back to rest, as freshly made.
  void Reset();

  // Puts the tracker's frames on a timeline: the next sample is at
  // timeline_sample, and frames are centred on the timeline's multiples of
  // Hop(), so that what it makes of a passage does not depend on how many
  // samples it ran before it. It reads the samples that bring its frames
  // into line (fewer than Hop()) as silence; none if they are in line
  // already. Allocates nothing.
  void Align(int64_t timeline_sample);
  // The melody tracker's frame step, in samples.
  int64_t Hop() const;

  // How far the gate's closing can trail the end of a note, in samples (the
  // level's window): a reading held from this far before the gate closed is
  // the note's own.
  static size_t CloseDelaySamples(double sample_rate, double lowest_hz) {
    const double lowest = lowest_hz > kLowestHz ? lowest_hz : kLowestHz;
    const long samples = std::lround(sample_rate / lowest);
    return static_cast<size_t>(samples > 1 ? samples : 1);
  }
  size_t CloseDelaySamples() const { return m_level.Window(); }

  // Samples the conditioning holds its output back by: none.
  static constexpr uint32_t kLatencySamples = 0;

 private:
  double m_rate;
  LiveOptions m_options;
  double m_open_power = 0, m_close_power = 0;  // mean squares at the threshold and below it
  std::unique_ptr<MelodyTracker> m_tracker;
  std::unique_ptr<FollowFilter> m_filter;
  // Follows the note the gate is open for, frame by frame, and closes the
  // gate on its release.
  void FollowNote(const MelodyFrame& frame);
  static bool IsPartialOf(double hz, double note_hz);

  bool m_gate_open = false;
  bool m_frame_opens = false;  // the newest frame has a pitch above the threshold
  double m_frame_level_db = -200;
  // The open gate's note: its pitch and its loudest frame's level.
  double m_gate_note_hz = 0, m_gate_peak_db = -200;
  bool m_released = false;       // closed on a release, no new note since
  double m_least_db = 0;         // the least frame level since the release
  int64_t m_pitchless = 0;       // samples since the last frame with a pitch
  double m_note_hz = 0;          // the newest frame's pitch above 0
  RecentLevel m_level;           // over the last longest period
  std::vector<uint8_t> m_quiet;  // per sample of a run: below the closing level
  int64_t m_taken = 0;           // samples processed since Reset(), aligning ones included
  std::vector<float> m_silence;  // what Align() reads, a piece at a time
};

}  // namespace tonevolt
