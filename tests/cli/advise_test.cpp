// advise through the built program: where it puts note boundaries, what it
// calls harmonics and how deep it finds a vibrato, on lines of tones made
// here whose notes are known; and that what it suggests agrees with what it
// measured, and pastes into render.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CliRig.h"
#include "ReportRows.h"

namespace {

constexpr int kRate = 44100;
constexpr double kHopSeconds = 512.0 / kRate;
// advise prints times to 10 ms.
constexpr double kPrintedWithin = 0.005;

struct Played {
  int midi;
  double seconds;
};

enum class Timbre { kSine, kOddHarmonics, kSawtooth };

// One sample at this phase (radians).
double Wave(Timbre timbre, double phase) {
  switch (timbre) {
    case Timbre::kSine:
      return 0.5 * std::sin(phase);
    case Timbre::kOddHarmonics:
      return 0.25 * std::sin(phase) + 0.3 * std::sin(3 * phase + 0.3) +
             0.2 * std::sin(5 * phase + 0.9);
    case Timbre::kSawtooth: {
      const double cycles = phase / (2 * M_PI);
      return cycles - std::floor(cycles) - 0.5;
    }
  }
  return 0;
}

// A line of notes with no rests, its phase running on across each change;
// with a noise floor of this RMS, as a recording has.
std::vector<float> Line(const std::vector<Played>& notes, Timbre timbre, double noise = 0) {
  std::vector<float> x;
  std::mt19937 engine(3);
  std::normal_distribution<double> floor(0.0, noise);
  double phase = 0;
  for (const Played& n : notes) {
    double hz = 440.0 * std::exp2((n.midi - 69) / 12.0);
    size_t count = static_cast<size_t>(std::lround(n.seconds * kRate));
    for (size_t i = 0; i < count; ++i) {
      double v = Wave(timbre, phase);
      x.push_back(static_cast<float>(noise > 0 ? v + floor(engine) : v));
      phase += 2 * M_PI * hz / kRate;
    }
  }
  return x;
}

// The start of each row of advise's "Measured" table.
std::vector<double> MeasuredStarts(const std::string& out) {
  std::vector<double> starts;
  std::istringstream lines(out.substr(out.find("Measured")));
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);  // the column heads
  while (std::getline(lines, line) && !line.empty()) starts.push_back(std::stod(line));
  return starts;
}

// The Check column of advise's "Measured" table against its Result line:
// the notes read right there are those marked ok, and those flagged are
// the rest, told apart as the rows are.
void ExpectCountsAgreeWithTable(const std::string& out) {
  std::istringstream lines(out.substr(out.find("Measured")));
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);  // the column heads
  size_t rows = 0, ok = 0, low = 0, high = 0;
  while (std::getline(lines, line) && !line.empty()) {
    ++rows;
    ok += line.find("  ok") != std::string::npos;
    low += line.find("  reads low") != std::string::npos;
    high += line.find("  reads high") != std::string::npos;
  }
  EXPECT_EQ(ok + low + high, rows) << out;
  std::string flagged = std::to_string(low + high) + " flagged";
  if (low + high > 0) flagged += ": ";
  if (high > 0) flagged += std::to_string(high) + " read high" + (low > 0 ? ", " : "");
  if (low > 0) flagged += std::to_string(low) + " read low";
  EXPECT_NE(out.find(std::to_string(ok) + " of " + std::to_string(rows) +
                     " with the suggested settings (" + flagged + ")"),
            std::string::npos)
      << flagged << "\n"
      << out;
  // A warning for each way notes read off, and none without.
  EXPECT_EQ(out.find("notes read low with these settings") != std::string::npos, low > 0) << out;
  EXPECT_EQ(out.find("notes read high with these settings") != std::string::npos, high > 0) << out;
  EXPECT_EQ(out.find("may still read"), std::string::npos) << out;
}

