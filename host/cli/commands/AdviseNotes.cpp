// tonevolt advise --notes LOW-HIGH: settings for a range of notes without a
// recording, from the formulas and from tones of those notes through the
// module: a sine, and a tone whose odd harmonics add zero crossings, without
// and with the pre-filter.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "advice/Suggestions.h"
#include "commands/Commands.h"
#include "conditioning/Frequency.h"
#include "conditioning/MelodyTracker.h"
#include "conditioning/Prefilter.h"
#include "module/Readings.h"
#include "module/Run.h"
#include "options/Values.h"

namespace tonevolt {

namespace {

constexpr double kRate = kReferenceRate;
constexpr double kAmplitude = 0.5;
// A sine's ripple beyond this, peak to peak, is worth a word.
constexpr double kRoughCents = 20;

enum class Tone { kSine, kOddHarmonics };

// Odd harmonics 1, 3 and 5 at 0.5, 0.6 and 0.4: six zero crossings a period,
// so the module reads it three times too high, as it does a clarinet. With
// a recording's noise floor 60 dB down, which a pre-filter far below the note
// lifts above what is left of the note.
const struct {
  int harmonic;
  double amplitude, phase;
} kOddPartials[] = {{1, 0.5, 0.0}, {3, 0.6, 0.3}, {5, 0.4, 0.9}};

constexpr double kNoiseFloorRms = 0.0005;

std::vector<float> MakeTone(Tone tone, double hz, double seconds) {
  std::vector<float> signal(static_cast<size_t>(seconds * kRate));
  std::mt19937 engine(1);
  std::normal_distribution<double> noise(0.0, kNoiseFloorRms);
  for (size_t i = 0; i < signal.size(); ++i) {
    double cycles = hz * i / kRate + 0.125;  // no sample on an exact zero at the start
    double x = 0;
    if (tone == Tone::kSine) {
      x = kAmplitude * std::sin(2 * M_PI * cycles);
    } else {
      for (const auto& p : kOddPartials)
        x += p.amplitude * std::sin(2 * M_PI * p.harmonic * cycles + p.phase);
      x += noise(engine);
    }
    signal[i] = static_cast<float>(x);
  }
  return signal;
}

struct Measured {
  double error_cents = NAN;  // the settled reading against the tone
  double ripple_cents = NAN;
  double settle_s = NAN;  // until the reading stays within its ripple and 10 cents
};

// One tone through a fresh instance, after the pre-filter; read over the
// second half, whose start the filters have long settled by.
bool Measure(WBMainProc main, Tone tone, double hz, const Settings& settings,
             const PrefilterChoice& prefilter, Measured* m, std::string* error) {
  double seconds = std::max(0.8, 10 * TwoPoleSettleSeconds(settings.cutoff));
  std::vector<float> signal = MakeTone(tone, hz, seconds);
  if (prefilter.kind != PrefilterChoice::Kind::kOff) {
    std::unique_ptr<Prefilter> filter = Prefilter::Create(prefilter, kRate, error);
    if (!filter) return false;
    filter->Process(signal.data(), signal.data(), signal.size());
  }
  RunRequest request;
  request.sample_rate = kRate;
  request.settings = settings;
  std::vector<float> out;
  if (!RunModule(main, signal, request, &out, error)) return false;

  const size_t half = out.size() / 2;
  Settled settled = AnalyseNote(out.data(), out.size(), settings);
  auto [lo, hi] = std::minmax_element(out.begin() + static_cast<std::ptrdiff_t>(half), out.end());
  double reading = ImpliedHz(settled.mean, settings, kRate);
  double lo_hz = ImpliedHz(*lo, settings, kRate), hi_hz = ImpliedHz(*hi, settings, kRate);
  if (reading > 0) m->error_cents = Cents(reading, hz);
  if (lo_hz > 0) m->ripple_cents = Cents(hi_hz, lo_hz);
  // 10 cents in value terms at the settled reading.
  double margin = settings.scale == Scale::kVoltPerOctave
                      ? 10.0 / 1200 / kVoltsPerUnit
                      : settled.mean * (std::exp2(10.0 / 1200) - 1);
  size_t last_out = 0;
  for (size_t i = 0; i < half; ++i)
    if (out[i] < *lo - margin || out[i] > *hi + margin) last_out = i + 1;
  m->settle_s = last_out / kRate;
  return true;
}

// Rows: every note named in `names` (semitones above C) within the range,
// and the range's ends.
std::vector<double> Rows(double low, double high, std::set<int> names) {
  int first = static_cast<int>(std::ceil(69 + 12 * std::log2(low / 440) - 1e-6));
  int last = static_cast<int>(std::floor(69 + 12 * std::log2(high / 440) + 1e-6));
  std::vector<double> rows = {low};
  for (int midi = first; midi <= last; ++midi) {
    double hz = MidiNoteHz(midi);
    if (names.count(((midi % 12) + 12) % 12) && hz > low * 1.0001 && hz < high * 0.9999)
      rows.push_back(hz);
  }
  if (high > low * 1.0001) rows.push_back(high);
  return rows;
}

std::string NoteLabel(double hz) {
  double cents = 0;
  std::string name = NoteName(hz, &cents);
  return std::fabs(cents) < 0.5 ? name : name + SignedCents(cents);
}

struct Row {
  double hz;
  float cutoff;
  Measured sine, sine_oct, rich, rich_filtered;
};

bool MeasureRow(WBMainProc main, double hz, float cutoff, const PrefilterChoice& prefilter,
                Row* row, std::string* error) {
  row->hz = hz;
  row->cutoff = cutoff;
  Settings khz;
  khz.order = 2;
  khz.cutoff = cutoff;
  Settings oct = khz;
  oct.scale = Scale::kVoltPerOctave;
  const PrefilterChoice off;
  return Measure(main, Tone::kSine, hz, khz, off, &row->sine, error) &&
         Measure(main, Tone::kSine, hz, oct, off, &row->sine_oct, error) &&
         Measure(main, Tone::kOddHarmonics, hz, khz, off, &row->rich, error) &&
         Measure(main, Tone::kOddHarmonics, hz, khz, prefilter, &row->rich_filtered, error);
}

void PrintHeader(const char* filter_column) {
  std::printf("%-8s %8s %7s  %-11s %-11s %7s  %-11s  %-9s %-9s\n", "Note", "Hz", "Cutoff",
              "Ripple c", "Settling s", "1 V/kHz", "1 V/oct c", "Odd harm.", "Odd harm.");
  std::printf("%-8s %8s %7s  %-11s %-11s %7s  %-11s  %-9s %-9s\n", "", "", "Hz", "p-p f/m", "f/m",
              "error c", "f/m", "none c", filter_column);
}

void PrintRow(const Row& r) {
  double ripple = RippleCents(r.cutoff, r.hz);
  char ripples[32], settles[32], octs[32];
  std::snprintf(ripples, sizeof ripples, "%.0f / %.0f", ripple, r.sine.ripple_cents);
  std::snprintf(settles, sizeof settles, "%.2f / %.2f", TwoPoleSettleSeconds(r.cutoff),
                r.sine.settle_s);
  std::snprintf(octs, sizeof octs, "%s / %s", SignedCents(OctaveBiasCents(ripple)).c_str(),
                SignedCents(r.sine_oct.error_cents).c_str());
  std::printf("%-8s %8.2f %7g  %-11s %-11s %7s  %-11s  %-9s %-9s\n", NoteLabel(r.hz).c_str(), r.hz,
              r.cutoff, ripples, settles, SignedCents(r.sine.error_cents).c_str(), octs,
              SignedCents(r.rich.error_cents).c_str(),
              SignedCents(r.rich_filtered.error_cents).c_str());
}

}  // namespace

int AdviseNotes(const Invocation& invocation, const std::string& range,
                const std::vector<Option>& unused) {
  double low = 0, high = 0;
  std::string error;
  if (!ParseFrequencyRange(range, &low, &high, &error)) return UsageError("--notes: " + error);
  // Lower, the rows and the pre-filter would have no note to name.
  const double lowest_named = MidiNoteHz(0);
  if (low < lowest_named * (1 - 1e-9)) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "--notes: %g Hz is below %s (%.2f Hz), the lowest note advise names", low,
                  NoteName(lowest_named).c_str(), lowest_named);
    return UsageError(text);
  }
  for (const Option& option : unused)
    if (invocation.Has(option.name))
      return UsageError(option.name + " is for advise IN, not --notes");
  std::unique_ptr<wbhost::ModuleLibrary> library = LoadModule(invocation);
  if (library == nullptr) return 1;
  const WBMainProc main = library->Main();

  std::printf("Range     %s (%.2f Hz) to %s (%.2f Hz); the module at %.0f Hz, 2 poles\n",
              NoteLabel(low).c_str(), low, NoteLabel(high).c_str(), high, kRate);
  std::printf(
      "Columns   f / m: from the formulas / measured on a sine through the module;\n"
      "          ripple 2300 (cutoff / f)^2 cents peak to peak, settling 1.2 / cutoff s\n"
      "          (to within the ripple and 10 cents, from silence), 1 V/oct read flat by the\n"
      "          ripple; odd harm.: a tone with harmonics 1, 3, 5 (6 crossings a period,\n"
      "          as a clarinet) and noise 60 dB down, its 1 V/kHz error without and\n"
      "          with the pre-filter\n");

  std::printf("\nBy lowest note: the cutoff for a range that starts there\n");
  PrintHeader("range:LO");
  for (double lowest : Rows(low, high, {4, 9})) {  // the range's ends, every E and A
    Row row;
    float cutoff = SuggestedCutoff(lowest);
    if (!MeasureRow(main, lowest, cutoff, {PrefilterChoice::Kind::kRange, lowest}, &row, &error))
      return Fail(error);
    PrintRow(row);
  }

  const float cutoff = SuggestedCutoff(low);
  const PrefilterChoice range_filter{PrefilterChoice::Kind::kRange, low};
  std::printf("\nThis range with cutoff %g Hz and --prefilter %s\n", cutoff,
              PrefilterOption(range_filter).c_str());
  PrintHeader(("range:" + NoteOption(low)).c_str());
  bool filter_holds = true;
  std::vector<Row> rows;
  for (double hz : Rows(low, high, {0, 4, 9})) {  // the ends, every C, E and A
    Row row;
    if (!MeasureRow(main, hz, cutoff, range_filter, &row, &error)) return Fail(error);
    PrintRow(row);
    rows.push_back(row);
  }
  // The rows furthest off, each by what it is judged on.
  const Row* roughest = &rows.front();
  const Row* khz_worst = &rows.front();
  const Row* oct_worst = &rows.front();
  for (const Row& row : rows) {
    filter_holds = filter_holds && std::fabs(row.rich_filtered.error_cents) <= kRightWithinCents;
    if (row.sine.ripple_cents > roughest->sine.ripple_cents) roughest = &row;
    if (!(std::fabs(row.sine.error_cents) <= std::fabs(khz_worst->sine.error_cents)))
      khz_worst = &row;
    if (!(std::fabs(row.sine_oct.error_cents) <= std::fabs(oct_worst->sine_oct.error_cents)))
      oct_worst = &row;
  }
  const bool khz_reads = std::fabs(khz_worst->sine.error_cents) <= kRightWithinCents;
  const bool oct_reads = std::fabs(oct_worst->sine_oct.error_cents) <= kRightWithinCents;

  Settings suggested;
  suggested.order = 2;
  suggested.cutoff = cutoff;
  suggested.scale = oct_reads ? SuggestedScale(cutoff, low, high) : Scale::kVoltPerKhz;
  // Where one filter cannot serve the range, the following one gives each
  // note its own band: each row's harmonic tone through the band it would get.
  bool harmonics_mislead = false;
  for (const Row& row : rows)
    harmonics_mislead =
        harmonics_mislead || !(std::fabs(row.rich.error_cents) <= kRightWithinCents);
  bool bands_hold = !filter_holds && harmonics_mislead;
  for (size_t i = 0; bands_hold && i < rows.size(); ++i) {
    Settings khz;
    khz.order = 2;
    khz.cutoff = cutoff;
    Measured banded;
    if (!Measure(main, Tone::kOddHarmonics, rows[i].hz, khz,
                 {PrefilterChoice::Kind::kBand, rows[i].hz}, &banded, &error))
      return Fail(error);
    // Above the melody tracker's reach nothing steers the band.
    bands_hold = std::fabs(banded.error_cents) <= kRightWithinCents &&
                 rows[i].hz <= MelodyOptions().highest_hz;
  }
  PrefilterChoice prefilter = filter_holds ? range_filter
                              : bands_hold ? PrefilterChoice{PrefilterChoice::Kind::kFollow, 0}
                                           : PrefilterChoice();
  std::printf("\n");
  if (roughest->sine.ripple_cents > kRoughCents) {
    std::printf("Ripple    up to %.0f cents peak to peak, at %s", roughest->sine.ripple_cents,
                NoteLabel(roughest->hz).c_str());
    if (roughest->sine.ripple_cents <= 2 * RippleCents(cutoff, roughest->hz))
      std::printf(": the cutoff is close to the note\n          (%s)\n", CutoffReason(low).c_str());
    else
      std::printf(
          ", more than the %.0f expected at %g Hz: crossings\n"
          "          fall on whole samples, so a high note's are spaced unevenly, in a pattern\n"
          "          slower than the note; a lower --cutoff smooths it and settles slower\n",
          RippleCents(cutoff, roughest->hz), cutoff);
    if (khz_reads) std::printf("          the mean stays right\n");
  }
  if (!khz_reads && !oct_reads)
    std::printf(
        "Scale     no scale reads a sine right across this range: 1 V/kHz %s c at %s,\n"
        "          1 V/oct %s c at %s\n",
        SignedCents(khz_worst->sine.error_cents).c_str(), NoteLabel(khz_worst->hz).c_str(),
        SignedCents(oct_worst->sine_oct.error_cents).c_str(), NoteLabel(oct_worst->hz).c_str());
  else if (suggested.scale == Scale::kVoltPerOctave)
    std::printf("Scale     --scale oct: 1 V/oct reads a sine within %.0f cents across the range\n",
                kRightWithinCents);
  else if (!oct_reads)
    std::printf("Scale     1 V/kHz (default): 1 V/oct reads a sine %s c at %s%s\n",
                SignedCents(oct_worst->sine_oct.error_cents).c_str(),
                NoteLabel(oct_worst->hz).c_str(),
                oct_worst->hz > kOctaveTableTopHz ? ", past the end of its table" : "");
  else
    std::printf("Scale     1 V/kHz (default): %s\n", ScaleReason(cutoff, low, high).c_str());
  if (filter_holds)
    std::printf(
        "Prefilter range:%s reads the harmonic tone right across the range; sound without\n"
        "          harmonics (sines, whistles) needs none, and it costs nothing there\n",
        NoteOption(low).c_str());
  else if (bands_hold)
    std::printf(
        "Prefilter follow: no single pre-filter reads the harmonic tone right across this\n"
        "          range; a band that follows the tune reads it within %.0f cents at every row\n",
        kRightWithinCents);
  else
    std::printf(
        "Prefilter no pre-filter reads the harmonic tone right across this range, not even\n"
        "          one that follows the tune: render parts of it apart, with --prefilter\n"
        "          note:NOTE or range:LOWEST\n");
  std::printf("suggested: %s\n", SuggestedOptions(suggested, prefilter).c_str());
  return 0;
}

}  // namespace tonevolt
