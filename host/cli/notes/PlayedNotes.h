// The notes a recording holds, as the pitch tracker hears them in advise's
// first pass: frames of the check (its pitch and mark) with the module's
// crossings hop by hop, made into notes with their pitch, vibrato and
// crossings, their boundaries placed where the signal changes. Render's
// report finds the output's stretches (NoteReport) on the same rules of a
// held pitch (PitchRuns.h).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TonevoltPins.h"
#include "analysis/Crossings.h"
#include "analysis/Reliability.h"

namespace tonevolt {

// The frames: at the module's calibrated rate, a frame every 11.6 ms, each
// tracked over 8192 samples.
constexpr int kTrackedRate = static_cast<int>(kReferenceRate);
constexpr int kTrackedHop = 512;
constexpr int kTrackedWindow = 8192;
constexpr double kTrackedHopSeconds = static_cast<double>(kTrackedHop) / kTrackedRate;

// The crossings of hop k, which spans samples [k * hop - hop / 2, k * hop +
// hop / 2) as frame k's hop does; first and last are offsets into the hop,
// of the samples the module counts them at. The signal crossed zero a
// little before each: the leads, on the line from the sample before.
struct HopCrossings {
  uint16_t count = 0, samples = 0;
  int16_t first = -1, last = -1;
  uint8_t first_lead = 0, last_lead = 0;  // in kLeadSteps of a sample
};

constexpr int kLeadSteps = 256;

// How far before x the signal crossed zero on its way from prev, in
// kLeadSteps of a sample: 0 where x is zero itself.
inline uint8_t CrossingLead(float prev, float x) {
  const float lead = x / (x - prev);
  return lead > 0 && lead < 1 ? static_cast<uint8_t>(std::lround(lead * (kLeadSteps - 1))) : 0;
}

// The module's crossing test, hop by hop, over a whole signal.
class HopTally {
 public:
  void Process(const std::vector<float>& block) {
    for (float x : block) {
      size_t k = static_cast<size_t>((m_position + kTrackedHop / 2) / kTrackedHop);
      if (k >= m_hops.size()) m_hops.resize(k + 1);
      HopCrossings& h = m_hops[k];
      ++h.samples;
      if (CrossingCounter::IsCrossing(m_prev, x)) {
        auto offset = static_cast<int16_t>(m_position + kTrackedHop / 2 -
                                           static_cast<int64_t>(k) * kTrackedHop);
        const uint8_t lead = CrossingLead(m_prev, x);
        if (h.count == 0) {
          h.first = offset;
          h.first_lead = lead;
        }
        h.last = offset;
        h.last_lead = lead;
        ++h.count;
      }
      m_prev = x;
      ++m_position;
    }
  }
  const std::vector<HopCrossings>& Hops() const { return m_hops; }

 private:
  std::vector<HopCrossings> m_hops;
  int64_t m_position = 0;
  float m_prev = 0;  // the input starts after a 0
};

// Where a crossing in hop k falls, in samples from the start.
inline int64_t CrossingAt(size_t k, int16_t offset) {
  return static_cast<int64_t>(k) * kTrackedHop - kTrackedHop / 2 + offset;
}
// And where the signal crossed zero, between samples.
inline double CrossingTime(size_t k, int16_t offset, uint8_t lead) {
  return static_cast<double>(CrossingAt(k, offset)) - static_cast<double>(lead) / (kLeadSteps - 1);
}

struct TrackedFrame {
  float time_s = 0, hz = 0, level_db = 0;
  HopCrossings hop;
  Reliability mark = Reliability::kNoPitch;
  bool several_pitches = false;  // ReliabilityCheck::SeveralPitches
  uint8_t lowest_partial = 1;    // CheckedFrame::lowest_partial
};

struct PlayedNote {
  size_t first = 0, last = 0;  // the frames whose hops belong to it
  double start_s = 0, end_s = 0;
  // Another note starts at start_s, or follows at end_s, without a rest.
  bool change_before = false, change_after = false;
  float quiet_db = 0;                      // hops quieter than this are not its sound
  size_t heard_first = 0, heard_last = 0;  // the frames the tracker heard it in
  double hz = 0;                           // median tracked
  double vibrato_cents = 0;                // VibratoCents: how far its pitch swings
  double crossings_per_period = 0;
  bool harmonics = false;
  double Start() const { return start_s; }
  double End() const { return end_s; }
};

// Frame k's hop, in seconds.
double FrameStart(size_t k);
double FrameEnd(size_t k);

// The value below which `share` of values lie; 0 for none.
double Percentile(std::vector<double> values, double share);

struct CrossingCount {
  uint64_t crossings = 0;
  double periods = 0;
  size_t runs = 0;  // of consecutive hops counted
  // More than two crossings a period: each run's two ends can hold one
  // crossing more.
  bool Harmonics() const {
    return crossings > 2 * runs + ReliabilityOptions().harmonic_limit * periods;
  }
};

// The crossings over a note's hops, against its periods at the tracked
// pitch (the note's where the tracker hears another). Left out: the hops
// next to a change of note, which hold some of both, and quiet ones.
CrossingCount CountCrossings(const std::vector<TrackedFrame>& frames, const PlayedNote& n,
                             const std::function<uint16_t(size_t)>& crossings);

// The notes of a recording's frames, in time order.
std::vector<PlayedNote> FindNotes(const std::vector<TrackedFrame>& frames);

// Why a recording has no note to advise on, as a line for the printout and
// a reason for the error; empty when it has notes.
struct NoNote {
  std::string found, reason;
};

NoNote WhyNoNote(const std::vector<TrackedFrame>& frames, const std::vector<PlayedNote>& notes,
                 double gate_db);

}  // namespace tonevolt