std::string Suggested(const std::string& out) {
  size_t at = out.rfind("suggested: ");
  if (at == std::string::npos) return "";
  size_t end = out.find('\n', at);
  return out.substr(at + 11, end - at - 11);
}

struct LineCase {
  const char* name;
  Timbre timbre;
  double within_s;  // of each change of note
  std::vector<Played> notes;
};

// A clean tone's crossings are evenly spaced: its changes are found to a
// hop. Harmonics space them unevenly, which blurs a change by a hop or two.
constexpr double kSineWithin = kHopSeconds + kPrintedWithin;
constexpr double kHarmonicsWithin = 3 * kHopSeconds + kPrintedWithin;

// Steps up and down, a semitone to an octave, notes of 0.15 to 1 s.
const LineCase kLines[] = {
    {"sine_A4_then_A3", Timbre::kSine, kSineWithin, {{69, 1.0}, {57, 1.0}}},
    {"sine_melody",
     Timbre::kSine,
     kSineWithin,
     {{69, 0.5},
      {70, 0.3},
      {58, 0.6},
      {65, 0.25},
      {72, 0.4},
      {71, 0.2},
      {76, 0.7},
      {69, 0.35},
      {57, 0.5},
      {62, 0.15},
      {74, 1.0}}},
    {"odd_harmonics_melody",
     Timbre::kOddHarmonics,
     kHarmonicsWithin,
     {{52, 0.5}, {55, 0.4}, {59, 0.6}, {64, 0.3}, {62, 0.5}, {57, 0.8}}},
    // A semitone each way and back, as a vibrato swings but held: no swing.
    {"sine_semitone_steps",
     Timbre::kSine,
     kSineWithin,
     {{69, 0.2},
      {70, 0.2},
      {71, 0.2},
      {70, 0.2},
      {69, 0.2},
      {70, 0.2},
      {69, 0.2},
      {68, 0.2},
      {69, 0.2},
      {68, 0.2},
      {67, 0.2}}},
    {"sine_semitone_turns",
     Timbre::kSine,
     kSineWithin,
     {{69, 0.15}, {70, 0.15}, {69, 0.15}, {70, 0.15}, {69, 0.15}, {70, 0.15}, {69, 0.15}}},
};

class AdviseLineTest : public CliTest, public ::testing::WithParamInterface<LineCase> {};

