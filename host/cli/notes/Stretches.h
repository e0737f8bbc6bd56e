// The output's stretches: what the report reads from the module's output
// (frames over whole ripple cycles, and their sums), what the check found in
// an entry's time, and how frames become entries, as notes where the output
// holds a pitch or as fixed slices. The report (NoteReport) owns the entries
// and their checks; a segmenter decides only where entries start and end and
// what they read, through the report's EntryLedger.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "analysis/Reliability.h"
#include "module/Settings.h"
#include "stream/Stages.h"

namespace tonevolt {

struct ReportChoice {
  enum class Kind { kNotes, kSlices };
  Kind kind = Kind::kNotes;
  double seconds = 0;  // slice length
};

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
  // Which harmonic of the played pitch is the lowest partial in most of its
  // frames: from 2 up the fundamental is missing (CheckedFrame).
  int lowest_partial = 1;
  // Slices: the played note changes inside it, so that its reading lies
  // between two notes, at no time (played_change_s, that change's time).
  bool holds_change = false;
  double played_change_s = NAN;
};

// A frame of the output with no ripple cycle in it (a glide, silence) ends
// this long after its start.
constexpr double kLongestFrameSeconds = 0.06;
// Values kept per entry for its medians and its early frames.
constexpr size_t kKeptValues = 4096;

// The output over a frame: from one ripple cycle's start to another's, at
// least 20 ms long, so that its mean is the output's mean whatever the
// ripple; cut short at a slice's end and a settings change.
struct OutputFrame {
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
struct ReadingSum {
  double hz = 0, cents = 0, lo_hz = 0, hi_hz = 0;
  double values = 0;  // their sum, as the module gave them
  uint64_t samples = 0, frames = 0;
  TableRange range = TableRange::kInside;
  void Add(const OutputFrame& frame);
  void Merge(const ReadingSum& other);
  // The mean reading: in Hz for 1 V/kHz, whose values are linear in Hz, and
  // in cents for 1 V/oct, whose values are linear in cents; 0 for none.
  double Hz(const Settings& settings) const;
};

// What the check found in an entry's time.
struct EntryChecks {
  uint64_t marks[3] = {0, 0, 0};
  uint64_t pitched = 0;  // frames where the tracker is sure of a pitch, whatever the gate
  // Frames whose window holds one note, and their hops' crossings and
  // tracked periods.
  uint64_t one_note = 0, one_note_crossings = 0;
  double one_note_periods = 0;
  std::vector<double> tracked;           // Hz, the first few thousand with a pitch
  std::vector<double> heard;             // likewise, of all the tracker gave a pitch, marks aside
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
  uint64_t several_pitches = 0;  // frames
  // Frames with a pitch whose window holds one note, by the harmonic that is
  // their lowest partial (1 to 4).
  uint64_t lowest_partial[5] = {0, 0, 0, 0, 0};
  uint64_t Frames() const { return marks[0] + marks[1] + marks[2]; }
  // 1 when the tracker is sure of a pitch in most checked frames, 0 when in
  // most it is not, -1 for no frames. The gate has no say: it decides marks,
  // not where stretches end.
  int Pitched() const;
  void Merge(const EntryChecks& other);
};

// An entry in the making.
struct OpenEntry {
  bool open = false;
  double start_s = 0, end_s = 0;
  Settings settings;  // at its start
  double settle_s = 0;
  ReadingSum all, settled;  // notes: all frames, and those after settling
  // The latest settled frame waits for the next: the frame before a note
  // ends is often already on its way to the next.
  OutputFrame last_settled;
  bool has_last_settled = false;
  std::vector<OutputFrame> early;  // notes: the frames within twice the settling time
  ReadingSum slice, whole;         // slices: all frames, and those of whole ripple cycles
  EntryChecks checks;
  // Checked frames, their times moved by the module filter's delay: the
  // latest wait, as their hop may reach past the entry's end.
  std::deque<CheckedFrame> pending;
};

// What a segmenter may do with the report's entries.
class EntryLedger {
 public:
  virtual ~EntryLedger() = default;
  virtual bool EntryOpen() const = 0;
  // Opens an entry at the frame, with the checked frames of its time.
  virtual void StartEntry(const OutputFrame& frame) = 0;
  // The frame, into the open entry (Segmenter::Fill).
  virtual void AddToEntry(const OutputFrame& frame) = 0;
  // Ends the open entry, its checks done; the segmenter concludes it.
  virtual void CloseEntry() = 0;
  // Ends the open entry before start_s: the checked frames from there on
  // wait for the next entry.
  virtual void CloseEntryBefore(double start_s) = 0;
  // Judges an entry by its checks and lists it. join_alike: an entry
  // without a pitch, or a chord, just after one like it joins it.
  virtual void Record(ReportEntry entry, const EntryChecks& checks, bool join_alike) = 0;
  // Moves the end of the entry listed last to end_s, if it is a note that
  // ends at start_s; false otherwise.
  virtual bool ExtendLastNote(double start_s, double end_s) = 0;
  // The rate whose settings read the module's values.
  virtual double ModuleRate() const = 0;
  // When the played note last changed (or sounded after none) at or before
  // t, as the check found it; -inf for never. The filter's output starts to
  // glide there, and settles its settling time later.
  virtual double LatestPlayedChange(double t) const = 0;
};

// How frames become entries: fixed slices, or notes where the output holds
// a pitch. Sees each frame once, in time order among the checks.
class Segmenter {
 public:
  virtual ~Segmenter() = default;
  // The latest sample where a frame starting at sample `first` may end.
  virtual uint64_t NextCut(uint64_t first) const = 0;
  // Whether the frame ending before sample `end` is the last of a slice.
  virtual bool EndsSlice(uint64_t end) = 0;
  virtual void Apply(const OutputFrame& frame) = 0;
  // A frame's reading, into the open entry.
  virtual void Fill(OpenEntry* entry, const OutputFrame& frame) = 0;
  // An entry just closed, its checks done: its reading, and it is recorded.
  virtual void Conclude(OpenEntry* entry, ReportEntry e) = 0;
  // The input has ended.
  virtual void Close() = 0;

  static std::unique_ptr<Segmenter> Create(const ReportChoice& choice, double file_rate,
                                           EntryLedger* ledger);
};

}  // namespace tonevolt
