#include "notes/NoteReport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "OutputUnits.h"
#include "PitchTable.h"
#include "module/FilterModel.h"
#include "module/Readings.h"
#include "notes/PitchRuns.h"
#include "options/Number.h"
#include "options/Values.h"

namespace tonevolt {

namespace {

// The output is read in frames at least this long (two ripple periods of a
// 50 Hz note), ending where a ripple cycle starts, or kLongestFrameSeconds
// long if none does (a glide, silence).
constexpr double kFrameSeconds = 0.02;
// A ripple cycle starts where the output rises by this share of the frame's
// range from its low: well above a resampler's ringing (under a tenth).
constexpr double kCycleRise = 0.25;
// Readings outside this range are no pitch (silence reads near 0 Hz).
constexpr double kLowestReadingHz = 20, kHighestReadingHz = 20000;
// Frames 46 ms apart: a peak of vibrato at 4 Hz or faster, up to 100 cents
// deep, lies more than 50 cents off the note in three of them at most. A
// note held for less than four frames is no change of its own: a slice
// across it reads neither, and its tracked pitches say so.
constexpr int kChangeFrames = 4;
// A window across a note change holds both notes, several pitches, in as
// many frames as it spans hops: so many are a change, more a chord.
constexpr uint64_t kChangeWindowFrames = CheckStage::kWindow / CheckStage::kHop;
// A note's pitch is the median of this many of its latest checked frames
// (some 0.7 s).
constexpr size_t kNoteFramesKept = 16;
// Changes of the played note remembered: the checked frames run a little
// ahead of the entries, never by this many changes.
constexpr size_t kKeptChanges = 64;
// Stretches without a pitch this close together are listed as one.
constexpr double kNoiseGapSeconds = 0.25;

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                   values.end());
  return values[middle];
}

// The frequency the module looked up in its 1 V/oct table for an output
// value (before the octave shift and rate are undone).
double TableHz(double value) { return ReadHzOfOctaveValue(value); }

// The table's last entry, and its first step (entry 1; entry 0 is the
// no-pitch value, and between them the table is no logarithm).
constexpr double kTableTopHz = kPitchTableSize - 1, kTableFirstStepHz = 1;

// The nearest note name, as "A2", for a --prefilter value.
std::string NoteOnly(double hz) { return NoteName(hz); }

// A reading further than this from the played pitch is never ok.
constexpr double kReadsOffCents = 50;
// A stretch holds one played pitch where this share of its tracked frames
// lies within kNoteToleranceCents of their median; else (a glide, a slice
// across a change of note) its reading is a mean of several. A note, whose
// output holds one pitch, needs only a majority: a window across a change
// of note tracks a pitch of neither (their common period), which in a short
// note can be most of the rest.
constexpr double kOnePitchShare = 0.75, kOnePitchShareOfNote = 0.5;

bool OnePlayedPitch(const std::vector<double>& tracked, double median_hz, double share) {
  if (tracked.empty() || median_hz <= 0) return false;
  size_t near = 0;
  for (double hz : tracked) near += std::fabs(Cents(hz, median_hz)) <= kNoteToleranceCents;
  return near > share * tracked.size();
}

// A held note's vibrato: the tracker's pitches swing about their median by
// more than a note's tolerance, most of them no further than the deepest
// vibrato. Its window, across both ends of a deep swing, can look like two
// pitches, and some frames read off on either side: the note is one all the
// same. A chord's pitches hold still.
bool SwingsAboutOnePitch(std::vector<double> heard, double* centre_hz) {
  if (heard.size() < 8) return false;
  std::sort(heard.begin(), heard.end());
  const double median = heard[heard.size() / 2];
  const double low = Cents(heard[heard.size() / 10], median),
               high = Cents(heard[heard.size() * 9 / 10], median);
  if (!(high - low > kNoteToleranceCents && low >= -kDeepestVibratoCents &&
        high <= kDeepestVibratoCents))
    return false;
  *centre_hz = median;
  return true;
}

// A vibrato too quick for the tracker's window to follow (8 Hz: its window
// spans one and a half cycles) still swings the reading, by no more than the
// deepest vibrato either way, about the pitch the tracker hears.
bool SwingsInTheReading(const ReportEntry& e, const std::vector<double>& heard,
                        double* centre_hz) {
  if (heard.size() < 8 || !(e.ripple_cents > kNoteToleranceCents &&
                            e.ripple_cents <= 2 * kDeepestVibratoCents + kNoteToleranceCents))
    return false;
  const double median = Median(heard);
  if (!(std::fabs(Cents(e.reading_hz, median)) <= kNoteToleranceCents)) return false;
  *centre_hz = median;
  return true;
}

// Crossings per tracked period that say something: more than a clean
// tone's two (harmonics), or fewer (the fundamental is missing, or a lower
// sound sets them), by more than the check's margin.
bool ExtraCrossings(double per_period) { return per_period > ReliabilityOptions().harmonic_limit; }
bool MissingCrossings(double per_period) {
  return per_period > 0 && per_period < 4 - ReliabilityOptions().harmonic_limit;
}

