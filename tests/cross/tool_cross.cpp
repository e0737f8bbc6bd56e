// tonevolt_tool_cross NATIVE_TONEVOLT I386_TONEVOLT WORK_DIR
//
// The native tool against the same tool built for i386, which drives the
// 32-bit module: a corpus of short files, each rendered by both programs with
// the same arguments, from folders of their own (WORK_DIR/native and
// WORK_DIR/i386) so that every path they print is the same.
//
// What must be equal, else the check fails:
// - the exit codes;
// - OUT, sample for sample, bit for bit (the samples, not the files);
// - the CSV files and standard error, line for line;
// - standard output, except what the reliability check decides: it takes
//   spectra with libfftw3f, whose i386 build may round otherwise than the
//   x86-64 one, and a frame a bit off can flip a mark. Those are the
//   "Check ..." lines with their indented continuations, the "; N
//   unreliable" count, and in each row of the note table the Note and Check
//   columns (the note name is printed only where the check says ok). Start,
//   end, reading and ripple are the module's and must be equal. Text that
//   differs there is printed, and fails nothing.
//
// Files not at 44100 Hz go through libsoxr on the way in (unless
// --native-rate), whose two builds differ in the last bits of a sample; the
// module's crossings seldom move for that, but anything the tool derives from
// those bits shows here.
//
// Exit status: 0 all equal, 1 something differs, 77 the i386 program is
// missing or does not run here.
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "RealNotes.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Signal {
  int rate;
  std::vector<float> samples;
};

bool WriteWav(const std::string& path, const Signal& signal, int format) {
  SF_INFO info{};
  info.samplerate = signal.rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return false;
  sf_count_t n = static_cast<sf_count_t>(signal.samples.size());
  bool ok = sf_writef_float(file, signal.samples.data(), n) == n;
  return sf_close(file) == 0 && ok;
}

// All frames of the file's first channel, or false when it cannot be read.
bool ReadChannel0(const std::string& path, int* rate, int* channels, std::vector<float>* out) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return false;
  std::vector<float> all(static_cast<size_t>(info.frames * info.channels));
  sf_count_t got = sf_readf_float(file, all.data(), info.frames);
  sf_close(file);
  out->clear();
  for (sf_count_t i = 0; i < got; ++i) out->push_back(all[i * info.channels]);
  *rate = info.samplerate;
  *channels = info.channels;
  return got == info.frames;
}

// A periodic wave of `hz`: shape maps the phase in [0, 1) to a value.
Signal Wave(int rate, double hz, double seconds, const std::function<double(double)>& shape,
            double silence_s = 0) {
  Signal s{rate, {}};
  const size_t gap = static_cast<size_t>(silence_s * rate);
  const size_t n = static_cast<size_t>(seconds * rate);
  s.samples.assign(gap, 0.0f);
  for (size_t i = 0; i < n; ++i) {
    double phase = std::fmod(hz * i / rate, 1.0);
    s.samples.push_back(static_cast<float>(0.5 * shape(phase)));
  }
  return s;
}

double Sine(double phase) { return std::sin(2 * kPi * phase); }
double Saw(double phase) { return 2 * phase - 1; }
double Square(double phase) { return phase < 0.5 ? 1 : -1; }

// An exponential glide from lo to hi.
Signal Sweep(int rate, double lo, double hi, double seconds) {
  Signal s{rate, {}};
  double phase = 0;
  const size_t n = static_cast<size_t>(seconds * rate);
  for (size_t i = 0; i < n; ++i) {
    s.samples.push_back(static_cast<float>(0.5 * std::sin(2 * kPi * phase)));
    phase += lo * std::pow(hi / lo, static_cast<double>(i) / n) / rate;
  }
  return s;
}

// White noise from a fixed seed: the same file every run.
Signal Noise(int rate, double seconds) {
  Signal s{rate, {}};
  uint32_t state = 12345;
  const size_t n = static_cast<size_t>(seconds * rate);
  for (size_t i = 0; i < n; ++i) {
    state = state * 1664525u + 1013904223u;
    s.samples.push_back(static_cast<float>(0.5 * ((state >> 8) / 8388608.0 - 1.0)));
  }
  return s;
}