// Each boundary within a hop of where the notes change; a sine line has no
// harmonics and needs no pre-filter; one whose harmonics add crossings is
// flagged in every note. The suggestion pastes into render.
TEST_P(AdviseLineTest, BoundariesAndHarmonics) {
  const LineCase& c = GetParam();
  WriteWav(Path("line.wav"), Line(c.notes, c.timbre), kRate);
  Result r = Run("advise '" + Path("line.wav") + "'");
  ASSERT_EQ(r.code, 0) << r.err;

  std::vector<double> starts = MeasuredStarts(r.out);
  ASSERT_EQ(starts.size(), c.notes.size()) << r.out;
  double at = 0;
  for (size_t i = 0; i < c.notes.size(); ++i) {
    if (i > 0) {
      EXPECT_NEAR(starts[i], at, c.within_s) << "note " << i << r.out;
    }
    at += c.notes[i].seconds;
  }

  // Steady tones: no vibrato, however the notes change.
  EXPECT_NE(r.out.find("Vibrato   up to +-0 cents"), std::string::npos) << r.out;
  ExpectCountsAgreeWithTable(r.out);

  std::string suggested = Suggested(r.out);
  if (c.timbre == Timbre::kSine) {
    EXPECT_EQ(r.out.find("harmonics add"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("harmonics remain"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("with the defaults (0 flagged)"), std::string::npos) << r.out;
    EXPECT_EQ(suggested.find("--prefilter"), std::string::npos) << r.out;
  } else {
    std::string all = std::to_string(c.notes.size());
    EXPECT_NE(r.out.find("harmonics add crossings in " + all + " of " + all + " notes"),
              std::string::npos)
        << r.out;
    EXPECT_NE(suggested.find("--prefilter"), std::string::npos) << r.out;
  }
  Result render = Run("render '" + Path("line.wav") + "' " + suggested);
  EXPECT_EQ(render.code, 0) << suggested << "\n" << render.err;
}

INSTANTIATE_TEST_SUITE_P(Lines, AdviseLineTest, ::testing::ValuesIn(kLines),
                         [](const auto& info) { return std::string(info.param.name); });

struct VibratoCase {
  const char* name;
  Timbre timbre;
  double cents, hz;  // either side of A4, so many times a second
};

const VibratoCase kVibratos[] = {
    {"sine_15c_4Hz", Timbre::kSine, 15, 4},      {"sine_15c_8Hz", Timbre::kSine, 15, 8},
    {"sine_30c_5_5Hz", Timbre::kSine, 30, 5.5},  {"sine_50c_4Hz", Timbre::kSine, 50, 4},
    {"sine_50c_5_5Hz", Timbre::kSine, 50, 5.5},  {"sine_50c_8Hz", Timbre::kSine, 50, 8},
    {"sine_100c_4Hz", Timbre::kSine, 100, 4},    {"sine_100c_5_5Hz", Timbre::kSine, 100, 5.5},
    {"sine_100c_8Hz", Timbre::kSine, 100, 8},    {"saw_15c_5_5Hz", Timbre::kSawtooth, 15, 5.5},
    {"saw_30c_8Hz", Timbre::kSawtooth, 30, 8},   {"saw_50c_5_5Hz", Timbre::kSawtooth, 50, 5.5},
    {"saw_100c_4Hz", Timbre::kSawtooth, 100, 4}, {"saw_100c_5_5Hz", Timbre::kSawtooth, 100, 5.5},
    {"saw_100c_8Hz", Timbre::kSawtooth, 100, 8},
};

class AdviseVibratoTest : public CliTest, public ::testing::WithParamInterface<VibratoCase> {};

// An A4 held for 3 s with vibrato is one note at A4, the centre of its
// swing, however deep and fast the swing (up to 100 cents either side, 4 to
// 8 Hz), and the Vibrato line gives its depth within 3 cents or a tenth.
TEST_P(AdviseVibratoTest, OneNoteAndItsDepth) {
  const VibratoCase& c = GetParam();
  std::vector<float> x(3 * kRate);
  double phase = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    x[i] = static_cast<float>(Wave(c.timbre, phase));
    phase +=
        2 * M_PI * 440 * std::exp2(c.cents / 1200 * std::sin(2 * M_PI * c.hz * i / kRate)) / kRate;
  }
  WriteWav(Path("vibrato.wav"), x, kRate);
  Result r = Run("advise '" + Path("vibrato.wav") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  double hz = 0;
  const size_t pitch = r.out.find("Pitch     A4 (");
  ASSERT_NE(pitch, std::string::npos) << r.out;
  ASSERT_EQ(std::sscanf(r.out.c_str() + pitch, "Pitch     A4 (%lf Hz) to A4", &hz), 1) << r.out;
  EXPECT_NEAR(1200 * std::log2(hz / 440), 0, 5) << r.out;
  EXPECT_NE(r.out.find(", 1 note tracked"), std::string::npos) << r.out;
  EXPECT_EQ(MeasuredStarts(r.out).size(), 1u) << r.out;

  double depth = 0;
  const size_t vibrato = r.out.find("Vibrato   up to +-");
  ASSERT_NE(vibrato, std::string::npos) << r.out;
  ASSERT_EQ(std::sscanf(r.out.c_str() + vibrato, "Vibrato   up to +-%lf cents", &depth), 1);
  EXPECT_NEAR(depth, c.cents, std::max(3.0, 0.1 * c.cents)) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Vibratos, AdviseVibratoTest, ::testing::ValuesIn(kVibratos),
                         [](const auto& info) { return std::string(info.param.name); });

// A line of odd harmonics over three octaves, where no fixed filter serves
// (range:E2 would take the highest note's fundamental down to the noise
// floor): the defaults read every note high, the band that follows the tune
// none off. The table, the Result line and the warnings say so alike.
TEST_F(CliTest, AdviseCountsAgreeWithItsTable) {
  WriteWav(Path("wide.wav"),
           Line({{40, 0.6}, {47, 0.6}, {52, 0.6}, {59, 0.6}, {64, 0.6}, {71, 0.6}, {76, 0.6}},
                Timbre::kOddHarmonics, 0.002),
           kRate);
  Result r = Run("advise '" + Path("wide.wav") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("with the defaults (7 flagged: 7 read high)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("7 of 7 with the suggested settings (0 flagged)"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("suggested: --order 2 --cutoff 10 --scale oct --prefilter follow"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Vibrato   up to +-0 cents"), std::string::npos) << r.out;
  ExpectCountsAgreeWithTable(r.out);
}

// The cutoff's reason says when lowest / 16 was raised to the module's least.
TEST_F(CliTest, AdviseSaysWhenTheCutoffIsRaised) {
  WriteWav(Path("e2.wav"), Line({{40, 1.5}}, Timbre::kSine), kRate);
  Result r = Run("advise '" + Path("e2.wav") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("= 5.15 Hz, raised to the least the module offers, " +
                       Shortest(kCutoffMinHz) + " Hz"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("within " + CutoffRange()), std::string::npos) << r.out;
}

// One row of --notes' second table ("This range ..."): the 1 V/oct reading
// measured on a sine.
std::vector<double> RangeOctaveErrors(const std::string& out) {
  std::vector<double> errors;
  std::istringstream lines(out.substr(out.find("This range")));
  std::string line;
  for (int i = 0; i < 3; ++i) std::getline(lines, line);  // the title, the column heads
  while (std::getline(lines, line) && !line.empty()) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string field; fields >> field;) f.push_back(field);
    // Note Hz Cutoff ripple / ripple settle / settle 1V/kHz oct / oct ...
    if (f.size() > 12) errors.push_back(std::stod(f[12]));
  }
  return errors;
}

// What --notes suggests agrees with its own table: 1 V/oct only where every
// row reads a sine within 25 cents with it; the ripple blamed on the least
// cutoff only where that cutoff was the one suggested; the suggestion pastes
// into render.
TEST_F(CliTest, AdviseNotesSuggestsWhatItMeasured) {
  const struct {
    const char* range;
    bool raised;  // lowest / 16 below the least cutoff
  } kRanges[] = {{"E1-A3", true}, {"A4-A5", false}, {"C8-C10", false}, {"10000-20000", false}};
  WriteWav(Path("in.wav"), Line({{69, 1.0}}, Timbre::kSine), kRate);
  for (const auto& c : kRanges) {
    SCOPED_TRACE(c.range);
    Result r = Run(std::string("advise --notes ") + c.range);
    ASSERT_EQ(r.code, 0) << r.err;
    std::string suggested = Suggested(r.out);
    bool oct = suggested.find("--scale oct") != std::string::npos;
    std::vector<double> errors = RangeOctaveErrors(r.out);
    ASSERT_FALSE(errors.empty()) << r.out;
    bool oct_reads = true;
    for (double e : errors) oct_reads = oct_reads && std::fabs(e) <= 25;
    EXPECT_EQ(oct, oct_reads) << r.out;
    EXPECT_EQ(r.out.find("raised to the least the module offers") != std::string::npos, c.raised)
        << r.out;
    Result render = Run("render '" + Path("in.wav") + "' " + suggested);
    EXPECT_EQ(render.code, 0) << suggested << "\n" << render.err;
  }
}

// Above C8 1 V/oct runs off the module's table: --notes says so.
TEST_F(CliTest, AdviseNotesTopRangeExplainsTheScale) {
  Result r = Run("advise --notes C8-C10");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Scale     1 V/kHz (default): 1 V/oct reads a sine -577 c at C10, past the "
                       "end of its table"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Suggested(r.out), "--order 2 --cutoff 260") << r.out;
}

