// The stages around the module in a render chain: the resamplers that run
// it at its calibrated rate, the pre-filter ahead of it, and the check that
// watches the signal it is given.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "analysis/Crossings.h"
#include "analysis/PitchTracker.h"
#include "analysis/Reliability.h"
#include "analysis/Resampler.h"
#include "conditioning/FollowFilter.h"
#include "conditioning/LiveReading.h"
#include "conditioning/LiveTracker.h"
#include "conditioning/MelodyTracker.h"
#include "conditioning/Prefilter.h"
#include "stream/Pipeline.h"

namespace tonevolt {

// Sample-rate conversion, lined up sample for sample, nothing ahead of its
// cause: audio into the module, its control voltage back out.
class ResampleStage : public BlockStage {
 public:
  // Audio below this becomes silence. libsoxr's arithmetic leaves some 1e-8
  // to 5e-7 around sound that rises out of digital silence or falls into
  // it, which the module would count as crossings at up to 20 kHz; -120
  // dBFS is below any 20-bit recording's resolution.
  static constexpr float kNoiseFloor = 1e-6f;

  static std::unique_ptr<ResampleStage> Create(int in_rate, int out_rate, Resampler::Signal signal,
                                               std::string* error);
  bool Process(const std::vector<float>& in, std::vector<float>* out, std::string*) override;
  bool Flush(std::vector<float>* out, std::string*) override;

 private:
  void Squelch(std::vector<float>* out) const;

  std::unique_ptr<Resampler> m_resampler;
  Resampler::Signal m_signal = Resampler::Signal::kAudio;
};

// A fixed pre-filter, or one that follows the tune. The following one is
// steered by a melody tracker that looks ahead: it holds the input back
// until the pitch a little after each sample is known, so that a note's band
// is in place as the note starts, and gives it all back at the end, in step
// with the input.
class PrefilterStage : public BlockStage {
 public:
  // gate_db: the following filter gives the module silence where the input
  // is quieter (FollowFilter::MuteBelow).
  static std::unique_ptr<PrefilterStage> Create(const PrefilterChoice& choice, double rate,
                                                double gate_db, std::string* error);
  bool Process(const std::vector<float>& in, std::vector<float>* out, std::string*) override;
  bool Flush(std::vector<float>* out, std::string*) override;
  // How late a tone at hz comes out (for the following filter, through the
  // band it would be given).
  double DelaySeconds(double hz) const;
  // The following filter's melody tracker; null for the others.
  const MelodyTracker* Melody() const { return m_tracker.get(); }
  // Hands the tracker's frames to the check's pitch tracker as they are
  // decided, so that the pitch is tracked once.
  void ShareMelodyWith(PitchTracker* check) { m_shared_with = check; }
  std::string Description() const;
  // For live:hold, a stage that must run right behind the module: it holds
  // each note's reading by the gate the live tracker gave the same samples.
  // Null for any other pre-filter.
  BlockStage* Hold() { return m_hold.note_hold ? &m_hold : nullptr; }

 private:
  class HoldStage : public BlockStage {
   public:
    bool Process(const std::vector<float>& in, std::vector<float>* out, std::string*) override;
    std::unique_ptr<NoteHold> note_hold;
    // Gate and pitch of samples on their way through the module.
    std::deque<float> gates, note_hz;
    std::vector<float> run, run_hz;
  };

  void Follow(bool finished, std::vector<float>* out);