// A note with harmonics 1/k, faded in and out over 10 ms: a stand-in for a
// real instrument where fluidsynth or its soundfont is missing.
std::vector<float> HarmonicNote(int rate, int midi, double seconds) {
  const double hz = 440 * std::pow(2.0, (midi - 69) / 12.0);
  const size_t n = static_cast<size_t>(seconds * rate), fade = rate / 100;
  std::vector<float> note(n);
  for (size_t i = 0; i < n; ++i) {
    double v = 0;
    for (int k = 1; k <= 6 && k * hz < rate / 2.0; ++k)
      v += std::sin(2 * kPi * k * hz * i / rate) / k;
    double edge = std::min({1.0, static_cast<double>(i) / fade, static_cast<double>(n - i) / fade});
    note[i] = static_cast<float>(0.3 * edge * v);
  }
  return note;
}

// Notes of one General MIDI program, each cut to `seconds`, one after
// another; harmonic tones instead when fluidsynth cannot make them.
Signal Melody(int rate, int program, const std::vector<int>& notes, double seconds, bool real,
              std::string* error) {
  Signal s{rate, {}};
  for (int midi : notes) {
    std::vector<float> note;
    if (real) {
      std::string path = real_notes::Note(program, midi, rate);
      int file_rate = 0, channels = 0;
      if (path.empty() || !ReadChannel0(path, &file_rate, &channels, &note) || file_rate != rate) {
        *error = "fluidsynth did not render program " + std::to_string(program) + " note " +
                 std::to_string(midi);
        return s;
      }
      note.resize(static_cast<size_t>(seconds * rate));
    } else {
      note = HarmonicNote(rate, midi, seconds);
    }
    s.samples.insert(s.samples.end(), note.begin(), note.end());
  }
  return s;
}

struct Input {
  std::string name;
  Signal signal;
  int format;
};

struct Item {
  std::string name;
  std::string input;
  std::vector<std::string> args;  // after IN; OUT is always given
  bool csv = false;
};

// A child's exit code, 128 + the signal for one killed by a signal; -1 when
// it could not be started.
int Run(const std::string& program, const std::string& dir, const std::vector<std::string>& args,
        const std::string& out_path, const std::string& err_path) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The module's part of each line of render's summary, in order; the
// check's lines and columns are left out (see the top of the file).
std::vector<std::string> ModulePart(const std::vector<std::string>& lines) {
  std::vector<std::string> kept;
  bool in_check = false, in_table = false;
  for (const std::string& line : lines) {
    const bool continued = line.compare(0, 10, std::string(10, ' ')) == 0;
    if (line.compare(0, 10, "Check     ") == 0 || (in_check && continued)) {
      in_check = true;
      continue;
    }
    in_check = false;
    if (line.compare(0, 10, "Notes     ") == 0 || line.compare(0, 10, "Slices    ") == 0) {
      kept.push_back(line.substr(0, line.find("; ")));
      continue;
    }
    if (line.compare(0, 9, "Start (s)") == 0) in_table = true;
    std::istringstream row(line);
    std::vector<std::string> t;
    for (std::string word; row >> word;) t.push_back(word);
    if (in_table && !continued && t.size() >= 5 &&
        std::isdigit(static_cast<unsigned char>(t[0][0]))) {
      // Start, end, reading, then the note ("-" or "A3 +0 c") and the ripple ("-" or "12 c").
      size_t ripple = t[3] == "-" ? 4 : 6;
      std::string kept_row = t[0] + " " + t[1] + " " + t[2] + " ripple";
      if (ripple < t.size()) kept_row += " " + t[ripple];
      if (ripple < t.size() && t[ripple] != "-") kept_row += " c";
      kept.push_back(kept_row);
      continue;
    }
    kept.push_back(line);
  }
  return kept;
}

// Lines of a and b that a longest common subsequence leaves out, marked
// "<" (native) and ">" (i386).
std::vector<std::string> Diff(const std::vector<std::string>& a,
                              const std::vector<std::string>& b) {
  const size_t n = a.size(), m = b.size();
  std::vector<std::vector<int>> common(n + 1, std::vector<int>(m + 1, 0));
  for (size_t i = n; i-- > 0;)
    for (size_t j = m; j-- > 0;)
      common[i][j] =
          a[i] == b[j] ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
  std::vector<std::string> out;
  size_t i = 0, j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && a[i] == b[j]) {
      ++i, ++j;
    } else if (j == m || (i < n && common[i + 1][j] >= common[i][j + 1])) {
      out.push_back("< " + a[i++]);
    } else {
      out.push_back("> " + b[j++]);
    }
  }
  return out;
}

