#include "NoteReport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "Analysis.h"

namespace tonevolt {

namespace {

// The output is read in frames this long: two ripple periods of a 50 Hz note.
constexpr double kFrameSeconds = 0.02;
// A frame further than this from its note's mean starts another note.
constexpr double kToleranceCents = 50;
// Shorter stable stretches are passages, not notes.
constexpr double kShortestNoteSeconds = 0.08;
// Readings outside this range are no pitch (silence reads near 0 Hz).
constexpr double kLowestReadingHz = 20, kHighestReadingHz = 20000;
// Stretches without a pitch this close together are listed as one.
constexpr double kNoiseGapSeconds = 0.25;
// Tracked values kept per entry for its medians.
constexpr size_t kKeptValues = 4096;

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                   values.end());
  return values[middle];
}

// How late the module's output follows its input: the low-pass stages'
// delay at low frequencies, 1 / (2 pi cutoff) each.
double FilterDelay(const Settings& settings) {
  return settings.order / (2 * M_PI * settings.cutoff);
}

// Until the module's filter is within about 10 cents of a new note.
double SettleSeconds(const Settings& settings) {
  return (settings.order == 2 ? 1.2 : 0.8) / settings.cutoff;
}

const Settings& SettingsAt(const SettingsTimelineList& timeline, uint64_t sample) {
  size_t k = 0;
  while (k + 1 < timeline.size() && timeline[k + 1].first <= sample) ++k;
  return timeline[k].second;
}

// The nearest note name, as "A2", for a --prefilter value.
std::string NoteOnly(double hz) { return NoteName(hz); }

}  // namespace

