// The command line's syntax, run through the built program as a user types
// it: flags with a yes or no, options on either side of the command, "--",
// one number syntax with each option's unit, and the refusals of everything
// else with the option's own one-line message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "CliRig.h"

namespace {

// The test folder holds in.wav (48 kHz, so that --native-rate shows in the
// summary's Rate line), its copy -x.wav, and events.txt when a case has one.
constexpr int kRate = 48000;
const char kNative[] = "Rate      --native-rate: the module runs at 48000 Hz";
const char kResampled[] = "Rate      resampled to 44100 Hz";

std::vector<float> Tone() {
  std::vector<float> tone(kRate / 2);
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * 220.0 * i / kRate));
  return tone;
}

class OptionsTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    WriteWav(Path("in.wav"), Tone(), kRate);
    WriteWav(Path("-x.wav"), Tone(), kRate);
  }
  // From the test folder, so that its files go by their plain names.
  Result RunHere(const std::string& args, const char* events = nullptr) const {
    if (events != nullptr) WriteText(Path("events.txt"), events);
    return Run(args, "cd '" + m_dir + "' &&");
  }
};

// ------------------------------------------------------------- accepted

struct AcceptCase {
  const char* name;
  const char* args;
  const char* stdout_has;    // part of the summary
  const char* stdout_lacks;  // or null
  const char* events;        // events.txt, or null
};

const AcceptCase kAcceptCases[] = {
    // A flag alone, or with a yes or no in any case; the last one counts.
    {"flag_alone", "render in.wav --native-rate", kNative, kResampled, nullptr},
    {"flag_true", "render in.wav --native-rate=true", kNative, kResampled, nullptr},
    {"flag_YES", "render in.wav --native-rate=YES", kNative, kResampled, nullptr},
    {"flag_on", "render in.wav --native-rate=on", kNative, kResampled, nullptr},
    {"flag_1", "render in.wav --native-rate=1", kNative, kResampled, nullptr},
    {"flag_false", "render in.wav --native-rate=false", kResampled, kNative, nullptr},
    {"flag_No", "render in.wav --native-rate=No", kResampled, kNative, nullptr},
    {"flag_off", "render in.wav --native-rate=off", kResampled, kNative, nullptr},
    {"flag_0", "render in.wav --native-rate=0", kResampled, kNative, nullptr},
    {"flag_on_then_off", "render in.wav --native-rate --native-rate=no", kResampled, kNative,
     nullptr},
    {"flag_off_then_on", "render in.wav --native-rate=no --native-rate", kNative, kResampled,
     nullptr},
    {"flag_before_the_command", "--native-rate render in.wav", kNative, kResampled, nullptr},
    // A command's options before its name, global ones after it, the last
    // of a repeated option counting wherever it stands.
    {"options_before_the_command", "--cutoff 20 --scale=oct render in.wav",
     "cutoff 20 Hz, octave 0, 1 V/oct", nullptr, nullptr},
    {"options_between_command_and_in", "render --order 2 in.wav", "2-pole", nullptr, nullptr},
    {"global_option_after_the_command", "render in.wav --module " TONEVOLT_MODULE, "cutoff 40 Hz",
     nullptr, nullptr},
    {"global_option_before_command_options",
     "--module " TONEVOLT_MODULE " --octave 1 render in.wav", "octave +1", nullptr, nullptr},
    {"repeated_across_the_command", "--cutoff 30 render in.wav --cutoff=25", "cutoff 25 Hz",
     nullptr, nullptr},
    // After -- every word is a file, even one that looks like an option.
    {"file_after_double_dash", "render -- -x.wav", "Input     -x.wav", nullptr, nullptr},
    {"options_then_double_dash", "render --cutoff 20 -- -x.wav", "Input     -x.wav", nullptr,
     nullptr},
    // Negative values, given apart or with '='.
    {"negative_octave", "render in.wav --octave -1", "octave -1", nullptr, nullptr},
    {"negative_octave_equals", "render in.wav --octave=-1", "octave -1", nullptr, nullptr},
    {"plus_octave", "render in.wav --octave +1", "octave +1", nullptr, nullptr},
    // Each option's own unit, in any case, and an exponent.
    {"cutoff_Hz", "render in.wav --cutoff 20Hz", "cutoff 20 Hz", nullptr, nullptr},
    {"cutoff_hz", "render in.wav --cutoff=20hz", "cutoff 20 Hz", nullptr, nullptr},
    {"cutoff_exponent", "render in.wav --cutoff 2.5e1HZ", "cutoff 25 Hz", nullptr, nullptr},
    {"cutoff_point", "render in.wav --cutoff 20.", "cutoff 20 Hz", nullptr, nullptr},
    {"prefilter_Hz", "render in.wav --prefilter note:440Hz", "passband to 572 Hz", nullptr,
     nullptr},
    {"report_seconds", "render in.wav --report slices:0.25s", "Slices    2 of 0.25 s", nullptr,
     nullptr},
    {"report_seconds_upper", "render in.wav --report slices:0.25S", "Slices    2 of 0.25 s",
     nullptr, nullptr},
    {"report_least_slice", "render in.wav --report slices:0.04644", "of 0.04644 s", nullptr,
     nullptr},
    // The words as the lexer reads them: a bad value repeated over counts
    // for nothing, a flag takes no word after it, a short flag takes a yes
    // or no as a long one does.
    {"bad_value_then_a_good_one", "render in.wav --cutoff=-inf --cutoff 25", "cutoff 25 Hz",
     nullptr, nullptr},
    {"word_after_a_flag_is_an_argument", "render --native-rate in.wav", kNative, kResampled,
     nullptr},
    {"short_flag_off", "-h=no render in.wav", "Input     in.wav", "usage:", nullptr},
    {"events_in_the_options_syntax", "render in.wav --events events.txt", "3 changes", nullptr,
     "0.1S Filter Cutoff 20Hz\n1e3 Octave +1\n0.2s filter cutoff 2.5E1hz\n"},
};

