// render's note report, judged against the output it describes: steady
// tones as one stretch reading the output's mean, melodies note by note,
// slices under one setting each, the 1 V/oct table's ends, the gate on the
// input as given, and non-finite samples as the module counts them.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "CliRig.h"
#include "ReportRows.h"
#include "TonevoltPins.h"

namespace {

constexpr int kRate = 44100;

struct Tone {
  double hz;
  double seconds;
  double amplitude = 0.5;
  bool second_harmonic = false;  // as strong as the fundamental: four crossings a period
};

std::vector<float> Tones(const std::vector<Tone>& tones) {
  std::vector<float> samples;
  double phase = 0;
  for (const Tone& t : tones) {
    for (long i = 0; i < std::lround(t.seconds * kRate); ++i) {
      double x = std::sin(2 * M_PI * phase);
      if (t.second_harmonic) x = 0.5 * (x + std::sin(4 * M_PI * phase));
      samples.push_back(static_cast<float>(t.amplitude * x));
      phase += t.hz / kRate;
      phase -= std::floor(phase);
    }
  }
  return samples;
}

// Three seconds of an A4, a sine or a sawtooth, its pitch swung `cents`
// either way `rate_hz` times a second.
std::vector<float> VibratoA4(double cents, double rate_hz, bool saw) {
  std::vector<float> samples(3 * kRate);
  double phase = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<float>(saw ? 0.5 * (2 * phase - 1) : 0.5 * std::sin(2 * M_PI * phase));
    phase += 440 * std::exp2(cents / 1200 * std::sin(2 * M_PI * rate_hz * i / kRate)) / kRate;
    phase -= std::floor(phase);
  }
  return samples;
}

using Line = report_rows::Row;
using report_rows::CentsOff;

// How far the check says a line reads off the played pitch ("reads 1200 c
// high"), signed; NaN when it says no size.
double ReadsOff(const std::string& text) {
  size_t at = text.find("reads ");
  long cents = 0;
  char way[8] = "";
  if (at == std::string::npos ||
      std::sscanf(text.c_str() + at, "reads %ld c %7s", &cents, way) != 2)
    return NAN;
  return std::string(way) == "high" ? cents : std::string(way) == "low" ? -cents : NAN;
}

// What the output implies over [from_s, to_s], as its mean over whole ripple
// cycles (from the first rise's start to the last's), read under a scale and
// octave shift at 44100 Hz.
double OutputHz(const std::vector<float>& out, double from_s, double to_s, bool oct, int octave) {
  size_t from = static_cast<size_t>(from_s * kRate), to = static_cast<size_t>(to_s * kRate);
  size_t first = 0, last = 0;
  for (size_t i = std::max<size_t>(from, 2); i < to && i < out.size(); ++i)
    if (out[i] > out[i - 1] && !(out[i - 1] > out[i - 2])) {
      if (first == 0) first = i;
      last = i;
    }
  if (last - first < 100) first = from, last = to;  // no ripple to speak of
  double sum = 0;
  for (size_t i = first; i < last; ++i) sum += out[i];
  double volts = kVoltsPerUnit * sum / static_cast<double>(last - first);
  double hz = oct ? kOctaveReferenceHz * std::exp2(volts - kOctaveReferenceVolts)
                  : volts * 1000 / kVoltsPerKhz;
  return hz / std::exp2(octave);
}

class ReportTest : public CliTest {
 protected:
  Result Render(const std::vector<float>& samples, const std::string& args) {
    WriteWav(Path("in.wav"), samples, kRate);
    return Run("render '" + Path("in.wav") + "' '" + Path("out.wav") + "' " + args);
  }
  // Renders and reads the report's rows: none where the render fails.
  std::vector<Line> RenderRows(const std::vector<float>& samples, const std::string& args,
                               Result* r) {
    *r = Render(samples, args);
    EXPECT_EQ(r->code, 0) << r->err;
    return r->code == 0 ? report_rows::Rows(r->out) : std::vector<Line>{};
  }
  std::vector<float> Output() { return ReadMono(Path("out.wav")); }
};

// The 1 V/kHz reading is linear in the value; kVoltsPerKhz is the module's
// calibration, so a settled sine's output reads 0.126 cents low: both the
// report and OutputHz see the same output.
struct SteadyCase {
  const char* name;
  double hz;
  const char* args;
  bool oct;
  int octave;
  const char* check = "  ok";
};

