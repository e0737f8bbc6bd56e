#include "notes/Stretches.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "module/FilterModel.h"
#include "module/Readings.h"
#include "notes/PitchRuns.h"

namespace tonevolt {

namespace {

// How long the filter's glide into or out of a note can look: twice its
// settling time, or a frame where no ripple cycle showed.
double GlideSeconds(const Settings& settings) {
  return std::max(2 * SettleSeconds(settings), kLongestFrameSeconds);
}

// The check's hop: how closely it places a change of note.
constexpr double kChangePlacedWithinSeconds = CheckStage::kHop / kReferenceRate;

// Fixed slices: a frame ends at each slice's end, and so does the entry.
class Slices : public Segmenter {
 public:
  Slices(EntryLedger* ledger, double seconds, double file_rate)
      : m_ledger(*ledger), m_seconds(seconds), m_file_rate(file_rate) {}

  uint64_t NextCut(uint64_t first) const override {
    return std::max<uint64_t>(first + 1, std::llround((m_slice + 1) * m_seconds * m_file_rate));
  }

  bool EndsSlice(uint64_t end) override {
    if (end < static_cast<uint64_t>(std::llround((m_slice + 1) * m_seconds * m_file_rate)))
      return false;
    ++m_slice;
    return true;
  }

  void Apply(const OutputFrame& frame) override {
    // A reading never mixes settings: an entry ends where they change.
    if (frame.after_change) m_ledger.CloseEntry();
    if (!m_ledger.EntryOpen())
      m_ledger.StartEntry(frame);
    else
      m_ledger.AddToEntry(frame);
    if (frame.ends_slice) m_ledger.CloseEntry();
  }

  void Fill(OpenEntry* o, const OutputFrame& frame) override {
    if (frame.finite) o->slice.Add(frame);
    if (frame.finite && frame.whole) o->whole.Add(frame);
  }

  void Conclude(OpenEntry* o, ReportEntry e) override {
    // A slice is settled once the filter has had its settling time since
    // the played note last changed; a change inside it leaves it between
    // two notes. The check places a change within a hop: one that close to
    // either end of the slice is at that end.
    const double change = m_ledger.LatestPlayedChange(o->end_s - kChangePlacedWithinSeconds);
    e.settled = !(o->start_s + kChangePlacedWithinSeconds < change + SettleSeconds(o->settings));
    e.holds_change = change > o->start_s + kChangePlacedWithinSeconds;
    if (!e.settled) e.played_change_s = change;
    // Over its whole ripple cycles, where it has some.
    const ReadingSum& r = o->whole.frames > 0 ? o->whole : o->slice;
    if (o->slice.frames > 0) {
      e.reading_hz = ImpliedHz(r.values / r.samples, o->settings, m_ledger.ModuleRate());
      e.ripple_cents =
          o->slice.lo_hz > 0 && o->slice.hi_hz > 0 ? Cents(o->slice.hi_hz, o->slice.lo_hz) : -1;
      e.range = o->slice.range;
    }
    m_ledger.Record(e, o->checks, false);
  }

  void Close() override { m_ledger.CloseEntry(); }

 private:
  EntryLedger& m_ledger;
  double m_seconds, m_file_rate;
  uint64_t m_slice = 0;  // the slice being filled
};

// Notes: stretches where the output holds within kNoteToleranceCents of their
// mean; those shorter than kShortestStretchSeconds run together as unsteady.
class Notes : public Segmenter {
 public:
  explicit Notes(EntryLedger* ledger) : m_ledger(*ledger), m_held(kNoteToleranceCents) {}

  uint64_t NextCut(uint64_t) const override { return std::numeric_limits<uint64_t>::max(); }
  bool EndsSlice(uint64_t) override { return false; }
  void Apply(const OutputFrame& frame) override;
  void Fill(OpenEntry* o, const OutputFrame& frame) override;
  void Conclude(OpenEntry* o, ReportEntry e) override;

  void Close() override {
    SettleOutlier();
    m_ledger.CloseEntry();
    CloseUnsteady();
  }

 private:
  void Start(const OutputFrame& frame) {
    m_held.Clear();
    m_ledger.StartEntry(frame);
  }
  bool WithinNote(const OutputFrame& frame) const {
    return m_ledger.EntryOpen() && m_held.Holds(frame.cents);
  }
  // Whether a frame off the open note may still be its vibrato's swing, or
  // its own unevenness, with the frames off it before: within the deepest
  // swing from one side to the other, for no longer than the slowest
  // vibrato's cycle, and past half of one only while it moves by more than
  // a note's tolerance (a new note holds its pitch; a swing keeps moving).
  bool MaySwing(const OutputFrame& frame) const {
    const double cycle = 1 / kSlowestVibratoHz;
    if (!(std::fabs(frame.cents - m_held.Mean()) <= 2 * kDeepestVibratoCents) ||
        frame.end_s - m_swing.front().start_s > cycle)
      return false;
    if (frame.end_s - m_swing.front().start_s < cycle / 2) return true;
    double lowest = frame.cents, highest = frame.cents;
    for (const OutputFrame& off : m_swing) {
      lowest = std::min(lowest, off.cents);
      highest = std::max(highest, off.cents);
    }
    return highest - lowest > kNoteToleranceCents;
  }
  void SettleOutlier();
  void StartAtOutlier();
  void CloseUnsteady();