// Whether the crossings explain the way the reading is off: more than
// two a period where it reads high, fewer where it reads low.
bool CrossingsExplain(const ReportEntry& e) {
  return e.mark == Reliability::kHarmonics ? ExtraCrossings(e.crossings_per_period)
                                           : MissingCrossings(e.crossings_per_period);
}

// 1 V/oct takes the logarithm of the rippling value, which reads flat (see
// OctaveBiasCents): where that bias makes half or more of a reading too
// low whose crossings are right, the ripple explains it.
bool RippleReadsFlat(const ReportEntry& e) {
  return e.settings.scale == Scale::kVoltPerOctave && e.off_cents < 0 && e.ripple_cents > 0 &&
         !CrossingsExplain(e) && OctaveBiasCents(e.ripple_cents) <= e.off_cents / 2;
}

// Within the tolerance of the played pitch, but nearer another note: the
// played pitch lies near the edge of its note, and the filter's wobble
// takes the reading over it.
bool NearAnotherNote(const ReportEntry& e) {
  return std::isfinite(e.off_cents) && std::fabs(e.off_cents) <= kReadsOffCents;
}

// A slice where a note starts, or that the filter is still settling on one,
// reads no played note; that is what its line says, unless harmonics add
// crossings, which say more.
bool SettlingSlice(const ReportEntry& e) {
  return e.holds_change || std::isfinite(e.played_change_s);
}
bool ShowsSettling(const ReportEntry& e) {
  return SettlingSlice(e) && !(e.mark == Reliability::kHarmonics && CrossingsExplain(e));
}

// Where nothing is played, the output falling below the table (or noise
// reaching its top) is no fault of the settings: there is no note to read.
bool ClippedNote(const ReportEntry& e) {
  return e.range != TableRange::kInside && e.mark != Reliability::kNoPitch;
}

// A played note whose fundamental is missing reads off whatever the
// settings: the module counts the partials there are.
bool MissingFundamental(const ReportEntry& e) {
  return e.lowest_partial >= 2 && e.tracked_hz > 0 && e.mark != Reliability::kOk &&
         e.mark != Reliability::kNoPitch;
}

// The cause a line gives, in the order CheckText looks for it.
NoteReport::Cause CauseOf(const ReportEntry& e) {
  using Cause = NoteReport::Cause;
  if (ShowsSettling(e)) return Cause::kSettling;
  if (MissingFundamental(e)) return Cause::kNoFundamental;
  if (ClippedNote(e)) return Cause::kTableEnd;
  switch (e.mark) {
    case Reliability::kOk:
      return Cause::kOk;
    case Reliability::kNoPitch:
      return Cause::kNoPitch;
    case Reliability::kHarmonics:
    case Reliability::kReadsLow:
      break;
  }
  const bool high = e.mark == Reliability::kHarmonics;
  if (CrossingsExplain(e)) return high ? Cause::kHarmonics : Cause::kReadsLow;
  if (RippleReadsFlat(e)) return Cause::kReadsLow;
  if (!e.settled) return Cause::kTooShort;
  return high ? Cause::kReadsHigh : Cause::kReadsLow;
}

// "--prefilter A or --prefilter B": the first `most` of the candidates that
// are not the one in use; empty when none is left.
std::string PrefilterTries(const std::vector<std::string>& candidates,
                           const PrefilterChoice& in_use, size_t most) {
  const std::string used = PrefilterOption(in_use);
  std::string text;
  size_t listed = 0;
  for (const std::string& candidate : candidates) {
    if (candidate == used || listed == most) continue;
    text += (listed++ > 0 ? " or --prefilter " : "--prefilter ") + candidate;
  }
  return text;
}

// What to try for a reading too high (harmonics: a note filter at the
// played note) or too low (the fundamental cut: a range from the played
// note, which also takes out what lies below it).
std::string TryHigh(double tracked_hz, const PrefilterChoice& in_use) {
  return PrefilterTries({"note:" + NoteOnly(tracked_hz), "follow"}, in_use, 1);
}
std::string TryLow(double tracked_hz, const PrefilterChoice& in_use) {
  return PrefilterTries({"range:" + NoteOnly(tracked_hz), "follow"}, in_use, 2);
}

}  // namespace

bool ParseReport(const std::string& text, ReportChoice* choice, std::string* error) {
  if (text == "notes") {
    *choice = ReportChoice();
    return true;
  }
  const std::string prefix = "slices:";
  if (text.compare(0, prefix.size(), prefix) == 0) {
    double seconds;
    if (!ParseNumber(text.substr(prefix.size()), {"s"}, &seconds)) {
      *error = "'" + text + "' needs a number of seconds (slices:0.5)";
      return false;
    }
    // A slice shorter than the check's hop would hold no frame of its own.
    const double least = CheckStage::kHop / kReferenceRate;
    if (!(seconds >= least)) {
      char why[160];
      std::snprintf(why, sizeof why,
                    "'%s': a slice must be at least %.5f s, the reliability check's hop "
                    "(%d samples at %.0f Hz)",
                    text.c_str(), std::ceil(least * 1e5) / 1e5, CheckStage::kHop, kReferenceRate);
      *error = why;
      return false;
    }
    choice->kind = ReportChoice::Kind::kSlices;
    choice->seconds = seconds;
    return true;
  }
  *error = "'" + text + "' is not notes or slices:SECONDS";
  return false;
}

