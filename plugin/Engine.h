// Tonevolt as a plug-in, whatever the format: the module's signal path
// alone, or behind the live tracker's conditioning and gate with the hold
// after it. The format's adapter hands it the host's settings, buffers and
// saved state. The module's stage equals the 32-bit module's bit for bit:
// each Process() is one piece of the module's processing with the settings
// applied at its first sample, under the control state the module runs in,
// whatever the host thread's state, which is given back after every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "TonevoltCore.h"
#include "plugin/Controls.h"

namespace tonevolt {

class LiveTracker;
class NoteHold;
class RateStep;

class PluginEngine {
 public:
  // Not real-time. The tracker's buffers and designs are made here: check
  // Ready() before use.
  PluginEngine(float sample_rate, bool tracker);
  ~PluginEngine();
  PluginEngine(const PluginEngine&) = delete;
  PluginEngine& operator=(const PluginEngine&) = delete;

  bool Ready() const;
  // These settings in a new engine for another rate. Not real-time; null
  // when memory ran out.
  std::unique_ptr<PluginEngine> AtRate(float sample_rate) const;
  bool Tracker() const { return m_tracker_kind; }
  uint32_t ControlCount() const { return tonevolt::ControlCount(m_tracker_kind); }

  // A setting as a host gives it: NaN takes the default, a value out of
  // range its nearest bound, a list its nearest entry (halves away from
  // zero), hold is on above 0. It applies from the next sample processed;
  // `lowest`, which needs new designs, from the next Activate(). Ids this
  // plug-in lacks are ignored. Real-time safe.
  void Set(ControlId id, float value);
  // The value in force (or, for `lowest`, at the next Activate()).
  float Get(ControlId id) const;

  // From silence, as a freshly opened module, with the tracker designed for
  // `lowest` as set. Not real-time.
  void Activate();

  // count samples of in into pitch and, for the tracker, gate (may be
  // null). Outputs may share the input's buffer. Real-time safe.
  void Process(const float* in, float* pitch, float* gate, uint32_t count);

  // The tracker's frames are put on the timeline from the next sample on,
  // which is timeline sample `frame` (while the transport plays).
  void Align(int64_t frame);

  // Samples the output is held back by: none.
  static constexpr uint32_t kLatencySamples = 0;

  // Saved state: every setting, by id. Save answers the bytes written (0
  // when capacity is short of kStateBytes); Load takes only what Save
  // writes for this kind of plug-in, and refuses anything else (another
  // kind, unknown ids, values out of range, short or long data), changing
  // nothing.
  static constexpr size_t kStateBytes = 6 + 5 * kTrackerControlCount;
  // How much of a host's stream an adapter reads: more is not a state of ours.
  static constexpr size_t kStateReadLimit = 256;
  size_t SaveState(uint8_t* bytes, size_t capacity) const;
  bool LoadState(const uint8_t* bytes, size_t size);
  // What LoadState would take, into values (by id), without an engine:
  // for a controller that shows a state's settings.
  static bool DecodeState(const uint8_t* bytes, size_t size, bool tracker,
                          float (&values)[kTrackerControlCount]);

 private:
  struct Buffers;
  void OpenCore();
  void Design(double lowest_hz);
  void ApplySettings();
  void RunTracked(const float* in, float* pitch, float* gate, uint32_t count);

  double m_sample_rate;  // the float the host's rate rounds to
  bool m_tracker_kind;
  float m_values[kTrackerControlCount];
  TonevoltCore m_core;
  bool m_core_has_run = false;  // since opened
  // The tracker: its designs and the buffers between its stages.
  std::unique_ptr<LiveTracker> m_tracker;
  std::unique_ptr<NoteHold> m_note_hold;  // following the tracker's gate
  std::unique_ptr<RateStep> m_rate_step;
  std::unique_ptr<Buffers> m_buffers;
  double m_designed_lowest = 0;
  bool m_tracker_has_run = false;  // since designed or reset
  bool m_tracker_on = true;        // `lowest` above 0 at Activate()
};

}  // namespace tonevolt
