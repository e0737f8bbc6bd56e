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

#include "stream/Chain.h"
#include "stream/Pipeline.h"
#include "stream/Stages.h"

namespace tonevolt {

struct ReportChoice {
  enum class Kind { kNotes, kSlices };
  Kind kind = Kind::kNotes;
  double seconds = 0;  // slice length
};

// "notes" or "slices:SECONDS"; false with a reason.
bool ParseReport(const std::string& text, ReportChoice* choice, std::string* error);

// Where an entry's output lies against the 1 V/oct table's ends, past which
// the module's value is clipped and the reading means nothing.
enum class TableRange { kInside, kAtTop, kBelowFirstStep };

struct ReportEntry {
  double start_s = 0, end_s = 0;
  bool steady = true;       // a note; false: the reading wanders (a glide, harmonics, noise)
  double reading_hz = 0;    // what the output implies; 0 for no reading
  double ripple_cents = 0;  // peak to peak; negative when the output touches zero
  bool settled = true;      // long enough for the filter to settle
  Settings settings;        // the module's, all through it
  Reliability mark = Reliability::kNoPitch;
  double tracked_hz = 0;  // median tracked pitch; 0 for none
  // The reading against the tracked pitch, in cents, where the stretch holds
  // one played pitch; NaN elsewhere (a glide, a slice across a change).
  double off_cents = NAN;
  double crossings_per_period = 0;  // the module's crossings per tracked period
  double level_db = -200;           // the loudest checked frame, on the input as given
  bool quiet = false;               // all of it quieter than the gate
  TableRange range = TableRange::kInside;
  bool several_pitches = false;  // no pitch: most of its frames hold several (a chord)
};

class NoteReport : public BlockSink, public CheckListener {
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
  void Checked(const CheckedFrame& frame) override { m_checked.push_back(frame); }
  void CheckEnded() override { m_check_ended = true; }

  const ReportChoice& Choice() const { return m_choice; }
  const std::vector<ReportEntry>& Entries() const { return m_entries; }
  uint64_t Total() const { return m_total; }  // entries, listed or not
  uint64_t Unlisted() const { return m_total - m_entries.size(); }
  uint64_t Marked(Reliability mark) const { return m_marked[static_cast<int>(mark)]; }
  // The lowest tracked pitch among the entries with this mark; 0 for none.
  double LowestTracked(Reliability mark) const { return m_lowest_tracked[static_cast<int>(mark)]; }
  // Entries beyond the 1 V/oct table, whatever their mark.
  uint64_t BeyondTable() const { return m_beyond_table; }
  // Entries marked ok and inside the table.
  uint64_t Reliable() const { return m_reliable; }

 private:
  // The output over a frame: from one ripple cycle's start to another's, at
  // least kFrameSeconds long, so that its mean is the output's mean whatever
  // the ripple; cut short at a slice's end and a settings change.
  struct Frame {
    double start_s = 0, end_s = 0;
    double sum = 0;  // of the values
    uint64_t count = 0;
    float lo = 0, hi = 0;
    bool finite = false;
    Settings settings;
    double hz = 0, cents = 0, lo_hz = 0, hi_hz = 0;
    bool valid = false;         // implies a pitch in the audible range
    bool whole = false;         // whole ripple cycles
    bool ends_slice = false;    // slices: the last frame of one
    bool after_change = false;  // the first frame under new settings
    TableRange range = TableRange::kInside;
  };
  // What frames with a reading say: their means in Hz and in cents weighted
  // by their samples, and range.
  struct Readings {
    double hz = 0, cents = 0, lo_hz = 0, hi_hz = 0;
    double values = 0;  // their sum, as the module gave them
    uint64_t samples = 0, frames = 0;
    TableRange range = TableRange::kInside;
    void Add(const Frame& frame);
    void Merge(const Readings& other);
  };
  // What the check found in an entry's time.
  struct Checks {
    uint64_t marks[3] = {0, 0, 0};
    uint64_t pitched = 0;  // frames where the tracker is sure of a pitch, whatever the gate
    // Frames whose window holds one note, and their hops' crossings and
    // tracked periods.
    uint64_t one_note = 0, one_note_crossings = 0;
    double one_note_periods = 0;
    std::vector<double> tracked;           // Hz, the first few thousand with a pitch
    std::vector<double> one_note_tracked;  // likewise, of those whose window holds one note
    std::vector<double> window_crossings;  // per tracked period over one-note windows, likewise
    // Over the one-note frames whose hop lies within the entry: the
    // crossings counted, the periods tracked, and the runs they form (the
    // ends of each run can hold two crossings more).
    uint64_t crossings = 0;
    double periods = 0;
    uint64_t runs = 0;
    bool in_run = false;
    double level_db = -200;
    uint64_t Frames() const { return marks[0] + marks[1] + marks[2]; }
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
    Readings slice, whole;     // slices: all frames, and those of whole ripple cycles
    Checks checks;
    // Checked frames, their times moved by the module filter's delay: the
    // latest wait, as their hop may reach past the entry's end.
    std::deque<CheckedFrame> pending;
  };

