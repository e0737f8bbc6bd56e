#include "Plot.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "Analysis.h"

namespace tonevolt {

namespace {

constexpr size_t kBuckets = 1600;  // about one per pixel column

// gnuplot's single-quoted string: a quote is written twice.
std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// Min and max per bucket, so that peaks survive the thinning: lines of
// "time min max" for one series in gnuplot's data block syntax.
void AppendEnvelope(const std::vector<float>& values, double scale, double rate,
                    std::ostringstream* out) {
  size_t per = std::max<size_t>(1, (values.size() + kBuckets - 1) / kBuckets);
  for (size_t at = 0; at < values.size(); at += per) {
    size_t end = std::min(values.size(), at + per);
    float lo = values[at], hi = values[at];
    for (size_t i = at; i < end; ++i) {
      if (!std::isfinite(values[i])) continue;
      if (!std::isfinite(lo) || values[i] < lo) lo = values[i];
      if (!std::isfinite(hi) || values[i] > hi) hi = values[i];
    }
    if (!std::isfinite(lo) || !std::isfinite(hi)) continue;
    *out << (at + end - 1) * 0.5 / rate << ' ' << lo * scale << ' ' << hi * scale << '\n';
  }
}

// Second axis: linear Hz for 1 V/kHz, note names for 1 V/oct.
std::string SecondAxis(const std::vector<float>& values, const Settings& settings, double rate) {
  std::ostringstream out;
  if (settings.scale == Scale::kVoltPerKhz) {
    double hz_per_volt = ImpliedHz(0.1, settings, rate);
    out << "set link y2 via y*" << hz_per_volt << " inverse y/" << hz_per_volt << "\n"
        << "set y2tics\nset y2label 'implied Hz'\n";
  } else {
    // The table starts at -9 V for 0 Hz; below 10 Hz only squeezes the notes.
    double floor_volts = 10.0 * NominalValue(10.0, settings, rate);
    double lowest = 10.0 * *std::min_element(values.begin(), values.end());
    out << "set yrange [" << std::max(floor_volts, lowest) << ":*]\n"
        << "set link y2\nset y2tics (";
    for (int octave = 0; octave <= 9; ++octave) {
      double hz = 440.0 * std::exp2(octave - 4);
      out << (octave == 0 ? "" : ", ") << "'A" << octave << "' "
          << 10.0 * NominalValue(hz, settings, rate);
    }
    out << ")\nset y2label 'implied note'\n";
  }
  return out.str();
}

}  // namespace

bool WritePlot(const PlotRequest& request, const std::string& png_path, std::string* error) {
  std::ostringstream script;
  const size_t panels = request.outputs.size() + 1;
  script << "set terminal pngcairo size 1400," << 300 * panels + 60 << " font 'Sans,10'\n"
         << "set output " << Quote(png_path) << "\n"
         << "set multiplot layout " << panels << ",1 title " << Quote(request.title) << "\n"
         << "set grid\nset key off\nset xlabel 'seconds'\n"
         << "set offsets 0, 0, graph 0.05, graph 0.05\nset lmargin 10\nset rmargin 12\n"
         << "set xrange [0:" << request.input->size() / request.sample_rate << "]\n";
  int block = 0;
  for (const PlotPanel& panel : request.outputs) {
    script << "$out" << block << " << EOD\n";
    AppendEnvelope(*panel.values, 10.0, request.sample_rate, &script);
    script << "EOD\n"
           << "set title " << Quote(panel.title) << "\nset ylabel 'volts'\n"
           << SecondAxis(*panel.values, panel.settings, request.sample_rate) << "plot $out" << block
           << " using 1:2:3 with filledcurves lc rgb '#1f77b4',"
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

  char log_path[] = "/tmp/tonevolt-gnuplot.XXXXXX";
  int fd = mkstemp(log_path);
  if (fd < 0) {
    *error = "cannot run gnuplot: no temporary file";
    return false;
  }
  close(fd);
  std::string command = std::string("gnuplot 2>") + log_path;
  std::FILE* pipe = popen(command.c_str(), "w");
  bool ok = pipe != nullptr;
  if (ok) {
    std::string text = script.str();
    std::fwrite(text.data(), 1, text.size(), pipe);
    int status = pclose(pipe);
    ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok && WIFEXITED(status) && WEXITSTATUS(status) == 127) {
      *error = "cannot draw " + png_path + ": gnuplot is not installed (Debian: gnuplot-nox)";
      std::remove(log_path);
      return false;
    }
  }
  if (!ok) {
    std::string first_line;
    if (std::FILE* log = std::fopen(log_path, "r")) {
      char line[256];
      while (std::fgets(line, sizeof line, log) != nullptr) {
        first_line = line;
        if (first_line.find_first_not_of(" \t\n^") != std::string::npos) break;
      }
      std::fclose(log);
    }
    while (!first_line.empty() && (first_line.back() == '\n' || first_line.back() == ' '))
      first_line.pop_back();
    *error = "gnuplot failed to draw the plot: " + first_line;
  }
  std::remove(log_path);
  return ok;
}

}  // namespace tonevolt