NoteReport::NoteReport(const ReportChoice& choice, double file_rate, double module_rate,
                       SettingsTimelineList timeline, const ReliabilityOptions* check)
    : m_choice(choice),
      m_file_rate(file_rate),
      m_module_rate(module_rate),
      m_settings(std::move(timeline)),
      m_check(check),
      m_check_ended(check == nullptr),
      m_frame_samples(std::max<uint64_t>(1, std::llround(kFrameSeconds * file_rate))),
      m_longest_frame(std::max<uint64_t>(1, std::llround(kLongestFrameSeconds * file_rate))) {
  m_segmenter = Segmenter::Create(choice, file_rate, this);
  m_frame.settings = m_settings.At(0);
}

NoteReport::~NoteReport() = default;

bool NoteReport::Consume(const std::vector<float>&, const std::vector<float>& output,
                         std::string*) {
  for (float y : output) Add(y);
  Drain(false);
  return true;
}

bool NoteReport::Finish(std::string*) {
  if (m_position > m_frame_first) CloseFrame(false);
  Drain(true);
  m_segmenter->Close();
  return true;
}

// The next sample where a frame must end: a slice's end or a settings change.
uint64_t NoteReport::NextCut() const {
  return std::min<uint64_t>(m_settings.NextChange(), m_segmenter->NextCut(m_frame_first));
}

// Sample m_position, y, into the frames: a frame ends before it when a cut
// falls there, or a cycle starts there and the frame is long enough.
void NoteReport::Add(float y) {
  const bool cycle = std::isfinite(y) && CycleStarts(y);
  const uint64_t length = m_position - m_frame_first;
  if (length > 0 && (m_position >= NextCut() || length >= m_longest_frame ||
                     (cycle && length >= m_frame_samples)))
    CloseFrame(cycle);
  if (m_position == m_frame_first) m_frame_starts_cycle = cycle;
  if (std::isfinite(y)) {
    m_frame.sum += y;
    ++m_frame.count;
    m_frame.lo = m_frame.finite ? std::min(m_frame.lo, y) : y;
    m_frame.hi = m_frame.finite ? std::max(m_frame.hi, y) : y;
    m_frame.finite = true;
  }
  ++m_position;
}

bool NoteReport::CycleStarts(float y) {
  const float rise =
      static_cast<float>(kCycleRise * (m_frame.finite ? m_frame.hi - m_frame.lo : 0));
  if (!m_armed) {
    m_cycle_hi = std::max(m_cycle_hi, y);
    if (y < m_cycle_hi - rise) {
      m_armed = true;
      m_cycle_lo = y;
    }
    return false;
  }
  m_cycle_lo = std::min(m_cycle_lo, y);
  if (!(y > m_cycle_lo + rise)) return false;
  m_armed = false;
  m_cycle_hi = y;
  return true;
}

TableRange NoteReport::RangeOf(float lo, float hi, const Settings& settings) const {
  if (settings.scale != Scale::kVoltPerOctave) return TableRange::kInside;
  // Half a step short of the last entry is at it (a resampler's arithmetic
  // moves the value a little).
  if (TableHz(hi) >= kTableTopHz - 0.5) return TableRange::kAtTop;
  if (TableHz(lo) < kTableFirstStepHz) return TableRange::kBelowFirstStep;
  return TableRange::kInside;
}

// Ends the filling frame at m_position and starts the next.
void NoteReport::CloseFrame(bool ends_cycle) {
  OutputFrame& f = m_frame;
  f.start_s = m_frame_first / m_file_rate;
  f.end_s = m_position / m_file_rate;
  f.whole = m_frame_starts_cycle && ends_cycle;
  if (f.finite && f.count > 0) {
    f.hz = ImpliedHz(f.sum / f.count, f.settings, m_module_rate);
    f.lo_hz = ImpliedHz(f.lo, f.settings, m_module_rate);
    f.hi_hz = ImpliedHz(f.hi, f.settings, m_module_rate);
    f.valid = f.hz >= kLowestReadingHz && f.hz <= kHighestReadingHz;
    if (f.valid) f.cents = Cents(f.hz, 440.0);
    f.range = RangeOf(f.lo, f.hi, f.settings);
  }
  OutputFrame next;
  f.ends_slice = m_segmenter->EndsSlice(m_position);
  if (m_settings.NextChange() <= m_position) {
    next.after_change = true;
    // The value may jump (another scale): the ripple's cycles start afresh.
    m_armed = false;
    m_cycle_hi = -HUGE_VALF;
  }
  next.settings = m_settings.At(m_position);
  m_frames.push_back(f);
  m_frame = next;
  m_frame_first = m_position;
}