  // How frames become entries: fixed slices, or notes where the output
  // holds a pitch. Sees each frame once, in time order among the checks.
  class Segmenter {
   public:
    virtual ~Segmenter() = default;
    // The latest sample where a frame starting at sample `first` may end.
    virtual uint64_t NextCut(uint64_t first) const = 0;
    // Whether the frame ending before sample `end` is the last of a slice.
    virtual bool EndsSlice(uint64_t end) = 0;
    virtual void Apply(const Frame& frame) = 0;
    // A frame's reading, into the open entry.
    virtual void Fill(Open* entry, const Frame& frame) = 0;
    // An entry just closed, its checks done: its reading, and it is recorded.
    virtual void Conclude(Open* entry, ReportEntry e) = 0;
    // The input has ended.
    virtual void Close() = 0;
  };
  class Notes;
  class Slices;

  void Add(float y);
  bool CycleStarts(float y);
  void CloseFrame(bool ends_cycle);
  uint64_t NextCut() const;
  void Drain(bool finished);
  void ApplyChecked(const CheckedFrame& checked);
  void Commit(const CheckedFrame& checked, double end_s);
  void StartEntry(const Frame& frame);
  void AddToEntry(const Frame& frame);
  // Ends the open entry: a note, a slice, or part of an unsteady stretch.
  void CloseEntry();
  // join_alike: an entry without a pitch, or a chord, just after one like it
  // joins it.
  void Record(ReportEntry entry, const Checks& checks, bool join_alike);
  Reliability MarkOf(const Checks& checks) const;
  static int Pitched(const Checks& checks);
  static double ReadingHz(const Readings& readings, const Settings& settings);
  TableRange RangeOf(float lo, float hi, const Settings& settings) const;

  ReportChoice m_choice;
  double m_file_rate, m_module_rate;
  SettingsCursor m_settings;  // at m_frame_first
  const ReliabilityOptions* m_check;
  std::deque<CheckedFrame> m_checked;  // from the check, not yet placed
  bool m_check_ended;
  uint64_t m_frame_samples, m_longest_frame;
  uint64_t m_position = 0;  // samples consumed
  Frame m_frame;            // filling
  uint64_t m_frame_first = 0;
  bool m_frame_starts_cycle = false;
  // The ripple's cycles: a cycle starts where the output, having fallen,
  // rises again by a share of the frame's range (a Schmitt trigger, deaf to
  // a resampler's ringing).
  bool m_armed = false;
  float m_cycle_hi = 0, m_cycle_lo = 0;
  std::deque<Frame> m_frames;  // closed, waiting for the check to pass them
  std::unique_ptr<Segmenter> m_segmenter;
  Open m_open;
  // Checked frames that came while no entry was open, for the next.
  std::deque<CheckedFrame> m_between;
  CheckedFrame m_last_checked;  // for an entry too short to hold a checked frame
  bool m_has_last_checked = false;
  // The latest frame whose window held one note, for an entry without one.
  CheckedFrame m_last_one_note;
  bool m_has_last_one_note = false;
  std::vector<ReportEntry> m_entries;
  uint64_t m_total = 0;
  bool m_last_listed = false;       // the latest entry is the list's last
  bool m_last_unpitched = false;    // ... and the tracker found no pitch in most of it
  static constexpr int kMarks = 4;  // of Reliability
  uint64_t m_marked[kMarks] = {};
  double m_lowest_tracked[kMarks] = {};
  uint64_t m_beyond_table = 0, m_reliable = 0;
};

// Prints the report's table and what to try for unreliable entries, never
// the pre-filter already in use.
void PrintReport(const NoteReport& report, const PrefilterChoice& in_use, std::FILE* out);

// "unreliable: reads 1200 c high (harmonics: 4.0 crossings a period of A2);
// try --prefilter note:A2" and the like, for one entry rendered with in_use.
std::string CheckText(const ReportEntry& entry, const PrefilterChoice& in_use);

}  // namespace tonevolt
