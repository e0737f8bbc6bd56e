// tonevolt advise IN: what a recording holds for the module (pitch range,
// zero crossings per period, DC offset, vibrato), the settings that suit it,
// and what the module really reads with them, note by note against a pitch
// tracker. Two passes over the file: the analysis, then the renders with the
// suggested settings. Only frames are kept (86 a second), never the signal.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Advice.h"
#include "Analysis.h"
#include "ChainStages.h"
#include "Commands.h"
#include "Files.h"
#include "Paths.h"
#include "Plot.h"
#include "RenderStages.h"
#include "Run.h"
#include "analysis/Crossings.h"
#include "analysis/Frequency.h"
#include "analysis/PitchTracker.h"
#include "analysis/Reliability.h"

namespace tonevolt {

int AdviseNotes(const Invocation& invocation, const std::string& range);

namespace {

constexpr int kRate = static_cast<int>(kReferenceRate);  // where the module is calibrated
constexpr int kHop = 512;                                // a frame every 11.6 ms
constexpr int kWindow = 8192;
constexpr size_t kReadSamples = 16384;
// A tracked pitch further than this from its note's mean starts another note.
constexpr double kToleranceCents = 50;
constexpr double kShortestNoteSeconds = 0.1;
// Notes this close in pitch, with at most this many frames between (a
// tracker's octave slip), are one note.
constexpr size_t kJoinGapFrames = 6;
// A DC offset beyond this share of the RMS moves where the crossings fall.
constexpr double kDcShareOfRms = 0.05;
// Notes listed; the counts cover all.
constexpr size_t kListedNotes = 200;

constexpr double kHopSeconds = static_cast<double>(kHop) / kRate;
// A note's reading needs this many frames after the filters have settled.
constexpr size_t kSettledFrames = 4;
// and leaves out this many at its end.
constexpr size_t kEndFrames = 2;

struct Frame {
  float time_s = 0, hz = 0, level_db = 0;
  uint16_t hop_crossings = 0, hop_samples = 0;
  Reliability mark = Reliability::kNoPitch;
};

// A render's output in the tracker's frames: frame k holds the module's
// samples [k * hop - hop / 2, k * hop + hop / 2).
struct Readings {
  std::vector<float> mean, lo, hi;
  double sum = 0;
  float frame_lo = 0, frame_hi = 0;
  uint64_t count = 0, samples = 0;