  double m_rate = 0;
  std::unique_ptr<Prefilter> m_filter;       // fixed
  std::unique_ptr<LiveTracker> m_live;       // following as it comes
  HoldStage m_hold;                          // behind the module, for live:hold
  std::vector<float> m_gate, m_note_hz;      // the live tracker's, for m_hold
  std::unique_ptr<MelodyTracker> m_tracker;  // following
  std::unique_ptr<FollowFilter> m_follow;
  PitchTracker* m_shared_with = nullptr;
  std::deque<float> m_waiting;  // input not yet filtered
  std::vector<float> m_run;
  uint64_t m_emitted = 0;  // samples given out
  int64_t m_lead = 0;      // samples ahead of each one whose pitch steers it
};

// One frame of the check: the pitch tracked there and how the module's
// crossings compare with it.
struct CheckedFrame {
  double time_s = 0;                // the frame's centre
  double hz = 0;                    // tracked pitch; 0 for none
  double level_db = 0;              // of the input as given, before any pre-filter: the gate's
  double crossings_per_period = 0;  // over the tracker's window; 0 without a pitch
  Reliability mark = Reliability::kNoPitch;
  // The tracker is sure of a pitch here, whatever the level.
  bool pitched = false;
  // Every frame within half a window of this one tracks the same note, so
  // that its window and hop hold that note alone: only then do its
  // crossings say anything about harmonics. Where the window holds a note
  // change the pitch is one note's and the crossings are of both.
  bool one_note = false;
  bool several_pitches = false;  // no pitch for holding several (ReliabilityCheck::SeveralPitches)
  // Which harmonic of hz is the lowest partial there (PitchFrame): from 2
  // up the fundamental is missing and the module can read a harmonic at best.
  int lowest_partial = 1;
  // The module's crossings in the hop around time_s, so that a stretch of
  // frames counts its own crossings, not its neighbours'.
  uint32_t hop_crossings = 0;
  uint32_t hop_samples = 0;
};

// The pitch tracker's window and hop for a rate: as long in time as 8192
// samples (the window) and `hop_at_reference` samples at 44100 Hz.
PitchOptions CheckPitchOptions(int rate, int hop_at_reference);

// Takes the reliability check's frames as they are marked, in time order.
class CheckListener {
 public:
  virtual ~CheckListener() = default;
  virtual void Checked(const CheckedFrame& frame) = 0;
  // No frame follows.
  virtual void CheckEnded() = 0;
};

// What a check is built for: the rules of its marks, its pitch tracker's
// window and hop (CheckPitchOptions), and who takes its frames.
struct CheckRequest {
  ReliabilityOptions options;
  PitchOptions pitch;
  CheckListener* listener = nullptr;  // null: the marks go unread
};

// Passes its signal through unchanged and checks it: the module's crossing
// test runs on it alongside the pitch tracker, and each frame is marked
// (ReliabilityCheck::Classify) and handed to the request's listener, which
// keeps what it needs. Render's report and advise's analysis both listen
// here: one check, whatever reads it. The pitch and the gate's level
// are taken by InputTap(), a stage that must run ahead of any pre-filter on
// the same samples: what is played is measured on the sound as given, since
// a filter that cuts a note's fundamental (or takes a loud note down) would
// fool a tracker behind it just as it fools the module.
class CheckStage : public BlockStage {
 public:
  // Render's hop: a frame every 46 ms, under a third of what the tracker
  // costs at 512 samples (the crossing windows span 186 ms either way).
  static constexpr int kHop = 2048;
  // The tracker's window at 44100 Hz (as long in time at other rates).
  static constexpr int kWindow = 8192;

  // With `melody`, the following filter's tracker (ShareMelodyWith) gives
  // the pitch.
  static std::unique_ptr<CheckStage> Create(int rate, const CheckRequest& request,
                                            std::string* error,
                                            const MelodyTracker* melody = nullptr);
  bool Process(const std::vector<float>& in, std::vector<float>* out, std::string*) override;
  bool Flush(std::vector<float>* out, std::string*) override;

  BlockStage* InputTap() { return &m_input_tap; }
  PitchTracker* Tracker() { return m_input_tap.tracker.get(); }

 private:
  // Passes its signal on and tracks its pitch and level.
  class InputTapStage : public BlockStage {
   public:
    bool Process(const std::vector<float>& in, std::vector<float>* out, std::string*) override;
    bool Flush(std::vector<float>* out, std::string*) override;
    std::unique_ptr<PitchTracker> tracker;
  };

  void Collect();
  void Release(bool finished);
  bool OneNote(size_t at) const;

  int m_rate = 0;
  ReliabilityOptions m_options;
  std::unique_ptr<CrossingCounter> m_counter;      // over the tracker's windows
  std::unique_ptr<CrossingCounter> m_hop_counter;  // over each frame's hop
  InputTapStage m_input_tap;
  // Frames waiting for the frames within half a window after them, behind
  // up to m_reach frames already released (for the frames after them).
  std::deque<CheckedFrame> m_staged;
  size_t m_released = 0;  // of m_staged
  size_t m_reach = 0;     // frames in half a window
  CheckListener* m_listener = nullptr;
};

}  // namespace tonevolt
