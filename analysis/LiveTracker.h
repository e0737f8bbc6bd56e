// The filter that follows the tune, made causal and real-time, with a gate:
// what the tracker plug-ins run ahead of the module, and what the tool runs
// for `--prefilter live`, sample for sample the same. Each sample's band is
// steered by the newest pitch the melody tracker has decided from the input
// up to that sample; nothing looks ahead, so nothing is held back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tonevolt {

class MelodyTracker;
class FollowFilter;

struct LiveOptions {
  // The lowest note to expect, in Hz: the longest period searched and the
  // lowest band. At least kLowestHz.
  double lowest_hz = 41.2;
  // The gate opens on a pitch in input above this level (dBFS, full-scale
  // sine -3.01) and closes kGateHysteresisDb below it, or when the pitch
  // has been gone for kGateCloseSeconds.
  double threshold_db = -50;
};

class LiveTracker {
 public:
  static constexpr double kLowestHz = 20;
  static constexpr double kGateHysteresisDb = 6;
  static constexpr double kGateCloseSeconds = 0.03;

  // Designs every band it can steer to and sizes every buffer: Process
  // allocates nothing.
  LiveTracker(double sample_rate, const LiveOptions& options);
  ~LiveTracker();
  LiveTracker(const LiveTracker&) = delete;
  LiveTracker& operator=(const LiveTracker&) = delete;

  // Cheap: takes effect from the next sample.
  void SetThreshold(double threshold_db);

  // Filters `count` samples for the module; in == out is allowed. gate[i]
  // (may be null) is 1 while a pitch is held at sample i, else 0.
  void Process(const float* in, float* out, float* gate, size_t count);
  // Back to rest, as freshly made.
  void Reset();

  // Samples the conditioning holds its output back by: none.
  static constexpr uint32_t kLatencySamples = 0;

 private:
  double m_rate;
  LiveOptions m_options;
  std::unique_ptr<MelodyTracker> m_tracker;
  std::unique_ptr<FollowFilter> m_filter;
  bool m_gate_open = false;
  int64_t m_pitchless = 0;  // samples since the last frame with a pitch
};

}  // namespace tonevolt