std::string Hex(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  char text[16];
  std::snprintf(text, sizeof text, "%08x", bits);
  return text;
}

// Compares the two OUT files; "" when equal, else what differs.
std::string CompareAudio(const std::string& a_path, const std::string& b_path) {
  const bool a_there = Exists(a_path), b_there = Exists(b_path);
  if (!a_there && !b_there) return "";
  if (a_there != b_there)
    return std::string("OUT written by ") + (a_there ? "native" : "i386") + " only";
  std::vector<float> a, b;
  int a_rate = 0, b_rate = 0, a_channels = 0, b_channels = 0;
  if (!ReadChannel0(a_path, &a_rate, &a_channels, &a) ||
      !ReadChannel0(b_path, &b_rate, &b_channels, &b))
    return "an OUT file cannot be read";
  if (a_rate != b_rate || a_channels != b_channels)
    return "OUT formats differ: " + std::to_string(a_rate) + " Hz x" + std::to_string(a_channels) +
           " against " + std::to_string(b_rate) + " Hz x" + std::to_string(b_channels);
  if (a.size() != b.size())
    return "OUT lengths differ: " + std::to_string(a.size()) + " against " +
           std::to_string(b.size()) + " frames";
  if (std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0) return "";
  size_t first = 0, count = 0;
  double largest = 0;
  for (size_t i = a.size(); i-- > 0;)
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) {
      first = i;
      ++count;
      largest = std::max(largest, std::fabs(static_cast<double>(a[i]) - b[i]));
    }
  char text[256];
  std::snprintf(text, sizeof text,
                "OUT differs in %zu of %zu samples, first at %zu: %.9g (%s) against %.9g (%s); "
                "largest difference %.3g",
                count, a.size(), first, a[first], Hex(a[first]).c_str(), b[first],
                Hex(b[first]).c_str(), largest);
  return text;
}

std::string Absolute(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return "";
  std::string result = resolved;
  std::free(resolved);
  return result;
}

std::string Join(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
  return text;
}

