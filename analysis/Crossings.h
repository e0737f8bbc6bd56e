// The zero crossings the module counts, in windows that line up with the
// pitch tracker's frames, so that a frame's crossings per period can be set
// against the pitch tracked there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonevolt {

struct CrossingWindow {
  uint32_t crossings = 0;  // counted within the window
  uint32_t samples = 0;    // input samples in the window: fewer at the ends
};

class CrossingCounter {
 public:
  // Window k spans the input samples [k * hop - window / 2, that + window),
  // as PitchTracker's frame k with the same hop and window.
  CrossingCounter(int hop, int window);

  // Counts the next block; windows it completes are added.
  void Process(const float* in, size_t count);
  // Ends the input: adds the windows of the frames up to its end.
  void Finish();

  // The windows not yet dropped: Windows()[i] is window DroppedWindows() + i.
  const std::vector<CrossingWindow>& Windows() const { return m_windows; }
  // Forgets the oldest `count` windows (see PitchTracker::DropFrames).
  void DropWindows(size_t count);
  uint64_t DroppedWindows() const { return m_dropped; }
  uint64_t Total() const { return m_total; }

  // The module's test, sample by sample: x arriving at zero (NaN counts as
  // zero, so does -0.0) from non-zero, or prev * x rounded to float below zero.
  // A crossing at sample n belongs to sample n. The input starts after a 0.
  static bool IsCrossing(float prev, float x);

 private:
  void Push(bool crossing);

  int64_t m_hop;
  int64_t m_half;
  std::vector<uint8_t> m_ring;  // the last window's crossings, one flag a sample
  size_t m_ring_pos = 0;
  uint32_t m_in_window = 0;
  int64_t m_position = 0;  // samples pushed, silence after the end included
  int64_t m_input = 0;     // input samples
  float m_prev = 0.0f;
  uint64_t m_total = 0;
  bool m_finished = false;
  std::vector<CrossingWindow> m_windows;
  uint64_t m_dropped = 0;
};

}  // namespace tonevolt
