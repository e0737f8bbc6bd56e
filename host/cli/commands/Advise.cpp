// tonevolt advise IN: what a recording holds for the module (pitch range,
// zero crossings per period, DC offset, vibrato), the settings that suit it,
// and what the module really reads with them, note by note against a pitch
// tracker. Passes over the file through the render chain (Chain): the
// analysis, then the renders with the suggested settings, with the
// pre-filter and without. Only frames are kept (86 a second), never the
// signal.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "advice/Suggestions.h"
#include "analysis/Crossings.h"
#include "analysis/PitchTracker.h"
#include "analysis/Reliability.h"
#include "commands/Commands.h"
#include "conditioning/Frequency.h"
#include "conditioning/MelodyTracker.h"
#include "files/Files.h"
#include "files/Paths.h"
#include "module/Readings.h"
#include "module/Run.h"
#include "notes/PitchRuns.h"
#include "notes/PlayedNotes.h"
#include "options/Values.h"
#include "plot/Plot.h"
#include "stream/Chain.h"
#include "stream/Stages.h"

namespace tonevolt {

// advise --notes, in AdviseNotes.cpp: refuses the options given of those
// it does not use.
int AdviseNotes(const Invocation& invocation, const std::string& range,
                const std::vector<Option>& unused);

namespace {

// Where the module is calibrated, and where the notes are tracked.
constexpr int kRate = kTrackedRate;
constexpr size_t kReadSamples = 16384;
// A DC offset beyond this share of the RMS moves where the crossings fall.
constexpr double kDcShareOfRms = 0.05;
// Notes listed; the counts cover all.
constexpr size_t kListedNotes = 200;

// A note's reading needs this many frames after the filters have settled.
constexpr size_t kSettledFrames = 4;
// and leaves out this many at its end.
constexpr size_t kEndFrames = 2;

// A render's output in the tracker's frames: frame k holds the module's
// samples [k * hop - hop / 2, k * hop + hop / 2).
struct FramedOutput {
  std::vector<float> mean, lo, hi;
  double sum = 0;
  float frame_lo = 0, frame_hi = 0;
  uint64_t count = 0, samples = 0;

  void Add(const std::vector<float>& values) {
    for (float v : values) {
      if (count > 0 && (samples + kTrackedHop / 2) % kTrackedHop == 0) Close();
      frame_lo = count ? std::min(frame_lo, v) : v;
      frame_hi = count ? std::max(frame_hi, v) : v;
      sum += v;
      ++count;
      ++samples;
    }
  }
  void Close() {
    mean.push_back(static_cast<float>(sum / count));
    lo.push_back(frame_lo);
    hi.push_back(frame_hi);
    sum = 0;
    count = 0;
  }
  void Finish() {
    if (count > 0) Close();
  }
};

struct Analysis {
  AudioInfo info;
  uint64_t samples = 0;  // at the file's rate
  double dc = 0, rms = 0;
  std::vector<TrackedFrame> frames;
  FramedOutput defaults;
  Envelope input{kEnvelopeColumns};
  std::vector<PlayedNote> notes;
  std::string channel_hint;  // SilentChannelHint
};

// Passes its signal on and records it, as the module gave it, in frames.
class FramedOutputTap : public BlockStage {
 public:
  explicit FramedOutputTap(FramedOutput* readings) : m_readings(readings) {}
  bool Process(const std::vector<float>& in, std::vector<float>* out, std::string*) override {
    *out = in;
    m_readings->Add(in);
    return true;
  }
  bool Flush(std::vector<float>* out, std::string*) override {
    out->clear();
    m_readings->Finish();
    return true;
  }

 private:
  FramedOutput* m_readings;
};

// Passes its signal on and tallies its crossings hop by hop.
class HopTap : public BlockStage {
 public:
  explicit HopTap(HopTally* hops) : m_hops(hops) {}
  bool Process(const std::vector<float>& in, std::vector<float>* out, std::string*) override {
    *out = in;
    m_hops->Process(in);
    return true;
  }

 private:
  HopTally* m_hops;
};

// Takes the check's frames, as pass one's frames.
class FrameListener : public CheckListener {
 public:
  explicit FrameListener(std::vector<TrackedFrame>* frames) : m_frames(frames) {}
  void Checked(const CheckedFrame& c) override {
    TrackedFrame f;
    f.time_s = static_cast<float>(c.time_s);
    f.hz = static_cast<float>(c.hz);
    f.level_db = static_cast<float>(c.level_db);
    f.mark = c.mark;
    f.several_pitches = c.several_pitches;
    f.lowest_partial = static_cast<uint8_t>(std::clamp(c.lowest_partial, 1, 4));
    m_frames->push_back(f);
  }
  void CheckEnded() override {}

