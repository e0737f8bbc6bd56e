#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>

#include "Analysis.h"
#include "Commands.h"
#include "Files.h"
#include "Plot.h"
#include "Run.h"

namespace tonevolt {

namespace {

struct RenderOptions {
  std::string in, out, events, csv, plot;
  int channel = 0;
  RunRequest run;
};

// Reads render's arguments; answers 0 or the exit code of a reported error.
int ReadRenderOptions(const Invocation& invocation, RenderOptions* o) {
  OptionReader reader(invocation);
  reader.Read("--channel", ParseChannel, &o->channel);
  reader.Read("--cutoff", ParseCutoff, &o->run.settings.cutoff);
  reader.Read("--octave", ParseOctave, &o->run.settings.octave);
  reader.Read("--scale", ParseScale, &o->run.settings.scale);
  reader.Read("--order", ParseOrder, &o->run.settings.order);
  reader.Read("--block", ParseBlockSize, &o->run.block_size);
  reader.ReadText("--events", &o->events);
  reader.ReadText("--csv", &o->csv);
  reader.ReadText("--plot", &o->plot);
  if (reader.Failed()) return UsageError(reader.Error());
  const std::vector<std::string>& positional = invocation.args;
  if (positional.size() != 2)
    return UsageError("render needs IN and OUT (got " + std::to_string(positional.size()) + ")");
  o->in = positional[0];
  o->out = positional[1];
  return 0;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - tail.size() + i])) != tail[i])
      return false;
  return true;
}

// A bar on stderr, redrawn in place; only for a terminal.
class ProgressBar {
 public:
  explicit ProgressBar(bool shown) : m_shown(shown) {}
  ~ProgressBar() {
    if (m_drawn) std::fputs("\r\033[K", stderr);
  }
  void Update(size_t done, size_t total) {
    if (!m_shown || total == 0) return;
    int width = 40, filled = static_cast<int>(width * done / total);
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), static_cast<int>(100 * done / total));
    std::fflush(stderr);
    m_drawn = true;
  }

 private:
  bool m_shown;
  bool m_drawn = false;
};

const Settings& SettingsAt(const std::vector<std::pair<uint32_t, Settings>>& timeline,
                           size_t sample) {
  size_t k = 0;
  while (k + 1 < timeline.size() && timeline[k + 1].first <= sample) ++k;
  return timeline[k].second;
}

std::string Csv(const std::vector<float>& input, const std::vector<float>& output,
                const std::vector<std::pair<uint32_t, Settings>>& timeline, double rate) {
  std::string text = "time_s,input,output_volts,implied_hz\n";
  char line[128];
  size_t k = 0;
  for (size_t i = 0; i < output.size(); ++i) {
    while (k + 1 < timeline.size() && timeline[k + 1].first <= i) ++k;
    std::snprintf(line, sizeof line, "%.6f,%.9g,%.9g,%.6g\n", i / rate, input[i], 10.0 * output[i],
                  ImpliedHz(output[i], timeline[k].second, rate));
    text += line;
  }
  return text;
}

void PrintSummary(const RenderOptions& o, const AudioInfo& info, const std::vector<float>& input,
                  const std::vector<float>& output, size_t events_beyond_end) {
  const double rate = info.sample_rate;
  const size_t n = output.size();
  std::printf("Input     %s: %s, %d Hz, %d channel%s", o.in.c_str(), info.format.c_str(),
              info.sample_rate, info.channels, info.channels == 1 ? "" : "s");
  if (info.channels > 1) std::printf(", channel %d used", o.channel);
  std::printf("\nDuration  %.3f s (%zu samples)\n", n / rate, n);
  std::printf("Settings  %s; block %d samples", Describe(o.run.settings).c_str(), o.run.block_size);
  if (!o.events.empty())
    std::printf("; %zu change%s from %s", o.run.changes.size(),
                o.run.changes.size() == 1 ? "" : "s", o.events.c_str());
  std::printf("\n");
  if (events_beyond_end > 0)
    std::printf("Events    %zu change%s after the end of the input, not applied\n",
                events_beyond_end, events_beyond_end == 1 ? "" : "s");
  std::string rate_note = RateNote(rate);
  if (!rate_note.empty()) std::printf("Rate      %s\n", rate_note.c_str());
  size_t non_finite = static_cast<size_t>(
      std::count_if(input.begin(), input.end(), [](float x) { return !std::isfinite(x); }));
  if (non_finite > 0)
    std::printf("Input     %zu sample%s NaN or infinite, processed as the module defines\n",
                non_finite, non_finite == 1 ? " was" : "s were");
  auto [lo, hi] = std::minmax_element(output.begin(), output.end());
  std::printf("Output    %s: %.4f .. %.4f V, 32-bit float mono, %d Hz\n", o.out.c_str(), 10.0 * *lo,
              10.0 * *hi, info.sample_rate);

  // The implied pitch over time, from the mean output of each slice.
  auto timeline = SettingsTimeline(o.run);
  size_t slices = std::max<size_t>(1, std::min<size_t>(10, n / static_cast<size_t>(rate * 0.05)));
  std::printf("\n%-17s  %9s  %10s  %s\n", "Time (s)", "Volts", "Implied Hz", "Note");
  for (size_t s = 0; s < slices; ++s) {
    size_t from = n * s / slices, to = n * (s + 1) / slices;
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += output[i];
    double mean = sum / static_cast<double>(to - from);
    double hz = ImpliedHz(mean, SettingsAt(timeline, (from + to) / 2), rate);
    double cents = 0;
    std::string note = NoteName(hz, &cents);
    char when[32];
    std::snprintf(when, sizeof when, "%.2f - %.2f", from / rate, to / rate);
    std::printf("%-17s  %9.4f  %10.2f  %s", when, 10.0 * mean, hz, note.c_str());
    if (note != "-") std::printf(" %+.0f c", cents);
    std::printf("\n");
  }
  if (!o.csv.empty()) std::printf("\nCSV       %s\n", o.csv.c_str());
  if (!o.plot.empty())
    std::printf("%s      %s\n", o.csv.empty() ? "\nPlot" : "Plot", o.plot.c_str());
}

}  // namespace