  EntryLedger& m_ledger;
  HeldPitch m_held;  // the open entry's pitch
  // Frames off the open note, waiting: where the pitch returns within half
  // a vibrato's cycle they were its swing, or its unevenness (a burst of
  // noise, a crossing more), and join it; else the first starts the next.
  std::vector<OutputFrame> m_swing;
  OpenEntry m_unsteady;         // the stretches too short to be notes, run together
  int m_unsteady_pitched = -1;  // whether its sound has a pitch; -1 not known yet
};

void Notes::Apply(const OutputFrame& frame) {
  // A reading never mixes settings: an entry ends where they change.
  if (frame.after_change) {
    SettleOutlier();
    m_ledger.CloseEntry();
  }
  if (!frame.valid) {
    Close();
    return;
  }
  if (!m_swing.empty()) {
    if (WithinNote(frame)) {
      for (const OutputFrame& off : m_swing) m_ledger.AddToEntry(off);
      m_swing.clear();
      m_ledger.AddToEntry(frame);
      return;
    }
    if (MaySwing(frame)) {
      m_swing.push_back(frame);
      return;
    }
    StartAtOutlier();
  }
  if (WithinNote(frame)) {
    m_ledger.AddToEntry(frame);
  } else if (m_ledger.EntryOpen()) {
    m_swing.push_back(frame);
  } else {
    Start(frame);
  }
}

// Frames held off the note, when no frame follows to judge them by: a
// swing still moving, or too short yet to be a note of its own, is the
// note's, as it ends; else (or one frame alone) they start the next entry.
void Notes::SettleOutlier() {
  if (m_swing.size() > 1) {
    const auto [lowest, highest] = std::minmax_element(
        m_swing.begin(), m_swing.end(),
        [](const OutputFrame& a, const OutputFrame& b) { return a.cents < b.cents; });
    const bool short_of_a_note =
        m_swing.back().end_s - m_swing.front().start_s < 0.5 / kSlowestVibratoHz;
    if (short_of_a_note || highest->cents - lowest->cents > kNoteToleranceCents) {
      for (const OutputFrame& off : m_swing) m_ledger.AddToEntry(off);
      m_swing.clear();
    }
  }
  while (!m_swing.empty()) StartAtOutlier();
}

// The first frame held off the note starts the next entry, with the
// checked frames of its time; the others are taken again after it.
void Notes::StartAtOutlier() {
  std::vector<OutputFrame> waiting;
  waiting.swap(m_swing);
  m_ledger.CloseEntryBefore(waiting.front().start_s);
  Start(waiting.front());
  for (size_t i = 1; i < waiting.size(); ++i) Apply(waiting[i]);
}

void Notes::Fill(OpenEntry* o, const OutputFrame& frame) {
  if (!frame.valid) return;
  o->all.Add(frame);
  m_held.Add(frame.cents, static_cast<double>(frame.count));
  double since = frame.start_s - o->start_s;
  if (since < 2 * o->settle_s && o->early.size() < kKeptValues) o->early.push_back(frame);
  if (since >= o->settle_s) {
    if (o->has_last_settled) o->settled.Add(o->last_settled);
    o->last_settled = frame;
    o->has_last_settled = true;
  }
}

void Notes::Conclude(OpenEntry* entry, ReportEntry e) {
  OpenEntry& o = *entry;
  if (e.end_s - e.start_s < kShortestStretchSeconds) {
    // Part of a stretch whose reading wanders; one where the sound has a
    // pitch and one where it has none are told apart.
    int pitched = o.checks.Pitched();
    if (m_unsteady.open && pitched >= 0 && m_unsteady_pitched >= 0 && pitched != m_unsteady_pitched)
      CloseUnsteady();
    if (pitched >= 0) m_unsteady_pitched = pitched;
    if (!m_unsteady.open) {
      m_unsteady = std::move(o);
      m_unsteady.open = true;
    } else {
      m_unsteady.end_s = o.end_s;
      m_unsteady.all.Merge(o.all);
      m_unsteady.checks.Merge(o.checks);
    }
    return;
  }
  // The filter's glide into the note is the note's start.
  OpenEntry& u = m_unsteady;
  if (u.open && std::fabs(u.end_s - e.start_s) < 1e-9 &&
      u.end_s - u.start_s <= GlideSeconds(o.settings)) {
    e.start_s = u.start_s;
    u.open = false;
    m_unsteady_pitched = -1;
  }
  CloseUnsteady();
  ReadingSum readings = o.settled;
  if (readings.frames == 0 && o.has_last_settled) readings.Add(o.last_settled);
  if (readings.frames == 0 || e.end_s - e.start_s < 2 * o.settle_s) {
    // Too short to settle: its second half, for what it is worth.
    e.settled = false;
    readings = ReadingSum();
    double half = 0.5 * (e.start_s + e.end_s);
    for (const OutputFrame& f : o.early)
      if (f.start_s >= half || &f == &o.early.back()) readings.Add(f);
  }
  e.reading_hz = readings.Hz(o.settings);
  e.ripple_cents = readings.lo_hz > 0 ? Cents(readings.hi_hz, readings.lo_hz) : -1;
  e.range = readings.range;
  m_ledger.Record(e, o.checks, true);
}

void Notes::CloseUnsteady() {
  OpenEntry& u = m_unsteady;
  if (!u.open) return;
  u.open = false;
  m_unsteady_pitched = -1;
  if (u.end_s - u.start_s < kShortestStretchSeconds) return;
  // The filter's glide out of a note is the note's end.
  if (u.end_s - u.start_s <= GlideSeconds(u.settings) &&
      m_ledger.ExtendLastNote(u.start_s, u.end_s))
    return;
  ReportEntry e;
  e.start_s = u.start_s;
  e.end_s = u.end_s;
  e.steady = false;
  e.settled = false;
  e.settings = u.settings;
  e.reading_hz = u.all.Hz(u.settings);
  e.ripple_cents = u.all.lo_hz > 0 ? Cents(u.all.hi_hz, u.all.lo_hz) : -1;
  e.range = u.all.range;
  m_ledger.Record(e, u.checks, true);
}

}  // namespace

std::unique_ptr<Segmenter> Segmenter::Create(const ReportChoice& choice, double file_rate,
                                             EntryLedger* ledger) {
  if (choice.kind == ReportChoice::Kind::kSlices)
    return std::make_unique<Slices>(ledger, choice.seconds, file_rate);
  return std::make_unique<Notes>(ledger);
}

void ReadingSum::Add(const OutputFrame& f) {
  lo_hz = frames ? std::min(lo_hz, f.lo_hz) : f.lo_hz;
  hi_hz = frames ? std::max(hi_hz, f.hi_hz) : f.hi_hz;
  hz += f.hz * f.count;
  cents += f.cents * f.count;
  values += f.sum;
  samples += f.count;
  ++frames;
  if (f.range != TableRange::kInside) range = f.range;
}

void ReadingSum::Merge(const ReadingSum& other) {
  if (other.frames == 0) return;
  lo_hz = frames ? std::min(lo_hz, other.lo_hz) : other.lo_hz;
  hi_hz = frames ? std::max(hi_hz, other.hi_hz) : other.hi_hz;
  hz += other.hz;
  cents += other.cents;
  values += other.values;
  samples += other.samples;
  frames += other.frames;
  if (other.range != TableRange::kInside) range = other.range;
}

void EntryChecks::Merge(const EntryChecks& other) {
  for (int m = 0; m < 3; ++m) marks[m] += other.marks[m];
  pitched += other.pitched;
  one_note += other.one_note;
  one_note_crossings += other.one_note_crossings;
  one_note_periods += other.one_note_periods;
  for (size_t i = 0; i < other.tracked.size() && tracked.size() < kKeptValues; ++i)
    tracked.push_back(other.tracked[i]);
  for (size_t i = 0; i < other.heard.size() && heard.size() < kKeptValues; ++i)
    heard.push_back(other.heard[i]);
  for (size_t i = 0; i < other.one_note_tracked.size() && one_note_tracked.size() < kKeptValues;
       ++i)
    one_note_tracked.push_back(other.one_note_tracked[i]);
  for (size_t i = 0; i < other.window_crossings.size() && window_crossings.size() < kKeptValues;
       ++i)
    window_crossings.push_back(other.window_crossings[i]);
  crossings += other.crossings;
  periods += other.periods;
  runs += other.runs;
  several_pitches += other.several_pitches;
  for (int h = 0; h < 5; ++h) lowest_partial[h] += other.lowest_partial[h];
  level_db = std::max(level_db, other.level_db);
}

double ReadingSum::Hz(const Settings& settings) const {
  if (samples == 0) return 0;
  return settings.scale == Scale::kVoltPerOctave ? 440.0 * std::exp2(cents / samples / 1200.0)
                                                 : hz / samples;
}

int EntryChecks::Pitched() const {
  uint64_t all = Frames();
  if (all == 0) return -1;
  return 2 * (all - pitched) > all ? 0 : 1;
}

}  // namespace tonevolt
