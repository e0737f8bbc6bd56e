// The stages around the module in a render chain: the resamplers that run
// it at its calibrated rate, the pre-filter ahead of it, and the check that
// watches the signal it is given.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "Pipeline.h"
#include "analysis/Crossings.h"
#include "analysis/PitchTracker.h"
#include "analysis/Prefilter.h"
#include "analysis/Reliability.h"
#include "analysis/Resampler.h"

namespace tonevolt {

// Sample-rate conversion (libsoxr), lined up sample for sample.
class ResampleStage : public BlockStage {
 public:
  // How the ends of sound are kept clean.
  enum class Edges {
    // Audio: values below kNoiseFloor become silence. libsoxr's arithmetic
    // leaves some 1e-8 before and after sound that rises out of digital
    // silence, which the module would count as 20 ms of crossings at up
    // to 20 kHz; -120 dBFS is below any 20-bit recording's resolution.
    kSquelchNoise,
    // A control voltage: the stream goes on at its last value rather than
    // at zero, so that it keeps its level to its last sample instead of
    // ringing at the step down (the pipeline cuts what comes past the end).
    kHoldEnd,
  };
  static constexpr float kNoiseFloor = 1e-6f;

  static std::unique_ptr<ResampleStage> Create(int in_rate, int out_rate, Edges edges,
                                               std::string* error);
  bool Process(const std::vector<float>& in, std::vector<float>* out, std::string*) override;
  bool Flush(std::vector<float>* out, std::string*) override;

 private:
  void Squelch(std::vector<float>* out) const;

  std::unique_ptr<Resampler> m_resampler;
  Edges m_edges = Edges::kSquelchNoise;
  int m_in_rate = 0;
  float m_last = 0;
};

class PrefilterStage : public BlockStage {
 public:
  static std::unique_ptr<PrefilterStage> Create(const PrefilterChoice& choice, double rate,
                                                std::string* error);
  bool Process(const std::vector<float>& in, std::vector<float>* out, std::string*) override;
  const Prefilter& Filter() const { return *m_filter; }

 private:
  std::unique_ptr<Prefilter> m_filter;
};

// One frame of the check: the pitch tracked there and how the module's
// crossings compare with it.
struct CheckedFrame {
  double time_s = 0;  // the frame's centre
  double hz = 0;      // tracked pitch; 0 for none
  double level_db = 0;
  double crossings_per_period = 0;  // over the tracker's window; 0 without a pitch
  Reliability mark = Reliability::kNoPitch;
  bool several_pitches = false;  // no pitch for holding several (ReliabilityCheck::SeveralPitches)
  // The module's crossings in the hop around time_s, so that a stretch of
  // frames counts its own crossings, not its neighbours'.
  uint32_t hop_crossings = 0;
  uint32_t hop_samples = 0;
};

// The pitch tracker's window and hop for a rate: as long in time as 8192
// samples (the window) and `hop_at_reference` samples at 44100 Hz.
PitchOptions CheckPitchOptions(int rate, int hop_at_reference);

// Passes its signal through unchanged and checks it: the pitch tracker and
// the module's crossing test run alongside, and each frame is marked
// (ReliabilityCheck::Classify). Frames wait in Frames() until the reader
// removes them, so only the frames not yet read are held.
class CheckStage : public BlockStage {
 public:
  // Render's hop: a frame every 46 ms, under a third of what the tracker
  // costs at 512 samples (the crossing windows span 186 ms either way).
  static constexpr int kHop = 2048;

  static std::unique_ptr<CheckStage> Create(int rate, const ReliabilityOptions& options,
                                            std::string* error, int hop = kHop);
  bool Process(const std::vector<float>& in, std::vector<float>* out, std::string*) override;
  bool Flush(std::vector<float>* out, std::string*) override;

  std::deque<CheckedFrame>& Frames() { return m_frames; }
  bool Finished() const { return m_finished; }
  int Rate() const { return m_rate; }
  const ReliabilityOptions& Options() const { return m_options; }

 private:
  void Collect();

  int m_rate = 0;
  ReliabilityOptions m_options;
  std::unique_ptr<PitchTracker> m_tracker;
  std::unique_ptr<CrossingCounter> m_counter;      // over the tracker's windows
  std::unique_ptr<CrossingCounter> m_hop_counter;  // over each frame's hop
  std::deque<CheckedFrame> m_frames;
  bool m_finished = false;
};

}  // namespace tonevolt
