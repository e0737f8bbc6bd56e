// The tonevolt program, run as a user runs it. Its output is compared with
// the module driven directly through main and its record.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "CliRig.h"
#include "TonevoltPins.h"
#include "WBHost.h"

namespace {

struct DirectSettings {
  float cutoff = kCutoffDefaultHz;
  int32_t octave_index = kOctaveIndexNoShift, scale_index = kScaleVoltPerKhz,
          order_index = kOrderOnePole;
};

// The module driven directly: settings at sample 0, the whole signal in one call.
std::vector<float> DriveDirectly(const std::vector<float>& input, int rate,
                                 const DirectSettings& s) {
  wbhost::ModuleLibrary library;
  std::string error;
  EXPECT_TRUE(library.Load(TONEVOLT_MODULE, &error)) << error;
  std::vector<float> in = input, out(input.size());
  {
    wbhost::Instance instance;
    EXPECT_TRUE(instance.Create(library.Main()));
    instance.SetSampleRate(static_cast<float>(rate));
    instance.Open();
    instance.ConnectBuffer(PIN_INPUT, in.data());
    instance.ConnectBuffer(PIN_PITCH, out.data());
    instance.AddPinEvent(0, PIN_INPUT, STATUS_STREAMING, 0);
    instance.AddPinFloatEvent(0, PIN_FILTER_CUTOFF, STATUS_ONE_SHOT, s.cutoff);
    instance.AddPinEvent(0, PIN_OCTAVE, STATUS_ONE_SHOT, s.octave_index);
    instance.AddPinEvent(0, PIN_FREQ_SCALE, STATUS_ONE_SHOT, s.scale_index);
    instance.AddPinEvent(0, PIN_FILTER_ORDER, STATUS_ONE_SHOT, s.order_index);
    instance.Process(0, static_cast<int32_t>(in.size()));
  }
  return out;
}

// ------------------------------------------------------------- render

struct RenderCase {
  const char* name;
  int rate, channels, channel;
  bool non_finite;  // NaN and infinities among the samples
  const char* options;
  DirectSettings settings;
};

// At 44100 Hz the default chain is the module alone; at other rates
// --native-rate runs it at the file's rate, as a host there would.
const RenderCase kRenderCases[] = {
    {"defaults", 44100, 1, 0, false, "", {}},
    {"all_settings_small_blocks",
     48000,
     1,
     0,
     false,
     "--cutoff 250 --octave +2 --scale oct --order 2 --block 100 --native-rate",
     {250.0f, 5, 1, 1}},
    {"one_sample_blocks_low_rate",
     8000,
     1,
     0,
     false,
     "--cutoff 10 --octave -3 --block 1 --native-rate",
     {10.0f, 0, 0, 0}},
    {"second_channel",
     22050,
     2,
     1,
     false,
     "--channel 1 --order 2 --scale OCT --native-rate",
     {40.0f, 3, 1, 1}},
    {"nan_and_infinity", 44100, 1, 0, true, "--block 333", {}},
};

void PrintTo(const RenderCase& c, std::ostream* os) { *os << c.name; }

class RenderTest : public CliTest, public ::testing::WithParamInterface<RenderCase> {};

TEST_P(RenderTest, EqualsTheModuleDrivenDirectly) {
  const RenderCase& c = GetParam();
  std::vector<float> mono = Glide(c.rate / 2, c.rate, 100, 1500);
  if (c.non_finite) {
    mono[1000] = std::numeric_limits<float>::quiet_NaN();
    mono[1001] = std::numeric_limits<float>::infinity();
    mono[5000] = -std::numeric_limits<float>::infinity();
  }
  std::vector<float> file(mono.size() * c.channels, 0.25f);  // other channels: no crossings
  for (size_t i = 0; i < mono.size(); ++i) file[i * c.channels + c.channel] = mono[i];
  WriteWav(Path("in.wav"), file, c.rate, c.channels);

  Result r = Run("render '" + Path("in.wav") + "' '" + Path("out.wav") + "' " + c.options);
  ASSERT_EQ(r.code, 0) << r.err;
  int rate = 0;
  EXPECT_TRUE(
      SameSamples(ReadMono(Path("out.wav"), &rate), DriveDirectly(mono, c.rate, c.settings)));
  EXPECT_EQ(rate, c.rate);
  EXPECT_EQ(r.out.find("channel 1 used") != std::string::npos, c.channels > 1) << r.out;
  EXPECT_EQ(r.out.find("3 samples were NaN or infinite") != std::string::npos, c.non_finite)
      << r.out;
  EXPECT_EQ(r.out.find("44100/") != std::string::npos, c.rate != 44100) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderTest, ::testing::ValuesIn(kRenderCases),
                         [](const auto& info) { return std::string(info.param.name); });

// An events file moves the change to its exact sample (the module at the
// file's rate, so that samples are the file's): before it the output
// is the plain render's, from it on one octave up, which doubles the 1 V/kHz
// value exactly.
TEST_F(CliTest, EventsTakeEffectAtTheirExactSample) {
  const int rate = 8000;
  WriteWav(Path("in.wav"), Glide(rate, rate, 200, 400), rate);
  ASSERT_EQ(
      Run("render '" + Path("in.wav") + "' '" + Path("plain.wav") + "' --block 64 --native-rate")
          .code,
      0);
  std::vector<float> plain = ReadMono(Path("plain.wav"));

  const char* const kLines[] = {
      "1000 Octave +1",                                // samples
      "0.125s octave 1",                               // seconds: 0.125 * 8000
      "# comment\n\n  1000   OCTAVE   1  \r\n",        // case, spaces, CRLF, comments
      "1000 Octave -1\n1000 Octave +1",                // equal times apply in file order
      "5000 Octave 0\n1000 Octave +1\n9000 Octave 0",  // any order; last after the end
  };
  for (const char* lines : kLines) {
    SCOPED_TRACE(lines);
    WriteText(Path("events.txt"), lines);
    Result r = Run("render '" + Path("in.wav") + "' '" + Path("moved.wav") +
                   "' --block 64 --native-rate --events '" + Path("events.txt") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<float> moved = ReadMono(Path("moved.wav"));
    ASSERT_EQ(moved.size(), plain.size());
    size_t until = std::strstr(lines, "5000") != nullptr ? 5000 : moved.size();
    for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(moved[i], plain[i]) << "sample " << i;
    for (size_t i = 1000; i < until; ++i) ASSERT_EQ(moved[i], 2.0f * plain[i]) << "sample " << i;
  }
}

// ---------------------------------------------------------- bad input

enum class Input { kGoodWav, kMissing, kFolder, kText, kEmpty, kNoFrames, kStereo };

struct BadCase {
  const char* name;
  Input input;
  const char* options;  // {dir} stands for the test folder
  const char* events;   // written to {dir}/events.txt when not null
  std::string message;  // part of the one-line error
};

const BadCase kBadCases[] = {
    {"missing_file", Input::kMissing, "", nullptr, "No such file"},
    {"folder", Input::kFolder, "", nullptr, "is a folder"},
    {"not_audio", Input::kText, "", nullptr, "not an audio format libsndfile can read"},
    {"empty_file", Input::kEmpty, "", nullptr, "the file is empty"},
    {"no_frames", Input::kNoFrames, "", nullptr, "has no samples"},
    {"no_such_channel", Input::kStereo, "--channel 2", nullptr, "has no channel 2"},
    {"channel_not_a_number", Input::kGoodWav, "--channel one", nullptr, "not a whole number"},
    {"cutoff_below_range", Input::kGoodWav, "--cutoff 5", nullptr, "out of range " + CutoffRange()},
    {"cutoff_not_a_number", Input::kGoodWav, "--cutoff 40kHz", nullptr, "not a number"},
    {"cutoff_nan", Input::kGoodWav, "--cutoff nan", nullptr, "not a number"},
    {"octave_above_range", Input::kGoodWav, "--octave 4", nullptr, "out of range -3..3"},
    {"octave_fraction", Input::kGoodWav, "--octave 1.5", nullptr, "not a whole number"},
    {"scale_unknown", Input::kGoodWav, "--scale hz", nullptr, "not khz or oct"},
    {"order_above_range", Input::kGoodWav, "--order 3", nullptr, "out of range 1..2"},
    {"block_zero", Input::kGoodWav, "--block 0", nullptr, "out of range 1..65536"},
    {"option_without_value", Input::kGoodWav, "--cutoff", nullptr, "needs a value"},
    {"unknown_option", Input::kGoodWav, "--gain 2", nullptr, "unknown option --gain"},
    {"events_missing", Input::kGoodWav, "--events {dir}/none.txt", nullptr, "No such file"},
    {"events_bad_line", Input::kGoodWav, "--events {dir}/events.txt", "0 Octave +1\n\nbogus\n",
     "line 3"},
    {"events_unknown_pin", Input::kGoodWav, "--events {dir}/events.txt", "10 Volume 3",
     "line 1: no pin named 'volume'"},
    {"events_output_pin", Input::kGoodWav, "--events {dir}/events.txt", "10 Pitch 3",
     "line 1: pin 'Pitch' is not a setting"},
    {"events_value_out_of_range", Input::kGoodWav, "--events {dir}/events.txt",
     "# changes\n10 Filter Cutoff 9000", "line 2: 9000 Hz is out of range"},
    {"events_fractional_samples", Input::kGoodWav, "--events {dir}/events.txt", "10.5 Octave 1",
     "line 1: time '10.5' is not a sample number"},
    {"out_folder_missing", Input::kGoodWav, "OUT={dir}/no/out.wav", nullptr, "cannot write"},
    {"out_not_audio_name", Input::kGoodWav, "OUT={dir}/out/out.mp3", nullptr, "name it .wav"},
    {"csv_folder_missing", Input::kGoodWav, "--csv {dir}/no/x.csv", nullptr, "cannot write"},
    {"plot_folder_missing", Input::kGoodWav, "--plot {dir}/no/x.png", nullptr, "cannot write"},
    {"plot_not_png", Input::kGoodWav, "--plot {dir}/out/x.svg", nullptr, "is not a .png"},
    {"prefilter_unknown", Input::kGoodWav, "--prefilter lowpass", nullptr,
     "unknown pre-filter 'lowpass'"},
    {"prefilter_not_a_note", Input::kGoodWav, "--prefilter note:H2", nullptr,
     "'H2' is not a frequency"},
    {"prefilter_above_nyquist", Input::kGoodWav, "--prefilter note:20000", nullptr,
     "does not fit 44100 Hz audio"},
    {"prefilter_above_nyquist_at_native_rate", Input::kGoodWav,
     "--prefilter range:5000 --native-rate", nullptr, "does not fit 8000 Hz audio"},
    {"gate_above_full_scale", Input::kGoodWav, "--gate 3", nullptr, "out of range -200..0"},
    {"gate_not_a_level", Input::kGoodWav, "--gate loud", nullptr, "not a level in dBFS"},
    {"report_unknown", Input::kGoodWav, "--report bars", nullptr, "not notes or slices:SECONDS"},
    {"report_slices_of_nothing", Input::kGoodWav, "--report slices:0", nullptr,
     "a slice must be at least 0.04644 s"},
    {"module_missing", Input::kGoodWav, "MODULE={dir}/none.so", nullptr,
     "cannot load module library"},
    {"module_without_main", Input::kGoodWav, "MODULE=" NO_MAIN_LIBRARY, nullptr, "exports no main"},
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class BadInputTest : public CliTest, public ::testing::WithParamInterface<BadCase> {};

std::string Expand(std::string text, const std::string& dir) {
  for (size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, dir);
  return text;
}

TEST_P(BadInputTest, FailsWithOneLineAndWritesNothing) {
  const BadCase& c = GetParam();
  std::string in = Path("in.wav");
  switch (c.input) {
    case Input::kGoodWav:
      WriteWav(in, Glide(4000, 8000, 300, 300), 8000);
      break;
    case Input::kMissing:
      in = Path("missing.wav");
      break;
    case Input::kFolder:
      in = m_dir;
      break;
    case Input::kText:
      WriteText(in, "this is not a sound\n");
      break;
    case Input::kEmpty:
      WriteText(in, "");
      break;
    case Input::kNoFrames:
      WriteWav(in, {}, 8000);
      break;
    case Input::kStereo:
      WriteWav(in, std::vector<float>(800, 0.5f), 8000, 2);
      break;
  }
  if (c.events != nullptr) WriteText(Path("events.txt"), c.events);
  ASSERT_EQ(mkdir(Path("out").c_str(), 0777), 0);

  std::string options = Expand(c.options, m_dir), out = Path("out/out.wav"), module;
  if (options.compare(0, 4, "OUT=") == 0) out = options.substr(4), options.clear();
  if (options.compare(0, 7, "MODULE=") == 0)
    module = "--module '" + options.substr(7) + "' ", options.clear();
  std::set<std::string> before = Listing(m_dir);

  Result r = Run(module + "render '" + in + "' '" + out + "' --csv '" + Path("out/out.csv") + "' " +
                 options);
  EXPECT_NE(r.code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("tonevolt: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(Listing(Path("out")), std::set<std::string>{}) << "left behind in out/";
  before.insert("out");
  EXPECT_EQ(Listing(m_dir), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInputTest, ::testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// -------------------------------------------------- CSV, PNG and demo

// A PNG file: signature, an IHDR chunk first, an IEND chunk last.
void ExpectPng(const std::string& path, uint32_t* width, uint32_t* height) {
  std::string png = ReadFile(path);
  ASSERT_GT(png.size(), 8u + 25u + 12u) << path;
  EXPECT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0) << path;
  EXPECT_EQ(png.compare(12, 4, "IHDR"), 0) << path;
  EXPECT_EQ(png.compare(png.size() - 8, 4, "IEND"), 0) << path;
  auto be32 = [&](size_t at) {
    return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) |
           (uint32_t(uint8_t(png[at + 2])) << 8) | uint32_t(uint8_t(png[at + 3]));
  };
  *width = be32(16);
  *height = be32(20);
}

std::vector<std::vector<std::string>> CsvRows(const std::string& text, std::string* header) {
  std::istringstream lines(text);
  std::getline(lines, *header);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
    rows.push_back(fields);
  }
  return rows;
}

TEST_F(CliTest, RenderWritesCsvAndPng) {
  const int rate = 16000;
  std::vector<float> input = Glide(4000, rate, 220, 880);
  WriteWav(Path("in.wav"), input, rate);
  Result r = Run("render '" + Path("in.wav") + "' '" + Path("out.wav") + "' --octave -1 --csv '" +
                 Path("out.csv") + "' --plot '" + Path("out.png") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<float> output = ReadMono(Path("out.wav"));

  std::string header;
  auto rows = CsvRows(ReadFile(Path("out.csv")), &header);
  EXPECT_EQ(header, "time_s,input,output_volts,implied_hz");
  ASSERT_EQ(rows.size(), input.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 4u) << "row " << i;
    EXPECT_NEAR(std::stod(rows[i][0]), double(i) / rate, 1e-6) << "row " << i;
    EXPECT_EQ(std::stof(rows[i][1]), input[i]) << "row " << i;
    EXPECT_NEAR(std::stod(rows[i][2]), 10.0 * output[i], 1e-7) << "row " << i;
    // 1 V/kHz, run at the module's 44100 Hz, one octave down: Hz = value * 10000 * 2.
    // A value at or below zero implies no frequency.
    EXPECT_NEAR(std::stod(rows[i][3]), std::max(0.0, output[i] * 10000.0 * 2.0),
                1e-5 * (1.0 + std::fabs(output[i]) * 1e4))
        << "row " << i;
  }
  uint32_t width = 0, height = 0;
  ExpectPng(Path("out.png"), &width, &height);
  EXPECT_GE(width, 800u);
  EXPECT_GE(height, 400u);
}

// The demo's 1 V/kHz sine readings agree with what the module's constants
// predict: pulse height 1.0022 and gain 2.2 (float32) give 0.99993 V/kHz at
// 44100 Hz, 1200 * log2(0.999927...) = -0.1256 cents.
TEST_F(CliTest, DemoTableMatchesTheCalibration) {
  Result r = Run("demo --out '" + Path("demo") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("1 V/kHz\nwave"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 V/oct\nwave"), std::string::npos) << r.out;

  const double predicted =
      1200.0 * std::log2(double(1.0022f) * double(2.2f) * 2.0 / 44100.0 * 10000.0);
  std::string header;
  auto rows = CsvRows(ReadFile(Path("demo/demo.csv")), &header);
  EXPECT_EQ(header,
            "scale,wave,note,input_hz,output_volts,implied_hz,error_cents,ripple_mv,settling_ms");
  int sines = 0;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 9u);
    if (row[0] != "1 V/kHz" || row[1] != "sine") continue;
    ++sines;
    SCOPED_TRACE(row[2]);
    EXPECT_NEAR(std::stod(row[6]), predicted, 0.1);
    double volts = std::stod(row[3]) / 1000.0 * 0.99993;  // 0.99993 V/kHz
    EXPECT_NEAR(std::stod(row[4]), volts, 6e-5 * volts);  // 0.1 cents
    EXPECT_GT(std::stod(row[8]), 0.0);
    EXPECT_LT(std::stod(row[8]), 100.0);  // a 40 Hz pole settles within tens of ms
  }
  EXPECT_GE(sines, 7);  // A1 to A7 at least

  int rate = 0;
  std::vector<float> signal = ReadMono(Path("demo/signal.wav"), &rate);
  EXPECT_EQ(rate, 44100);
  EXPECT_TRUE(SameSamples(ReadMono(Path("demo/output-khz.wav")), DriveDirectly(signal, rate, {})));
  DirectSettings oct;
  oct.scale_index = 1;
  EXPECT_TRUE(SameSamples(ReadMono(Path("demo/output-oct.wav")), DriveDirectly(signal, rate, oct)));
  uint32_t width = 0, height = 0;
  ExpectPng(Path("demo/demo.png"), &width, &height);
}

// A real recording: Debian's alsa-utils sounds.
TEST_F(CliTest, RendersARealRecording) {
  const std::string recording = "/usr/share/sounds/alsa/Front_Center.wav";
  if (!Exists(recording)) GTEST_SKIP() << recording << " is not installed (alsa-utils)";
  Result r = Run("render " + recording + " '" + Path("out.wav") + "' --scale oct");
  ASSERT_EQ(r.code, 0) << r.err;
  SF_INFO info{};
  SNDFILE* file = sf_open(recording.c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr);
  sf_close(file);
  int rate = 0;
  EXPECT_EQ(ReadMono(Path("out.wav"), &rate).size(), static_cast<size_t>(info.frames));
  EXPECT_EQ(rate, info.samplerate);
  EXPECT_NE(r.out.find("Reading Hz"), std::string::npos) << r.out;
}

}  // namespace

// A melody in one channel of a stereo file, the other silent: read from
// the silent one, both commands say where the sound is; read from the
// other, neither does.
TEST_F(CliTest, SilentChannelPointsToTheOneWithSound) {
  constexpr int kRate = 44100;
  std::vector<float> stereo;
  for (int i = 0; i < 2 * kRate; ++i) {
    const double hz = i < kRate ? 220 : 330;
    stereo.push_back(0.0f);
    stereo.push_back(static_cast<float>(0.5 * std::sin(2 * M_PI * hz * i / kRate)));
  }
  WriteWav(Path("stereo.wav"), stereo, kRate, 2);
  const std::string hint =
      "channel 0 is silent and channel 1 holds the sound (peak -6 dBFS): try --channel 1";
  Result render = Run("render '" + Path("stereo.wav") + "'");
  EXPECT_EQ(render.code, 0) << render.err;
  EXPECT_NE(render.out.find("Channel   " + hint), std::string::npos) << render.out;
  Result advise = Run("advise '" + Path("stereo.wav") + "'");
  EXPECT_EQ(advise.code, 1) << advise.out;
  EXPECT_NE(advise.out.find("Channel   " + hint), std::string::npos) << advise.out;
  EXPECT_NE(advise.err.find(hint), std::string::npos) << advise.err;
  for (const char* command : {"render", "advise"}) {
    Result heard = Run(std::string(command) + " '" + Path("stereo.wav") + "' --channel 1");
    EXPECT_EQ(heard.code, 0) << heard.err;
    EXPECT_EQ(heard.out.find("Channel "), std::string::npos) << heard.out;
  }
}
