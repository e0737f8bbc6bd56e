// The tool as a normal command that never loses a user's data: refusals,
// streaming in bounded memory, interruptions, standard input, reproducible
// files. Every case runs the built program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CliRig.h"

namespace {

// ------------------------------------------------ a normal command

struct CommandCase {
  const char* name;
  const char* args;  // {dir} stands for the test folder, {in} for its in.wav
  int code;
  const char* stdout_has;  // part of standard output, or null for empty
  const char* stderr_has;  // part of standard error, or null for empty
  const char* created;     // the one file it leaves beside in.wav, or null
};

const CommandCase kCommandCases[] = {
    {"no_arguments_prints_usage_to_stderr", "", 2, nullptr, "usage: tonevolt", nullptr},
    {"version", "--version", 0, "tonevolt " TONEVOLT_VERSION "\n", nullptr, nullptr},
    {"help", "render --help", 0, "--csv-every STEP", nullptr, nullptr},
    {"render_without_out_prints_the_summary", "render {in}", 0, "no OUT given: not written",
     nullptr, nullptr},
    {"render_csv_only", "render {in} --csv {dir}/c.csv", 0, "CSV       {dir}/c.csv", nullptr,
     "c.csv"},
    {"option_equals_value", "render {in} --cutoff=20 --scale=oct", 0,
     "cutoff 20 Hz, octave 0, 1 V/oct", nullptr, nullptr},
    {"global_option_after_the_command", "render {in} --module " TONEVOLT_MODULE, 0, "Reading Hz",
     nullptr, nullptr},
    {"global_option_after_the_command_with_equals", "describe --module=" TONEVOLT_MODULE, 0,
     "Filter Cutoff", nullptr, nullptr},
    {"module_is_a_plain_file_name", "describe --module in.wav", 1, nullptr,
     "cannot load module library: ./in.wav", nullptr},
    {"render_needs_in", "render", 2, nullptr, "render needs IN", nullptr},
    {"render_takes_at_most_out", "render {in} {dir}/a.wav {dir}/b.wav", 2, nullptr,
     "render needs IN and at most one OUT (got 3 arguments)", nullptr},
    {"csv_every_needs_csv", "render {in} --csv-every 10", 2, nullptr, "--csv-every needs --csv",
     nullptr},
    {"csv_every_zero", "render {in} --csv {dir}/c.csv --csv-every 0", 2, nullptr,
     "less than one sample", nullptr},
    {"csv_every_under_a_sample", "render {in} --csv {dir}/c.csv --csv-every 0.00001s", 2, nullptr,
     "less than one sample at 8000 Hz", nullptr},
    {"csv_every_fraction_of_samples", "render {in} --csv {dir}/c.csv --csv-every 2.5", 2, nullptr,
     "not a number of samples", nullptr},
    {"demo_out_empty", "demo --out ''", 2, nullptr, "--out needs a folder", nullptr},
    {"unknown_command", "play {in}", 2, nullptr, "unknown command 'play'", nullptr},
    {"advise_help", "advise --help", 0, "advise IN | --notes LOW-HIGH", nullptr, nullptr},
    {"advise_needs_in", "advise", 2, nullptr, "advise needs IN, or --notes LOW-HIGH", nullptr},
    {"advise_reads_a_file_twice", "advise - < {in}", 2, nullptr, "give a file, not standard input",
     nullptr},
    {"advise_in_or_notes", "advise {in} --notes E1-A3", 2, nullptr,
     "IN or --notes LOW-HIGH, not both", nullptr},
    {"advise_notes_downwards", "advise --notes A3-E1", 2, nullptr, "'A3-E1' runs downwards",
     nullptr},
    {"advise_notes_without_a_range", "advise --notes E1", 2, nullptr, "'E1' is not LOW-HIGH",
     nullptr},
    {"advise_notes_plot", "advise --notes E1-A3 --plot {dir}/a.png", 2, nullptr,
     "--plot is for advise IN, not --notes", nullptr},
    {"advise_a_glide_has_no_note", "advise {in}", 1, "Pitch     no note",
     "in.wav: no note to advise on", nullptr},
    // Both commands take a plot by the same rule: .png in any case.
    {"render_plot_in_capitals", "render {in} --plot {dir}/P.PNG", 0, "Plot      {dir}/P.PNG",
     nullptr, "P.PNG"},
    {"render_plot_not_png", "render {in} --plot {dir}/p.jpg", 2, nullptr, "is not a .png file",
     nullptr},
    {"advise_plot_in_capitals", "advise {in} --plot {dir}/P.PNG", 1, "Pitch     no note",
     "in.wav: no note to advise on", nullptr},
    {"advise_plot_not_png", "advise {in} --plot {dir}/p.jpg", 2, nullptr, "is not a .png file",
     nullptr},
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

std::string Expand(std::string text, const std::string& dir) {
  for (size_t at; (at = text.find("{in}")) != std::string::npos;)
    text.replace(at, 4, "{dir}/in.wav");
  for (size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, dir);
  return text;
}

class CommandTest : public CliTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTest, BehavesLikeANormalCommand) {
  const CommandCase& c = GetParam();
  WriteWav(Path("in.wav"), Glide(4000, 8000, 300, 600), 8000);
  // From the test folder, so that a plain file name is looked up there.
  Result r = Run(Expand(c.args, m_dir), "cd '" + m_dir + "' &&");
  EXPECT_EQ(r.code, c.code) << r.err;
  if (c.stdout_has == nullptr) {
    EXPECT_EQ(r.out, "");
  } else {
    EXPECT_NE(r.out.find(Expand(c.stdout_has, m_dir)), std::string::npos) << r.out;
  }
  if (c.stderr_has == nullptr) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find(c.stderr_has), std::string::npos) << r.err;
    if (c.code != 0 && std::string(c.args) != "") {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
  }
  std::set<std::string> expected = {"in.wav"};
  if (c.created != nullptr) expected.insert(c.created);
  EXPECT_EQ(Listing(m_dir), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandTest, ::testing::ValuesIn(kCommandCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A module library built for another machine (the synthesizer's 32-bit
// Tonevolt.so, or its DLL) is named as such, not with the loader's words.
TEST_F(CliTest, ModuleForAnotherMachineIsNamedAsSuch) {
  struct Foreign {
    const char* file;
    std::string head;  // the file's first bytes: enough for the loader to refuse it
    const char* says;
  };
  std::string elf32(52, '\0');
  elf32.replace(0, 7,
                "\x7f"
                "ELF\x01\x01\x01");
  elf32[16] = 3, elf32[18] = 3;  // a shared object for i386
  const Foreign cases[] = {
      {"i386.so", elf32, "i386.so is a module built for i386 (32-bit); this program is built for"},
      {"Tonevolt.dll", std::string("MZ\x90\0", 4) + std::string(60, '\0'),
       "Tonevolt.dll is a module built for Windows"},
  };
  for (const Foreign& c : cases) {
    WriteText(Path(c.file), c.head);
    Result r = Run("describe --module '" + Path(c.file) + "'");
    EXPECT_EQ(r.code, 1) << c.file;
    EXPECT_EQ(r.out, "") << c.file;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

// A name for the program on PATH, as a symlink in another folder: the module
// is still found beside the real program.
TEST_F(CliTest, RunsThroughASymlinkOnPath) {
  ASSERT_EQ(mkdir(Path("bin").c_str(), 0777), 0);
  ASSERT_EQ(symlink(TONEVOLT_PROGRAM, Path("bin/tonevolt").c_str()), 0);
  std::string command = "cd / && PATH='" + Path("bin") + "':\"$PATH\" tonevolt describe >'" + m_io +
                        "/stdout' 2>'" + m_io + "/stderr'";
  int status = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << ReadFile(m_io + "/stderr");
  EXPECT_NE(ReadFile(m_io + "/stdout").find("Filter Cutoff"), std::string::npos);
}

// --csv-every: a row every STEP samples, or at every STEP seconds.
TEST_F(CliTest, CsvEveryStepWritesRowsAtThoseSamples) {
  const int rate = 8000;
  WriteWav(Path("in.wav"), Glide(rate, rate, 200, 400), rate);
  const struct {
    const char* step;
    std::vector<size_t> first_rows;  // sample numbers of the first rows
    size_t rows;
  } kSteps[] = {
      {"1", {0, 1, 2, 3}, 8000},         {"441", {0, 441, 882, 1323}, 19},
      {"0.01s", {0, 80, 160, 240}, 100}, {"0.0125s", {0, 100, 200, 300}, 80},
      {"0.000375s", {0, 3, 6, 9}, 2667},  // exactly 3 samples
  };
  std::vector<float> full;
  for (const auto& s : kSteps) {
    SCOPED_TRACE(s.step);
    Result r = Run("render '" + Path("in.wav") + "' --csv '" + Path("out.csv") + "' --csv-every " +
                   s.step);
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream lines(ReadFile(Path("out.csv")));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "time_s,input,output_volts,implied_hz");
    std::vector<double> times;
    while (std::getline(lines, line)) times.push_back(std::stod(line.substr(0, line.find(','))));
    EXPECT_EQ(times.size(), s.rows);
    for (size_t k = 0; k < s.first_rows.size() && k < times.size(); ++k)
      EXPECT_NEAR(times[k], double(s.first_rows[k]) / rate, 1e-7) << "row " << k;
  }
}

// A sine of exactly A4 reads 0.126 cents flat in 1 V/kHz (the calibration):
// rounded, that is +0 c, never -0 c.
TEST_F(CliTest, SummaryNeverPrintsMinusZeroCents) {
  std::vector<float> sine(44100);
  for (size_t i = 0; i < sine.size(); ++i)
    sine[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * 440.0 * (i + 0.25) / 44100));
  WriteWav(Path("a4.wav"), sine, 44100);
  Result r = Run("render '" + Path("a4.wav") + "' --cutoff 10 --order 2");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("A4 +0 c"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("-0 c"), std::string::npos) << r.out;
}

// ----------------------------------------------- no output on an input

enum class Setup { kNone, kSymlinkToIn, kHardLinkToIn, kPngLinkToIn };

struct ClashCase {
  const char* name;
  Setup setup;
  const char* args;  // {dir}: the test folder, {in}: its in.wav
  const char* message;
};

const ClashCase kClashCases[] = {
    {"out_is_in", Setup::kNone, "render {in} {in}", "OUT {dir}/in.wav is the input IN"},
    {"out_is_in_by_another_name", Setup::kNone, "render {in} {dir}/./in.wav",
     "OUT {dir}/./in.wav is the input IN {dir}/in.wav"},
    {"out_is_a_symlink_to_in", Setup::kSymlinkToIn, "render {in} {dir}/link.wav",
     "OUT {dir}/link.wav is the input IN"},
    {"out_is_a_hard_link_to_in", Setup::kHardLinkToIn, "render {in} {dir}/hard.wav",
     "OUT {dir}/hard.wav is the input IN"},
    {"csv_is_in", Setup::kNone, "render {in} {dir}/out.wav --csv {in}",
     "--csv {dir}/in.wav is the input IN"},
    {"plot_is_in", Setup::kPngLinkToIn, "render {in} --plot {dir}/link.png",
     "--plot {dir}/link.png is the input IN"},
    {"csv_is_out", Setup::kNone, "render {in} {dir}/out.wav --csv {dir}/out.wav",
     "--csv {dir}/out.wav is the same file as OUT"},
    {"csv_and_plot_are_one_file", Setup::kNone, "render {in} --csv {dir}/x.png --plot {dir}/x.png",
     "--plot {dir}/x.png is the same file as --csv"},
    {"csv_is_the_events_file", Setup::kNone,
     "render {in} --events {dir}/events.txt --csv {dir}/events.txt",
     "--csv {dir}/events.txt is the input --events"},
    {"csv_is_the_module", Setup::kNone, "render {in} --csv " TONEVOLT_MODULE,
     "is the input --module"},
    {"out_is_standard_input", Setup::kNone, "render - {in} < {in}",
     "OUT {dir}/in.wav is the input IN (standard input)"},
    {"advise_plot_is_in", Setup::kPngLinkToIn, "advise {in} --plot {dir}/link.png",
     "--plot {dir}/link.png is the input IN"},
};

void PrintTo(const ClashCase& c, std::ostream* os) { *os << c.name; }

class ClashTest : public CliTest, public ::testing::WithParamInterface<ClashCase> {};

TEST_P(ClashTest, RefusesWithOneLineAndTouchesNothing) {
  const ClashCase& c = GetParam();
  WriteWav(Path("in.wav"), Glide(4000, 8000, 300, 600), 8000);
  WriteText(Path("events.txt"), "0.1s Octave +1\n");
  switch (c.setup) {
    case Setup::kNone:
      break;
    case Setup::kSymlinkToIn:
      ASSERT_EQ(symlink("in.wav", Path("link.wav").c_str()), 0);
      break;
    case Setup::kHardLinkToIn:
      ASSERT_EQ(link(Path("in.wav").c_str(), Path("hard.wav").c_str()), 0);
      break;
    case Setup::kPngLinkToIn:
      ASSERT_EQ(symlink("in.wav", Path("link.png").c_str()), 0);
      break;
  }
  const std::string in_bytes = ReadFile(Path("in.wav"));
  const std::string module_bytes = ReadFile(TONEVOLT_MODULE);
  const std::set<std::string> before = Listing(m_dir);

  Result r = Run(Expand(c.args, m_dir));
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("tonevolt: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(Expand(c.message, m_dir)), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(ReadFile(Path("in.wav")), in_bytes);
  EXPECT_EQ(ReadFile(TONEVOLT_MODULE), module_bytes);
  EXPECT_EQ(Listing(m_dir), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, ClashTest, ::testing::ValuesIn(kClashCases),
                         [](const auto& info) { return std::string(info.param.name); });

// An existing unrelated output is replaced, as docs/tool.md says.
TEST_F(CliTest, ReplacesAnExistingOutput) {
  WriteWav(Path("in.wav"), Glide(4000, 8000, 300, 600), 8000);
  WriteText(Path("out.wav"), "an older file");
  WriteText(Path("out.csv"), "an older file");
  Result r = Run("render '" + Path("in.wav") + "' '" + Path("out.wav") + "' --csv '" +
                 Path("out.csv") + "'");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadMono(Path("out.wav")).size(), 4000u);
  EXPECT_EQ(ReadFile(Path("out.csv")).rfind("time_s,", 0), 0u);
  EXPECT_EQ(Listing(m_dir), (std::set<std::string>{"in.wav", "out.wav", "out.csv"}));
}

// ------------------------------------------------ failures leave nothing

TEST_F(CliTest, MissingGnuplotIsReportedBeforeAnyWork) {
  WriteWav(Path("in.wav"), Glide(4000, 8000, 300, 600), 8000);
  ASSERT_EQ(mkdir(Path("empty").c_str(), 0777), 0);
  Result r = Run("render '" + Path("in.wav") + "' '" + Path("out.wav") + "' --csv '" +
                     Path("out.csv") + "' --plot '" + Path("out.png") + "'",
                 "PATH='" + Path("empty") + "'");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("--plot needs gnuplot"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("apt-get install gnuplot-nox"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(Listing(m_dir), (std::set<std::string>{"in.wav", "empty"}));
}

// A long render, interrupted once its temporary files exist: every one of
// them is removed, one line says so, and the exit code is 128 + the signal.
TEST_F(CliTest, InterruptionRemovesEveryTemporaryFile) {
  // Ten minutes at 8 kHz, a CSV row per sample: many seconds of work.
  {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(Path("long.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> minute = Glide(8000 * 60, 8000, 100, 1000);
    for (int m = 0; m < 10; ++m) sf_writef_float(file, minute.data(), minute.size());
    sf_close(file);
  }
  const struct { int signal_number, code; } kSignals[] = {{SIGINT, 130}, {SIGTERM, 143}};
  for (const auto& s : kSignals) {
    SCOPED_TRACE(s.signal_number);
    pid_t pid = Start({"render", Path("long.wav"), Path("out.wav"), "--csv", Path("out.csv"),
                       "--plot", Path("out.png")});
    ASSERT_GT(pid, 0);
    // Interrupted once all three temporary files exist.
    for (int wait = 0; wait < 1000 && Listing(m_dir).size() < 4; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Listing(m_dir).size(), 4u) << "the temporary files did not appear";
    kill(pid, s.signal_number);
    Ended ended = Wait(pid);
    EXPECT_EQ(ended.code, s.code);
    EXPECT_EQ(ended.err, "tonevolt: interrupted; nothing written\n");
    EXPECT_EQ(Listing(m_dir), std::set<std::string>{"long.wav"});
  }
}

// ------------------------------------------------------ what is read

TEST_F(CliTest, TruncatedFileGivesAWarningAndIsProcessed) {
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(Path("whole.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr);
  std::vector<float> samples = Glide(8000, 8000, 300, 600);
  sf_writef_float(file, samples.data(), samples.size());
  sf_close(file);
  // The header promises 8000 frames; 3000 of them remain.
  std::string whole = ReadFile(Path("whole.wav"));
  WriteText(Path("cut.wav"), whole.substr(0, whole.size() - 2 * 5000));

  Result r = Run("render '" + Path("cut.wav") + "' '" + Path("out.wav") + "'");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "tonevolt: warning: " + Path("cut.wav") +
                       " is truncated: read 3000 frames of the 8000 its header promises; "
                       "processing those\n");
  EXPECT_EQ(ReadMono(Path("out.wav")).size(), 3000u);
  EXPECT_NE(r.out.find("(3000 samples)"), std::string::npos) << r.out;
}

// A 3 GB recording (sparse: written in no time) opens on i386 too.
TEST_F(CliTest, OpensFilesPastTwoGigabytes) {
  const uint32_t data_bytes = 3000000000u;
  std::string header = "RIFF" + std::string(4, '\0') + "WAVEfmt ";
  const uint32_t fields[] = {16, 1 | (1 << 16), 44100, 88200, 2 | (16 << 16)};
  for (uint32_t field : fields) header.append(reinterpret_cast<const char*>(&field), 4);
  header += "data";
  header.append(reinterpret_cast<const char*>(&data_bytes), 4);
  const uint32_t riff_bytes = data_bytes + 36;
  header.replace(4, 4, reinterpret_cast<const char*>(&riff_bytes), 4);
  WriteText(Path("big.wav"), header);
  ASSERT_EQ(truncate(Path("big.wav").c_str(), off_t{44} + data_bytes), 0);
  // A channel it lacks: refused once the header is read, before the samples.
  Result r = Run("render '" + Path("big.wav") + "' --channel 1");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("has no channel 1 (it has 1"), std::string::npos) << r.err;
}

struct StdinCase {
  const char* name;
  int format;
  const char* before;  // shell text before the program; {file} is the input
  const char* error;   // null: reads it, and the output equals the file's
};

const StdinCase kStdinCases[] = {
    {"wav_from_a_pipe", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "cat {file} |", nullptr},
    {"au_from_a_pipe", SF_FORMAT_AU | SF_FORMAT_FLOAT, "cat {file} |", nullptr},
    {"aiff_from_a_pipe", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, "cat {file} |", nullptr},
    {"flac_redirected_from_a_file", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "< {file}", nullptr},
    {"flac_from_a_pipe", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "cat {file} |",
     "standard input: not an audio format libsndfile can read from a pipe"},
    {"caf_from_a_pipe", SF_FORMAT_CAF | SF_FORMAT_PCM_16, "cat {file} |",
     "standard input: libsndfile cannot read CAF"},
};

void PrintTo(const StdinCase& c, std::ostream* os) { *os << c.name; }

class StdinTest : public CliTest, public ::testing::WithParamInterface<StdinCase> {};

TEST_P(StdinTest, StandardInputEqualsTheFileOrIsRefused) {
  const StdinCase& c = GetParam();
  WriteAudio(Path("in.snd"), Glide(6000, 8000, 300, 900), 8000, 1, c.format);
  Result from_file = Run("render '" + Path("in.snd") + "' '" + Path("file.wav") + "'");
  ASSERT_EQ(from_file.code, 0) << from_file.err;
  std::string before = c.before;
  before.replace(before.find("{file}"), 6, "'" + Path("in.snd") + "'");
  Result r = Run("render - '" + Path("stdin.wav") + "'", before);
  if (c.error != nullptr) {
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(Exists(Path("stdin.wav")));
    return;
  }
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(SameSamples(ReadMono(Path("stdin.wav")), ReadMono(Path("file.wav"))));
  EXPECT_NE(r.out.find("Input     standard input:"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Cases, StdinTest, ::testing::ValuesIn(kStdinCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------- what is written

// The same input and options give the same bytes, in every container: no
// PEAK chunk (it carries the time of writing) or other time stamp.
TEST_F(CliTest, OutputsAreByteIdenticalFromRunToRun) {
  WriteWav(Path("in.wav"), Glide(8000, 8000, 300, 600), 8000);
  const char* const kExtensions[] = {"wav", "aiff", "caf", "au", "w64"};
  auto render_all = [&](const std::string& run) {
    for (const char* ext : kExtensions) {
      std::string out = Path(run + "." + ext);
      std::string extra = std::string(ext) == "wav" ? " --csv '" + Path(run + ".csv") +
                                                          "' --plot '" + Path(run + ".png") + "'"
                                                    : "";
      Result r = Run("render '" + Path("in.wav") + "' '" + out + "'" + extra);
      ASSERT_EQ(r.code, 0) << r.err;
    }
  };
  render_all("first");
  // A second later, so that a time stamp in seconds would differ.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  render_all("second");
  for (const char* ext : {"wav", "aiff", "caf", "au", "w64", "csv", "png"}) {
    SCOPED_TRACE(ext);
    std::string first = ReadFile(Path(std::string("first.") + ext));
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, ReadFile(Path(std::string("second.") + ext)));
    EXPECT_EQ(first.find("PEAK"), std::string::npos);
  }
}

// Memory does not grow with the input: a 20-minute file with a CSV row
// every 441 samples stays far under 64 MB, about as much as a 2-minute one.
TEST_F(CliTest, LongFilesRenderInBoundedMemory) {
#ifdef TONEVOLT_SANITIZED
  GTEST_SKIP() << "the sanitizers' shadow memory dwarfs the tool's own";
#endif
  const int rate = 44100;
  const std::vector<float> minute = Glide(rate * 60, rate, 100, 2000);
  auto write_minutes = [&](const std::string& path, int minutes) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    for (int m = 0; m < minutes; ++m) sf_writef_float(file, minute.data(), minute.size());
    sf_close(file);
  };
  long peak_kb[2];
  const int kMinutes[] = {2, 20};
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(kMinutes[k]);
    write_minutes(Path("long.wav"), kMinutes[k]);
    Ended ended = Wait(Start({"render", Path("long.wav"), Path("out.wav"), "--csv", Path("out.csv"),
                              "--csv-every", "441", "--plot", Path("out.png")}));
    ASSERT_EQ(ended.code, 0) << ended.err;
    EXPECT_NE(ended.out.find("(" + std::to_string(uint64_t(kMinutes[k]) * 60 * rate) + " samples)"),
              std::string::npos)
        << ended.out;
    peak_kb[k] = ended.peak_rss_kb;
  }
  EXPECT_LT(peak_kb[1], 64 * 1024);
  EXPECT_LT(peak_kb[1], peak_kb[0] + 4 * 1024) << "2 minutes: " << peak_kb[0] << " kB";
}

}  // namespace