// A range below the lowest note advise can name is refused in one line.
TEST_F(CliTest, AdviseNotesRefusesRangesWithoutNames) {
  for (const char* range : {"1-2", "5-C2"}) {
    SCOPED_TRACE(range);
    Result r = Run(std::string("advise --notes ") + range);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("is below C-1 (8.18 Hz), the lowest note advise names"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  }
  EXPECT_EQ(Run("advise --notes 8.18-20").code, 0);
}

}  // namespace

// advise never recommends settings its own table shows reading fewer notes
// right than the defaults: a sine gliding A2 to A4 over 3 s, which the
// defaults follow closely and two poles at 10 Hz trail, keeps the defaults;
// a line with harmonics, which the defaults read high, takes the suggestion.
TEST_F(CliTest, AdviseNeverRecommendsWorseThanTheDefaults) {
  std::vector<float> glide(3 * kRate);
  double phase = 0;
  for (size_t i = 0; i < glide.size(); ++i) {
    glide[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * phase));
    phase += 110 * std::exp2(2.0 * i / glide.size()) / kRate;
  }
  WriteWav(Path("glide.wav"), glide, kRate);
  WriteWav(Path("line.wav"), Line({{45, 0.6}, {52, 0.6}, {57, 0.6}}, Timbre::kOddHarmonics, 0.002),
           kRate);
  const std::string defaults = "suggested: --order " +
                               std::to_string(OrderPolesOfIndex(kOrderDefault)) + " --cutoff " +
                               Shortest(kCutoffDefaultHz);
  for (const auto& [name, keeps_defaults] :
       {std::pair<const char*, bool>{"glide.wav", true}, {"line.wav", false}}) {
    SCOPED_TRACE(name);
    Result r = Run("advise '" + Path(name) + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    size_t right_defaults = 0, right_suggested = 0, all = 0;
    const size_t at = r.out.find("Result    within 25 cents of the tracked pitch: ");
    ASSERT_NE(at, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + at,
                          "Result    within 25 cents of the tracked pitch: %zu of %zu notes with "
                          "the defaults",
                          &right_defaults, &all),
              2)
        << r.out;
    const size_t with = r.out.find(" with the suggested settings", at);
    const size_t line = r.out.rfind('\n', with);
    ASSERT_EQ(std::sscanf(r.out.c_str() + line + 1, " %zu of", &right_suggested), 1) << r.out;
    EXPECT_EQ(keeps_defaults, right_defaults > right_suggested) << r.out;
    EXPECT_EQ(r.out.find(defaults + "\n") != std::string::npos, keeps_defaults) << r.out;
  }
}