// Frames and checked frames in time order; a frame waits until the check
// has passed its middle, so that every mark lands in the entry of its time.
void NoteReport::Drain(bool finished) {
  std::deque<CheckedFrame>& checked = m_checked;
  const bool check_done = m_check_ended;
  for (;;) {
    if (!m_frames.empty()) {
      const OutputFrame& f = m_frames.front();
      double middle = 0.5 * (f.start_s + f.end_s);
      if (!checked.empty() && checked.front().time_s + DelaySeconds(f.settings) <= middle) {
        CheckedFrame moved = checked.front();
        moved.time_s += DelaySeconds(f.settings);
        checked.pop_front();
        ApplyChecked(moved);
        continue;
      }
      if (checked.empty() && !check_done) break;
      OutputFrame frame = f;
      m_frames.pop_front();
      m_segmenter->Apply(frame);
      continue;
    }
    if (!finished || checked.empty()) break;
    CheckedFrame moved = checked.front();
    moved.time_s += DelaySeconds(m_settings.Last());
    checked.pop_front();
    ApplyChecked(moved);
  }
}

void NoteReport::ApplyChecked(const CheckedFrame& c) {
  m_last_checked = c;
  m_has_last_checked = true;
  if (!m_open.open) {
    m_between.push_back(c);
    if (m_between.size() > 2) m_between.pop_front();
    return;
  }
  m_open.pending.push_back(c);
  // Two hops back, a frame's hop has surely ended within the entry.
  while (m_open.pending.size() > 2) {
    Commit(m_open.pending.front(), HUGE_VAL);
    m_open.pending.pop_front();
  }
}

void NoteReport::Commit(const CheckedFrame& c, double end_s) {
  EntryChecks& k = m_open.checks;
  ++k.marks[static_cast<int>(c.mark)];
  k.pitched += c.pitched;
  k.several_pitches += c.several_pitches;
  k.level_db = std::max(k.level_db, c.level_db);
  const double rate = m_module_rate, half_hop = 0.5 * c.hop_samples / rate;
  bool pitched = c.mark != Reliability::kNoPitch;
  if (pitched && k.tracked.size() < kKeptValues) k.tracked.push_back(c.hz);
  if (c.hz > 0 && k.heard.size() < kKeptValues) k.heard.push_back(c.hz);
  // Not where the window holds a note change: the tracker can take the last
  // note's partials for the upper ones of a note below the new one.
  if (pitched && c.one_note) ++k.lowest_partial[std::clamp(c.lowest_partial, 1, 4)];
  // Only a frame whose window holds one note can show harmonics.
  bool evidence = pitched && c.one_note;
  if (evidence) {
    m_last_one_note = c;
    m_has_last_one_note = true;
    ++k.one_note;
    k.one_note_crossings += c.hop_crossings;
    k.one_note_periods += c.hop_samples * c.hz / rate;
    if (k.window_crossings.size() < kKeptValues)
      k.window_crossings.push_back(c.crossings_per_period);
    if (k.one_note_tracked.size() < kKeptValues) k.one_note_tracked.push_back(c.hz);
  }
  bool inside = c.time_s - half_hop >= m_open.start_s - 1e-9 && c.time_s + half_hop <= end_s + 1e-9;
  if (evidence && inside) {
    k.crossings += c.hop_crossings;
    k.periods += c.hop_samples * c.hz / rate;
    if (!k.in_run) ++k.runs;
  }
  k.in_run = evidence && inside;
}

// An entry's own crossings decide, over the hops of frames whose window
// holds one note: more than two a tracked period (beyond what the ends of
// each run of such hops can add) make the module read too high, however
// much of the rest is quiet. Otherwise most of its frames must have a pitch
// to check against. Hops that reach past the entry (a short one) come next;
// without any (a stretch between notes), the latest one before it.
Reliability NoteReport::MarkOf(const EntryChecks& k) const {
  uint64_t no_pitch = k.marks[static_cast<int>(Reliability::kNoPitch)];
  uint64_t all = k.Frames();
  if (all == 0 || m_check == nullptr) return Reliability::kNoPitch;
  // Mostly a chord: what few frames hold one pitch do not make it a note.
  if (2 * k.several_pitches > all) return Reliability::kNoPitch;
  const double per_period = m_check->harmonic_limit;
  auto judge = [&](double crossings, double periods, double runs) {
    return crossings > 2.0 * runs + per_period * periods ? Reliability::kHarmonics
                                                         : Reliability::kOk;
  };
  Reliability own = k.periods > 0 ? judge(k.crossings, k.periods, k.runs) : Reliability::kOk;
  if (own == Reliability::kHarmonics) return own;
  if (2 * no_pitch > all) return Reliability::kNoPitch;
  if (k.periods > 0) return own;
  if (k.one_note > 0) return judge(k.one_note_crossings, k.one_note_periods, k.one_note);
  // Nothing before it either: the frames' own marks, over their windows.
  if (!m_has_last_one_note)
    return 3 * k.marks[static_cast<int>(Reliability::kHarmonics)] >= all ? Reliability::kHarmonics
                                                                         : Reliability::kOk;
  const CheckedFrame& c = m_last_one_note;
  return judge(c.hop_crossings, c.hop_samples * c.hz / m_module_rate, 1);
}

