// What render's summary lists over time: the stable stretches of the output
// (notes), or fixed slices, each with its reading, ripple and the check's
// mark. Built as the stream passes; memory holds the listed entries (at
// most kMaxEntries) and a fraction of a second of frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "ChainStages.h"
#include "Pipeline.h"
#include "RenderStages.h"

namespace tonevolt {

struct ReportChoice {
  enum class Kind { kNotes, kSlices };
  Kind kind = Kind::kNotes;
  double seconds = 0;  // slice length
};

// "notes" or "slices:SECONDS"; false with a reason.
bool ParseReport(const std::string& text, ReportChoice* choice, std::string* error);

struct ReportEntry {
  double start_s = 0, end_s = 0;
  bool steady = true;       // a note; false: the reading wanders (a glide, harmonics, noise)
  double reading_hz = 0;    // what the output implies; 0 for no reading
  double ripple_cents = 0;  // peak to peak; negative when the output touches zero
  bool settled = true;      // long enough for the filter to settle
  Reliability mark = Reliability::kNoPitch;
  double tracked_hz = 0;            // median tracked pitch; 0 for none
  double crossings_per_period = 0;  // the module's crossings per tracked period
  double level_db = -200;           // the loudest checked frame
  bool several_pitches = false;     // no pitch: most of its frames hold several (a chord)
};

class NoteReport : public BlockSink {
 public:
  static constexpr size_t kMaxEntries = 10000;

  // Output values are read under the settings of `timeline` (file samples)
  // at module_rate; `check` gives the marks and is read as it fills.
  NoteReport(const ReportChoice& choice, double file_rate, double module_rate,
             SettingsTimelineList timeline, CheckStage* check);

  bool Consume(const std::vector<float>& input, const std::vector<float>& output,
               std::string* error) override;
  bool Finish(std::string* error) override;

  const ReportChoice& Choice() const { return m_choice; }
  const std::vector<ReportEntry>& Entries() const { return m_entries; }
  uint64_t Total() const { return m_total; }  // entries, listed or not
  uint64_t Unlisted() const { return m_total - m_entries.size(); }
  uint64_t Marked(Reliability mark) const { return m_marked[static_cast<int>(mark)]; }

 private:
  // The output over a frame of kFrameSeconds (or to a slice's end).
  struct Frame {
    double start_s = 0, end_s = 0;
    double sum = 0;  // of the values
    uint64_t count = 0;
    float lo = 0, hi = 0;
    bool finite = false;
    Settings settings;
    double hz = 0, cents = 0, lo_hz = 0, hi_hz = 0;
    bool valid = false;       // implies a pitch in the audible range
    bool ends_slice = false;  // slices: the last frame of one
  };
  // What frames with a reading say: their mean in Hz and in cents, and range.
  struct Readings {
    double hz = 0, cents = 0, lo_hz = 0, hi_hz = 0;
    uint64_t frames = 0;
    void Add(const Frame& frame);
    void Merge(const Readings& other);
  };
  // What the check found in an entry's time.
  struct Checks {
    uint64_t marks[3] = {0, 0, 0};
    std::vector<double> tracked;           // Hz, the first few thousand with a pitch
    std::vector<double> window_crossings;  // per tracked period over their windows, likewise
    // Over the frames with a pitch whose hop lies within the entry: the
    // crossings counted, the periods tracked, and the runs they form (the
    // ends of each run can hold two crossings more).
    uint64_t crossings = 0;
    double periods = 0;
    uint64_t runs = 0;
    bool in_run = false;
    double level_db = -200;
    uint64_t several_pitches = 0;  // frames
    void Merge(const Checks& other);
  };
  // An entry in the making.
  struct Open {
    bool open = false;
    double start_s = 0, end_s = 0;
    Settings settings;  // at its start
    double settle_s = 0;
    Readings all, settled;  // notes: all frames, and those after settling
    // The latest settled frame waits for the next: the frame before a note
    // ends is often already on its way to the next.
    Frame last_settled;
    bool has_last_settled = false;
    std::vector<Frame> early;  // notes: the frames within twice the settling time
    double value_sum = 0;      // slices: the mean value, as the summary always read it
    uint64_t value_count = 0;
    float value_lo = 0, value_hi = 0;
    bool value_finite = false;
    Checks checks;
    // Checked frames, their times moved by the module filter's delay: the
    // latest wait, as their hop may reach past the entry's end.
    std::deque<CheckedFrame> pending;
  };

  void CloseFrame();
  void Drain(bool finished);
  void ApplyFrame(const Frame& frame);
  void ApplyChecked(const CheckedFrame& checked);
  void Commit(const CheckedFrame& checked, double end_s);
  void StartEntry(const Frame& frame);
  void AddToEntry(const Frame& frame);
  // Ends the open entry: a note, a slice, or part of an unsteady stretch.
  void CloseEntry();
  void CloseUnsteady();
  void Record(ReportEntry entry, const Checks& checks);
  Reliability MarkOf(const Checks& checks) const;
  static int Pitched(const Checks& checks);
  const Settings& SettingsAtSample(uint64_t sample);

  ReportChoice m_choice;
  double m_file_rate, m_module_rate;
  SettingsTimelineList m_timeline;
  size_t m_timeline_at = 0;
  CheckStage* m_check;
  uint64_t m_frame_samples;
  uint64_t m_position = 0;  // samples consumed
  Frame m_frame;            // filling
  uint64_t m_frame_first = 0;
  uint64_t m_next_cut = 0;     // sample where the filling frame ends
  uint64_t m_slice = 0;        // slices: the slice being filled
  std::deque<Frame> m_frames;  // closed, waiting for the check to pass them
  Open m_open;
  Open m_unsteady;              // notes: the stretches too short to be notes, run together
  int m_unsteady_pitched = -1;  // whether its sound has a pitch; -1 not known yet
  std::vector<ReportEntry> m_entries;
  uint64_t m_total = 0;
  bool m_last_listed = false;  // the latest entry is the list's last
  uint64_t m_marked[3] = {0, 0, 0};
};

// Prints the report's table and what to try for unreliable entries.
void PrintReport(const NoteReport& report, std::FILE* out);

// "unreliable: harmonics, try --prefilter note:A2" and the like, for one entry.
std::string CheckText(const ReportEntry& entry);

}  // namespace tonevolt