bool ParseReport(const std::string& text, ReportChoice* choice, std::string* error) {
  if (text == "notes") {
    *choice = ReportChoice();
    return true;
  }
  const std::string prefix = "slices:";
  if (text.compare(0, prefix.size(), prefix) == 0) {
    std::string number = text.substr(prefix.size());
    if (!number.empty() && number.back() == 's') number.pop_back();
    char* end = nullptr;
    double seconds = number.empty() ? 0 : std::strtod(number.c_str(), &end);
    if (number.empty() || *end != '\0' || !std::isfinite(seconds) || !(seconds > 0)) {
      *error = "'" + text + "' needs a positive number of seconds (slices:0.5)";
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
                       SettingsTimelineList timeline, CheckStage* check)
    : m_choice(choice),
      m_file_rate(file_rate),
      m_module_rate(module_rate),
      m_timeline(std::move(timeline)),
      m_check(check),
      m_frame_samples(std::max<uint64_t>(1, std::llround(kFrameSeconds * file_rate))) {
  m_next_cut = m_frame_samples;
  if (m_choice.kind == ReportChoice::Kind::kSlices)
    m_next_cut = std::min<uint64_t>(
        m_next_cut, std::max<uint64_t>(1, std::llround(m_choice.seconds * m_file_rate)));
}

bool NoteReport::Consume(const std::vector<float>&, const std::vector<float>& output,
                         std::string*) {
  for (float y : output) {
    if (std::isfinite(y)) {
      m_frame.sum += y;
      ++m_frame.count;
      m_frame.lo = m_frame.finite ? std::min(m_frame.lo, y) : y;
      m_frame.hi = m_frame.finite ? std::max(m_frame.hi, y) : y;
      m_frame.finite = true;
    }
    if (++m_position == m_next_cut) CloseFrame();
  }
  Drain(false);
  return true;
}

bool NoteReport::Finish(std::string*) {
  if (m_position > m_frame_first) CloseFrame();
  Drain(true);
  CloseEntry();
  CloseUnsteady();
  return true;
}

const Settings& NoteReport::SettingsAtSample(uint64_t sample) {
  while (m_timeline_at + 1 < m_timeline.size() && m_timeline[m_timeline_at + 1].first <= sample)
    ++m_timeline_at;
  return m_timeline[m_timeline_at].second;
}

// Ends the filling frame at m_position and starts the next.
void NoteReport::CloseFrame() {
  Frame& f = m_frame;
  f.start_s = m_frame_first / m_file_rate;
  f.end_s = m_position / m_file_rate;
  f.settings = SettingsAtSample((m_frame_first + m_position) / 2);
  if (f.finite && f.count > 0) {
    f.hz = ImpliedHz(f.sum / f.count, f.settings, m_module_rate);
    f.lo_hz = ImpliedHz(f.lo, f.settings, m_module_rate);
    f.hi_hz = ImpliedHz(f.hi, f.settings, m_module_rate);
    f.valid = f.hz >= kLowestReadingHz && f.hz <= kHighestReadingHz;
    if (f.valid) f.cents = Cents(f.hz, 440.0);
  }
  uint64_t next = m_position + m_frame_samples;
  if (m_choice.kind == ReportChoice::Kind::kSlices) {
    uint64_t slice_end = std::llround((m_slice + 1) * m_choice.seconds * m_file_rate);
    if (m_position >= slice_end) {
      f.ends_slice = true;
      ++m_slice;
      slice_end = std::llround((m_slice + 1) * m_choice.seconds * m_file_rate);
    }
    next = std::min(next, std::max(slice_end, m_position + 1));
  }
  m_frames.push_back(f);
  m_frame = Frame();
  m_frame_first = m_position;
  m_next_cut = next;
}

// Frames and checked frames in time order; a frame waits until the check
// has passed its middle, so that every mark lands in the entry of its time.
void NoteReport::Drain(bool finished) {
  std::deque<CheckedFrame> none;
  std::deque<CheckedFrame>& checked = m_check != nullptr ? m_check->Frames() : none;
  const bool check_done = m_check == nullptr || m_check->Finished();
  for (;;) {
    if (!m_frames.empty()) {
      const Frame& f = m_frames.front();
      double middle = 0.5 * (f.start_s + f.end_s);
      if (!checked.empty() && checked.front().time_s + FilterDelay(f.settings) <= middle) {
        CheckedFrame moved = checked.front();
        moved.time_s += FilterDelay(f.settings);
        checked.pop_front();
        ApplyChecked(moved);
        continue;
      }
      if (checked.empty() && !check_done) break;
      Frame frame = f;
      m_frames.pop_front();
      ApplyFrame(frame);
      if (frame.ends_slice) CloseEntry();
      continue;
    }
    if (!finished || checked.empty()) break;
    CheckedFrame moved = checked.front();
    moved.time_s += FilterDelay(m_timeline.back().second);
    checked.pop_front();
    ApplyChecked(moved);
  }
}

void NoteReport::ApplyFrame(const Frame& frame) {
  if (m_choice.kind == ReportChoice::Kind::kSlices) {
    if (!m_open.open)
      StartEntry(frame);
    else
      AddToEntry(frame);
    return;
  }
  if (!frame.valid) {
    CloseEntry();
    CloseUnsteady();
    return;
  }
  if (m_open.open && m_open.all.frames > 0 &&
      std::fabs(frame.cents - m_open.all.cents / m_open.all.frames) <= kToleranceCents) {
    AddToEntry(frame);
    return;
  }
  CloseEntry();
  StartEntry(frame);
}

void NoteReport::ApplyChecked(const CheckedFrame& c) {
  if (!m_open.open) return;
  m_open.pending.push_back(c);
  // Two hops back, a frame's hop has surely ended within the entry.
  while (m_open.pending.size() > 2) {
    Commit(m_open.pending.front(), HUGE_VAL);
    m_open.pending.pop_front();
  }
}

void NoteReport::Commit(const CheckedFrame& c, double end_s) {
  Checks& k = m_open.checks;
  ++k.marks[static_cast<int>(c.mark)];
  k.several_pitches += c.several_pitches;
  k.level_db = std::max(k.level_db, c.level_db);
  const double rate = m_check->Rate(), half_hop = 0.5 * c.hop_samples / rate;
  bool pitched = c.mark != Reliability::kNoPitch;
  if (pitched && k.tracked.size() < kKeptValues) {
    k.tracked.push_back(c.hz);
    k.window_crossings.push_back(c.crossings_per_period);
  }
  bool inside = c.time_s - half_hop >= m_open.start_s - 1e-9 && c.time_s + half_hop <= end_s + 1e-9;
  if (pitched && inside) {
    k.crossings += c.hop_crossings;
    k.periods += c.hop_samples * c.hz / rate;
    if (!k.in_run) ++k.runs;
  }
  k.in_run = pitched && inside;
}

void NoteReport::Readings::Add(const Frame& f) {
  lo_hz = frames ? std::min(lo_hz, f.lo_hz) : f.lo_hz;
  hi_hz = frames ? std::max(hi_hz, f.hi_hz) : f.hi_hz;
  hz += f.hz;
  cents += f.cents;
  ++frames;
}

void NoteReport::Readings::Merge(const Readings& other) {
  if (other.frames == 0) return;
  lo_hz = frames ? std::min(lo_hz, other.lo_hz) : other.lo_hz;
  hi_hz = frames ? std::max(hi_hz, other.hi_hz) : other.hi_hz;
  hz += other.hz;
  cents += other.cents;
  frames += other.frames;
}

void NoteReport::Checks::Merge(const Checks& other) {
  for (int m = 0; m < 3; ++m) marks[m] += other.marks[m];
  for (size_t i = 0; i < other.tracked.size() && tracked.size() < kKeptValues; ++i) {
    tracked.push_back(other.tracked[i]);
    window_crossings.push_back(other.window_crossings[i]);
  }
  crossings += other.crossings;
  periods += other.periods;
  runs += other.runs;
  several_pitches += other.several_pitches;
  level_db = std::max(level_db, other.level_db);
}

// 1 when most checked frames have a pitch, 0 when most have none, -1 for
// no frames.
int NoteReport::Pitched(const Checks& k) {
  uint64_t no_pitch = k.marks[static_cast<int>(Reliability::kNoPitch)];
  uint64_t all = no_pitch + k.marks[static_cast<int>(Reliability::kHarmonics)] +
                 k.marks[static_cast<int>(Reliability::kOk)];
  if (all == 0) return -1;
  return 2 * no_pitch > all ? 0 : 1;
}

// Most of an entry's frames must have a pitch to check against; then its
// own crossings decide: more than two a tracked period (beyond what the
// ends of its runs of frames can add) make the module read too high.
Reliability NoteReport::MarkOf(const Checks& k) const {
  uint64_t no_pitch = k.marks[static_cast<int>(Reliability::kNoPitch)];
  uint64_t harmonics = k.marks[static_cast<int>(Reliability::kHarmonics)];
  uint64_t all = no_pitch + harmonics + k.marks[static_cast<int>(Reliability::kOk)];
  if (all == 0 || 2 * no_pitch > all || m_check == nullptr) return Reliability::kNoPitch;
  if (k.periods > 0) {
    double limit = 2.0 * k.runs + m_check->Options().harmonic_limit * k.periods;
    return k.crossings > limit ? Reliability::kHarmonics : Reliability::kOk;
  }
  // No hop lies within it: the frames' own marks, over their longer windows.
  return 3 * harmonics >= all ? Reliability::kHarmonics : Reliability::kOk;
}

void NoteReport::StartEntry(const Frame& frame) {
  m_open = Open();
  m_open.open = true;
  m_open.start_s = frame.start_s;
  m_open.settings = frame.settings;
  m_open.settle_s = SettleSeconds(frame.settings);
  AddToEntry(frame);
}

void NoteReport::AddToEntry(const Frame& frame) {
  Open& o = m_open;
  o.end_s = frame.end_s;
  if (frame.finite) {
    o.value_sum += frame.sum;
    o.value_count += frame.count;
    o.value_lo = o.value_finite ? std::min(o.value_lo, frame.lo) : frame.lo;
    o.value_hi = o.value_finite ? std::max(o.value_hi, frame.hi) : frame.hi;
    o.value_finite = true;
  }
  if (!frame.valid) return;
  o.all.Add(frame);
  double since = frame.start_s - o.start_s;
  if (since < 2 * o.settle_s && o.early.size() < kKeptValues) o.early.push_back(frame);
  if (since >= o.settle_s) {
    if (o.has_last_settled) o.settled.Add(o.last_settled);
    o.last_settled = frame;
    o.has_last_settled = true;
  }
}

// The mean reading of frames: in Hz for 1 V/kHz, whose values are linear in
// Hz, and in cents for 1 V/oct, whose values are linear in cents.
double ReadingHz(double hz_sum, double cents_sum, uint64_t frames, const Settings& settings) {
  if (frames == 0) return 0;
  return settings.scale == Scale::kVoltPerOctave ? 440.0 * std::exp2(cents_sum / frames / 1200.0)
                                                 : hz_sum / frames;
}

void NoteReport::CloseEntry() {
  if (!m_open.open) return;
  Open& o = m_open;
  o.open = false;
  for (const CheckedFrame& c : o.pending) Commit(c, o.end_s);
  o.pending.clear();
  ReportEntry e;
  e.start_s = o.start_s;
  e.end_s = o.end_s;
  if (m_choice.kind == ReportChoice::Kind::kSlices) {
    // The mean value over the slice, under the settings at its middle.
    uint64_t middle = std::llround(0.5 * (e.start_s + e.end_s) * m_file_rate);
    const Settings& settings = SettingsAt(m_timeline, middle);
    double lo = 0, hi = 0;
    if (o.value_count > 0) {
      e.reading_hz = ImpliedHz(o.value_sum / o.value_count, settings, m_module_rate);
      lo = ImpliedHz(o.value_lo, settings, m_module_rate);
      hi = ImpliedHz(o.value_hi, settings, m_module_rate);
    }
    e.ripple_cents = lo > 0 && hi > 0 ? Cents(hi, lo) : -1;
    Record(e, o.checks);
    return;
  }
  if (e.end_s - e.start_s < kShortestNoteSeconds) {
    // Part of a stretch whose reading wanders; one where the sound has a
    // pitch and one where it has none are told apart.
    int pitched = Pitched(o.checks);
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
  Open& u = m_unsteady;
  if (u.open && std::fabs(u.end_s - e.start_s) < 1e-9 && u.end_s - u.start_s <= 2 * o.settle_s) {
    e.start_s = u.start_s;
    u.open = false;
    m_unsteady_pitched = -1;
  }
  CloseUnsteady();
  Readings readings = o.settled;
  if (readings.frames == 0 && o.has_last_settled) readings.Add(o.last_settled);
  if (readings.frames == 0 || e.end_s - e.start_s < 2 * o.settle_s) {
    // Too short to settle: its second half, for what it is worth.
    e.settled = false;
    readings = Readings();
    double half = 0.5 * (e.start_s + e.end_s);
    for (const Frame& f : o.early)
      if (f.start_s >= half || &f == &o.early.back()) readings.Add(f);
  }
  e.reading_hz = ReadingHz(readings.hz, readings.cents, readings.frames, o.settings);
  e.ripple_cents = readings.lo_hz > 0 ? Cents(readings.hi_hz, readings.lo_hz) : -1;
  Record(e, o.checks);
}

void NoteReport::CloseUnsteady() {
  Open& u = m_unsteady;
  if (!u.open) return;
  u.open = false;
  m_unsteady_pitched = -1;
  if (u.end_s - u.start_s < kShortestNoteSeconds) return;
  // The filter's glide out of a note is the note's end.
  if (m_last_listed && m_entries.back().steady &&
      std::fabs(u.start_s - m_entries.back().end_s) < 1e-9 &&
      u.end_s - u.start_s <= 2 * SettleSeconds(u.settings)) {
    m_entries.back().end_s = u.end_s;
    return;
  }
  ReportEntry e;
  e.start_s = u.start_s;
  e.end_s = u.end_s;
  e.steady = false;
  e.settled = false;
  e.reading_hz = ReadingHz(u.all.hz, u.all.cents, u.all.frames, u.settings);
  e.ripple_cents = u.all.lo_hz > 0 ? Cents(u.all.hi_hz, u.all.lo_hz) : -1;
  Record(e, u.checks);
}

void NoteReport::Record(ReportEntry e, const Checks& k) {
  e.mark = MarkOf(k);
  e.tracked_hz = Median(k.tracked);
  e.crossings_per_period = k.periods > 0 ? k.crossings / k.periods : Median(k.window_crossings);
  e.level_db = k.level_db;
  e.several_pitches = e.mark == Reliability::kNoPitch &&
                      2 * k.several_pitches > k.marks[static_cast<int>(Reliability::kNoPitch)];
  // Stretches of noise next to each other make one line, and so do chords.
  if (m_choice.kind == ReportChoice::Kind::kNotes && e.mark == Reliability::kNoPitch &&
      m_last_listed && m_entries.back().mark == Reliability::kNoPitch &&
      m_entries.back().several_pitches == e.several_pitches &&
      e.start_s - m_entries.back().end_s < kNoiseGapSeconds) {
    ReportEntry& last = m_entries.back();
    double before = last.end_s - last.start_s, now = e.end_s - e.start_s;
    last.reading_hz = (last.reading_hz * before + e.reading_hz * now) / (before + now);
    last.ripple_cents = last.ripple_cents < 0 || e.ripple_cents < 0
                            ? -1
                            : std::max(last.ripple_cents, e.ripple_cents);
    last.level_db = std::max(last.level_db, e.level_db);
    last.steady = last.steady && e.steady;
    last.end_s = e.end_s;
    return;
  }
  ++m_total;
  ++m_marked[static_cast<int>(e.mark)];
  m_last_listed = m_entries.size() < kMaxEntries;
  if (m_last_listed) m_entries.push_back(e);
}

std::string CheckText(const ReportEntry& e) {
  char text[200];
  switch (e.mark) {
    case Reliability::kOk:
      if (!e.steady) return "ok, unsteady: a glide or short notes";
      return e.settled ? "ok" : "ok, too short to settle";
    case Reliability::kHarmonics:
      std::snprintf(text, sizeof text,
                    "unreliable: harmonics (%.1f crossings a period of %s); try --prefilter "
                    "note:%s",
                    e.crossings_per_period, NoteOnly(e.tracked_hz).c_str(),
                    NoteOnly(e.tracked_hz).c_str());
      return text;
    case Reliability::kNoPitch:
      break;
  }
  if (e.several_pitches) return "unreliable: no single pitch (a chord, or several sounds)";
  if (e.tracked_hz <= 0 && e.level_db < -60)
    return "unreliable: no pitch (quiet: " + std::to_string(std::lround(e.level_db)) + " dBFS)";
  return "unreliable: no pitch (noise or no clear tone)";
}

void PrintReport(const NoteReport& report, std::FILE* out) {
  const bool notes = report.Choice().kind == ReportChoice::Kind::kNotes;
  const uint64_t harmonics = report.Marked(Reliability::kHarmonics),
                 no_pitch = report.Marked(Reliability::kNoPitch);
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
  if (harmonics + no_pitch > 0)
    std::fprintf(out, "; %llu unreliable", static_cast<unsigned long long>(harmonics + no_pitch));
  std::fprintf(out, "\n");
  if (report.Total() == 0) {
    std::fprintf(out,
                 "          none: the output holds no pitch for %g s anywhere "
                 "(--report slices:0.5 lists it over time)\n",
                 kShortestNoteSeconds);
    return;
  }
  std::fprintf(out, "%9s %9s  %10s  %-9s %7s  %s\n", "Start (s)", "End (s)", "Reading Hz", "Note",
               "Ripple", "Check");
  double lowest_harmonic = 0;
  for (const ReportEntry& e : report.Entries()) {
    double cents = 0;
    std::string note =
        e.mark == Reliability::kOk && e.steady ? NoteName(e.reading_hz, &cents) : "-";
    // Rounded before the sign is chosen: never "-0 c".
    if (note != "-")
      note += " " + std::string(std::lround(cents) >= 0 ? "+" : "") +
              std::to_string(std::lround(cents)) + " c";
    char ripple[16] = "-";
    if (e.ripple_cents >= 0)
      std::snprintf(ripple, sizeof ripple, "%ld c", std::lround(std::min(e.ripple_cents, 9999.0)));
    std::fprintf(out, "%9.2f %9.2f  %10.2f  %-9s %7s  %s\n", e.start_s, e.end_s, e.reading_hz,
                 note.c_str(), ripple, CheckText(e).c_str());
    if (e.mark == Reliability::kHarmonics && e.tracked_hz > 0 &&
        (lowest_harmonic == 0 || e.tracked_hz < lowest_harmonic))
      lowest_harmonic = e.tracked_hz;
  }
  if (report.Unlisted() > 0)
    std::fprintf(out, "          ... %llu more not listed (the first %zu are)\n",
                 static_cast<unsigned long long>(report.Unlisted()), report.Entries().size());
  if (harmonics > 0)
    std::fprintf(out,
                 "Check     harmonics add zero crossings in %llu of them, so the module reads "
                 "too high:\n          a pre-filter takes them out: --prefilter note:NOTE for "
                 "one note,\n          --prefilter range:%s for notes from %s up; tonevolt "
                 "advise IN suggests settings\n",
                 static_cast<unsigned long long>(harmonics), NoteOnly(lowest_harmonic).c_str(),
                 NoteOnly(lowest_harmonic).c_str());
  if (no_pitch > 0)
    std::fprintf(out,
                 "Check     %llu of them %s no clear pitch to check (noise, speech, chords, or "
                 "quieter than --gate):\n          the reading there means little\n",
                 static_cast<unsigned long long>(no_pitch), no_pitch == 1 ? "has" : "have");
}

}  // namespace tonevolt