// Harmonics 2 to 6 of A2, the fundamental missing: a listener hears A2, the
// module can count no lower than the 2nd harmonic, A3. Both commands hear
// A2 and say so in the same words, for A2 or its 2nd harmonic (G3 over C3
// with a 3rd-harmonic lowest partial too); advise suggests nothing and
// fails, and no filter render is given sends it round in circles.
TEST_F(CliTest, AMissingFundamentalIsSaidPlainlyByBothCommands) {
  struct Case {
    const char* name;
    double hz;
    int first;  // the lowest harmonic present
    const char* says;
  } kCases[] = {
      {"from_2nd", 110, 2,
       "A2's fundamental is missing: the module reads at best its 2nd harmonic, A3 (--prefilter "
       "note:A3), a CV an octave above the note heard"},
      {"from_3rd", 130.81, 3,
       "C3's fundamental is missing: the module reads at best its 3rd harmonic, G4 (--prefilter "
       "note:G4), a CV an octave and a fifth above the note heard"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<float> x(2 * kRate);
    for (size_t i = 0; i < x.size(); ++i) {
      double v = 0;
      for (int h = c.first; h <= 6; ++h) v += 0.12 * std::sin(2 * M_PI * h * c.hz * i / kRate + h);
      x[i] = static_cast<float>(v);
    }
    WriteWav(Path("in.wav"), x, kRate);
    Result advise = Run("advise '" + Path("in.wav") + "'");
    EXPECT_EQ(advise.code, 1) << advise.out;
    EXPECT_NE(advise.out.find(c.says), std::string::npos) << advise.out;
    EXPECT_EQ(advise.out.find("suggested:"), std::string::npos) << advise.out;
    for (const char* prefilter : {"off", "follow", "note:A2", "note:A3", "range:A2"}) {
      SCOPED_TRACE(prefilter);
      Result render = Run("render '" + Path("in.wav") + "' --order 2 --cutoff 10 --scale oct " +
                          "--prefilter " + prefilter);
      ASSERT_EQ(render.code, 0) << render.err;
      EXPECT_NE(render.out.find(c.says), std::string::npos) << render.out;
      EXPECT_EQ(render.out.find("try --prefilter"), std::string::npos) << render.out;
      EXPECT_EQ(render.out.find("  ok"), std::string::npos) << render.out;
    }
  }
}

// advise's verdict on a note with its suggested settings is render's on
// the same note with the same settings: a line of two octaves whose last
// note fades out into noise and silence, where a band that rang on would
// read a note above it in one command's window and not the other's.
TEST_F(CliTest, AdviseAndRenderGiveANoteTheSameVerdict) {
  std::vector<float> x = Line({{48, 0.5}, {72, 0.5}, {48, 0.5}, {72, 0.5}, {52, 0.5}, {76, 0.5}},
                              Timbre::kOddHarmonics);
  const double last_hz = 440.0 * std::exp2((76 - 69) / 12.0);
  double phase = 0;
  std::mt19937 engine(5);
  std::uniform_real_distribution<double> noise(-1.7e-5, 1.7e-5);
  for (size_t i = 0; i < static_cast<size_t>(0.4 * kRate); ++i) {
    const double gain = std::pow(10.0, -70.0 / 20 * i / (0.4 * kRate));
    x.push_back(static_cast<float>(gain * Wave(Timbre::kOddHarmonics, phase)));
    phase += 2 * M_PI * last_hz / kRate;
  }
  for (size_t i = 0; i < static_cast<size_t>(0.3 * kRate); ++i)
    x.push_back(static_cast<float>(noise(engine)));
  x.resize(x.size() + kRate / 2, 0.0f);
  WriteWav(Path("line.wav"), x, kRate);

  Result advise = Run("advise '" + Path("line.wav") + "'");
  ASSERT_EQ(advise.code, 0) << advise.err;
  const size_t at = advise.out.rfind("suggested: ");
  ASSERT_NE(at, std::string::npos) << advise.out;
  const std::string suggested =
      advise.out.substr(at + 11, advise.out.find('\n', at) - at - 11);
  Result render = Run("render '" + Path("line.wav") + "' " + suggested);
  ASSERT_EQ(render.code, 0) << render.err;
  const std::vector<report_rows::Row> stretches = report_rows::Rows(render.out);

  std::istringstream lines(advise.out.substr(advise.out.find("Measured")));
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);  // the column heads
  size_t rows = 0;
  while (std::getline(lines, line) && !line.empty()) {
    ++rows;
    double start = 0, end = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf", &start, &end), 2) << line;
    const double middle = (start + end) / 2;
    const bool advise_ok = line.find("  ok") != std::string::npos;
    bool found = false;
    for (const report_rows::Row& s : stretches) {
      if (!(s.start <= middle && middle < s.end)) continue;
      found = true;
      EXPECT_EQ(s.text.find("  ok") != std::string::npos, advise_ok)
          << "advise: " << line << "\nrender: " << s.text << "\n"
          << advise.out << render.out;
    }
    EXPECT_TRUE(found) << line << "\n" << render.out;
  }
  EXPECT_EQ(rows, 6u) << advise.out;
}