void NoteReport::StartEntry(const OutputFrame& frame) {
  m_open = OpenEntry();
  m_open.open = true;
  m_open.start_s = frame.start_s;
  m_open.settings = frame.settings;
  m_open.settle_s = SettleSeconds(frame.settings);
  // Checked frames that came since the last entry closed and lie in this one.
  for (const CheckedFrame& c : m_between)
    if (c.time_s >= frame.start_s) m_open.pending.push_back(c);
  m_between.clear();
  AddToEntry(frame);
}

void NoteReport::AddToEntry(const OutputFrame& frame) {
  m_open.end_s = frame.end_s;
  m_segmenter->Fill(&m_open, frame);
}

void NoteReport::CloseEntry() {
  if (!m_open.open) return;
  OpenEntry& o = m_open;
  o.open = false;
  for (const CheckedFrame& c : o.pending) Commit(c, o.end_s);
  o.pending.clear();
  // Too short to hold a checked frame (a settings change just before a
  // slice's end, the input's last moments): judged by the one before it.
  if (o.checks.Frames() == 0 && m_has_last_checked) Commit(m_last_checked, o.end_s);
  ReportEntry e;
  e.start_s = o.start_s;
  e.end_s = o.end_s;
  e.settings = o.settings;
  m_segmenter->Conclude(&o, e);
}

// A change of the played note: kChangeFrames frames in a row off the
// note's pitch (the median of its recent frames) and together, so that
// vibrato, whose peaks hold three of the check's frames at most, is no
// change. It lies between the note's last frame and the first off it, in
// the input's time: the filter starts to glide there. A note after none
// starts half a hop before its first frame.
void NoteReport::Checked(const CheckedFrame& c) {
  m_checked.push_back(c);
  const double at = c.time_s;
  if (!c.pitched) {
    m_note_cents.clear();
    m_has_candidate = false;
    m_played_time_s = at;
    return;
  }
  const double cents = Cents(c.hz, 440.0);
  double change = NAN;
  if (m_note_cents.empty()) {
    change = std::max(0.0, at - 0.5 * c.hop_samples / m_module_rate);
  } else if (std::fabs(cents -
                       Median(std::vector<double>(m_note_cents.begin(), m_note_cents.end()))) <=
             kNoteToleranceCents) {
    m_has_candidate = false;
  } else if (m_has_candidate && std::fabs(cents - m_candidate_cents) <= kNoteToleranceCents) {
    if (++m_candidate_frames == kChangeFrames) {
      change = m_candidate_change_s;
      m_note_cents.assign(1, m_candidate_cents);
      m_has_candidate = false;
    }
  } else {
    m_has_candidate = true;
    m_candidate_frames = 1;
    m_candidate_cents = cents;
    m_candidate_change_s = 0.5 * (m_played_time_s + at);
  }
  if (!m_has_candidate) {
    m_note_cents.push_back(cents);
    if (m_note_cents.size() > kNoteFramesKept) m_note_cents.pop_front();
  }
  if (std::isfinite(change)) {
    m_played_changes.push_back(change);
    if (m_played_changes.size() > kKeptChanges) m_played_changes.pop_front();
  }
  m_played_time_s = at;
}

double NoteReport::LatestPlayedChange(double t) const {
  for (auto it = m_played_changes.rbegin(); it != m_played_changes.rend(); ++it)
    if (*it <= t) return *it;
  return -HUGE_VAL;
}

void NoteReport::CloseEntryBefore(double start_s) {
  std::deque<CheckedFrame>& pending = m_open.pending;
  while (!pending.empty() && pending.back().time_s >= start_s) {
    m_between.push_front(pending.back());
    pending.pop_back();
  }
  CloseEntry();
}

bool NoteReport::ExtendLastNote(double start_s, double end_s) {
  if (!m_last_listed || !m_entries.back().steady ||
      !(std::fabs(start_s - m_entries.back().end_s) < 1e-9))
    return false;
  m_entries.back().end_s = end_s;
  return true;
}

