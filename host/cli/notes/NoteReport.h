// What render's summary lists over time: the stable stretches of the output
// (notes), or fixed slices, each with its reading, ripple and the check's
// mark. Built as the stream passes; memory holds the listed entries (at
// most kMaxEntries) and a fraction of a second of frames.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "module/Run.h"
#include "notes/Stretches.h"
#include "stream/Pipeline.h"
#include "stream/Stages.h"

namespace tonevolt {

// "notes" or "slices:SECONDS"; false with a reason.
bool ParseReport(const std::string& text, ReportChoice* choice, std::string* error);

class NoteReport : public BlockSink, public CheckListener, private EntryLedger {
 public:
  static constexpr size_t kMaxEntries = 10000;

  // Output values are read under the settings of `timeline` (file samples)
  // at module_rate. With `check`, the rules of a check at module_rate whose
  // marks it listens to (CheckRequest::listener); without, no marks.
  NoteReport(const ReportChoice& choice, double file_rate, double module_rate,
             SettingsTimelineList timeline, const ReliabilityOptions* check);
  ~NoteReport() override;

  bool Consume(const std::vector<float>& input, const std::vector<float>& output,
               std::string* error) override;
  bool Finish(std::string* error) override;
  void Checked(const CheckedFrame& frame) override;
  void CheckEnded() override { m_check_ended = true; }

  const ReportChoice& Choice() const { return m_choice; }
  const std::vector<ReportEntry>& Entries() const { return m_entries; }
  uint64_t Total() const { return m_total; }  // entries, listed or not
  uint64_t Unlisted() const { return m_total - m_entries.size(); }
  // What a line gives as its cause; the summary counts entries by it.
  enum class Cause {
    kOk,         // ok, or ok but unsteady or too short to settle
    kSettling,   // slices: a note starts in it, or the filter settles on one
    kTableEnd,   // past an end of the 1 V/oct table
    kHarmonics,  // reads high, as harmonics add crossings
    kReadsLow,   // reads low: the crossings, 1 V/oct's ripple, or the played note
    kReadsHigh,  // reads high for another reason: the played note's edge, or none known
    kTooShort,   // reads off, too short for the filter to settle
    kNoFundamental,  // the played note's fundamental is missing: a harmonic is read at best
    kNoPitch,    // nothing to check against
    kCount
  };
  uint64_t Counted(Cause cause) const { return m_counted[static_cast<int>(cause)]; }
  // The lowest tracked pitch among the entries that read high from harmonics.
  double LowestHarmonicHz() const { return m_lowest_harmonic_hz; }
  // Entries read right: ok and inside the table.
  uint64_t Reliable() const { return Counted(Cause::kOk); }

 private:
  // EntryLedger, for the segmenter.
  bool EntryOpen() const override { return m_open.open; }
  void StartEntry(const OutputFrame& frame) override;
  void AddToEntry(const OutputFrame& frame) override;
  void CloseEntry() override;
  void CloseEntryBefore(double start_s) override;
  void Record(ReportEntry entry, const EntryChecks& checks, bool join_alike) override;
  bool ExtendLastNote(double start_s, double end_s) override;
  double ModuleRate() const override { return m_module_rate; }
  double LatestPlayedChange(double t) const override;

  void Add(float y);
  bool CycleStarts(float y);
  void CloseFrame(bool ends_cycle);
  uint64_t NextCut() const;
  void Drain(bool finished);
  void ApplyChecked(const CheckedFrame& checked);
  void Commit(const CheckedFrame& checked, double end_s);
  Reliability MarkOf(const EntryChecks& checks) const;
  TableRange RangeOf(float lo, float hi, const Settings& settings) const;

  ReportChoice m_choice;
  double m_file_rate, m_module_rate;
  SettingsCursor m_settings;  // at m_frame_first
  const ReliabilityOptions* m_check;
  std::deque<CheckedFrame> m_checked;  // from the check, not yet placed
  bool m_check_ended;
  uint64_t m_frame_samples, m_longest_frame;
  uint64_t m_position = 0;  // samples consumed
  OutputFrame m_frame;      // filling
  uint64_t m_frame_first = 0;
  bool m_frame_starts_cycle = false;
  // The ripple's cycles: a cycle starts where the output, having fallen,
  // rises again by a share of the frame's range (a Schmitt trigger, deaf to
  // a resampler's ringing).
  bool m_armed = false;
  float m_cycle_hi = 0, m_cycle_lo = 0;
  std::deque<OutputFrame> m_frames;  // closed, waiting for the check to pass them
  std::unique_ptr<Segmenter> m_segmenter;
  OpenEntry m_open;
  // Checked frames that came while no entry was open, for the next.
  std::deque<CheckedFrame> m_between;
  CheckedFrame m_last_checked;  // for an entry too short to hold a checked frame
  bool m_has_last_checked = false;
  // The latest frame whose window held one note, for an entry without one.
  CheckedFrame m_last_one_note;
  bool m_has_last_one_note = false;
  // When the played note changed, as checked frames arrive: the latest few.
  std::deque<double> m_played_changes;
  std::deque<double> m_note_cents;  // the played note's latest frames; empty for none
  bool m_has_candidate = false;     // frames off the note, waiting for the next
  int m_candidate_frames = 0;
  double m_candidate_cents = 0, m_candidate_change_s = 0;
  double m_played_time_s = 0;  // the latest checked frame's time
  std::vector<ReportEntry> m_entries;
  uint64_t m_total = 0;
  bool m_last_listed = false;     // the latest entry is the list's last
  bool m_last_unpitched = false;  // ... and the tracker found no pitch in most of it
  uint64_t m_counted[static_cast<int>(Cause::kCount)] = {};
  double m_lowest_harmonic_hz = 0;
};

// Prints the report's table and what to try for unreliable entries, never
// the pre-filter already in use.
void PrintReport(const NoteReport& report, const PrefilterChoice& in_use, std::FILE* out);

// "unreliable: reads 1200 c high (harmonics: 4.0 crossings a period of A2);
// try --prefilter note:A2" and the like, for one entry rendered with in_use.
std::string CheckText(const ReportEntry& entry, const PrefilterChoice& in_use);

}  // namespace tonevolt