void PrintTo(const SteadyCase& c, std::ostream* os) { *os << c.name; }

class SteadyTest : public ReportTest, public ::testing::WithParamInterface<SteadyCase> {};

// A steady sine is one stable stretch whatever its ripple, and reads the
// output's mean within 2 cents (the ripple of a 41 Hz sine behind a 40 Hz
// pole spans more than four octaves).
TEST_P(SteadyTest, SineIsOneStretchReadingTheOutputsMean) {
  const SteadyCase& c = GetParam();
  Result r = Render(Tones({{c.hz, 3.0}}), c.args);
  ASSERT_EQ(r.code, 0) << r.err;
  const bool ok = std::string(c.check) == "  ok";
  EXPECT_NE(r.out.find(std::string("Notes     1 stretch of the output: 1 stable, 0 unsteady") +
                       (ok ? "\n" : "; 1 unreliable\n")),
            std::string::npos)
      << r.out;
  std::vector<Line> lines = report_rows::Rows(r.out);
  ASSERT_EQ(lines.size(), 1u) << r.out;
  // Until the filter reads above 20 Hz there is no reading.
  EXPECT_LT(lines[0].start, 0.07) << r.out;
  EXPECT_NEAR(lines[0].end, 3.0, 1e-9) << r.out;
  EXPECT_NE(lines[0].text.find(c.check), std::string::npos) << r.out;
  double truth = OutputHz(Output(), 0.5, 2.95, c.oct, c.octave);
  EXPECT_NEAR(CentsOff(lines[0].hz, truth), 0, 2) << r.out << "output's mean " << truth;
  // 1 V/oct takes the logarithm of the rippling value: low notes read flat.
  if (!c.oct) {
    EXPECT_NEAR(CentsOff(lines[0].hz, c.hz), 0, 1) << r.out;
  }
}

const SteadyCase kSteadyCases[] = {
    {"e1_defaults", 41, "", false, 0},
    {"a1_defaults", 55, "", false, 0},
    {"e2_defaults", 82, "", false, 0},
    {"a2_defaults", 110, "", false, 0},
    {"a4_defaults", 440, "", false, 0},
    {"a6_defaults", 1760, "", false, 0},
    {"a2_two_poles", 110, "--order 2", false, 0},
    {"a1_slowest", 55, "--cutoff 10", false, 0},
    {"e1_slowest_two_poles", 41, "--cutoff 10 --order 2", false, 0},
    {"a4_fastest", 440, "--cutoff 5000", false, 0},
    {"a6_fastest_two_poles", 1760, "--cutoff 5000 --order 2", false, 0},
    {"e2_cutoff_200", 82, "--cutoff 200", false, 0},
    // One pole at 40 Hz leaves a ripple that 1 V/oct reads some 90 cents flat.
    {"a2_oct", 110, "--scale oct", true, 0, "c low (1 V/oct reads a ripple of"},
    {"a4_oct_two_poles", 440, "--scale oct --order 2 --cutoff 100", true, 0},
    {"e1_oct_octave_up", 41, "--scale oct --octave +3 --order 2 --cutoff 10", true, 3},
    {"a6_octave_down", 1760, "--octave -2", false, -2},
    {"a2_oct_octave_down", 110, "--scale oct --octave -1 --order 2", true, -1},
};
INSTANTIATE_TEST_SUITE_P(Cases, SteadyTest, ::testing::ValuesIn(kSteadyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Melodies note by note: sines read ok, with no harmonics where one note
// follows another; the same melodies with a second harmonic as strong as
// the fundamental are flagged in every note.
TEST_F(ReportTest, MelodiesAreCheckedNoteByNote) {
  struct Case {
    const char* name;
    std::vector<double> notes;
    double seconds;
  };
  const Case kCases[] = {
      {"fifths", {220, 330, 220, 330, 220, 330, 220, 330}, 0.25},
      {"steps_and_leaps", {196, 262, 330, 392, 262, 523, 440}, 0.3},
  };
  for (const Case& c : kCases) {
    for (bool harmonic : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (harmonic ? " with harmonics" : " as sines"));
      std::vector<Tone> tones;
      for (double hz : c.notes) tones.push_back({hz, c.seconds, 0.5, harmonic});
      Result r;
      std::vector<Line> lines = RenderRows(Tones(tones), "", &r);
      ASSERT_EQ(lines.size(), c.notes.size()) << r.out;
      for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_NEAR(lines[i].start, i * c.seconds, 0.05) << r.out;
        if (harmonic) {
          EXPECT_NEAR(ReadsOff(lines[i].text), 1200, 10) << r.out;
          EXPECT_NE(lines[i].text.find("c high (harmonics: "), std::string::npos) << r.out;
        } else {
          EXPECT_NEAR(CentsOff(lines[i].hz, c.notes[i]), 0, 5) << r.out;
          EXPECT_NE(lines[i].text.find("  ok"), std::string::npos) << r.out;
        }
      }
      if (!harmonic) {
        EXPECT_EQ(r.out.find("harmonics"), std::string::npos) << r.out;
      }
    }
  }
}