void PrintTo(const AcceptCase& c, std::ostream* os) { *os << c.name; }

class AcceptTest : public OptionsTest, public ::testing::WithParamInterface<AcceptCase> {};

TEST_P(AcceptTest, RendersAsAsked) {
  const AcceptCase& c = GetParam();
  Result r = RunHere(c.args, c.events);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find(c.stdout_has), std::string::npos) << r.out;
  if (c.stdout_lacks != nullptr) {
    EXPECT_EQ(r.out.find(c.stdout_lacks), std::string::npos) << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AcceptTest, ::testing::ValuesIn(kAcceptCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A value with its unit does exactly what the plain number does.
struct SameCase {
  const char* name;
  const char* with_unit;
  const char* plain;
  const char* events_with_unit;  // events.txt for each run, or null
  const char* events_plain;
};

const SameCase kSameCases[] = {
    {"gate_dB", "--gate -20dB", "--gate -20", nullptr, nullptr},
    {"gate_dBFS", "--gate -20dbfs", "--gate=-20", nullptr, nullptr},
    {"prefilter_range", "--prefilter range:110HZ", "--prefilter range:110", nullptr, nullptr},
    {"csv_every_seconds", "--csv c.csv --csv-every 0.01s", "--csv c.csv --csv-every 480", nullptr,
     nullptr},
    {"events_seconds_and_hz", "--events events.txt --csv c.csv --csv-every 100",
     "--events events.txt --csv c.csv --csv-every 100", "0.1s Filter Cutoff 120Hz\n",
     "4800 Filter Cutoff 120\n"},
};

void PrintTo(const SameCase& c, std::ostream* os) { *os << c.name; }

class SameTest : public OptionsTest, public ::testing::WithParamInterface<SameCase> {};

TEST_P(SameTest, UnitChangesNothing) {
  const SameCase& c = GetParam();
  Result a = RunHere(std::string("render in.wav ") + c.with_unit, c.events_with_unit);
  std::string csv_a = ReadFile(Path("c.csv"));
  Result b = RunHere(std::string("render in.wav ") + c.plain, c.events_plain);
  std::string csv_b = ReadFile(Path("c.csv"));
  ASSERT_EQ(a.code, 0) << a.err;
  ASSERT_EQ(b.code, 0) << b.err;
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(csv_a, csv_b);
}

INSTANTIATE_TEST_SUITE_P(Cases, SameTest, ::testing::ValuesIn(kSameCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------- refused

struct RefuseCase {
  const char* name;
  const char* args;
  std::string message;  // part of the one line on standard error
  const char* events;   // events.txt, or null
};

const RefuseCase kRefuseCases[] = {
    // A flag's value is a yes or no, nothing else.
    {"flag_banana", "render in.wav --native-rate=banana",
     "--native-rate: 'banana' is not a yes or no", nullptr},
    {"flag_empty", "render in.wav --native-rate=", "--native-rate: '' is not a yes or no", nullptr},
    {"flag_two", "render in.wav --native-rate=2", "--native-rate: '2' is not a yes or no", nullptr},
    {"flag_minus_one", "--native-rate=-1 render in.wav", "--native-rate: '-1' is not a yes or no",
     nullptr},
    // Options of another command, wherever they stand.
    {"option_of_another_command_before", "--out d render in.wav",
     "--out is not an option of render", nullptr},
    {"option_of_another_command_after", "describe --cutoff 20",
     "--cutoff is not an option of describe", nullptr},
    {"file_like_an_option_without_double_dash", "render -x.wav",
     "unknown option -x.wav (a file name starting with '-' goes after --)", nullptr},
    {"double_dash_makes_options_files", "render in.wav -- --cutoff=20", "--cutoff=20: name it .wav",
     nullptr},
    // The lexer's edges: what "--" makes arguments, what a value may hold,
    // which refusal comes first, and words that only look like options.
    {"double_dash_then_an_option_name", "render in.wav -- --cutoff", "--cutoff: name it .wav",
     nullptr},
    {"every_word_after_double_dash", "render -- in.wav -- x.wav",
     "render needs IN and at most one OUT (got 3 arguments)", nullptr},
    {"value_missing_before_double_dash", "render in.wav --cutoff -- x.wav",
     "--cutoff needs a value", nullptr},
    {"value_a_dash_alone", "render in.wav --cutoff -", "--cutoff: '-' is not a number", nullptr},
    {"value_holding_equals", "render in.wav --cutoff=a=b", "--cutoff: 'a=b' is not a number",
     nullptr},
    {"good_value_then_a_bad_one", "render in.wav --cutoff 20 --cutoff=-inf",
     "--cutoff: '-inf' is not a number", nullptr},
    {"good_value_then_an_empty_one",
     "render in.wav --cutoff=20 --cutoff=", "--cutoff needs a value", nullptr},
    {"dash_and_digit_is_an_argument", "render in.wav -5", "-5: name it .wav", nullptr},
    {"short_words_run_together", "render in.wav -hx",
     "unknown option -hx (a file name starting with '-' goes after --)", nullptr},
    {"three_dashes", "render in.wav ---x", "unknown option ---x", nullptr},
    {"two_names_of_one_option", "render in.wav -h,--help",
     "unknown option -h,--help (a file name starting with '-' goes after --)", nullptr},
    {"equals_without_a_name", "render in.wav --=x", "unknown option --=x", nullptr},
    {"short_flag_banana", "-h=maybe", "-h: 'maybe' is not a yes or no", nullptr},
    {"unknown_option_before_unknown_command", "play --gain 2", "unknown option --gain", nullptr},
    {"missing_value_before_unknown_option", "render in.wav --gain --cutoff",
     "--cutoff needs a value", nullptr},
    {"flag_turned_off_is_still_not_an_option", "describe --native-rate=no",
     "--native-rate is not an option of describe", nullptr},
    // Missing values.
    {"value_missing_at_the_end", "render in.wav --cutoff", "--cutoff needs a value", nullptr},
    {"value_missing_before_an_option", "render in.wav --cutoff --order 2", "--cutoff needs a value",
     nullptr},
    {"value_empty", "render in.wav --cutoff=", "--cutoff needs a value", nullptr},
    // Hex, infinities, nan, spaces and garbage: the option's own message.
    {"cutoff_hex", "render in.wav --cutoff 0x28", "--cutoff: '0x28' is not a number", nullptr},
    {"cutoff_inf", "render in.wav --cutoff inf", "--cutoff: 'inf' is not a number", nullptr},
    {"cutoff_minus_inf", "render in.wav --cutoff -inf", "--cutoff: '-inf' is not a number",
     nullptr},
    {"cutoff_nan", "render in.wav --cutoff=nan", "--cutoff: 'nan' is not a number", nullptr},
    {"cutoff_overflow", "render in.wav --cutoff 1e999", "--cutoff: '1e999' is not a number",
     nullptr},
    {"cutoff_space_before_unit", "render in.wav --cutoff '40 Hz'",
     "--cutoff: '40 Hz' is not a number", nullptr},
    {"cutoff_other_unit", "render in.wav --cutoff 40dB", "--cutoff: '40dB' is not a number",
     nullptr},
    {"cutoff_unit_alone", "render in.wav --cutoff Hz", "--cutoff: 'Hz' is not a number", nullptr},
    {"cutoff_exponent_without_digits", "render in.wav --cutoff 4e",
     "--cutoff: '4e' is not a number", nullptr},
    {"cutoff_negative", "render in.wav --cutoff -5",
     "--cutoff: -5 Hz is out of range " + CutoffRange(), nullptr},
    {"cutoff_negative_with_unit", "render in.wav --cutoff -5Hz",
     "--cutoff: -5 Hz is out of range " + CutoffRange(), nullptr},
    {"gate_hex", "render in.wav --gate 0x10", "--gate: '0x10' is not a level in dBFS", nullptr},
    {"gate_minus_inf", "render in.wav --gate -inf", "--gate: '-inf' is not a level in dBFS",
     nullptr},
    {"gate_below_range", "render in.wav --gate -300dB", "--gate: -300 dBFS is out of range -200..0",
     nullptr},
    {"octave_hex", "render in.wav --octave 0x1", "--octave: '0x1' is not a whole number", nullptr},
    {"octave_below_range", "render in.wav --octave -4", "--octave: -4 is out of range -3..3",
     nullptr},
    {"channel_negative", "render in.wav --channel -1", "--channel: -1 is out of range 0..1023",
     nullptr},
    {"block_inf", "render in.wav --block inf", "--block: 'inf' is not a whole number", nullptr},
    {"csv_every_hex", "render in.wav --csv c.csv --csv-every 0x10",
     "--csv-every: '0x10' is not a number of samples", nullptr},
    {"csv_every_inf_seconds", "render in.wav --csv c.csv --csv-every infs",
     "--csv-every: 'infs' is not a number of samples", nullptr},
    {"csv_every_negative", "render in.wav --csv c.csv --csv-every -1s",
     "--csv-every: -1s is less than one sample", nullptr},
    {"prefilter_hex", "render in.wav --prefilter note:0x1b8", "'0x1b8' is not a frequency",
     nullptr},
    {"prefilter_negative", "render in.wav --prefilter range:-110",
     "frequency '-110' is outside 1 Hz to 20000 Hz", nullptr},
    {"prefilter_inf", "render in.wav --prefilter note:infHz", "'infHz' is not a frequency",
     nullptr},
    // Slices the check cannot judge: shorter than its hop, 2048 samples at 44100 Hz.
    {"report_slices_too_short", "render in.wav --report slices:1e-9",
     "--report: 'slices:1e-9': a slice must be at least 0.04644 s", nullptr},
    {"report_slices_just_short", "render in.wav --report slices:0.0464s",
     "a slice must be at least 0.04644 s", nullptr},
    {"report_slices_negative", "render in.wav --report slices:-1",
     "a slice must be at least 0.04644 s", nullptr},
    {"report_slices_hex", "render in.wav --report slices:0x1",
     "--report: 'slices:0x1' needs a number of seconds", nullptr},
    {"report_slices_inf", "render in.wav --report slices:inf",
     "--report: 'slices:inf' needs a number of seconds", nullptr},
    // Events values in the options' syntax, refused as the options are.
    {"events_time_hex", "render in.wav --events events.txt",
     "line 1: time '0x10' is not a sample number", "0x10 Octave 1\n"},
    {"events_time_negative", "render in.wav --events events.txt",
     "line 1: time '-1s' is before the start", "-1s Octave 1\n"},
    {"events_time_fraction_of_a_sample", "render in.wav --events events.txt",
     "line 1: time '0.5' is not a sample number (add 's' for seconds)", "0.5 Octave 1\n"},
    {"events_cutoff_hex", "render in.wav --events events.txt", "line 1: '0x28' is not a number",
     "10 Filter Cutoff 0x28\n"},
    {"events_cutoff_inf", "render in.wav --events events.txt", "line 2: '-inf' is not a number",
     "10 Filter Cutoff 20Hz\n20 Filter Cutoff -inf\n"},
    {"events_octave_hex", "render in.wav --events events.txt",
     "line 1: '0x1' is not a whole number", "10 Octave 0x1\n"},
};

void PrintTo(const RefuseCase& c, std::ostream* os) { *os << c.name; }

class RefuseTest : public OptionsTest, public ::testing::WithParamInterface<RefuseCase> {};

TEST_P(RefuseTest, OneLineAndNothingWritten) {
  const RefuseCase& c = GetParam();
  if (c.events != nullptr) WriteText(Path("events.txt"), c.events);
  const std::set<std::string> before = Listing(m_dir);
  Result r = RunHere(c.args);
  // A bad events file is bad input (1), the rest usage (2).
  EXPECT_EQ(r.code, c.events != nullptr ? 1 : 2) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("tonevolt: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(Listing(m_dir), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, RefuseTest, ::testing::ValuesIn(kRefuseCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------- units

// OUT holds the module's values, the summary volts: the summary's range is
// OUT's times 10, and the summary, --help and nothing else says so.
TEST_F(OptionsTest, OutIsInTheModulesUnitsAndSaysSo) {
  Result r = RunHere("render in.wav out.wav --scale oct");
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<float> out = ReadMono(Path("out.wav"));
  ASSERT_FALSE(out.empty());
  auto [lo, hi] = std::minmax_element(out.begin(), out.end());
  char line[200];
  std::snprintf(line, sizeof line, "Output    out.wav: %.4f .. %.4f V", 10.0 * *lo, 10.0 * *hi);
  EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  EXPECT_NE(r.out.find("in the module's units (1.0 = 10 V)"), std::string::npos) << r.out;

  Result help = RunHere("--help");
  ASSERT_EQ(help.code, 0);
  for (const char* unit : {"module's units, 1.0 = 10 V", "output (V)", "filter cutoff in Hz",
                           "in dBFS", "slices:SECONDS (0.5 or 0.5s)", "(20Hz, -60dB, 0.5s)",
                           "After -- every word is a file", "--native-rate=no"})
    EXPECT_NE(help.out.find(unit), std::string::npos) << unit;
}

}  // namespace