void NoteReport::Record(ReportEntry e, const EntryChecks& k, bool join_alike) {
  e.mark = MarkOf(k);
  // What is played: where the tracker's window holds one note, if anywhere.
  const std::vector<double>& played = k.one_note_tracked.empty() ? k.tracked : k.one_note_tracked;
  const bool note = e.steady && m_choice.kind == ReportChoice::Kind::kNotes;
  e.tracked_hz = Median(played);
  double centre_hz = 0;
  const bool vibrato =
      note && e.reading_hz > 0 &&
      (SwingsAboutOnePitch(k.heard, &centre_hz) || SwingsInTheReading(e, k.heard, &centre_hz));
  if (vibrato) {
    e.tracked_hz = centre_hz;
    e.mark = Reliability::kOk;  // decided by the reading below
  }
  // Where one pitch is played, the reading against it decides; the
  // crossings only say why. Elsewhere they are all there is.
  if (e.mark != Reliability::kNoPitch && e.reading_hz > 0 &&
      (vibrato ||
       OnePlayedPitch(played, e.tracked_hz, note ? kOnePitchShareOfNote : kOnePitchShare))) {
    e.off_cents = Cents(e.reading_hz, e.tracked_hz);
    // Nor is a reading ok whose nearest note is not the played note's,
    // however few cents apart they are: it names another note.
    const bool off =
        std::fabs(e.off_cents) > kReadsOffCents || NoteName(e.reading_hz) != NoteName(e.tracked_hz);
    e.mark = !off              ? Reliability::kOk
             : e.off_cents > 0 ? Reliability::kHarmonics
                               : Reliability::kReadsLow;
  }
  e.crossings_per_period = k.periods > 0                 ? k.crossings / k.periods
                           : !k.window_crossings.empty() ? Median(k.window_crossings)
                           : m_has_last_one_note         ? m_last_one_note.crossings_per_period
                                                         : 0;
  const uint64_t with_partial = k.lowest_partial[1] + k.lowest_partial[2] + k.lowest_partial[3] +
                                k.lowest_partial[4];
  for (int h = 2; h <= 4; ++h)
    if (2 * k.lowest_partial[h] > with_partial) e.lowest_partial = h;
  e.level_db = k.level_db;
  e.quiet = m_check != nullptr && k.Frames() > 0 && k.level_db < m_check->gate_db;
  // Stretches where the tracker finds no pitch, next to each other, make
  // one line (whatever the gate: it can only take pitches away), and so do chords.
  e.several_pitches =
      !vibrato &&
      ((e.mark == Reliability::kNoPitch &&
        2 * k.several_pitches > k.marks[static_cast<int>(Reliability::kNoPitch)]) ||
       (k.several_pitches > kChangeWindowFrames &&
        static_cast<double>(k.several_pitches) >=
            kChordShareOfFrames * static_cast<double>(k.Frames())));
  if (e.several_pitches) {
    // A chord: the reading is of no one note played.
    e.mark = Reliability::kNoPitch;
    e.off_cents = NAN;
    e.lowest_partial = 1;
  }
  const bool unpitched = k.Pitched() == 0;
  const bool alike = m_last_listed && m_entries.back().several_pitches == e.several_pitches &&
                     (e.several_pitches || (unpitched && m_last_unpitched));
  if (join_alike && alike && e.start_s - m_entries.back().end_s < kNoiseGapSeconds) {
    ReportEntry& last = m_entries.back();
    double before = last.end_s - last.start_s, now = e.end_s - e.start_s;
    last.reading_hz = (last.reading_hz * before + e.reading_hz * now) / (before + now);
    last.ripple_cents = last.ripple_cents < 0 || e.ripple_cents < 0
                            ? -1
                            : std::max(last.ripple_cents, e.ripple_cents);
    last.level_db = std::max(last.level_db, e.level_db);
    last.quiet = last.quiet && e.quiet;
    last.steady = last.steady && e.steady;
    last.end_s = e.end_s;
    return;
  }
  ++m_total;
  // Counted by the cause its line gives.
  const Cause cause = CauseOf(e);
  ++m_counted[static_cast<int>(cause)];
  if (cause == Cause::kHarmonics && e.tracked_hz > 0 &&
      (m_lowest_harmonic_hz == 0 || e.tracked_hz < m_lowest_harmonic_hz))
    m_lowest_harmonic_hz = e.tracked_hz;
  m_last_listed = m_entries.size() < kMaxEntries;
  m_last_unpitched = unpitched;
  if (m_last_listed) m_entries.push_back(e);
}

// Why a reading is off, from its crossings where they say something:
// "harmonics: 4.0 crossings a period of A2", "0.6 crossings a period of A4:
// the pre-filter cuts its fundamental", "too short to settle".
std::string OffReason(const ReportEntry& e, const PrefilterChoice& in_use) {
  char text[160];
  const std::string played = NoteOnly(e.tracked_hz);
  if (e.mark == Reliability::kHarmonics && CrossingsExplain(e)) {
    std::snprintf(text, sizeof text, "harmonics: %.1f crossings a period of %s",
                  e.crossings_per_period, played.c_str());
    return text;
  }
  if (e.mark == Reliability::kReadsLow && CrossingsExplain(e)) {
    std::snprintf(text, sizeof text, "%.1f crossings a period of %s: %s", e.crossings_per_period,
                  played.c_str(),
                  in_use.kind == PrefilterChoice::Kind::kOff
                      ? "a lower sound or a DC offset sets them"
                      : "the pre-filter cuts its fundamental");
    return text;
  }
  if (RippleReadsFlat(e)) {
    std::snprintf(text, sizeof text, "1 V/oct reads a ripple of %ld c flat",
                  std::lround(e.ripple_cents));
    return text;
  }
  if (!e.settled) return "too short to settle";
  if (NearAnotherNote(e))
    return "nearer " + NoteOnly(e.reading_hz) + " than the " + played + " played";
  return played + " played";
}