// A slice holding a settings change is cut there: each part reads its own
// settings' output, none averages two.
TEST_F(ReportTest, SlicesNeverMixSettings) {
  struct Case {
    const char* name;
    const char* events;
    bool oct_after;
    int octave_after;
  };
  const Case kCases[] = {
      {"scale", "0.3s Freq Scale oct\n", true, 0},
      {"octave", "0.3s Octave +2\n", false, 2},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    WriteText(Path("events.txt"), c.events);
    Result r =
        Render(Tones({{440, 1.0}}), "--report slices:0.5 --events '" + Path("events.txt") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<Line> lines = report_rows::Rows(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    const double bounds[] = {0, 0.3, 0.5, 1.0};
    std::vector<float> out = Output();
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_NEAR(lines[i].start, bounds[i], 1e-9) << r.out;
      EXPECT_NEAR(lines[i].end, bounds[i + 1], 1e-9) << r.out;
      bool after = i > 0;
      double truth = OutputHz(out, bounds[i] + (i == 0 ? 0.05 : 0), bounds[i + 1],
                              after && c.oct_after, after ? c.octave_after : 0);
      EXPECT_NEAR(CentsOff(lines[i].hz, truth), 0, 3) << r.out << "output's mean " << truth;
      EXPECT_NEAR(CentsOff(lines[i].hz, 440), 0, 10) << r.out;
    }
  }
}

// A slice at the end shorter than the check's hop is judged by the frames
// before it, not as silence.
TEST_F(ReportTest, ShortLastSliceIsJudgedByItsNeighbours) {
  Result r;
  std::vector<Line> lines = RenderRows(Tones({{440, 1.02}}), "--report slices:0.5", &r);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_NEAR(lines[2].start, 1.0, 1e-9);
  EXPECT_NE(lines[2].text.find("  ok"), std::string::npos) << r.out;
}

// Past the table's last entry the module's value stops, and below its first
// step it is no logarithm: such readings are clipped, never ok.
TEST_F(ReportTest, TableEndsAreMarked) {
  struct Case {
    const char* name;
    double hz;
    const char* args;
    const char* text;  // nullptr: inside, ok
  };
  const Case kCases[] = {
      // 3520 Hz x 8 = 28160 Hz: the top entry, 11999 Hz, reads 1499.88 Hz.
      {"a7_three_octaves_up", 3520, "--scale oct --octave +3",
       "unreliable: at the 1 V/oct table's top"},
      {"a7_one_octave_up", 3520, "--scale oct --octave +1", nullptr},
      // 41 Hz / 8: the ripple's troughs fall below 1 Hz.
      {"e1_three_octaves_down", 41, "--scale oct --octave -3",
       "unreliable: below the 1 V/oct table's first step"},
      {"e2_smooth_two_octaves_down", 82, "--scale oct --octave -2 --order 2 --cutoff 10", nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Result r;
    std::vector<Line> lines = RenderRows(Tones({{c.hz, 1.0}}), c.args, &r);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    if (c.text == nullptr) {
      EXPECT_NE(lines[0].text.find("  ok"), std::string::npos) << r.out;
      continue;
    }
    EXPECT_NE(lines[0].text.find(c.text), std::string::npos) << r.out;
    EXPECT_EQ(lines[0].text.find(" ok"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Notes     1 stretch of the output: 1 stable, 0 unsteady; 1 unreliable"),
              std::string::npos)
        << r.out;
  }
}

// The gate marks stretches; it never moves them. A note at -73 dBFS is
// quiet under the default gate and ok under a lower one, in the same list.
TEST_F(ReportTest, GateDecidesMarksNotStretches) {
  std::vector<float> in = Tones({{220, 0.6}, {330, 0.6, 0.0003}, {262, 0.6}});
  std::vector<std::vector<double>> bounds;
  for (const char* gate : {"-60", "-100", "-5"}) {
    Result r;
    std::vector<Line> lines = RenderRows(in, std::string("--gate ") + gate, &r);
    ASSERT_EQ(lines.size(), 3u) << gate << "\n" << r.out;
    std::vector<double> these;
    for (const Line& line : lines) these.insert(these.end(), {line.start, line.end, line.hz});
    bounds.push_back(these);
    const std::string gate_text = gate;
    EXPECT_EQ(lines[1].text.find("quiet: -73 dBFS") != std::string::npos, gate_text != "-100")
        << r.out;
    for (const Line& line : lines)
      EXPECT_EQ(line.text.find("  ok") != std::string::npos,
                gate_text == "-100" || (gate_text == "-60" && &line != &lines[1]))
          << gate << "\n"
          << r.out;
  }
  EXPECT_EQ(bounds[0], bounds[1]);
  EXPECT_EQ(bounds[0], bounds[2]);
}

// The gate is about the recording: a loud A5 after an A3, which a
// pre-filter for A3 takes 80 dB down, is still checked (the module reads
// it, and so does the tracker), not "no pitch" under the gate.
TEST_F(ReportTest, GateIsMeasuredBeforeThePrefilter) {
  Result r;
  std::vector<Line> lines = RenderRows(Tones({{220, 0.6}, {880, 1.2}}), "--prefilter note:A3", &r);
  ASSERT_GE(lines.size(), 2u) << r.out;
  EXPECT_NEAR(CentsOff(lines.back().hz, 880), 0, 5) << r.out;
  EXPECT_NE(lines.back().text.find("  ok"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("(quiet"), std::string::npos) << r.out;
}

// Partials at these multiples of a note, from t = 0.
std::vector<float> Partials(double hz, double seconds, const std::vector<double>& amplitudes) {
  std::vector<float> samples(static_cast<size_t>(seconds * kRate));
  for (size_t i = 0; i < samples.size(); ++i) {
    double x = 0;
    for (size_t h = 0; h < amplitudes.size(); ++h)
      x += amplitudes[h] * std::sin(2 * M_PI * (h + 1) * hz * i / kRate + 0.3 * h);
    samples[i] = static_cast<float>(x);
  }
  return samples;
}

// The check compares the reading with the pitch played, tracked on the
// sound before the pre-filter: a reading off by more than 50 cents is never
// ok, whatever the crossings, and says which way and how far. What it
// suggests is never the pre-filter in use, nor a filter where the
// fundamental is missing.
TEST_F(ReportTest, ReadingsOffThePlayedPitchAreNeverOk) {
  std::vector<float> sub = Partials(440, 2.0, {0.5});
  std::vector<float> b3 = Partials(246.94, 2.0, {0.016});  // 30 dB down, 1000 cents below
  for (size_t i = 0; i < sub.size(); ++i) sub[i] += b3[i];
  struct Case {
    const char* name;
    std::vector<float> samples;
    const char* args;
    double off_cents;
    const char* has;
    const char* lacks;
  } kCases[] = {
      // The filter for C4 takes A4 80 dB down; the module counts the B3 left.
      {"fundamental_cut_by_the_prefilter", sub, "--prefilter note:C4", -1000,
       "c low (1.1 crossings a period of A4: the pre-filter cuts its fundamental); try "
       "--prefilter range:A4 or --prefilter follow",
       nullptr},
      // No fundamental at all: the filter for A3 leaves the module the
      // remains of its second and third harmonics, an octave up. No filter
      // reads A3 there: the line says so and names what can be read, not
      // another filter to go round in circles with.
      {"fundamental_missing", Partials(220, 2.0, {0, 0.5, 0.3}), "--prefilter note:A3", NAN,
       "A3's fundamental is missing: the module reads at best its 2nd harmonic, A4 (--prefilter "
       "note:A4), a CV an octave above the note heard",
       "try --prefilter"},
      // C5 40 cents flat, read 17 cents flatter by 1 V/oct's ripple: within
      // 50 cents of the played pitch, but nearer B4 than the C5 played. A
      // pre-filter cannot help; a smoother filter or 1 V/kHz can.
      {"nearer_another_note", Partials(511.4, 2.0, {0.5}), "--scale oct --cutoff 80", -17,
       "c low (1 V/oct reads a ripple of", "--prefilter"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Result r;
    std::vector<Line> lines = RenderRows(c.samples, c.args, &r);
    ASSERT_FALSE(lines.empty()) << r.out;
    const Line& held = lines.back();  // after the filter has settled
    if (!std::isnan(c.off_cents)) EXPECT_NEAR(ReadsOff(held.text), c.off_cents, 15) << r.out;
    EXPECT_NE(held.text.find(c.has), std::string::npos) << r.out;
    if (c.lacks != nullptr) {
      EXPECT_EQ(r.out.find(c.lacks), std::string::npos) << r.out;
    }
    EXPECT_EQ(r.out.find("  ok"), std::string::npos) << r.out;
  }
}

// A sine alternating C3 and C5, 0.4 s each, read in slices: a slice where a
// note starts, or that the filter is still settling on, is never ok and
// says so, the same way wherever the signal repeats; an ok slice names the
// note played in it; the summary counts what the lines say.
TEST_F(ReportTest, SlicesAcrossANoteChangeReadNoNote) {
  std::vector<Tone> tones;
  for (int i = 0; i < 8; ++i) tones.push_back({i % 2 == 0 ? 130.81 : 523.25, 0.4});
  const std::vector<float> in = Tones(tones);
  for (const char* slices : {"0.2", "0.5"}) {
    SCOPED_TRACE(std::string("slices of ") + slices);
    Result r =
        Render(in, std::string("--order 2 --cutoff 10 --scale oct --report slices:") + slices);
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<Line> lines = report_rows::Rows(r.out);
    ASSERT_GE(lines.size(), 7u) << r.out;
    size_t settling = 0;
    std::vector<std::string> kinds;
    for (const Line& line : lines) {
      const bool ok = line.text.find("  ok") != std::string::npos;
      const bool starts = line.text.find("a note starts in it") != std::string::npos;
      const bool settles = line.text.find("still settling on the note") != std::string::npos;
      settling += starts || settles;
      kinds.push_back(ok ? "ok" : starts ? "starts" : settles ? "settles" : line.text);
      // Changes at whole multiples of 0.4 s; the filter settles in 0.12 s.
      const double change = std::floor(line.end / 0.4 - 1e-9) * 0.4;
      const bool holds_change = change > line.start + 0.05;
      const bool settled = line.start >= change + 0.12;
      if (holds_change || !settled) {
        EXPECT_FALSE(ok) << line.text;
      }
      if (ok) {
        const bool c3 = static_cast<int>(std::floor(line.start / 0.4 + 1e-9)) % 2 == 0;
        EXPECT_NE(line.text.find(c3 ? " C3 " : " C5 "), std::string::npos) << line.text;
      }
    }
    // The signal repeats every 0.8 s: so do the marks, whole slices apart.
    const size_t period = std::string(slices) == "0.2" ? 4 : 8;
    for (size_t i = 0; i + period < kinds.size() - 1; ++i)
      EXPECT_EQ(kinds[i], kinds[i + period]) << "slices " << i << " and " << i + period << "\n"
                                             << r.out;
    EXPECT_GT(settling, 0u) << r.out;
    EXPECT_NE(r.out.find("Check     " + std::to_string(settling) + " of them hold"),
              std::string::npos)
        << r.out;
  }
}

// Vibrato is no change of note: an A4 with vibrato up to 100 cents deep at
// 4 to 8 Hz has no slice where a note starts, after the first.
TEST_F(ReportTest, VibratoStartsNoNote) {
  for (const auto& [cents, rate] :
       {std::pair<double, double>{50, 5.5}, {100, 5.5}, {100, 4}, {100, 8}}) {
    SCOPED_TRACE("+-" + std::to_string(cents) + " c at " + std::to_string(rate) + " Hz");
    Result r;
    std::vector<Line> lines = RenderRows(VibratoA4(cents, rate, false), "--report slices:0.25", &r);
    ASSERT_EQ(lines.size(), 12u) << r.out;
    for (size_t i = 1; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].text.find("a note starts"), std::string::npos) << r.out;
      EXPECT_EQ(lines[i].text.find("still settling"), std::string::npos) << r.out;
    }
  }
}

// A held note with vibrato, through settings quick enough to carry it to
// the CV (what advise suggests for an A4): one stretch, read at the note's
// centre and ok, for sines and sawtooths, whatever the depth up to 100 cents
// and the rate from 4 to 8 Hz. Not a run of stretches, each read at one end
// of the swing, nor "no single pitch" where the tracker's window holds both
// ends.
TEST_F(ReportTest, AHeldNoteWithVibratoIsOneNoteReadAtItsCentre) {
  struct Case {
    double cents, rate;
    bool saw;
  };
  const Case kCases[] = {{15, 5.5, false}, {50, 5.5, false}, {50, 4, true}, {100, 5.5, false},
                         {100, 4, false},  {100, 8, true},   {50, 8, false}};
  for (const Case& c : kCases) {
    SCOPED_TRACE("+-" + std::to_string(c.cents) + " c at " + std::to_string(c.rate) + " Hz" +
                 (c.saw ? ", saw" : ", sine"));
    Result r;
    std::vector<Line> lines =
        RenderRows(VibratoA4(c.cents, c.rate, c.saw), "--order 2 --cutoff 27 --scale oct", &r);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    EXPECT_NEAR(report_rows::CentsOff(lines[0].hz, 440), 0, 5) << r.out;
    EXPECT_NE(lines[0].text.find("A4 "), std::string::npos) << r.out;
    EXPECT_NE(lines[0].text.find("  ok"), std::string::npos) << r.out;
  }
}

// What a line suggests is never a setting already in force, nor one past
// the module's range, and fits the cause: a reading not yet settled wants a
// quicker filter, never a smoother one.
TEST_F(ReportTest, HintsNameOnlySettingsThatCanHelp) {
  struct Case {
    const char* name;
    std::vector<Tone> tones;
    const char* args;
    std::vector<const char*> never;
  };
  const std::vector<Tone> staccato = {{0, 0.3}, {523.25, 0.06}, {0, 0.3}, {523.25, 0.06}};
  const Case kCases[] = {
      {"smoothest_settings_unsettled",
       staccato,
       "--order 2 --cutoff 10 --scale oct",
       {"--order 2", "lower --cutoff"}},
      {"smoothest_settings_slices",
       {{130.81, 0.4}, {523.25, 0.4}},
       "--order 2 --cutoff 10 --scale oct --report slices:0.1",
       {"--order 2", "lower --cutoff"}},
      // A ripple that 1 V/oct reads far flat: smoother, never quicker.
      {"quickest_settings",
       {{110, 1.0}},
       "--cutoff 5000 --scale oct --report slices:0.25",
       {"higher --cutoff"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Result r;
    std::vector<Line> lines = RenderRows(Tones(c.tones), c.args, &r);
    ASSERT_FALSE(lines.empty()) << r.out;
    for (const Line& line : lines) {
      for (const char* never : c.never) {
        EXPECT_EQ(line.text.find(never), std::string::npos) << line.text;
      }
      if (line.text.find("too short to settle") != std::string::npos) {
        EXPECT_EQ(line.text.find("lower --cutoff"), std::string::npos) << line.text;
      }
    }
  }
}

// Each summary line counts the lines above it that give its cause.
TEST_F(ReportTest, SummaryCountsTheCausesTheLinesGive) {
  struct Cause {
    const char* summary;                // "Check     N of them <summary>"
    std::vector<const char*> line_has;  // a line gives the cause if it has one of these
  };
  const Cause kCauses[] = {
      {"read too high, as harmonics", {"high (harmonics:"}},
      {"read too low", {"c low (", "reads low ("}},
      {"read too high, nearer another note", {"c high (nearer", "c high (C", "high (nearer"}},
      {"too short for the filter to settle", {"(too short to settle)"}},
      {"the start of a note", {"a note starts in it", "still settling on the note"}},
      {"an end of the 1 V/oct table", {"1 V/oct table's"}},
      {"no clear pitch", {"no pitch (", "no single pitch"}},
  };
  std::vector<Tone> jumps, staccato, harmonic;
  for (int i = 0; i < 6; ++i) {
    jumps.push_back({i % 2 == 0 ? 130.81 : 523.25, 0.4});
    staccato.push_back({0, 0.2});
    staccato.push_back({i % 2 == 0 ? 261.63 : 392.0, 0.07});
    harmonic.push_back({i % 2 == 0 ? 220.0 : 330.0, 0.3, 0.5, true});
  }
  harmonic.push_back({440, 0.5, 0.0001});  // under the gate
  const struct {
    const char* name;
    std::vector<Tone> tones;
    const char* args;
  } kInputs[] = {
      {"jumps_in_slices", jumps, "--order 2 --cutoff 10 --scale oct --report slices:0.1"},
      {"staccato", staccato, "--order 2 --cutoff 10 --scale oct"},
      {"harmonics_then_quiet", harmonic, ""},
      {"table_bottom", {{41, 1.0}}, "--scale oct --octave -3 --report slices:0.25"},
  };
  for (const auto& input : kInputs) {
    SCOPED_TRACE(input.name);
    Result r;
    std::vector<Line> lines = RenderRows(Tones(input.tones), input.args, &r);
    ASSERT_FALSE(lines.empty()) << r.out;
    size_t explained = 0;
    for (const Cause& cause : kCauses) {
      size_t giving = 0;
      for (const Line& line : lines)
        for (const char* has : cause.line_has)
          if (line.text.find(has) != std::string::npos) {
            ++giving;
            break;
          }
      explained += giving;
      long counted = 0;
      for (size_t from = r.out.find("Check     "); from != std::string::npos;
           from = r.out.find("Check     ", from + 1)) {
        const std::string row = r.out.substr(from, r.out.find('\n', from) - from);
        if (row.find(cause.summary) == std::string::npos) continue;
        counted = std::strtol(row.c_str() + 10, nullptr, 10);
      }
      EXPECT_EQ(static_cast<long>(giving), counted) << cause.summary << "\n" << r.out;
    }
    size_t unreliable = 0;
    for (const Line& line : lines) unreliable += line.text.find("unreliable") != std::string::npos;
    EXPECT_EQ(explained, unreliable) << r.out;
  }
}

// A high note read right is ok, though a faint series two octaves under it
// (24 dB down, as a lower note's resonance or reverb leaves) has a period
// that the note repeats four times over: the played pitch is the note's.
TEST_F(ReportTest, HighNotesAreCheckedAgainstTheirOwnPitch) {
  for (const auto& [hz, note] : {std::pair<double, const char*>{880, "A5"}, {1760, "A6"}}) {
    SCOPED_TRACE(note);
    std::vector<float> samples(static_cast<size_t>(1.0 * kRate));
    for (size_t i = 0; i < samples.size(); ++i) {
      const double t = static_cast<double>(i) / kRate;
      double x = 0.5 * std::sin(2 * M_PI * hz * t) + 0.2 * std::sin(2 * M_PI * 2 * hz * t + 1);
      for (double under : {0.25, 0.75, 1.25}) x += 0.03 * std::sin(2 * M_PI * under * hz * t);
      samples[i] = static_cast<float>(x);
    }
    Result r;
    std::vector<Line> lines = RenderRows(samples, "--order 2 --scale oct --cutoff 10", &r);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    EXPECT_NE(lines[0].text.find(std::string(note) + " +0 c"), std::string::npos) << r.out;
    EXPECT_NE(lines[0].text.find("  ok"), std::string::npos) << r.out;
  }
}

// The module counts NaN and infinite samples as zero; the check does too,
// so a loud sine sprinkled with them has its level and its pitch.
TEST_F(ReportTest, NonFiniteSamplesCountAsZero) {
  for (float odd :
       {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    SCOPED_TRACE(odd);
    std::vector<float> in = Tones({{440, 1.0}});
    for (size_t i = 50; i < in.size(); i += 100) in[i] = odd;
    Result r = Render(in, "");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.find("(quiet"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("no pitch"), std::string::npos) << r.out;
    // The tracked pitch names A4 wherever the check says why.
    EXPECT_EQ(r.out.find("a period of"), r.out.find("a period of A4")) << r.out;
  }
}

}  // namespace
