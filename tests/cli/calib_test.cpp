// Readings a musician can trust, through the built program: the module run
// at its calibrated rate whatever the file's, the pre-filters, the check that
// marks unreliable readings, the note report, and advise's settings applied
// with render. Material: tones made here, and real notes from fluidsynth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CliRig.h"
#include "RealNotes.h"
#include "ReportRows.h"

namespace {

double MidiHz(int midi) { return 440.0 * std::exp2((midi - 69) / 12.0); }
using report_rows::CentsOff;

std::vector<float> Tone(int rate, double seconds, const std::function<double(double)>& at) {
  std::vector<float> x(static_cast<size_t>(rate * seconds));
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(at(double(i) / rate));
  return x;
}

double Sine(double hz, double t) { return std::sin(2 * M_PI * hz * t + 0.3); }

// Harmonics 1, 3 and 5: six crossings a period, as a clarinet has.
double OddHarmonics(double hz, double t) {
  return 0.5 * Sine(hz, t) + 0.6 * Sine(3 * hz, t + 0.001) + 0.4 * Sine(5 * hz, t + 0.002);
}

// The implied frequency of a 1 V/kHz output over [from, to) seconds.
double ReadingHz(const std::vector<float>& out, int rate, double from, double to) {
  double sum = 0;
  size_t a = static_cast<size_t>(from * rate), b = static_cast<size_t>(to * rate);
  for (size_t i = a; i < b; ++i) sum += out[i];
  return sum / (b - a) * 10000.0;
}

using Entry = report_rows::Row;

// The entry that covers this time.
Entry At(const std::vector<Entry>& entries, double t) {
  for (const Entry& e : entries)
    if (e.start <= t && t < e.end) return e;
  return {0, 0, 0, std::string()};
}

// ------------------------------------------------ calibrated at every rate

// A4, then A5, read at any rate as at 44100 Hz, the output as long as the
// input and lined up with it; --native-rate runs the module at the file's
// rate and the summary says how that scales the reading.
TEST_F(CliTest, EveryRateReadsAsAt44100) {
  auto render = [&](int rate, const std::string& options, std::vector<float>* out) {
    WriteWav(Path("in.wav"),
             Tone(rate, 1.5,
                  [](double t) {
                    double cycles = t < 0.75 ? 440 * t : 440 * 0.75 + 880 * (t - 0.75);
                    return 0.5 * std::sin(2 * M_PI * cycles + 0.3);
                  }),
             rate);
    Result r =
        Run("render '" + Path("in.wav") + "' '" + Path("out.wav") + "' --order 2 " + options);
    EXPECT_EQ(r.code, 0) << r.err;
    *out = ReadMono(Path("out.wav"));
    EXPECT_EQ(out->size(), static_cast<size_t>(rate * 1.5));
    return r.out;
  };
  // Where the output, after the change at 0.75 s, first passes half way from
  // the first note's reading to the second's.
  auto half_way = [](const std::vector<float>& out, int rate) {
    double middle = (ReadingHz(out, rate, 0.4, 0.75) + ReadingHz(out, rate, 1.1, 1.5)) / 2e4;
    size_t i = static_cast<size_t>(0.75 * rate);
    while (i < out.size() && out[i] < middle) ++i;
    return i;
  };
  std::vector<float> reference;
  render(44100, "--cutoff 10", &reference);
  const double a4 = ReadingHz(reference, 44100, 0.4, 0.75),
               a5 = ReadingHz(reference, 44100, 1.1, 1.5);
  EXPECT_NEAR(CentsOff(a4, 440), 0, 0.5);
  EXPECT_NEAR(CentsOff(a5, 880), 0, 0.5);

  const struct {
    int rate;
    const char* scaling;  // what the summary says with --native-rate
  } kRates[] = {{48000, "44100/48000 = 0.9187 (1.47 semitones flat)"},
                {96000, "44100/96000 = 0.4594 (13.47 semitones flat)"},
                {22050, "44100/22050 = 2.0000 (12.00 semitones sharp)"},
                {8000, "44100/8000 = 5.5125 (29.55 semitones sharp)"}};
  for (const auto& c : kRates) {
    SCOPED_TRACE(c.rate);
    std::vector<float> out, native;
    std::string summary = render(c.rate, "--cutoff 10", &out);
    EXPECT_NEAR(CentsOff(ReadingHz(out, c.rate, 0.4, 0.75), a4), 0, 2);
    EXPECT_NEAR(CentsOff(ReadingHz(out, c.rate, 1.1, 1.5), a5), 0, 2);
    EXPECT_NE(summary.find("resampled to 44100 Hz for the module"), std::string::npos) << summary;
    EXPECT_NE(summary.find("A4 +0 c"), std::string::npos) << summary;

    summary = render(c.rate, "--cutoff 10 --native-rate", &native);
    const double scale = 44100.0 / c.rate;
    EXPECT_NEAR(CentsOff(ReadingHz(native, c.rate, 0.4, 0.75), a4 * scale), 0, 2);
    EXPECT_NE(summary.find(c.scaling), std::string::npos) << summary;
    EXPECT_NE(summary.find("A4 +0 c"), std::string::npos) << summary;  // the summary corrects it

    // The change of note: the resampled path follows it as the native one
    // does, later by the resamplers' delay (under 0.75 ms), never earlier.
    render(c.rate, "--cutoff 100", &out);
    render(c.rate, "--cutoff 100 --native-rate", &native);
    const double lag = double(half_way(out, c.rate)) - double(half_way(native, c.rate));
    EXPECT_GE(lag, 0);
    EXPECT_LE(lag, 0.75e-3 * c.rate);
  }
}

// A note out of digital silence, at 48 and 8 kHz: no output sample moves
// before the onset's, and the peak of the 1 V/kHz output around it is no
// more than 1.5 times that of the same note at 44100 Hz (where no
// resampler runs). A linear-phase resampler's pre-echo, counted as
// crossings, gave 13 times at 48 kHz and 7 times at 8 kHz, from 1.3 and
// 9 ms before the note.
TEST_F(CliTest, OnsetOutOfSilenceReadsAsAt44100) {
  const double kOnset = 0.5;
  const struct {
    const char* name;
    std::function<double(double)> at;  // t seconds after the onset
  } kNotes[] = {
      {"A4 sine", [](double t) { return 0.5 * std::sin(2 * M_PI * 440 * t); }},
      // Full level at once, harmonics 1 and 3 decaying, like a pluck.
      {"sharp attack",
       [](double t) {
         return 0.5 * std::cos(2 * M_PI * 220 * t) * std::exp(-3 * t) +
                0.2 * std::cos(2 * M_PI * 660 * t) * std::exp(-6 * t);
       }},
  };
  for (const auto& note : kNotes) {
    double reference_peak = 0;
    for (int rate : {44100, 48000, 8000}) {
      SCOPED_TRACE(std::string(note.name) + " at " + std::to_string(rate) + " Hz");
      const size_t onset = static_cast<size_t>(kOnset * rate);
      WriteWav(Path("in.wav"),
               Tone(rate, 1.5, [&](double t) { return t < kOnset ? 0.0 : note.at(t - kOnset); }),
               rate);
      Result r = Run("render '" + Path("in.wav") + "' '" + Path("out.wav") + "'");
      ASSERT_EQ(r.code, 0) << r.err;
      std::vector<float> out = ReadMono(Path("out.wav"));
      ASSERT_EQ(out.size(), static_cast<size_t>(1.5 * rate));
      for (size_t i = 0; i < onset; ++i) ASSERT_EQ(out[i], 0.0f) << "sample " << i;
      const float peak = *std::max_element(out.begin() + onset, out.begin() + onset + rate / 10);
      if (rate == 44100) reference_peak = peak;
      EXPECT_LE(peak, 1.5 * reference_peak);
      EXPECT_GT(peak, 0.0f);
    }
  }
}

// Settings changed from an events file at 48 kHz (0.5 s Octave +1, 1.25 s
// Freq Scale oct): nothing moves before a change's sample (the output is
// the render without it, bit for bit), and around each change the output
// stays within the values the same render gives at 44100 Hz. A linear-phase
// resampler rang 8 % beyond them before the change to 1 V/oct.
TEST_F(CliTest, EventsChangeNothingBeforeTheirSample) {
  const double kChanges[] = {0.5, 1.25};
  const char* const kEvents[] = {"", "0.5s Octave +1\n", "0.5s Octave +1\n1.25s Freq Scale oct\n"};
  auto render = [&](int rate, size_t events) {
    WriteWav(Path("in.wav"), Tone(rate, 2.0, [](double t) { return 0.5 * Sine(440, t); }), rate);
    WriteText(Path("events.txt"), kEvents[events]);
    Result r = Run("render '" + Path("in.wav") + "' '" + Path("out.wav") + "' --events '" +
                   Path("events.txt") + "'");
    EXPECT_EQ(r.code, 0) << r.err;
    return ReadMono(Path("out.wav"));
  };
  const std::vector<float> reference = render(44100, 2);
  std::vector<float> before = render(48000, 0);
  for (size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE(kEvents[k + 1]);
    const std::vector<float> after = render(48000, k + 1);
    ASSERT_EQ(after.size(), before.size());
    const size_t change = static_cast<size_t>(kChanges[k] * 48000);
    for (size_t i = 0; i < change; ++i) ASSERT_EQ(after[i], before[i]) << "sample " << i;
    EXPECT_NE(after[change + 48], before[change + 48]);  // it does change, within 1 ms

    // 20 ms before the change to 50 ms after, against the same at 44100 Hz.
    auto range = [](const std::vector<float>& x, int rate, double from, double to) {
      return std::minmax_element(x.begin() + static_cast<std::ptrdiff_t>(from * rate),
                                 x.begin() + static_cast<std::ptrdiff_t>(to * rate));
    };
    auto [low, high] = range(after, 48000, kChanges[k] - 0.02, kChanges[k] + 0.05);
    auto [reference_low, reference_high] =
        range(reference, 44100, kChanges[k] - 0.02, kChanges[k] + 0.05);
    EXPECT_GE(*low, 0.99 * *reference_low);
    EXPECT_LE(*high, 1.01 * *reference_high);
    before = after;
  }
}

// --------------------------------------------------------- pre-filters

struct PrefilterCase {
  const char* name;
  double hz;
  double dc;  // added to the tone
  bool odd_harmonics;
  const char* prefilter;
  double expected_hz;  // the settled reading; 0: no reading (below 20 Hz)
};

const PrefilterCase kPrefilterCases[] = {
    {"harmonics_read_three_times_high", 220, 0, true, "off", 660},
    {"note_filter_keeps_the_fundamental", 220, 0, true, "note:A3", 220},
    {"note_filter_leaves_a_sine", 440, 0, false, "note:A4", 440},
    {"note_filter_by_hz", 220, 0, true, "note:220", 220},
    {"range_filter_at_its_lowest_note", 110, 0, true, "range:A2", 110},
    {"range_filter_a_fifth_up", 165, 0, true, "range:A2", 165},
    {"range_filter_an_octave_up", 220, 0, true, "range:A2", 220},
    {"dc_offset_hides_every_crossing", 147, 0.9, false, "off", 0},
    {"range_filter_blocks_dc", 147, 0.9, true, "range:A2", 147},
};

void PrintTo(const PrefilterCase& c, std::ostream* os) { *os << c.name; }

class PrefilterTest : public CliTest, public ::testing::WithParamInterface<PrefilterCase> {};

TEST_P(PrefilterTest, ReadsTheFundamental) {
  const PrefilterCase& c = GetParam();
  const int rate = 44100;
  WriteWav(Path("in.wav"),
           Tone(rate, 2.0,
                [&](double t) {
                  return c.dc + 0.4 * (c.odd_harmonics ? OddHarmonics(c.hz, t) : Sine(c.hz, t));
                }),
           rate);
  Result r = Run("render '" + Path("in.wav") + "' '" + Path("out.wav") +
                 "' --order 2 --cutoff 10 --prefilter " + c.prefilter);
  ASSERT_EQ(r.code, 0) << r.err;
  double hz = ReadingHz(ReadMono(Path("out.wav")), rate, 1.0, 2.0);
  if (c.expected_hz == 0) {
    EXPECT_LT(hz, 20);
  } else {
    EXPECT_NEAR(CentsOff(hz, c.expected_hz), 0, 5) << hz << " Hz";
  }
  EXPECT_NE(
      r.out.find(std::string("Prefilter ") + (std::string(c.prefilter) == "off" ? "off" : "")),
      std::string::npos)
      << r.out;
}

INSTANTIATE_TEST_SUITE_P(Cases, PrefilterTest, ::testing::ValuesIn(kPrefilterCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------- the reliability check

enum class Material { kSine, kQuietSine, kOddHarmonics, kNoise, kClarinetE3 };

struct CheckCase {
  const char* name;
  Material material;
  const char* options;
  const char* note_has;  // in the line of the entry at 0.8 s
  const char* summary_lacks;
};

const CheckCase kCheckCases[] = {
    {"sine_is_not_flagged", Material::kSine, "", "A3 +0 c", "unreliable"},
    {"odd_harmonics_are_flagged", Material::kOddHarmonics, "",
     " c high (harmonics: 6.0 crossings a period of E3); try --prefilter note:E3", nullptr},
    {"pre_filtered_harmonics_are_not", Material::kOddHarmonics, "--prefilter note:E3", "E3 +0 c",
     "unreliable"},
    {"noise_has_no_pitch", Material::kNoise, "", "unreliable: no pitch (noise or no clear tone)",
     " ok"},
    {"quiet_sine_is_below_the_gate", Material::kQuietSine, "",
     "unreliable: no pitch (quiet: -73 dBFS)", " ok"},
    {"a_lower_gate_lets_it_through", Material::kQuietSine, "--gate -80", "A3 +0 c", "unreliable"},
    {"real_clarinet_is_flagged", Material::kClarinetE3, "", " c high (harmonics: ", nullptr},
    {"real_clarinet_pre_filtered", Material::kClarinetE3, "--prefilter note:E3", "E3 ", nullptr},
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class CheckTest : public CliTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckTest, MarksWhatCannotBeTrusted) {
  const CheckCase& c = GetParam();
  const int rate = 44100;
  std::string in = Path("in.wav");
  std::mt19937 engine(5);
  std::normal_distribution<double> normal(0.0, 0.3);
  switch (c.material) {
    case Material::kSine:
      WriteWav(in, Tone(rate, 2, [](double t) { return 0.5 * Sine(220, t); }), rate);
      break;
    case Material::kQuietSine:  // -73 dBFS RMS
      WriteWav(in, Tone(rate, 2, [](double t) { return 0.0003 * Sine(220, t); }), rate);
      break;
    case Material::kOddHarmonics:
      WriteWav(in, Tone(rate, 2, [](double t) { return 0.5 * OddHarmonics(164.81, t); }), rate);
      break;
    case Material::kNoise:
      WriteWav(in, Tone(rate, 2, [&](double) { return normal(engine); }), rate);
      break;
    case Material::kClarinetE3:
      if (!real_notes::Missing().empty()) GTEST_SKIP() << real_notes::Missing();
      in = real_notes::Note(71, 52, rate);
      ASSERT_FALSE(in.empty()) << "fluidsynth failed";
      break;
  }
  Result r = Run("render '" + in + "' --order 2 --cutoff 10 " + c.options);
  ASSERT_EQ(r.code, 0) << r.err;
  Entry note = At(report_rows::Rows(r.out), 0.8);
  EXPECT_NE(note.text.find(c.note_has), std::string::npos) << r.out;
  if (c.summary_lacks != nullptr) {
    EXPECT_EQ(r.out.find(c.summary_lacks), std::string::npos) << r.out;
  }
  if (note.text.find("unreliable") != std::string::npos) {
    EXPECT_NE(note.text.find("  -  "), std::string::npos) << "no note name there: " << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckTest, ::testing::ValuesIn(kCheckCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------- the report

// Two notes with silence around: two stable stretches where they are; or
// fixed slices with --report slices:SECONDS.
TEST_F(CliTest, ReportListsTheNotesOrSlices) {
  const int rate = 44100;
  WriteWav(Path("in.wav"),
           Tone(rate, 2.4,
                [](double t) {
                  if (t >= 0.2 && t < 1.0) return 0.5 * Sine(220, t);
                  if (t >= 1.4 && t < 2.2) return 0.5 * Sine(329.63, t);
                  return 0.0;
                }),
           rate);
  Result r = Run("render '" + Path("in.wav") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<Entry> notes = report_rows::Rows(r.out);
  ASSERT_EQ(notes.size(), 2u) << r.out;
  const struct {
    double start, end, hz;
    const char* note;
  } kNotes[] = {{0.2, 1.0, 220, "A3 +0 c"}, {1.4, 2.2, 329.63, "E4 +0 c"}};
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(notes[i].text);
    EXPECT_NEAR(notes[i].start, kNotes[i].start, 0.06);
    EXPECT_NEAR(notes[i].end, kNotes[i].end, 0.06);
    EXPECT_NEAR(CentsOff(notes[i].hz, kNotes[i].hz), 0, 2);
    EXPECT_NE(notes[i].text.find(kNotes[i].note), std::string::npos);
    EXPECT_NE(notes[i].text.find("  ok"), std::string::npos);
  }
  EXPECT_NE(r.out.find("Notes     2 stretches of the output: 2 stable, 0 unsteady"),
            std::string::npos)
      << r.out;

  r = Run("render '" + Path("in.wav") + "' --report slices:0.5");
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<Entry> slices = report_rows::Rows(r.out);
  ASSERT_EQ(slices.size(), 5u) << r.out;
  for (size_t i = 0; i < slices.size(); ++i) {
    EXPECT_NEAR(slices[i].start, 0.5 * i, 1e-9);
    EXPECT_NEAR(slices[i].end, std::min(0.5 * (i + 1), 2.4), 1e-9);
  }
  EXPECT_NE(r.out.find("Slices    5 of 0.5 s"), std::string::npos) << r.out;
}

// ------------------------------------------------------------- advise

struct AdviseCase {
  const char* name;
  int program, midi, rate;
};

// Harmonic-rich real notes, low to high, at both usual rates.
const AdviseCase kAdviseCases[] = {
    {"fingered_bass_E1", 33, 28, 44100}, {"piano_A2", 0, 45, 44100},
    {"clarinet_E3", 71, 52, 44100},      {"organ_C4", 19, 60, 48000},
    {"violin_A4", 40, 69, 48000},        {"flute_A5", 73, 81, 44100},
};

void PrintTo(const AdviseCase& c, std::ostream* os) { *os << c.name; }

class AdviseTest : public CliTest, public ::testing::WithParamInterface<AdviseCase> {};

// The note read high and flagged with the defaults; advise's last line,
// pasted into render, reads it within 25 cents and unflagged.
TEST_P(AdviseTest, SuggestedOptionsReadTheNote) {
  const AdviseCase& c = GetParam();
  if (!real_notes::Missing().empty()) GTEST_SKIP() << real_notes::Missing();
  const std::string file = real_notes::Note(c.program, c.midi, c.rate);
  ASSERT_FALSE(file.empty()) << "fluidsynth failed";

  Result plain = Run("render '" + file + "'");
  ASSERT_EQ(plain.code, 0) << plain.err;
  EXPECT_NE(plain.out.find(" c high (harmonics: "), std::string::npos) << plain.out;

  Result advice = Run("advise '" + file + "' --plot '" + Path("advice.png") + "'");
  ASSERT_EQ(advice.code, 0) << advice.err;
  std::string last = advice.out.substr(advice.out.rfind('\n', advice.out.size() - 2) + 1);
  ASSERT_EQ(last.rfind("suggested: --order 2 --cutoff ", 0), 0u) << advice.out;
  EXPECT_NE(last.find(" --prefilter "), std::string::npos) << advice.out;
  EXPECT_NE(advice.out.find("with the suggested settings (0 flagged)"), std::string::npos)
      << advice.out;
  EXPECT_TRUE(Exists(Path("advice.png")));

  std::string options = last.substr(std::string("suggested: ").size());
  options.pop_back();  // the newline
  Result r = Run("render '" + file + "' " + options);
  ASSERT_EQ(r.code, 0) << r.err;
  Entry note = At(report_rows::Rows(r.out), 0.8);
  EXPECT_NEAR(CentsOff(note.hz, MidiHz(c.midi)), 0, 25) << r.out;
  EXPECT_NE(note.text.find("  ok"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Cases, AdviseTest, ::testing::ValuesIn(kAdviseCases),
                         [](const auto& info) { return std::string(info.param.name); });

// advise --notes: the cutoff for the lowest note, range:LOW when it holds,
// and what that does to a harmonic-rich tone anywhere in the range.
TEST_F(CliTest, AdviseNotesSuggestsSettingsForARange) {
  const struct {
    const char* range;
    const char* suggested;
    double tone_hz;  // a tone in the range, read with the suggestion
  } kRanges[] = {
      {"E1-A3", "suggested: --order 2 --cutoff 10 --scale oct --prefilter range:E1\n", 55},
      {"A4-A5", "suggested: --order 2 --cutoff 27 --scale oct --prefilter range:A4\n", 660},
      {"82.41-330", "suggested: --order 2 --cutoff 10 --scale oct --prefilter range:E2\n", 247},
  };
  const int rate = 44100;
  for (const auto& c : kRanges) {
    SCOPED_TRACE(c.range);
    Result advice = Run(std::string("advise --notes ") + c.range);
    ASSERT_EQ(advice.code, 0) << advice.err;
    ASSERT_GE(advice.out.size(), std::strlen(c.suggested));
    EXPECT_EQ(advice.out.substr(advice.out.size() - std::strlen(c.suggested)), c.suggested)
        << advice.out;

    WriteWav(Path("in.wav"),
             Tone(rate, 2, [&](double t) { return 0.5 * OddHarmonics(c.tone_hz, t); }), rate);
    std::string options(c.suggested + std::strlen("suggested: "));
    options.pop_back();
    Result r = Run("render '" + Path("in.wav") + "' " + options);
    ASSERT_EQ(r.code, 0) << r.err;
    Entry note = At(report_rows::Rows(r.out), 0.8);
    EXPECT_NEAR(CentsOff(note.hz, c.tone_hz), 0, 25) << r.out;
  }
}

}  // namespace