 private:
  std::vector<TrackedFrame>* m_frames;
};

// The input as read: its length, DC offset, RMS and envelope.
class InputSink : public BlockSink {
 public:
  explicit InputSink(Analysis* a) : m_a(a) {}
  bool Consume(const std::vector<float>& input, const std::vector<float>&, std::string*) override {
    for (float x : input) {
      if (!std::isfinite(x)) continue;
      m_sum += x;
      m_squares += static_cast<double>(x) * x;
    }
    m_a->samples += input.size();
    m_a->input.Add(input.data(), input.size());
    return true;
  }
  bool Finish(std::string*) override {
    m_a->dc = m_sum / m_a->samples;
    m_a->rms = std::sqrt(std::max(0.0, m_squares / m_a->samples - m_a->dc * m_a->dc));
    return true;
  }

 private:
  Analysis* m_a;
  double m_sum = 0, m_squares = 0;
};

// One pass over a recording: a chain at the module's rate with these
// settings and pre-filter, and what watches it (see Chain::AddTo; each may
// be null).
struct Pass {
  Settings settings;
  PrefilterChoice prefilter;
  double gate_db = ReliabilityOptions().gate_db;
  const CheckRequest* check = nullptr;
  BlockStage* watch = nullptr;
  BlockStage* readout = nullptr;
  BlockSink* sink = nullptr;
  double delay_at_hz = 0;        // the pre-filter's delay is measured there
  double prefilter_delay_s = 0;  // found
  std::string channel_hint;      // found: SilentChannelHint
};

bool RunPass(WBMainProc main, const std::string& path, int channel, Pass* pass, AudioInfo* info,
             std::string* error) {
  AudioReader reader;
  if (!reader.Open(path, channel, error)) return false;
  *info = reader.Info();
  ChainRequest request;
  request.file_rate = info->sample_rate;
  request.module_rate = kRate;
  request.prefilter = pass->prefilter;
  request.gate_db = pass->gate_db;
  request.check = pass->check;
  request.run.settings = pass->settings;
  Chain chain;
  if (!chain.Build(main, request, error)) return false;
  if (chain.Prefilter() != nullptr)
    pass->prefilter_delay_s = chain.Prefilter()->DelaySeconds(pass->delay_at_hz);
  Pipeline pipeline;
  chain.AddTo(&pipeline, pass->watch, pass->readout);
  if (pass->sink != nullptr) pipeline.AddSink(pass->sink);
  std::vector<float> block;
  bool any = false;
  while (reader.Read(kReadSamples, &block, error)) {
    any = true;
    if (!pipeline.Push(block, error)) return false;
  }
  if (!error->empty()) return false;
  if (!any) {
    *error = info->name + ": has no samples";
    return false;
  }
  pass->channel_hint = SilentChannelHint(reader);
  return pipeline.Finish(error);
}

// Pass one: the check (the pitch tracker and the module's crossing test
// over its windows), the crossings hop by hop and the module with its
// default settings, on the signal at the module's rate.
bool Analyse(WBMainProc main, const std::string& path, int channel, const ReliabilityOptions& check,
             Analysis* a, std::string* error) {
  FrameListener frames(&a->frames);
  CheckRequest request{check, CheckPitchOptions(kRate, kTrackedHop), &frames};
  request.pitch.fundamental_peak = true;
  // A melody frame for every frame or so, decided as late as the following
  // filter's.
  request.pitch.melody_frame_seconds = 0.01;
  request.pitch.melody_decision_lag = MelodyOptions().decision_lag;
  HopTally hops;
  HopTap watch(&hops);
  FramedOutputTap readout(&a->defaults);
  InputSink input(a);
  Pass pass;
  pass.gate_db = check.gate_db;
  pass.check = &request;
  pass.watch = &watch;
  pass.readout = &readout;
  pass.sink = &input;
  if (!RunPass(main, path, channel, &pass, &a->info, error)) return false;
  a->channel_hint = pass.channel_hint;
  const std::vector<HopCrossings>& tally = hops.Hops();
  for (size_t k = 0; k < a->frames.size() && k < tally.size(); ++k) a->frames[k].hop = tally[k];
  return true;
}

struct Suggestion {
  Settings settings;
  PrefilterChoice prefilter;
  double lowest_hz = 0, highest_hz = 0;
  std::vector<std::string> reasons;  // one line each, for the printout
};

// A note filter at the highest note fits a narrow range: it must pass the
// highest note and stop the second harmonic of the lowest.
bool NoteFilterFits(double lowest, double highest) {
  PrefilterChoice choice{PrefilterChoice::Kind::kNote, highest};
  std::string error;
  std::unique_ptr<Prefilter> filter = Prefilter::Create(choice, kRate, &error);
  return filter && filter->GainDb(highest) > -1.0 && filter->GainDb(2 * lowest) < -60.0;
}

Suggestion Suggest(const Analysis& a) {
  Suggestion s;
  s.lowest_hz = a.notes.front().hz;
  s.highest_hz = a.notes.front().hz;
  size_t harmonic_notes = 0;
  for (const PlayedNote& n : a.notes) {
    s.lowest_hz = std::min(s.lowest_hz, n.hz);
    s.highest_hz = std::max(s.highest_hz, n.hz);
    harmonic_notes += n.harmonics;
  }
  char line[256];
  s.settings.order = 2;
  s.settings.cutoff = SuggestedCutoff(s.lowest_hz);
  std::snprintf(line, sizeof line, "--order 2 --cutoff %g: two poles at the lowest note / 16 (%s)",
                s.settings.cutoff, CutoffReason(s.lowest_hz).c_str());
  s.reasons.push_back(line);
  s.settings.scale = SuggestedScale(s.settings.cutoff, s.lowest_hz, s.highest_hz);
  bool oct = s.settings.scale == Scale::kVoltPerOctave;
  std::snprintf(line, sizeof line, "%s: %s%s", oct ? "--scale oct" : "1 V/kHz (default)",
                ScaleReason(s.settings.cutoff, s.lowest_hz, s.highest_hz).c_str(),
                oct ? "" : ", too far: 1 V/kHz reads true");
  s.reasons.push_back(line);

  bool dc = std::fabs(a.dc) > kDcShareOfRms * a.rms;
  if (harmonic_notes > 0 && !dc && NoteFilterFits(s.lowest_hz, s.highest_hz)) {
    s.prefilter = {PrefilterChoice::Kind::kNote, s.highest_hz};
    std::snprintf(line, sizeof line,
                  "--prefilter %s: harmonics add crossings in %zu of %zu notes; an elliptic "
                  "low-pass just above %s takes them out",
                  PrefilterOption(s.prefilter).c_str(), harmonic_notes, a.notes.size(),
                  NoteName(s.highest_hz).c_str());
  } else if (harmonic_notes > 0) {
    // One fixed filter cannot serve the line: a low-pass below its high notes
    // cuts their fundamentals, one above its low notes passes their harmonics.
    s.prefilter = {PrefilterChoice::Kind::kFollow, 0};
    std::snprintf(line, sizeof line,
                  "--prefilter follow: harmonics add crossings in %zu of %zu notes, from %s to %s; "
                  "a band that follows the tune keeps each note's fundamental alone",
                  harmonic_notes, a.notes.size(), NoteName(s.lowest_hz).c_str(),
                  NoteName(s.highest_hz).c_str());
  } else if (dc) {
    s.prefilter = {PrefilterChoice::Kind::kRange, s.lowest_hz};
    std::snprintf(line, sizeof line, "--prefilter %s: the DC offset moves the crossings",
                  PrefilterOption(s.prefilter).c_str());
  } else {
    std::snprintf(line, sizeof line, "no pre-filter: the module counts two crossings a period");
  }
  if (line[0] != '\0') s.reasons.push_back(line);
  return s;
}

// Pass two: the module with the suggested settings, with the pre-filter and,
// when there is one, without it; and the crossings of the filtered signal.
struct Renders {
  FramedOutput with, without;
  HopTally hops;                 // of the signal the module sees
  double prefilter_delay_s = 0;  // at the lowest note
};

bool RenderSuggested(WBMainProc main, const std::string& path, int channel, double gate_db,
                     const Suggestion& s, Renders* r, std::string* error) {
  AudioInfo info;
  HopTap hops(&r->hops);
  FramedOutputTap with(&r->with), without(&r->without);
  Pass filtered;
  filtered.settings = s.settings;
  filtered.prefilter = s.prefilter;
  filtered.gate_db = gate_db;
  filtered.watch = &hops;
  filtered.readout = &with;
  filtered.delay_at_hz = s.lowest_hz;
  if (!RunPass(main, path, channel, &filtered, &info, error)) return false;
  r->prefilter_delay_s = filtered.prefilter_delay_s;
  if (s.prefilter.kind == PrefilterChoice::Kind::kOff) return true;
  Pass unfiltered;
  unfiltered.settings = s.settings;
  unfiltered.readout = &without;
  return RunPass(main, path, channel, &unfiltered, &info, error);
}

// What a render reads over a note: after the filters have settled, to its end.
struct NoteReading {
  double hz = 0;
  double ripple_cents = -1;
  bool settled = true;
};

NoteReading ReadNote(const FramedOutput& r, const PlayedNote& n, const Settings& settings,
                     double skip_s) {
  NoteReading reading;
  // The last frames may already hear the next note's attack.
  size_t last = std::min(n.last > kEndFrames ? n.last - kEndFrames : n.first, r.mean.size() - 1);
  size_t first = n.first + static_cast<size_t>(std::ceil(skip_s / kTrackedHopSeconds));
  if (first + kSettledFrames > last + 1) {
    reading.settled = false;
    first = (n.first + last + 1) / 2;
  }
  if (r.mean.empty() || first > last) return reading;
  double sum = 0;
  float lo = r.lo[first], hi = r.hi[first];
  for (size_t k = first; k <= last; ++k) {
    sum += r.mean[k];
    lo = std::min(lo, r.lo[k]);
    hi = std::max(hi, r.hi[k]);
  }
  reading.hz = ImpliedHz(sum / (last - first + 1), settings, kRate);
  double lo_hz = ImpliedHz(lo, settings, kRate), hi_hz = ImpliedHz(hi, settings, kRate);
  if (lo_hz > 0) reading.ripple_cents = Cents(hi_hz, lo_hz);
  return reading;
}

// The error of a reading against the tracked note, in cents; NaN for none.
double ErrorCents(const NoteReading& reading, double tracked_hz) {
  return reading.hz > 0 ? Cents(reading.hz, tracked_hz) : NAN;
}

// Whether the filtered signal still has more than two crossings a period.
bool StillHarmonic(const Renders& r, const std::vector<TrackedFrame>& frames, const PlayedNote& n) {
  const std::vector<HopCrossings>& hops = r.hops.Hops();
  return CountCrossings(frames, n,
                        [&](size_t k) { return k < hops.size() ? hops[k].count : uint16_t{0}; })
      .Harmonics();
}

std::string Hz(double hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f Hz", hz);
  return text;
}

// The plot: the implied pitch of each render against the tracked pitch,
// the input underneath.
bool DrawAdvicePlot(const Analysis& a, const Renders& r, const Suggestion& s, const StagedFile& png,
                    std::string* error) {
  const Settings defaults;
  PitchPlotRequest plot;
  plot.title = a.info.name +
               ": what the module reads, default and suggested settings, against "
               "the tracked pitch";
  plot.seconds = a.samples / static_cast<double>(a.info.sample_rate);
  plot.frame_seconds = kTrackedHopSeconds;
  plot.module_rate = kRate;
  plot.lowest_hz = s.lowest_hz;
  plot.highest_hz = s.highest_hz;
  plot.bands.push_back({&a.defaults.lo, &a.defaults.hi, defaults, "defaults", "#f4a582",
                        "default settings: " + SettingsText(defaults)});
  if (!r.without.mean.empty())
    plot.bands.push_back({&r.without.lo, &r.without.hi, s.settings, "without", "#92c5de",
                          "suggested settings without the pre-filter"});
  plot.bands.push_back({&r.with.lo, &r.with.hi, s.settings, "with", "#2166ac",
                        "suggested: " + SuggestedOptions(s.settings, s.prefilter)});
  for (const TrackedFrame& f : a.frames)
    if (f.mark != Reliability::kNoPitch) plot.tracked.emplace_back(f.time_s, f.hz);
  plot.tracked_title = "tracked pitch";
  plot.input = &a.input;
  plot.sample_rate = a.info.sample_rate;
  return WritePitchPlot(plot, png, error);
}

struct AdviseOptions {
  std::string in, plot;
  std::string notes;  // LOW-HIGH, as given
  int channel = 0;
  ReliabilityOptions check;
};

// The rows of each way of running advise, bound to o's fields.
std::vector<Option> NotesRows(AdviseOptions* o) {
  return {
      Option::Text("--notes", "LOW-HIGH", "a range of notes instead of IN", "a value", &o->notes)};
}
std::vector<Option> RecordingRows(AdviseOptions* o) {
  return {ChannelOption(&o->channel), GateOption(&o->check.gate_db),
          PlotOption("readings and tracked pitch over time, input underneath", &o->plot)};
}

// Reads advise's arguments for a recording; answers 0 or the exit code of a
// reported error. --notes goes to AdviseNotes, which answers *handled.
int ReadAdviseOptions(const Invocation& invocation, AdviseOptions* o, bool* handled) {
  std::string error;
  *handled = false;
  if (!ReadOptions(NotesRows(o), invocation, &error)) return UsageError(error);
  if (!o->notes.empty()) {
    if (!invocation.args.empty())
      return UsageError("advise takes IN or --notes LOW-HIGH, not both");
    *handled = true;
    return AdviseNotes(invocation, o->notes, RecordingRows(o));
  }
  if (!ReadOptions(RecordingRows(o), invocation, &error)) return UsageError(error);
  if (invocation.args.size() != 1)
    return UsageError("advise needs IN, or --notes LOW-HIGH (got " +
                      std::to_string(invocation.args.size()) + " arguments)");
  o->in = invocation.args[0];
  if (o->in == "-") return UsageError("advise reads IN twice: give a file, not standard input");
  if (!o->plot.empty() && !CheckPlotPath(o->plot, &error)) return UsageError(error);
  std::vector<NamedPath> outputs;
  if (!o->plot.empty()) outputs.push_back({"--plot", o->plot});
  if (!CheckDistinct({{"IN", o->in}, {"--module", ModulePath(invocation)}}, outputs, &error))
    return Refuse(error);
  return 0;
}

// What the notes found say of the recording as a whole.
struct Findings {
  size_t harmonic_notes = 0;
  double vibrato = 0, crossings_low = 1e9, crossings_high = 0;
};

Findings Summarise(const std::vector<PlayedNote>& notes) {
  Findings f;
  for (const PlayedNote& n : notes) {
    f.harmonic_notes += n.harmonics;
    f.vibrato = std::max(f.vibrato, n.vibrato_cents);
    f.crossings_low = std::min(f.crossings_low, n.crossings_per_period);
    f.crossings_high = std::max(f.crossings_high, n.crossings_per_period);
  }
  return f;
}

// How a note reads through the module against its tracked pitch: the one
// verdict that the table, the counts and the warnings all give.
enum class Verdict { kOk, kTooShort, kReadsHigh, kReadsLow, kNoReading, kCount };

Verdict Judge(const NoteReading& reading, double error_cents) {
  if (!std::isfinite(error_cents)) return Verdict::kNoReading;
  if (std::fabs(error_cents) > kRightWithinCents)
    return error_cents > 0 ? Verdict::kReadsHigh : Verdict::kReadsLow;
  return reading.settled ? Verdict::kOk : Verdict::kTooShort;
}

// Notes by verdict, and the lowest of them.
struct Tally {
  size_t count[static_cast<int>(Verdict::kCount)] = {};
  double lowest_hz[static_cast<int>(Verdict::kCount)] = {};
  void Add(Verdict v, double hz) {
    const int i = static_cast<int>(v);
    if (count[i]++ == 0 || hz < lowest_hz[i]) lowest_hz[i] = hz;
  }
  size_t Of(Verdict v) const { return count[static_cast<int>(v)]; }
  double LowestHz(Verdict v) const { return lowest_hz[static_cast<int>(v)]; }
  // Within kRightWithinCents, settled or not.
  size_t Right() const { return Of(Verdict::kOk) + Of(Verdict::kTooShort); }
  // "0 flagged", "7 flagged: 7 read high", "3 flagged: 2 read low, 1 no reading".
  std::string Flagged() const {
    const struct {
      Verdict v;
      const char* text;
    } kinds[] = {{Verdict::kReadsHigh, "read high"},
                 {Verdict::kReadsLow, "read low"},
                 {Verdict::kNoReading, "no reading"}};
    size_t all = 0;
    std::string parts;
    for (const auto& k : kinds) {
      if (Of(k.v) == 0) continue;
      all += Of(k.v);
      parts += (parts.empty() ? ": " : ", ") + std::to_string(Of(k.v)) + " " + k.text;
    }
    return std::to_string(all) + " flagged" + parts;
  }
};

// One note through the module with the default and the suggested settings.
struct MeasuredNote {
  const PlayedNote* note = nullptr;
  NoteReading defaults, suggested;
  double default_error = NAN, suggested_error = NAN;  // cents from the tracked pitch
  Verdict default_verdict = Verdict::kNoReading, verdict = Verdict::kNoReading;
  bool harmonics_remain = false;  // with the suggested pre-filter
};

struct Measurements {
  std::vector<MeasuredNote> notes;
  Tally defaults, suggested;
  size_t harmonics_remain = 0;  // of the notes that read high
};

Measurements MeasureNotes(const Analysis& a, const Renders& r, const Suggestion& s) {
  const Settings defaults;
  const double default_skip = SettleSeconds(defaults);
  const double suggested_skip = SettleSeconds(s.settings) + r.prefilter_delay_s;
  Measurements m;
  for (const PlayedNote& n : a.notes) {
    MeasuredNote x;
    x.note = &n;
    x.defaults = ReadNote(a.defaults, n, defaults, default_skip);
    x.suggested = ReadNote(r.with, n, s.settings, suggested_skip);
    x.default_error = ErrorCents(x.defaults, n.hz);
    x.suggested_error = ErrorCents(x.suggested, n.hz);
    x.harmonics_remain = s.prefilter.kind != PrefilterChoice::Kind::kOff
                             ? StillHarmonic(r, a.frames, n)
                             : n.harmonics;
    x.default_verdict = Judge(x.defaults, x.default_error);
    x.verdict = Judge(x.suggested, x.suggested_error);
    m.defaults.Add(x.default_verdict, n.hz);
    m.suggested.Add(x.verdict, n.hz);
    m.harmonics_remain += x.verdict == Verdict::kReadsHigh && x.harmonics_remain;
    m.notes.push_back(x);
  }
  return m;
}

void PrintInput(const Analysis& a, int channel) {
  const double seconds = a.samples / static_cast<double>(a.info.sample_rate);
  std::printf("Input     %s: %s, %d Hz, %d channel%s", a.info.name.c_str(), a.info.format.c_str(),
              a.info.sample_rate, a.info.channels, a.info.channels == 1 ? "" : "s");
  if (a.info.channels > 1) std::printf(", channel %d used", channel);
  std::printf("; %.3f s\n", seconds);
  if (a.info.sample_rate != kRate)
    std::printf("Rate      analysed at %d Hz, where the module is calibrated (libsoxr)\n", kRate);
}

void PrintFindings(const Analysis& a, const Suggestion& s, const Findings& f) {
  std::printf("Pitch     %s (%s) to %s (%s), %zu note%s tracked (a frame every %.1f ms)\n",
              NoteName(s.lowest_hz).c_str(), Hz(s.lowest_hz).c_str(),
              NoteName(s.highest_hz).c_str(), Hz(s.highest_hz).c_str(), a.notes.size(),
              a.notes.size() == 1 ? "" : "s", 1000 * kTrackedHopSeconds);
  std::printf("Crossings %.2f to %.2f a period (a clean tone has 2): ", f.crossings_low,
              f.crossings_high);
  if (f.harmonic_notes > 0)
    std::printf(
        "harmonics add crossings in %zu of %zu notes,\n          so the module reads "
        "them too high\n",
        f.harmonic_notes, a.notes.size());
  else
    std::printf("the module counts the fundamental\n");
  std::printf("DC offset %+.5f (%.1f %% of the RMS %.5f)%s\n", a.dc,
              a.rms > 0 ? 100 * std::fabs(a.dc) / a.rms : 0.0, a.rms,
              std::fabs(a.dc) > kDcShareOfRms * a.rms ? ": enough to move the crossings" : "");
  std::printf("Vibrato   up to +-%.0f cents around a note's pitch\n", f.vibrato);
}

void PrintSuggestion(const Suggestion& s) {
  std::printf("\nSuggested settings\n");
  for (const std::string& reason : s.reasons) std::printf("  %s\n", reason.c_str());
  const double cutoff = s.settings.cutoff;
  std::printf("  expected at %s: ripple %.0f cents peak to peak, settling %.2f s",
              NoteName(s.lowest_hz).c_str(), RippleCents(cutoff, s.lowest_hz),
              SettleSeconds(s.settings));
  std::printf(", 1 V/oct bias %+.1f cents\n", OctaveBiasCents(RippleCents(cutoff, s.lowest_hz)));
}

// "ok", or what is wrong with a note's suggested reading.
const char* CheckOf(const MeasuredNote& x) {
  switch (x.verdict) {
    case Verdict::kOk:
      return "ok";
    case Verdict::kTooShort:
      return "ok, too short to settle";
    case Verdict::kReadsHigh:
      return x.harmonics_remain ? "reads high: harmonics remain" : "reads high";
    case Verdict::kReadsLow:
      return "reads low";
    case Verdict::kNoReading:
    case Verdict::kCount:
      break;
  }
  return "no reading";
}

// Each note against the tracked pitch, and the counts over all.
void PrintMeasurements(const Measurements& m) {
  std::printf(
      "\nMeasured  each note through the module, against the tracked pitch\n"
      "%7s %7s  %-5s %10s %9s  %9s  %9s %9s %7s  %s\n",
      "Start", "End", "Note", "Tracked", "Crossings", "Defaults", "Suggested", "Reading", "Ripple",
      "Check");
  for (size_t i = 0; i < m.notes.size() && i < kListedNotes; ++i) {
    const MeasuredNote& x = m.notes[i];
    const PlayedNote& n = *x.note;
    char ripple[16] = "-";
    if (x.suggested.ripple_cents >= 0)
      std::snprintf(ripple, sizeof ripple, "%.0f c", x.suggested.ripple_cents);
    std::printf("%7.2f %7.2f  %-5s %10.2f %9.2f  %9s  %9s %9.2f %7s  %s\n", n.Start(), n.End(),
                NoteName(n.hz).c_str(), n.hz, n.crossings_per_period,
                SignedCents(x.default_error, " c").c_str(),
                SignedCents(x.suggested_error, " c").c_str(), x.suggested.hz, ripple, CheckOf(x));
  }
  const size_t notes = m.notes.size();
  if (notes > kListedNotes)
    std::printf("          ... %zu more notes (the counts below cover all)\n",
                notes - kListedNotes);
  std::printf(
      "\nResult    within %.0f cents of the tracked pitch: %zu of %zu notes with the defaults "
      "(%s),\n          %zu of %zu with the suggested settings (%s)\n",
      kRightWithinCents, m.defaults.Right(), notes, m.defaults.Flagged().c_str(),
      m.suggested.Right(), notes, m.suggested.Flagged().c_str());
  const size_t unsettled = m.suggested.Of(Verdict::kTooShort);
  if (unsettled > 0)
    std::printf("          %zu note%s shorter than the settling time: read over %s second half\n",
                unsettled, unsettled == 1 ? " is" : "s are", unsettled == 1 ? "its" : "their");
}

// What the suggested settings still read wrong, as the table marks it.
void PrintWarnings(const Measurements& m, const Suggestion& s) {
  const size_t notes = m.notes.size();
  const size_t high = m.suggested.Of(Verdict::kReadsHigh), low = m.suggested.Of(Verdict::kReadsLow);
  const bool filtered = s.prefilter.kind != PrefilterChoice::Kind::kOff;
  // Never what is suggested already.
  const char* follow =
      PrefilterOption(s.prefilter) == "follow" ? "" : ", or try --prefilter follow";
  if (high > 0)
    std::printf(
        "Warning   %zu of %zu notes read high with these settings (from %s up)%s:\n"
        "          render them apart with --prefilter note:NOTE%s\n",
        high, notes, NoteName(m.suggested.LowestHz(Verdict::kReadsHigh)).c_str(),
        m.harmonics_remain > 0 ? ", as harmonics remain" : "", follow);
  if (low > 0)
    std::printf(
        "Warning   %zu of %zu notes read low with these settings (from %s up):\n          "
        "%s%srender them apart%s\n",
        low, notes, NoteName(m.suggested.LowestHz(Verdict::kReadsLow)).c_str(),
        filtered ? ("--prefilter " + PrefilterOption(s.prefilter)).c_str() : "",
        filtered ? " takes their fundamental down: " : "", follow);
}

// The harmonic that is the lowest partial in most of a note's frames with
// a pitch: 1 unless its fundamental is missing; 0 for a chord (several
// pitches at once in kChordShareOfFrames of its frames, and no vibrato
// swinging it past a note's tolerance), which has none.
int LowestPartial(const std::vector<TrackedFrame>& frames, const PlayedNote& n) {
  size_t all = 0, several = 0, pitched = 0, by_harmonic[5] = {0, 0, 0, 0, 0};
  for (size_t k = n.heard_first; k <= n.heard_last && k < frames.size(); ++k) {
    ++all;
    several += frames[k].several_pitches;
    if (frames[k].mark == Reliability::kNoPitch) continue;
    ++pitched;
    ++by_harmonic[std::min<int>(frames[k].lowest_partial, 4)];
  }
  // A deep vibrato's window holds both ends of its swing, which look like
  // two pitches: its note is one note all the same.
  if (all > 0 && n.vibrato_cents <= kNoteToleranceCents &&
      static_cast<double>(several) >= kChordShareOfFrames * static_cast<double>(all))
    return 0;
  for (int h = 2; h <= 4; ++h)
    if (2 * by_harmonic[h] > pitched) return h;
  return 1;
}

int Advise(const Invocation& invocation) {
  AdviseOptions o;
  bool handled = false;
  if (int code = ReadAdviseOptions(invocation, &o, &handled); code != 0 || handled) return code;
  std::string error;
  if (!o.plot.empty() && !CheckGnuplot(&error)) return Fail(error);
  std::unique_ptr<wbhost::ModuleLibrary> library = LoadModule(invocation);
  if (library == nullptr) return 1;
  const WBMainProc main = library->Main();
  StagedFile plot_file;
  if (!o.plot.empty() && !plot_file.Create(o.plot, &error)) return Fail(error);

  Analysis a;
  if (!Analyse(main, o.in, o.channel, o.check, &a, &error)) return Fail(error);
  a.notes = FindNotes(a.frames);
  PrintInput(a, o.channel);
  const NoNote no_note = WhyNoNote(a.frames, a.notes, o.check.gate_db);
  if (!no_note.found.empty()) {
    std::printf("Pitch     %s\n", no_note.found.c_str());
    if (!a.channel_hint.empty()) {
      std::printf("Channel   %s\n", a.channel_hint.c_str());
      return Fail(a.info.name + ": no note to advise on: " + a.channel_hint);
    }
    return Fail(a.info.name + ": no note to advise on" +
                (no_note.reason.empty() ? "" : ": " + no_note.reason));
  }
  // No setting reads a note whose fundamental is missing: the module counts
  // the partials there are. Where most of the playing is such notes, say so
  // rather than suggest settings that read a harmonic.
  double missing_s = 0, chords_s = 0, all_s = 0;
  const PlayedNote* missing = nullptr;
  int missing_partial = 1;
  for (const PlayedNote& n : a.notes) {
    all_s += n.End() - n.Start();
    const int partial = LowestPartial(a.frames, n);
    if (partial == 0) chords_s += n.End() - n.Start();
    if (partial < 2) continue;
    missing_s += n.End() - n.Start();
    if (missing == nullptr) {
      missing = &n;
      missing_partial = partial;
    }
  }
  // Likewise chords, where the tracker made a note of one of their pitches.
  if (2 * chords_s > all_s) {
    std::printf(
        "Pitch     no note: %.0f %% of the time in notes holds several pitches at once\n"
        "          (chords, or several sounds); the module follows one pitch: its reading of\n"
        "          them means little\n",
        100 * chords_s / all_s);
    return Fail(a.info.name + ": no note to advise on: several at once (chords?)");
  }
  if (2 * missing_s > all_s) {
    const std::string text = MissingFundamentalText(missing->hz, missing_partial);
    std::printf("Pitch     %s (%.2f Hz), %zu note%s tracked, %zu without its fundamental:\n",
                NoteName(missing->hz).c_str(), missing->hz, a.notes.size(),
                a.notes.size() == 1 ? "" : "s",
                static_cast<size_t>(std::count_if(
                    a.notes.begin(), a.notes.end(),
                    [&](const PlayedNote& n) { return LowestPartial(a.frames, n) >= 2; })));
    std::printf("          %s\n", text.c_str());
    return Fail(a.info.name + ": no settings to suggest: " + text);
  }
  const Suggestion s = Suggest(a);
  PrintFindings(a, s, Summarise(a.notes));
  PrintSuggestion(s);

  Renders r;
  if (!RenderSuggested(main, o.in, o.channel, o.check.gate_db, s, &r, &error)) return Fail(error);
  const Measurements m = MeasureNotes(a, r, s);
  PrintMeasurements(m);
  PrintWarnings(m, s);
  if (!o.plot.empty()) {
    if (!DrawAdvicePlot(a, r, s, plot_file, &error) || !plot_file.Commit(&error))
      return Fail(error);
    std::printf("Plot      %s\n", Printable(o.plot).c_str());
  }
  // Never settings that its own table shows reading worse than the defaults.
  const Settings defaults;
  const bool keep_defaults = m.defaults.Right() > m.suggested.Right();
  if (keep_defaults)
    std::printf(
        "Advice    the defaults read more notes right: %zu of %zu within %g cents, the settings "
        "above %zu;\n          keep the defaults\n",
        m.defaults.Right(), m.notes.size(), kRightWithinCents, m.suggested.Right());
  std::printf("suggested: %s\n", keep_defaults
                                     ? SuggestedOptions(defaults, PrefilterChoice()).c_str()
                                     : SuggestedOptions(s.settings, s.prefilter).c_str());
  return 0;
}

}  // namespace

Command AdviseCommand() {
  // The table's rows are bound to a copy nobody reads; their help shows its defaults.
  static AdviseOptions defaults;
  std::vector<Option> rows = NotesRows(&defaults);
  for (Option& row : RecordingRows(&defaults)) rows.push_back(row);
  return {"advise", "advise IN | --notes LOW-HIGH",
          "analyse a recording (pitch range, crossings a period,\n"
          "DC offset, vibrato), suggest settings and measure them\n"
          "note by note through the module; or, for a range of\n"
          "notes (E1-A3), from the formulas and test tones",
          rows, Advise};
}

}  // namespace tonevolt