  void Add(const std::vector<float>& values) {
    for (float v : values) {
      if (count > 0 && (samples + kHop / 2) % kHop == 0) Close();
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

struct Note {
  size_t first = 0, last = 0;  // frames
  double hz = 0;               // median tracked
  double vibrato_cents = 0;    // half the spread of the middle 90 % of its pitch
  double crossings_per_period = 0;
  bool harmonics = false;
  double Start() const { return std::max(0.0, first * kHopSeconds - kHopSeconds / 2); }
  double End() const { return last * kHopSeconds + kHopSeconds / 2; }
};

struct Analysis {
  AudioInfo info;
  uint64_t samples = 0;  // at the file's rate
  double dc = 0, rms = 0;
  std::vector<Frame> frames;
  Readings defaults;
  Envelope input{kEnvelopeColumns};
  std::vector<Note> notes;
};

// Reads IN's channel, hands each block to at_file_rate, and the same
// blocks at the module's rate (resampled when the file has another) to
// at_module_rate; an empty block at the end asks for flushing.
bool Stream(const std::string& path, int channel, AudioInfo* info,
            const std::function<void(const std::vector<float>&)>& at_file_rate,
            const std::function<void(const std::vector<float>&, bool)>& at_module_rate,
            std::string* error) {
  AudioReader reader;
  if (!reader.Open(path, channel, error)) return false;
  *info = reader.Info();
  std::unique_ptr<ResampleStage> resample;
  if (info->sample_rate != kRate) {
    resample =
        ResampleStage::Create(info->sample_rate, kRate, ResampleStage::Edges::kSquelchNoise, error);
    if (!resample) return false;
  }
  std::vector<float> block, converted;
  bool any = false;
  while (reader.Read(kReadSamples, &block, error)) {
    any = true;
    at_file_rate(block);
    if (resample) {
      resample->Process(block, &converted, error);
      at_module_rate(converted, false);
    } else {
      at_module_rate(block, false);
    }
  }
  if (!error->empty()) return false;
  if (!any) {
    *error = info->name + ": has no samples";
    return false;
  }
  converted.clear();
  if (resample) resample->Flush(&converted, error);
  at_module_rate(converted, true);
  return true;
}

// Runs a module stage on a block, or flushes it, into readings.
void RunInto(ModuleStage* module, const std::vector<float>& block, bool flush, Readings* readings) {
  std::vector<float> out;
  std::string unused;
  module->Process(block, &out, &unused);
  readings->Add(out);
  if (flush) {
    module->Flush(&out, &unused);
    readings->Add(out);
    readings->Finish();
  }
}

bool StartModule(WBMainProc main, const Settings& settings, ModuleStage* module,
                 std::string* error) {
  RunRequest request;
  request.sample_rate = kRate;
  request.settings = settings;
  return module->Start(main, request, error);
}

// Pass one: the pitch tracker, the module's crossing test and the module
// with its default settings, on the signal at the module's rate.
bool Analyse(WBMainProc main, const std::string& path, int channel, const ReliabilityOptions& check,
             Analysis* a, std::string* error) {
  PitchOptions pitch;
  pitch.window = kWindow;
  pitch.hop = kHop;
  pitch.fundamental_peak = true;
  std::unique_ptr<PitchTracker> tracker = PitchTracker::Create(kRate, pitch, error);
  if (!tracker) return false;
  CrossingCounter windows(kHop, kWindow), hops(kHop, kHop);
  ModuleStage module;
  if (!StartModule(main, Settings(), &module, error)) return false;
  double sum = 0, squares = 0;

  auto collect = [&]() {
    size_t both =
        std::min({tracker->Frames().size(), windows.Windows().size(), hops.Windows().size()});
    for (size_t k = 0; k < both; ++k) {
      const PitchFrame& p = tracker->Frames()[k];
      Frame f;
      f.time_s = static_cast<float>(p.time_s);
      f.hz = static_cast<float>(p.hz);
      f.level_db = static_cast<float>(p.level_db);
      f.hop_crossings = static_cast<uint16_t>(hops.Windows()[k].crossings);
      f.hop_samples = static_cast<uint16_t>(hops.Windows()[k].samples);
      f.mark = ReliabilityCheck::Classify(p, windows.Windows()[k], kRate, check);
      a->frames.push_back(f);
    }
    tracker->DropFrames(both);
    windows.DropWindows(both);
    hops.DropWindows(both);
  };
  bool ok = Stream(
      path, channel, &a->info,
      [&](const std::vector<float>& block) {
        for (float x : block) {
          if (!std::isfinite(x)) continue;
          sum += x;
          squares += static_cast<double>(x) * x;
        }
        a->samples += block.size();
        a->input.Add(block.data(), block.size());
      },
      [&](const std::vector<float>& block, bool last) {
        tracker->Process(block.data(), block.size());
        windows.Process(block.data(), block.size());
        hops.Process(block.data(), block.size());
        RunInto(&module, block, last, &a->defaults);
        if (last) {
          tracker->Finish();
          windows.Finish();
          hops.Finish();
        }
        collect();
      },
      error);
  if (!ok) return false;
  a->dc = sum / a->samples;
  a->rms = std::sqrt(std::max(0.0, squares / a->samples - a->dc * a->dc));
  return true;
}

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  size_t at = std::min(values.size() - 1, static_cast<size_t>(share * values.size()));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

// Notes are runs of frames with a pitch that stays within kToleranceCents
// of the run's mean; a slip of a few frames between two runs at one pitch
// (the tracker's octave errors, a dip in its confidence) joins them.
std::vector<Note> FindNotes(const std::vector<Frame>& frames) {
  std::vector<Note> runs;
  bool open = false;
  Note note;
  double cents_sum = 0;
  size_t count = 0;
  auto close = [&]() {
    if (open) runs.push_back(note);
    open = false;
  };
  for (size_t k = 0; k < frames.size(); ++k) {
    const Frame& f = frames[k];
    if (f.mark == Reliability::kNoPitch) {
      close();
      continue;
    }
    double cents = Cents(f.hz, 440.0);
    if (open && std::fabs(cents - cents_sum / count) <= kToleranceCents) {
      note.last = k;
      cents_sum += cents;
      ++count;
      continue;
    }
    close();
    open = true;
    note = Note();
    note.first = note.last = k;
    cents_sum = cents;
    count = 1;
  }
  close();

  auto median_cents = [&](const Note& n) {
    std::vector<double> cents;
    for (size_t k = n.first; k <= n.last; ++k)
      if (frames[k].mark != Reliability::kNoPitch) cents.push_back(Cents(frames[k].hz, 440.0));
    return Percentile(cents, 0.5);
  };
  std::vector<Note> notes;
  for (const Note& run : runs) {
    if (run.last - run.first + 1 < kJoinGapFrames) continue;  // a slip, not a note
    if (!notes.empty() && run.first - notes.back().last <= kJoinGapFrames + 1 &&
        std::fabs(median_cents(run) - median_cents(notes.back())) <= kToleranceCents) {
      notes.back().last = run.last;
      continue;
    }
    notes.push_back(run);
  }
  std::vector<Note> kept;
  for (Note& n : notes) {
    if (n.End() - n.Start() < kShortestNoteSeconds) continue;
    std::vector<double> cents;
    uint64_t crossings = 0;
    double periods = 0;
    for (size_t k = n.first; k <= n.last; ++k) {
      const Frame& f = frames[k];
      if (f.mark == Reliability::kNoPitch) continue;
      cents.push_back(Cents(f.hz, 440.0));
      crossings += f.hop_crossings;
      periods += f.hop_samples * static_cast<double>(f.hz) / kRate;
    }
    double middle = Percentile(cents, 0.5);
    n.hz = 440.0 * std::exp2(middle / 1200);
    n.vibrato_cents = (Percentile(cents, 0.95) - Percentile(cents, 0.05)) / 2;
    n.crossings_per_period = periods > 0 ? crossings / periods : 0;
    // One run of frames: its two ends can hold two crossings more.
    n.harmonics = crossings > 2 + ReliabilityOptions().harmonic_limit * periods;
    kept.push_back(n);
  }
  return kept;
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
  for (const Note& n : a.notes) {
    s.lowest_hz = std::min(s.lowest_hz, n.hz);
    s.highest_hz = std::max(s.highest_hz, n.hz);
    harmonic_notes += n.harmonics;
  }
  char line[256];
  s.settings.order = 2;
  s.settings.cutoff = SuggestedCutoff(s.lowest_hz);
  std::snprintf(line, sizeof line,
                "--order 2 --cutoff %g: two poles at the lowest note / 16 (%.1f / 16 = %.2f Hz, "
                "within 10..5000 Hz)",
                s.settings.cutoff, s.lowest_hz, s.lowest_hz / 16);
  s.reasons.push_back(line);
  s.settings.scale = SuggestedScale(s.settings.cutoff, s.lowest_hz);
  double bias = ExpectedOctaveBiasCents(ExpectedRippleCents(s.settings.cutoff, s.lowest_hz));
  std::snprintf(line, sizeof line, "%s: 1 V/oct reads %+.1f cents at %s from the ripple%s",
                s.settings.scale == Scale::kVoltPerOctave ? "--scale oct" : "1 V/kHz (default)",
                bias, NoteName(s.lowest_hz).c_str(),
                s.settings.scale == Scale::kVoltPerOctave ? "" : ", too far: 1 V/kHz reads true");
  s.reasons.push_back(line);

  bool dc = std::fabs(a.dc) > kDcShareOfRms * a.rms;
  if (harmonic_notes > 0 && !dc && NoteFilterFits(s.lowest_hz, s.highest_hz)) {
    s.prefilter = {PrefilterChoice::Kind::kNote, s.highest_hz};
    std::snprintf(line, sizeof line,
                  "--prefilter %s: harmonics add crossings in %zu of %zu notes; an elliptic "
                  "low-pass just above %s takes them out",
                  PrefilterOption(s.prefilter).c_str(), harmonic_notes, a.notes.size(),
                  NoteName(s.highest_hz).c_str());
  } else if (harmonic_notes > 0 || dc) {
    s.prefilter = {PrefilterChoice::Kind::kRange, s.lowest_hz};
    std::snprintf(line, sizeof line, "--prefilter %s: %s%s%s", PrefilterOption(s.prefilter).c_str(),
                  harmonic_notes > 0 ? "harmonics add crossings" : "",
                  harmonic_notes > 0 && dc ? " and " : "",
                  dc ? "the DC offset moves the crossings" : "");
    s.reasons.push_back(line);
    if (harmonic_notes > 0 && s.highest_hz > 2 * s.lowest_hz) {
      std::snprintf(line, sizeof line,
                    "  notes more than an octave above %s may still read high: render them "
                    "apart with --prefilter note:NOTE",
                    NoteName(s.lowest_hz).c_str());
    } else {
      line[0] = '\0';
    }
  } else {
    std::snprintf(line, sizeof line, "no pre-filter: the module counts two crossings a period");
  }
  if (line[0] != '\0') s.reasons.push_back(line);
  return s;
}

// Pass two: the module with the suggested settings, with the pre-filter and,
// when there is one, without it; and the crossings of the filtered signal.
struct Renders {
  Readings with, without;
  std::vector<uint16_t> hop_crossings;  // of the signal the module sees, per frame
  double prefilter_delay_s = 0;         // at the lowest note
};

bool Render(WBMainProc main, const std::string& path, int channel, const Suggestion& s, Renders* r,
            std::string* error) {
  std::unique_ptr<PrefilterStage> prefilter;
  if (s.prefilter.kind != PrefilterChoice::Kind::kOff) {
    prefilter = PrefilterStage::Create(s.prefilter, kRate, error);
    if (!prefilter) return false;
    r->prefilter_delay_s = prefilter->Filter().DelaySeconds(s.lowest_hz);
  }
  ModuleStage with, without;
  if (!StartModule(main, s.settings, &with, error) ||
      (prefilter && !StartModule(main, s.settings, &without, error)))
    return false;
  CrossingCounter hops(kHop, kHop);
  AudioInfo info;
  return Stream(
      path, channel, &info, [](const std::vector<float>&) {},
      [&](const std::vector<float>& block, bool last) {
        std::vector<float> filtered = block;
        std::string unused;
        if (prefilter) {
          prefilter->Process(block, &filtered, &unused);
          RunInto(&without, block, last, &r->without);
        }
        hops.Process(filtered.data(), filtered.size());
        RunInto(&with, filtered, last, &r->with);
        if (last) hops.Finish();
        for (const CrossingWindow& w : hops.Windows())
          r->hop_crossings.push_back(static_cast<uint16_t>(w.crossings));
        hops.DropWindows(hops.Windows().size());
      },
      error);
}

// What a render reads over a note: after the filters have settled, to its end.
struct NoteReading {
  double hz = 0;
  double ripple_cents = -1;
  bool settled = true;
};

NoteReading ReadNote(const Readings& r, const Note& n, const Settings& settings, double skip_s) {
  NoteReading reading;
  // The last frames may already hear the next note's attack.
  size_t last = std::min(n.last > kEndFrames ? n.last - kEndFrames : n.first, r.mean.size() - 1);
  size_t first = n.first + static_cast<size_t>(std::ceil(skip_s / kHopSeconds));
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

std::string CentsText(double cents) {
  if (!std::isfinite(cents)) return "-";
  char text[32];
  long rounded = std::lround(cents);
  std::snprintf(text, sizeof text, "%s%ld c", rounded >= 0 ? "+" : "", rounded);
  return text;
}

// The error of a reading against the tracked note, in cents; NaN for none.
double ErrorCents(const NoteReading& reading, double tracked_hz) {
  return reading.hz > 0 ? Cents(reading.hz, tracked_hz) : NAN;
}

// Whether the filtered signal still has more than two crossings a period.
bool StillHarmonic(const Renders& r, const std::vector<Frame>& frames, const Note& n) {
  uint64_t crossings = 0;
  double periods = 0;
  for (size_t k = n.first; k <= n.last && k < r.hop_crossings.size(); ++k) {
    if (frames[k].mark == Reliability::kNoPitch) continue;
    crossings += r.hop_crossings[k];
    periods += frames[k].hop_samples * static_cast<double>(frames[k].hz) / kRate;
  }
  return crossings > 2 + ReliabilityOptions().harmonic_limit * periods;
}

std::string Hz(double hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f Hz", hz);
  return text;
}

// The plot: the implied pitch of each render against the tracked pitch, on
// a logarithmic axis with note names, the input underneath.
bool DrawAdvicePlot(const Analysis& a, const Renders& r, const Suggestion& s, const StagedFile& png,
                    std::string* error) {
  const Settings defaults;
  double lowest = s.lowest_hz, highest = s.highest_hz;
  for (const Frame& f : a.frames)
    if (f.mark != Reliability::kNoPitch) lowest = std::min<double>(lowest, f.hz);
  for (const Readings* readings : {&a.defaults, &r.without, &r.with})
    for (float hi : readings->hi)
      highest =
          std::max(highest, ImpliedHz(hi, readings == &a.defaults ? defaults : s.settings, kRate));
  double top = std::min(20000.0, highest * 1.2), bottom = std::max(20.0, lowest / 2);
  std::string script;
  char line[512];
  std::snprintf(line, sizeof line,
                "set terminal pngcairo noenhanced size 1400,860 font 'Sans,10'\n"
                "set output\nset multiplot title %s\n"
                "set grid\nset lmargin 10\nset rmargin 12\nset xlabel 'seconds'\n"
                "set xrange [0:%g]\n",
                GnuplotQuote(a.info.name + ": what the module reads, default and suggested "
                                           "settings, against the tracked pitch")
                    .c_str(),
                a.samples / static_cast<double>(a.info.sample_rate));
  script += line;
  // Columns: one line per frame, or min/max over several for long files.
  auto series = [&](const Readings& readings, const Settings& settings, const char* name) {
    std::string data = std::string("$") + name + " << EOD\n";
    size_t per = std::max<size_t>(1, readings.mean.size() / 1200);
    for (size_t k = 0; k < readings.mean.size(); k += per) {
      float lo = readings.lo[k], hi = readings.hi[k];
      for (size_t j = k; j < std::min(k + per, readings.mean.size()); ++j) {
        lo = std::min(lo, readings.lo[j]);
        hi = std::max(hi, readings.hi[j]);
      }
      double lo_hz = std::clamp(ImpliedHz(lo, settings, kRate), bottom, top);
      double hi_hz = std::clamp(ImpliedHz(hi, settings, kRate), bottom, top);
      std::snprintf(line, sizeof line, "%.4f %.3f %.3f\n", (k + 0.5 * per) * kHopSeconds, lo_hz,
                    hi_hz);
      data += line;
    }
    return data + "EOD\n";
  };
  script += series(a.defaults, defaults, "defaults");
  if (!r.without.mean.empty()) script += series(r.without, s.settings, "without");
  script += series(r.with, s.settings, "with");
  script += "$tracked << EOD\n";
  for (const Frame& f : a.frames) {
    if (f.mark == Reliability::kNoPitch) continue;
    std::snprintf(line, sizeof line, "%.4f %.3f\n", f.time_s, f.hz);
    script += line;
  }
  script += "EOD\n";
  std::snprintf(line, sizeof line,
                "set origin 0,0.3\nset size 1,0.65\n"
                "set title 'implied pitch'\nset logscale y 2\nset yrange [%g:%g]\n"
                "set ylabel 'Hz'\nset key below\n",
                bottom, top);
  script += line;
  // Both axes at every A: Hz on the left, the note's name on the right.
  std::string hz_tics = "set ytics (", note_tics = "set y2tics (";
  for (int midi = 9; midi <= 141; midi += 12) {
    double hz = MidiNoteHz(midi);
    if (hz < bottom || hz > top) continue;
    std::snprintf(line, sizeof line, "%s'%g' %g", hz_tics.back() == '(' ? "" : ", ", hz, hz);
    hz_tics += line;
    std::snprintf(line, sizeof line, "%s'%s' %g", note_tics.back() == '(' ? "" : ", ",
                  NoteName(hz).c_str(), hz);
    note_tics += line;
  }
  script += hz_tics + ")\n" + note_tics;
  std::snprintf(line, sizeof line,
                ")\nset logscale y2 2\nset y2range [%g:%g]\nset y2label 'note'\n", bottom, top);
  script += line;
  std::string with_title = "suggested: " + SuggestedOptions(s.settings, s.prefilter);
  // A band from the lowest to the highest value of each column, and its top
  // edge as a line, which shows where the band is thinner than a pixel.
  auto band = [](const char* name, const char* colour, const std::string& title) {
    return std::string("$") + name + " using 1:2:3 with filledcurves lc rgb '" + colour +
           "' title " + GnuplotQuote(title) + ", $" + name +
           " using 1:3 with lines lw 1.5 lc rgb '" + colour + "' notitle, ";
  };
  script += "plot " + band("defaults", "#f4a582", "default settings: " + Describe(defaults));
  if (!r.without.mean.empty())
    script += band("without", "#92c5de", "suggested settings without the pre-filter");
  script += band("with", "#2166ac", with_title);
  script += "$tracked every 3 using 1:2 with points pt 6 ps 0.5 lc rgb '#000000' title " +
            GnuplotQuote("tracked pitch (aubio yinfft)") + "\n";
  script +=
      "unset logscale y\nunset logscale y2\nunset y2tics\nunset y2label\nset autoscale y\n"
      "set ytics auto\nset key off\n";
  script += "$in << EOD\n";
  for (size_t k = 0; k < a.input.All().size(); ++k) {
    const MinMax& column = a.input.All()[k];
    if (!column.finite) continue;
    double middle = (2.0 * a.input.First(k) + a.input.Count(k) - 1) * 0.5 / a.info.sample_rate;
    std::snprintf(line, sizeof line, "%.5f %g %g\n", middle, column.lo, column.hi);
    script += line;
  }
  script +=
      "EOD\nset origin 0,0\nset size 1,0.3\nset title 'input'\nset ylabel 'sample'\n"
      "plot $in using 1:2:3 with filledcurves lc rgb '#888888'\nunset multiplot\nset output\n";
  return RunGnuplotScript(script, png, error);
}

struct AdviseOptions {
  std::string in, plot;
  int channel = 0;
  ReliabilityOptions check;
};

}  // namespace

int Advise(const Invocation& invocation) {
  if (invocation.Has("--notes")) {
    if (!invocation.args.empty())
      return UsageError("advise takes IN or --notes LOW-HIGH, not both");
    return AdviseNotes(invocation, invocation.Value("--notes"));
  }
  AdviseOptions o;
  OptionReader reader(invocation);
  reader.Read("--channel", ParseChannel, &o.channel);
  reader.Read("--gate", ParseGate, &o.check.gate_db);
  reader.ReadText("--plot", &o.plot);
  if (reader.Failed()) return UsageError(reader.Error());
  if (invocation.args.size() != 1)
    return UsageError("advise needs IN, or --notes LOW-HIGH (got " +
                      std::to_string(invocation.args.size()) + " arguments)");
  o.in = invocation.args[0];
  if (o.in == "-") return UsageError("advise reads IN twice: give a file, not standard input");
  if (!o.plot.empty() && (o.plot.size() < 4 || o.plot.compare(o.plot.size() - 4, 4, ".png") != 0))
    return UsageError("--plot: " + Printable(o.plot) + " is not a .png file");
  std::string error;
  std::vector<NamedPath> outputs;
  if (!o.plot.empty()) outputs.push_back({"--plot", o.plot});
  if (!CheckDistinct({{"IN", o.in}, {"--module", ModulePath(invocation)}}, outputs, &error))
    return Refuse(error);
  if (!o.plot.empty() && !CheckGnuplot(&error)) return Fail(error);
  std::unique_ptr<wbhost::ModuleLibrary> library = LoadModule(invocation);
  if (library == nullptr) return 1;
  const WBMainProc main = library->Main();
  StagedFile plot_file;
  if (!o.plot.empty() && !plot_file.Create(o.plot, &error)) return Fail(error);

  Analysis a;
  if (!Analyse(main, o.in, o.channel, o.check, &a, &error)) return Fail(error);
  a.notes = FindNotes(a.frames);

  const double seconds = a.samples / static_cast<double>(a.info.sample_rate);
  std::printf("Input     %s: %s, %d Hz, %d channel%s", a.info.name.c_str(), a.info.format.c_str(),
              a.info.sample_rate, a.info.channels, a.info.channels == 1 ? "" : "s");
  if (a.info.channels > 1) std::printf(", channel %d used", o.channel);
  std::printf("; %.3f s\n", seconds);
  if (a.info.sample_rate != kRate)
    std::printf("Rate      analysed at %d Hz, where the module is calibrated (libsoxr)\n", kRate);
  if (a.notes.empty()) {
    std::printf(
        "Pitch     no note: nothing held a pitch for %g s above the gate (%g dBFS)\n"
        "          (noise, speech, silence or chords); the module's reading of it means "
        "little\n",
        kShortestNoteSeconds, o.check.gate_db);
    return Fail(a.info.name + ": no note to advise on");
  }
  Suggestion s = Suggest(a);
  size_t harmonic_notes = 0;
  double vibrato = 0, crossings_low = 1e9, crossings_high = 0;
  for (const Note& n : a.notes) {
    harmonic_notes += n.harmonics;
    vibrato = std::max(vibrato, n.vibrato_cents);
    crossings_low = std::min(crossings_low, n.crossings_per_period);
    crossings_high = std::max(crossings_high, n.crossings_per_period);
  }
  std::printf("Pitch     %s (%s) to %s (%s), %zu note%s tracked (aubio yinfft, %d-sample window)\n",
              NoteName(s.lowest_hz).c_str(), Hz(s.lowest_hz).c_str(),
              NoteName(s.highest_hz).c_str(), Hz(s.highest_hz).c_str(), a.notes.size(),
              a.notes.size() == 1 ? "" : "s", kWindow);
  std::printf("Crossings %.2f to %.2f a period (a clean tone has 2): ", crossings_low,
              crossings_high);
  if (harmonic_notes > 0)
    std::printf(
        "harmonics add crossings in %zu of %zu notes,\n          so the module reads "
        "them too high\n",
        harmonic_notes, a.notes.size());
  else
    std::printf("the module counts the fundamental\n");
  std::printf("DC offset %+.5f (%.1f %% of the RMS %.5f)%s\n", a.dc,
              a.rms > 0 ? 100 * std::fabs(a.dc) / a.rms : 0.0, a.rms,
              std::fabs(a.dc) > kDcShareOfRms * a.rms ? ": enough to move the crossings" : "");
  std::printf("Vibrato   up to +-%.0f cents around a note's pitch\n", vibrato);

  std::printf("\nSuggested settings\n");
  for (const std::string& reason : s.reasons) std::printf("  %s\n", reason.c_str());
  const double cutoff = s.settings.cutoff;
  std::printf("  expected at %s: ripple %.0f cents peak to peak, settling %.2f s",
              NoteName(s.lowest_hz).c_str(), ExpectedRippleCents(cutoff, s.lowest_hz),
              ExpectedSettleSeconds(cutoff));
  std::printf(", 1 V/oct bias %+.1f cents\n",
              ExpectedOctaveBiasCents(ExpectedRippleCents(cutoff, s.lowest_hz)));

  Renders r;
  if (!Render(main, o.in, o.channel, s, &r, &error)) return Fail(error);

  // Each note against the tracked pitch.
  const Settings defaults;
  const double default_skip = 0.8 / defaults.cutoff;
  const double suggested_skip = ExpectedSettleSeconds(cutoff) + r.prefilter_delay_s;
  std::printf(
      "\nMeasured  each note through the module, against the tracked pitch\n"
      "%7s %7s  %-5s %10s %9s  %9s  %9s %9s %7s  %s\n",
      "Start", "End", "Note", "Tracked", "Crossings", "Defaults", "Suggested", "Reading", "Ripple",
      "Check");
  size_t right_default = 0, right_suggested = 0, flagged_default = 0, flagged_suggested = 0,
         unsettled = 0;
  for (size_t i = 0; i < a.notes.size(); ++i) {
    const Note& n = a.notes[i];
    NoteReading d = ReadNote(a.defaults, n, defaults, default_skip);
    NoteReading g = ReadNote(r.with, n, s.settings, suggested_skip);
    double d_error = ErrorCents(d, n.hz), g_error = ErrorCents(g, n.hz);
    bool still = s.prefilter.kind != PrefilterChoice::Kind::kOff ? StillHarmonic(r, a.frames, n)
                                                                 : n.harmonics;
    right_default += std::fabs(d_error) <= kRightWithinCents;
    right_suggested += std::fabs(g_error) <= kRightWithinCents;
    flagged_default += n.harmonics;
    flagged_suggested += still;
    unsettled += !g.settled;
    if (i >= kListedNotes) continue;
    char ripple[16] = "-";
    if (g.ripple_cents >= 0) std::snprintf(ripple, sizeof ripple, "%.0f c", g.ripple_cents);
    const char* check = "ok";
    if (still)
      check = "harmonics remain";
    else if (!g.settled)
      check = "too short to settle";
    else if (!(std::fabs(g_error) <= kRightWithinCents))
      check = g_error < 0 ? "reads low" : "reads high";
    std::printf("%7.2f %7.2f  %-5s %10.2f %9.2f  %9s  %9s %9.2f %7s  %s\n", n.Start(), n.End(),
                NoteName(n.hz).c_str(), n.hz, n.crossings_per_period, CentsText(d_error).c_str(),
                CentsText(g_error).c_str(), g.hz, ripple, check);
  }
  if (a.notes.size() > kListedNotes)
    std::printf("          ... %zu more notes (the counts below cover all)\n",
                a.notes.size() - kListedNotes);
  std::printf(
      "\nResult    within %.0f cents of the tracked pitch: %zu of %zu notes with the defaults "
      "(%zu flagged: harmonics),\n          %zu of %zu with the suggested settings (%zu "
      "flagged)\n",
      kRightWithinCents, right_default, a.notes.size(), flagged_default, right_suggested,
      a.notes.size(), flagged_suggested);
  if (unsettled > 0)
    std::printf("          %zu note%s shorter than the settling time: read over %s second half\n",
                unsettled, unsettled == 1 ? " is" : "s are", unsettled == 1 ? "its" : "their");
  if (!o.plot.empty()) {
    if (!DrawAdvicePlot(a, r, s, plot_file, &error) || !plot_file.Commit(&error))
      return Fail(error);
    std::printf("Plot      %s\n", Printable(o.plot).c_str());
  }
  std::printf("suggested: %s\n", SuggestedOptions(s.settings, s.prefilter).c_str());
  return 0;
}

}  // namespace tonevolt