// "a", "a or b", "a, b or c".
std::string Either(const std::vector<std::string>& ways) {
  std::string text;
  for (size_t i = 0; i < ways.size(); ++i)
    text += (i == 0 ? "" : i + 1 == ways.size() ? " or " : ", ") + ways[i];
  return text;
}

// What smooths the reading further, of what the settings leave open.
std::vector<std::string> SmootherWays(const Settings& s) {
  std::vector<std::string> ways;
  if (s.order == 1) ways.push_back("--order 2");
  if (s.cutoff > kCutoffMinHz) ways.push_back("a lower --cutoff");
  return ways;
}

// What lets the reading settle within the note: the filter can only be
// quicker, or the note longer.
std::vector<std::string> QuickerWays(const Settings& s) {
  std::vector<std::string> ways;
  if (s.cutoff < kCutoffMaxHz) ways.push_back("a higher --cutoff");
  ways.push_back("a longer note");
  return ways;
}

// What to try where the reading's crossings are right but the filter is
// not: its ripple (1 V/kHz reads a rippling value's mean truly), or its
// settling.
std::string TryFilter(const ReportEntry& e) {
  if (RippleReadsFlat(e)) {
    std::vector<std::string> ways = SmootherWays(e.settings);
    ways.push_back("--scale khz");
    return Either(ways);
  }
  if (!e.settled) return Either(QuickerWays(e.settings));
  return NearAnotherNote(e) ? Either(SmootherWays(e.settings)) : "";
}

// Where the output leaves the 1 V/oct table: past its top, a lower octave
// or 1 V/kHz; below its first step, a note not yet settled from silence
// wants a quicker filter, a settled one a smoother filter or a higher octave.
std::string TryInTable(const ReportEntry& e) {
  std::vector<std::string> ways;
  if (e.range == TableRange::kAtTop) {
    if (e.settings.octave > kOctaveMin) ways.push_back("a lower --octave");
    ways.push_back("--scale khz");
    return Either(ways);
  }
  if (!e.settled) return Either(QuickerWays(e.settings));
  ways = SmootherWays(e.settings);
  if (e.settings.octave < kOctaveMax) ways.push_back("a higher --octave");
  if (ways.empty()) ways.push_back("--scale khz");
  return Either(ways);
}

std::string CheckText(const ReportEntry& e, const PrefilterChoice& in_use) {
  char at[64];
  if (ShowsSettling(e)) {
    std::snprintf(at, sizeof at, "%.2f", e.played_change_s);
    if (e.holds_change)
      return std::string("unreliable: a note starts in it (at ") + at +
             " s): it reads neither that note nor what came before";
    return std::string("unreliable: still settling on the note that started at ") + at + " s" +
           (e.settings.cutoff < kCutoffMaxHz ? "; try a higher --cutoff" : "");
  }
  if (MissingFundamental(e)) return "unreliable: " + MissingFundamentalText(e.tracked_hz, e.lowest_partial);
  if (ClippedNote(e) && e.range == TableRange::kAtTop)
    return "unreliable: at the 1 V/oct table's top (" + std::to_string(kPitchTableSize - 1) +
           " Hz at the module); try " + TryInTable(e);
  if (ClippedNote(e))
    return "unreliable: below the 1 V/oct table's first step; try " + TryInTable(e);
  switch (e.mark) {
    case Reliability::kOk:
      if (!e.steady) return "ok, unsteady: a glide or short notes";
      return e.settled ? "ok" : "ok, too short to settle";
    case Reliability::kHarmonics:
    case Reliability::kReadsLow: {
      const bool high = e.mark == Reliability::kHarmonics;
      std::string text = "unreliable: reads ";
      if (std::isfinite(e.off_cents))
        text += std::to_string(std::lround(std::fabs(e.off_cents))) + " c ";
      text += std::string(high ? "high" : "low") + " (" + OffReason(e, in_use) + ")";
      // A pre-filter helps where the crossings are wrong, not a reading a
      // few cents over a note's edge.
      std::string tries = !CrossingsExplain(e) && (NearAnotherNote(e) || !TryFilter(e).empty())
                              ? TryFilter(e)
                          : high ? TryHigh(e.tracked_hz, in_use)
                                 : TryLow(e.tracked_hz, in_use);
      return tries.empty() ? text : text + "; try " + tries;
    }
    case Reliability::kNoPitch:
      break;
  }
  if (e.several_pitches) return "unreliable: no single pitch (a chord, or several sounds)";
  if (e.tracked_hz <= 0 && e.quiet)
    return "unreliable: no pitch (quiet: " + std::to_string(std::lround(e.level_db)) + " dBFS)";
  return "unreliable: no pitch (noise or no clear tone)";
}