void PrintIndented(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::printf("      %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s NATIVE_TONEVOLT I386_TONEVOLT WORK_DIR\n", argv[0]);
    return 2;
  }
  const auto started = std::chrono::steady_clock::now();
  const std::string native = Absolute(argv[1]), i386 = Absolute(argv[2]);
  const std::string work = argv[3];
  if (native.empty() || access(native.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "%s: not an executable program\n", argv[1]);
    return 1;
  }
  if (i386.empty() || access(i386.c_str(), X_OK) != 0) {
    std::printf("skipped: %s is missing\n", argv[2]);
    return 77;
  }
  const std::string sides[2] = {work + "/native", work + "/i386"};
  const std::string programs[2] = {native, i386};
  for (const std::string& dir : {work, work + "/in", sides[0], sides[1]}) mkdir(dir.c_str(), 0777);
  if (Run(i386, sides[1], {"--version"}, sides[1] + "/version.out", sides[1] + "/version.err") !=
      0) {
    std::printf("skipped: %s does not run here (see %s/version.err)\n", argv[2], sides[1].c_str());
    return 77;
  }

  const std::string missing = real_notes::Missing();
  const bool real = missing.empty();
  std::string error;
  std::vector<Input> inputs = {
      {"sine440-44100", Wave(44100, 440, 1.0, Sine), SF_FORMAT_FLOAT},
      {"sine440-48000", Wave(48000, 440, 1.0, Sine), SF_FORMAT_FLOAT},
      {"sine220-22050", Wave(22050, 220, 1.0, Sine), SF_FORMAT_PCM_16},
      {"sine880-96000", Wave(96000, 880, 0.5, Sine), SF_FORMAT_FLOAT},
      {"sine330-8000", Wave(8000, 330, 1.0, Sine), SF_FORMAT_PCM_16},
      {"saw110-44100", Wave(44100, 110, 1.0, Saw), SF_FORMAT_FLOAT},
      {"square1000-48000", Wave(48000, 1000, 0.5, Square), SF_FORMAT_FLOAT},
      // A tone out of digital silence: the resampler's onset.
      {"gap-sine262-48000", Wave(48000, 261.63, 0.7, Sine, 0.3), SF_FORMAT_FLOAT},
      {"sweep-44100", Sweep(44100, 200, 800, 1.0), SF_FORMAT_FLOAT},
      {"noise-44100", Noise(44100, 0.5), SF_FORMAT_FLOAT},
      {"noise-48000", Noise(48000, 0.5), SF_FORMAT_FLOAT},
      {"piano-melody-44100", Melody(44100, 0, {57, 60, 64, 67}, 0.4, real, &error),
       SF_FORMAT_FLOAT},
      {"clarinet-melody-48000", Melody(48000, 71, {64, 67, 72}, 0.5, real, &error),
       SF_FORMAT_FLOAT},
  };
  if (!error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  for (const Input& in : inputs)
    if (!WriteWav(work + "/in/" + in.name + ".wav", in.signal, in.format)) {
      std::fprintf(stderr, "cannot write %s/in/%s.wav\n", work.c_str(), in.name.c_str());
      return 1;
    }
  // Times in samples of the file's rate, and in seconds.
  std::ofstream(work + "/in/changes-44100.txt") << "# time pin value\n"
                                                   "11025 Filter Cutoff 200\n"
                                                   "0.4s Freq Scale oct\n"
                                                   "0.6s Filter Order 2\n"
                                                   "0.8s Octave -2\n";
  std::ofstream(work + "/in/changes-48000.txt") << "0.2s Octave +1\n"
                                                   "24000 Filter Cutoff 15\n"
                                                   "0.7s Filter Order 2\n"
                                                   "0.75s Freq Scale oct\n";
  std::ofstream(work + "/in/changes-melody.txt") << "0.4s Filter Cutoff 10\n"
                                                    "0.8s Filter Order 2\n"
                                                    "1.2s Octave -1\n";

  const std::vector<Item> items = {
      {"sine-44100", "sine440-44100", {}, true},
      {"sine-oct-order2", "sine440-44100", {"--scale", "oct", "--order", "2", "--cutoff", "10"}},
      {"sine-octave-3", "sine440-44100", {"--octave", "-3", "--cutoff", "20"}},
      {"sine-octave+3", "sine440-44100", {"--octave", "3", "--scale", "oct"}},
      {"sine-cutoff5000",
       "sine440-44100",
       {"--octave", "-1", "--order", "2", "--cutoff", "5000", "--block", "64"}},
      {"sine-48000", "sine440-48000", {}, true},
      {"sine-48000-native", "sine440-48000", {"--native-rate", "--scale", "oct"}},
      {"sine-22050", "sine220-22050", {"--order", "2"}},
      {"sine-22050-native", "sine220-22050", {"--native-rate", "--order", "2"}},
      {"sine-96000", "sine880-96000", {"--scale", "oct"}},
      {"sine-96000-native", "sine880-96000", {"--native-rate", "--scale", "oct"}},
      {"sine-8000", "sine330-8000", {"--cutoff", "100"}},
      {"sine-8000-native", "sine330-8000", {"--native-rate", "--octave", "1"}},
      {"saw-44100", "saw110-44100", {"--scale", "oct", "--order", "2", "--cutoff", "10"}},
      {"square-48000", "square1000-48000", {"--order", "2", "--octave", "2"}},
      {"gap-48000", "gap-sine262-48000", {"--scale", "oct", "--order", "2", "--cutoff", "10"}},
      {"sweep-slices", "sweep-44100", {"--scale", "oct", "--report", "slices:0.1"}},
      {"noise-44100", "noise-44100", {}},
      {"noise-48000", "noise-48000", {"--cutoff", "200", "--scale", "oct"}},
      {"piano", "piano-melody-44100", {}},
      {"piano-follow",
       "piano-melody-44100",
       {"--prefilter", "follow", "--order", "2", "--cutoff", "10", "--scale", "oct"},
       true},
      {"piano-live", "piano-melody-44100", {"--prefilter", "live", "--scale", "oct"}},
      {"piano-note", "piano-melody-44100", {"--prefilter", "note:G4", "--order", "2"}},
      {"piano-range", "piano-melody-44100", {"--prefilter", "range:A3", "--scale", "oct"}},
      {"clarinet-follow", "clarinet-melody-48000", {"--prefilter", "follow", "--scale", "oct"}},
      {"clarinet-note-native",
       "clarinet-melody-48000",
       {"--prefilter", "note:C5", "--native-rate", "--order", "2", "--cutoff", "20"}},
      {"clarinet-live-native",
       "clarinet-melody-48000",
       {"--prefilter", "live", "--native-rate", "--scale", "oct"}},
      {"events-44100", "sine440-44100", {"--events", "../in/changes-44100.txt"}, true},
      {"events-48000", "sine440-48000", {"--events", "../in/changes-48000.txt"}, true},
      {"events-follow-slices",
       "piano-melody-44100",
       {"--events", "../in/changes-melody.txt", "--prefilter", "follow", "--report",
        "slices:0.25"}},
      // Refusals and failures end the same way too.
      {"bad-cutoff", "sine440-44100", {"--cutoff", "1"}},
      {"filter-above-nyquist", "sine330-8000", {"--native-rate", "--prefilter", "note:C8"}},
  };

  std::printf("tonevolt_tool_cross: %s against %s\n", native.c_str(), i386.c_str());
  std::printf("melodies: %s\n\n", real ? "fluidsynth, FluidR3_GM (piano, clarinet)"
                                       : ("harmonic tones (" + missing + ")").c_str());
  int failed = 0;
  for (const Item& item : items) {
    std::vector<std::string> args = {"render", "../in/" + item.input + ".wav", item.name + ".wav"};
    if (item.csv) args.insert(args.end(), {"--csv", item.name + ".csv", "--csv-every", "0.005s"});
    args.insert(args.end(), item.args.begin(), item.args.end());
    int codes[2];
    for (int s = 0; s < 2; ++s) {
      const std::string base = sides[s] + "/" + item.name;
      std::remove((base + ".wav").c_str());
      std::remove((base + ".csv").c_str());
      codes[s] = Run(programs[s], sides[s], args, base + ".out", base + ".err");
    }
    const std::string a = sides[0] + "/" + item.name, b = sides[1] + "/" + item.name;
    const std::string audio = CompareAudio(a + ".wav", b + ".wav");
    const std::vector<std::string> a_out = Lines(a + ".out"), b_out = Lines(b + ".out");
    const std::vector<std::string> report = Diff(a_out, b_out);
    const size_t native_only = static_cast<size_t>(std::count_if(
        report.begin(), report.end(), [](const std::string& l) { return l[0] == '<'; }));
    const size_t report_lines = std::max(native_only, report.size() - native_only);
    const std::vector<std::string> module = Diff(ModulePart(a_out), ModulePart(b_out));
    const std::vector<std::string> csv = Diff(Lines(a + ".csv"), Lines(b + ".csv"));
    const std::vector<std::string> err = Diff(Lines(a + ".err"), Lines(b + ".err"));
    const bool ok = codes[0] == codes[1] && codes[0] >= 0 && audio.empty() && module.empty() &&
                    csv.empty() && err.empty();
    failed += ok ? 0 : 1;
    std::printf("%-22s %-9s exit %d/%d  report: %zu line(s) differ%s  | %s\n", item.name.c_str(),
                !audio.empty()       ? "DIFFER"
                : Exists(a + ".wav") ? "same bits"
                                     : "no OUT",
                codes[0], codes[1], report_lines,
                report.empty() || !module.empty() ? "" : " (check only)",
                Join(std::vector<std::string>(args.begin() + 1, args.end())).c_str());
    if (!audio.empty()) std::printf("      %s\n", audio.c_str());
    if (!module.empty()) std::printf("    the module's readings differ (native <, i386 >):\n");
    PrintIndented(module);
    if (!report.empty()) std::printf("    report lines that differ (native <, i386 >):\n");
    PrintIndented(report);
    if (!csv.empty()) std::printf("    CSV lines that differ: %zu\n", csv.size());
    PrintIndented(
        std::vector<std::string>(csv.begin(), csv.begin() + std::min<size_t>(csv.size(), 6)));
    if (!err.empty()) std::printf("    standard error differs:\n");
    PrintIndented(err);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("\n%zu renders, %d with differences, in %.1f s; files in %s\n", items.size(), failed,
              seconds, work.c_str());
  return failed == 0 ? 0 : 1;
}