int Render(const Invocation& invocation) {
  RenderOptions o;
  if (int code = ReadRenderOptions(invocation, &o)) return code;
  std::string error;
  if (!CheckAudioOutputPath(o.out, &error)) return UsageError(error);
  if (!o.plot.empty() && !EndsWith(o.plot, ".png"))
    return UsageError("--plot: " + o.plot + " is not a .png file");

  std::unique_ptr<wbhost::ModuleLibrary> library = LoadModule(invocation);
  if (library == nullptr) return 1;
  const WBMainProc main = library->Main();

  std::vector<float> input;
  AudioInfo info;
  if (!ReadAudio(o.in, o.channel, &input, &info, &error)) return Fail(error);
  o.run.sample_rate = info.sample_rate;

  size_t events_beyond_end = 0;
  if (!o.events.empty()) {
    std::string text;
    std::vector<std::string> names;
    if (!ReadText(o.events, &text, &error)) return Fail(error);
    if (!PinNames(main, &names, &error)) return Fail(error);
    if (!ParseEvents(text, names, info.sample_rate, &o.run.changes, &error))
      return Fail(o.events + ": " + error);
    for (const Change& c : o.run.changes)
      if (c.sample >= input.size()) ++events_beyond_end;
  }

  // Every output gets its temporary file before any work, so that an
  // unwritable path fails early and nothing is left behind.
  StagedFile out_file, csv_file, plot_file;
  if (!out_file.Create(o.out, &error)) return Fail(error);
  if (!o.csv.empty() && !csv_file.Create(o.csv, &error)) return Fail(error);
  if (!o.plot.empty() && !plot_file.Create(o.plot, &error)) return Fail(error);

  std::vector<float> output;
  {
    const bool long_file = input.size() > static_cast<size_t>(5.0 * info.sample_rate);
    ProgressBar bar(long_file && isatty(2));
    if (!RunModule(main, input, o.run, &output, &error,
                   [&bar](size_t done, size_t total) { bar.Update(done, total); }))
      return Fail(error);
  }

  if (!WriteAudio(out_file, output, info.sample_rate, &error)) return Fail(error);
  if (!o.csv.empty() &&
      !WriteText(csv_file, Csv(input, output, SettingsTimeline(o.run), info.sample_rate), &error))
    return Fail(error);
  if (!o.plot.empty()) {
    PlotRequest plot;
    plot.title = o.in + " (" + Describe(o.run.settings) + ")";
    plot.sample_rate = info.sample_rate;
    plot.outputs.push_back({"output, " + ScaleName(o.run.settings.scale) +
                                (o.run.changes.empty() ? "" : " (right axis: settings at start)"),
                            &output, o.run.settings});
    plot.input = &input;
    if (!WritePlot(plot, plot_file.TempPath(), &error)) return Fail(error);
  }
  if (!out_file.Commit(&error)) return Fail(error);
  if (!o.csv.empty() && !csv_file.Commit(&error)) return Fail(error);
  if (!o.plot.empty() && !plot_file.Commit(&error)) return Fail(error);

  PrintSummary(o, info, input, output, events_beyond_end);
  return 0;
}

}  // namespace tonevolt