void PrintReport(const NoteReport& report, const PrefilterChoice& in_use, std::FILE* out) {
  const bool notes = report.Choice().kind == ReportChoice::Kind::kNotes;
  using Cause = NoteReport::Cause;
  const uint64_t harmonics = report.Counted(Cause::kHarmonics),
                 low = report.Counted(Cause::kReadsLow), high = report.Counted(Cause::kReadsHigh),
                 too_short = report.Counted(Cause::kTooShort),
                 settling = report.Counted(Cause::kSettling),
                 table_end = report.Counted(Cause::kTableEnd),
                 no_pitch = report.Counted(Cause::kNoPitch),
                 unreliable = report.Total() - report.Reliable();
  if (notes) {
    uint64_t unsteady =
        static_cast<uint64_t>(std::count_if(report.Entries().begin(), report.Entries().end(),
                                            [](const ReportEntry& e) { return !e.steady; }));
    std::fprintf(out, "\nNotes     %llu stretch%s of the output: %llu stable, %llu unsteady",
                 static_cast<unsigned long long>(report.Total()), report.Total() == 1 ? "" : "es",
                 static_cast<unsigned long long>(report.Total() - unsteady),
                 static_cast<unsigned long long>(unsteady));
  } else
    std::fprintf(out, "\nSlices    %llu of %g s", static_cast<unsigned long long>(report.Total()),
                 report.Choice().seconds);
  if (unreliable > 0)
    std::fprintf(out, "; %llu unreliable", static_cast<unsigned long long>(unreliable));
  std::fprintf(out, "\n");
  if (report.Total() == 0) {
    std::fprintf(out,
                 "          none: the output holds no pitch for %g s anywhere "
                 "(--report slices:0.5 lists it over time)\n",
                 kShortestStretchSeconds);
    return;
  }
  std::fprintf(out, "%9s %9s  %10s  %-9s %7s  %s\n", "Start (s)", "End (s)", "Reading Hz", "Note",
               "Ripple", "Check");
  for (const ReportEntry& e : report.Entries()) {
    double cents = 0;
    // A note's name only where the reading is the played note's.
    std::string note = e.mark == Reliability::kOk && e.steady && e.range == TableRange::kInside &&
                               !SettlingSlice(e)
                           ? NoteName(e.reading_hz, &cents)
                           : "-";
    if (note != "-") note += " " + SignedCents(cents, " c");
    char ripple[16] = "-";
    if (e.ripple_cents >= 0)
      std::snprintf(ripple, sizeof ripple, "%ld c", std::lround(std::min(e.ripple_cents, 9999.0)));
    std::fprintf(out, "%9.2f %9.2f  %10.2f  %-9s %7s  %s\n", e.start_s, e.end_s, e.reading_hz,
                 note.c_str(), ripple, CheckText(e, in_use).c_str());
  }
  if (report.Unlisted() > 0)
    std::fprintf(out, "          ... %llu more not listed (the first %zu are)\n",
                 static_cast<unsigned long long>(report.Unlisted()), report.Entries().size());
  if (harmonics > 0) {
    const std::string lowest = NoteOnly(report.LowestHarmonicHz());
    std::string ways = "--prefilter note:NOTE for one note";
    if (PrefilterOption(in_use) != "range:" + lowest)
      ways += ",\n          --prefilter range:" + lowest + " for notes from " + lowest + " up";
    if (PrefilterOption(in_use) != "follow") ways += ",\n          --prefilter follow for a line";
    std::fprintf(out,
                 "Check     %llu of them read too high, as harmonics add zero crossings: a "
                 "pre-filter\n          takes them out: %s;\n          tonevolt advise IN "
                 "suggests settings\n",
                 static_cast<unsigned long long>(harmonics), ways.c_str());
  }
  // The other causes, a line each: its count, its verb for one and for
  // several, and the rest of its text.
  const struct {
    uint64_t count;
    const char *one, *several, *text;
  } kLines[] = {
      {low, "read", "read",
       " too low: a pre-filter that cuts the fundamental, a lower sound\n          or DC offset "
       "that sets the crossings, or 1 V/oct's ripple (each line says which)"},
      {high, "read", "read",
       " too high, nearer another note than the one played (each line\n          says why)"},
      {too_short, "is", "are",
       " too short for the filter to settle: a higher --cutoff settles\n          sooner"},
      {settling, "holds", "hold",
       " the start of a note or the filter's glide to it: no\n          played note is read "
       "there until the filter settles"},
      {table_end, "reaches", "reach",
       " an end of the 1 V/oct table, where the module's value\n          stops: the reading "
       "there is clipped"},
      {report.Counted(Cause::kNoFundamental), "is a note", "are notes",
       " whose fundamental is missing: the module counts the partials\n          there are, "
       "so it reads a harmonic at best, above the note heard"},
      {no_pitch, "has", "have",
       " no clear pitch to check (noise, speech, chords, or quieter than --gate):\n          the "
       "reading there means little"},
  };
  for (const auto& line : kLines)
    if (line.count > 0)
      std::fprintf(out, "Check     %llu of them %s%s\n",
                   static_cast<unsigned long long>(line.count),
                   line.count == 1 ? line.one : line.several, line.text);
}

}  // namespace tonevolt
