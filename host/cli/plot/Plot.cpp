#include "plot/Plot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "module/Readings.h"
#include "files/Cleanup.h"
#include "files/Files.h"
#include "files/Paths.h"
#include "conditioning/Frequency.h"

namespace tonevolt {

namespace {

const char kGnuplot[] = "gnuplot";

// gnuplot's single-quoted string: a quote is written twice.
std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// Lines of "time min max" in gnuplot's data block syntax.
void AppendEnvelope(const Envelope& envelope, double scale, double rate, std::ostringstream* out) {
  for (size_t k = 0; k < envelope.All().size(); ++k) {
    const MinMax& column = envelope.All()[k];
    if (!column.finite) continue;
    double middle = (2.0 * envelope.First(k) + envelope.Count(k) - 1) * 0.5;
    *out << middle / rate << ' ' << column.lo * scale << ' ' << column.hi * scale << '\n';
  }
}

// The finite range of an envelope; false when it has no finite value.
bool Range(const Envelope& envelope, float* lo, float* hi) {
  MinMax all;
  for (const MinMax& column : envelope.All()) all.Merge(column);
  *lo = all.lo;
  *hi = all.hi;
  return all.finite;
}

// A round step (1, 2, 2.5 or 5 times a power of ten) near span / 6.
double RoundStep(double span) {
  double rough = std::max(span / 6.0, 1e-9);
  double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (double m : {1.0, 2.0, 2.5, 5.0})
    if (m * power >= rough) return m * power;
  return 10.0 * power;
}

std::string Label(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", std::fabs(value) < 1e-9 ? 0.0 : value);
  return text;
}

// Second axis: round frequencies for 1 V/kHz, note names for 1 V/oct, at the
// volts they read as; gnuplot leaves out tics beyond the drawn range.
std::string SecondAxis(const Envelope& values, const Settings& settings, double rate) {
  float lo = 0, hi = 0;
  Range(values, &lo, &hi);
  std::ostringstream out;
  out << "set link y2\n";
  if (settings.scale == Scale::kVoltPerKhz) {
    const double hz_per_unit = ImpliedHz(1.0, settings, rate);
    double lo_hz = std::max(0.0, lo * hz_per_unit), hi_hz = std::max(0.0, hi * hz_per_unit);
    double step = RoundStep(std::max(hi_hz - lo_hz, 1e-6 * hz_per_unit));
    double first = std::floor((lo_hz - (hi_hz - lo_hz)) / step),
           last = std::ceil(hi_hz * 1.5 / step);
    out << "set y2tics (";
    for (double k = std::max(0.0, first); k <= last; ++k)
      out << (k > std::max(0.0, first) ? ", " : "") << Quote(Label(k * step)) << ' '
          << kVoltsPerUnit * k * step / hz_per_unit;
    out << ")\nset y2label 'implied Hz'\n";
  } else {
    // The table reads -9 V for no pitch; between there and 10 Hz lie only
    // the moves into and out of it. The axis shows the no-pitch reading when
    // it lasts (a whole column below 10 Hz after the output first rose above
    // it: silence), else starts at 10 Hz and lets a momentary dip, and the
    // rise at the start however slow the filter, run off its foot.
    double floor_volts = kVoltsPerUnit * NominalValue(10.0, settings, rate);
    auto below = [&](const MinMax& c) { return c.finite && kVoltsPerUnit * c.hi < floor_volts; };
    auto risen = std::find_if(values.All().begin(), values.All().end(),
                              [&](const MinMax& c) { return c.finite && !below(c); });
    bool no_pitch = std::any_of(risen, values.All().end(), below);
    double lowest = std::max(floor_volts, kVoltsPerUnit * lo);
    out << "set yrange [" << (no_pitch ? kNoPitchVolts - 0.5 : lowest) << ":*]\n"
        << "set y2tics (";
    // Every other octave when the panel also spans the no-pitch reading.
    for (int octave = 0; octave <= 9; octave += no_pitch ? 2 : 1) {
      double hz = 440.0 * std::exp2(octave - 4);
      out << (octave == 0 ? "" : ", ") << "'A" << octave << "' "
          << kVoltsPerUnit * NominalValue(hz, settings, rate);
    }
    if (no_pitch) out << ", 'no pitch' " << kNoPitchVolts;
    out << ")\nset y2label 'implied note'\n";
  }
  return out.str();
}

std::string Script(const PlotRequest& request) {
  std::ostringstream script;
  const size_t panels = request.outputs.size() + 1;
  // noenhanced: titles are file names, shown as they are (no _ subscripts).
  script << "set terminal pngcairo noenhanced size 1400," << 300 * panels + 60
         << " font 'Sans,10'\n"
         << "set output\n"
         << "set multiplot layout " << panels << ",1 title " << Quote(request.title) << "\n"
         << "set grid\nset key off\nset xlabel 'seconds'\n"
         << "set offsets 0, 0, graph 0.05, graph 0.05\nset lmargin 10\nset rmargin 12\n"
         << "set xrange [0:" << request.input->Samples() / request.sample_rate << "]\n";
  int block = 0;
  for (const PlotPanel& panel : request.outputs) {
    script << "$out" << block << " << EOD\n";
    AppendEnvelope(*panel.values, kVoltsPerUnit, request.sample_rate, &script);
    script << "EOD\n"
           << "set title " << Quote(panel.title) << "\nset ylabel 'volts'\n"
           << SecondAxis(*panel.values, panel.settings,
                         request.module_rate > 0 ? request.module_rate : request.sample_rate)
           << "plot $out" << block << " using 1:2:3 with filledcurves lc rgb '#1f77b4',"
           << " $out" << block << " using 1:3 with lines lc rgb '#1f77b4'\n"
           << "unset y2tics\nunset y2label\nunset link y2\nset autoscale y\n";
    ++block;
  }
  script << "$in << EOD\n";
  AppendEnvelope(*request.input, 1.0, request.sample_rate, &script);
  script << "EOD\nset title 'input'\nset ylabel 'sample'\n"
         << "plot $in using 1:2:3 with filledcurves lc rgb '#888888',"
         << " $in using 1:3 with lines lc rgb '#888888'\n"
         << "unset multiplot\nset output\n";
  return script.str();
}

// Pitch bands over time, their implied Hz clamped into [bottom, top], with
// both axes at every A, the tracked pitch as points, the input underneath.
std::string PitchScript(const PitchPlotRequest& request) {
  double lowest = request.lowest_hz, highest = request.highest_hz;
  for (const auto& [time, hz] : request.tracked) lowest = std::min<double>(lowest, hz);
  for (const PitchBand& band : request.bands)
    for (float hi : *band.hi)
      highest = std::max(highest, ImpliedHz(hi, band.settings, request.module_rate));
  double top = std::min(20000.0, highest * 1.2), bottom = std::max(20.0, lowest / 2);
  std::string script;
  char line[512];
  std::snprintf(line, sizeof line,
                "set terminal pngcairo noenhanced size 1400,860 font 'Sans,10'\n"
                "set output\nset multiplot title %s\n"
                "set grid\nset lmargin 10\nset rmargin 12\nset xlabel 'seconds'\n"
                "set xrange [0:%g]\n",
                Quote(request.title).c_str(), request.seconds);
  script += line;
  // Columns: one line per frame, or min/max over several for long files.
  for (const PitchBand& band : request.bands) {
    const std::vector<float>& los = *band.lo;
    const std::vector<float>& his = *band.hi;
    script += "$" + band.name + " << EOD\n";
    size_t per = std::max<size_t>(1, los.size() / 1200);
    for (size_t k = 0; k < los.size(); k += per) {
      float lo = los[k], hi = his[k];
      for (size_t j = k; j < std::min(k + per, los.size()); ++j) {
        lo = std::min(lo, los[j]);
        hi = std::max(hi, his[j]);
      }
      double lo_hz = std::clamp(ImpliedHz(lo, band.settings, request.module_rate), bottom, top);
      double hi_hz = std::clamp(ImpliedHz(hi, band.settings, request.module_rate), bottom, top);
      std::snprintf(line, sizeof line, "%.4f %.3f %.3f\n", (k + 0.5 * per) * request.frame_seconds,
                    lo_hz, hi_hz);
      script += line;
    }
    script += "EOD\n";
  }
  script += "$tracked << EOD\n";
  for (const auto& [time, hz] : request.tracked) {
    std::snprintf(line, sizeof line, "%.4f %.3f\n", time, hz);
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
  // A band from the lowest to the highest value of each column, and its top
  // edge as a line, which shows where the band is thinner than a pixel.
  script += "plot ";
  for (const PitchBand& band : request.bands)
    script += "$" + band.name + " using 1:2:3 with filledcurves lc rgb '" + band.colour +
              "' title " + Quote(band.title) + ", $" + band.name +
              " using 1:3 with lines lw 1.5 lc rgb '" + band.colour + "' notitle, ";
  script += "$tracked every 3 using 1:2 with points pt 6 ps 0.5 lc rgb '#000000' title " +
            Quote(request.tracked_title) + "\n";
  script +=
      "unset logscale y\nunset logscale y2\nunset y2tics\nunset y2label\nset autoscale y\n"
      "set ytics auto\nset key off\n";
  script += "$in << EOD\n";
  const Envelope& input = *request.input;
  for (size_t k = 0; k < input.All().size(); ++k) {
    const MinMax& column = input.All()[k];
    if (!column.finite) continue;
    double middle = (2.0 * input.First(k) + input.Count(k) - 1) * 0.5 / request.sample_rate;
    std::snprintf(line, sizeof line, "%.5f %g %g\n", middle, column.lo, column.hi);
    script += line;
  }
  script +=
      "EOD\nset origin 0,0\nset size 1,0.3\nset title 'input'\nset ylabel 'sample'\n"
      "plot $in using 1:2:3 with filledcurves lc rgb '#888888'\nunset multiplot\nset output\n";
  return script;
}

// Why gnuplot failed: the last line of its complaint that says something
// (its last words name the fault; a caret line only points at it), else how
// it ended.
std::string Reason(const std::string& log_path, int status) {
  std::string last;
  if (std::FILE* log = std::fopen(log_path.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, log) != nullptr) {
      std::string line = buffer;
      size_t first = line.find_first_not_of(" \t\n^");
      if (first == std::string::npos) continue;
      size_t end = line.find_last_not_of(" \t\r\n");
      last = line.substr(first, end + 1 - first);
    }
    std::fclose(log);
  }
  if (!last.empty()) return last;
  char text[96];
  if (WIFSIGNALED(status))
    std::snprintf(text, sizeof text, "gnuplot was ended by signal %d (%s)", WTERMSIG(status),
                  strsignal(WTERMSIG(status)));
  else if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
    std::snprintf(text, sizeof text, "gnuplot could not be started");
  else
    std::snprintf(text, sizeof text, "gnuplot exited with status %d and said nothing",
                  WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return text;
}

// Runs gnuplot on the script, the picture on its standard output into png,
// its messages into log; false with a reason.
bool RunGnuplot(const std::string& script, const StagedFile& png, const StagedFile& log,
                std::string* error) {
  int to_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0) {
    *error = std::string("cannot run gnuplot: ") + std::strerror(errno);
    return false;
  }
  pid_t pid = fork();
  if (pid < 0) {
    close(to_child[0]);
    close(to_child[1]);
    *error = std::string("cannot run gnuplot: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    dup2(to_child[0], STDIN_FILENO);
    dup2(png.Descriptor(), STDOUT_FILENO);
    dup2(log.Descriptor(), STDERR_FILENO);
    execlp(kGnuplot, kGnuplot, static_cast<char*>(nullptr));
    _exit(127);
  }
  SetChildProcess(pid);
  close(to_child[0]);
  // A gnuplot that stops reading shows as a short write (SIGPIPE is ignored).
  for (size_t done = 0; done < script.size();) {
    ssize_t wrote = write(to_child[1], script.data() + done, script.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += static_cast<size_t>(wrote);
  }
  close(to_child[1]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  SetChildProcess(0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  *error = "gnuplot failed to draw the plot: " + Reason(log.TempPath(), status);
  return false;
}

// Runs a gnuplot script whose output is its standard output ("set output"
// with no name), which goes into png; false with gnuplot's reason.
bool RunGnuplotScript(const std::string& script, const StagedFile& png, std::string* error) {
  // gnuplot's messages go to a temporary file that is never committed.
  const char* tmp = std::getenv("TMPDIR");
  StagedFile log;
  if (!log.Create(
          std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tonevolt-gnuplot.log",
          error))
    return false;
  return RunGnuplot(script, png, log, error);
}

}  // namespace

bool CheckGnuplot(std::string* error) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    std::string candidate = (folder.empty() ? "." : folder) + "/" + kGnuplot;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return true;
  }
  *error = "--plot needs gnuplot, which is not on PATH (Debian: apt-get install gnuplot-nox)";
  return false;
}

bool CheckPlotPath(const std::string& path, std::string* error) {
  const std::string tail = ".png";
  bool png = path.size() >= tail.size();
  for (size_t i = 0; png && i < tail.size(); ++i)
    png = std::tolower(static_cast<unsigned char>(path[path.size() - tail.size() + i])) == tail[i];
  if (!png) *error = "--plot: " + Printable(path) + " is not a .png file";
  return png;
}

bool WritePlot(const PlotRequest& request, const StagedFile& png, std::string* error) {
  return RunGnuplotScript(Script(request), png, error);
}

bool WritePitchPlot(const PitchPlotRequest& request, const StagedFile& png, std::string* error) {
  return RunGnuplotScript(PitchScript(request), png, error);
}

}  // namespace tonevolt
