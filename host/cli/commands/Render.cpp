#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "advice/Suggestions.h"
#include "commands/Commands.h"
#include "files/Files.h"
#include "files/Paths.h"
#include "module/Readings.h"
#include "module/Run.h"
#include "notes/NoteReport.h"
#include "options/Events.h"
#include "options/Values.h"
#include "plot/Plot.h"
#include "stream/Chain.h"
#include "stream/Pipeline.h"
#include "stream/Stages.h"

namespace tonevolt {

namespace {

// Samples read and pushed down the chain at a time: whole host blocks.
constexpr size_t kReadSamples = 16384;

// Files that long get a progress bar on a terminal.
constexpr double kProgressSeconds = 5.0;

struct RenderOptions {
  std::string in, out, events, csv, plot;
  std::string csv_every;  // as given; resolved once the rate is known
  int channel = 0;
  RunRequest run;  // at the file's rate; the module's request follows from it
  bool native_rate = false;
  PrefilterChoice prefilter;
  ReliabilityOptions check;
  ReportChoice report;
};

// The rate the module runs at: its calibrated one, or the file's.
double ModuleRate(const RenderOptions& o, int file_rate) {
  return o.native_rate ? file_rate : kReferenceRate;
}

// Render's option rows, bound to o's fields; the usage text shows their
// values as the defaults.
std::vector<Option> RenderRows(RenderOptions* o) {
  Settings* settings = &o->run.settings;
  return {
      ChannelOption(&o->channel),
      Option::Parsed("--cutoff", "HZ",
                     "filter cutoff in Hz (20 or 20Hz),\n" +
                         RangeHelp(kCutoffMinHz, kCutoffMaxHz, settings->cutoff),
                     ParseCutoff, &settings->cutoff),
      Option::Parsed("--octave", "N",
                     "octave shift, " + RangeHelp<int>(kOctaveMin, kOctaveMax, settings->octave),
                     ParseOctave, &settings->octave),
      Option::Parsed("--scale", "khz|oct",
                     "1 V/kHz or 1 V/oct (default " + ScaleOption(settings->scale) + ")",
                     ParseScale, &settings->scale),
      Option::Parsed("--order", "1|2", "filter poles (default " + HelpValue(settings->order) + ")",
                     ParseOrder, &settings->order),
      Option::Parsed("--block", "N",
                     "host block size, " + RangeHelp(1, kMaxBlockSize, o->run.block_size),
                     ParseBlockSize, &o->run.block_size),
      Option::Text("--events", "FILE",
                   "timed changes, one a line: TIME PIN VALUE, TIME in\n"
                   "samples or seconds with 's' (\"0.5s Octave +1\")",
                   "a file", &o->events),
      Option::Text("--csv", "FILE", "time (s), input, output (V), implied Hz, as it goes", "a file",
                   &o->csv),
      Option::Text("--csv-every", "STEP",
                   "one CSV row every STEP samples, or seconds with 's'\n"
                   "(0.01s; default every sample)",
                   "a value", &o->csv_every),
      PlotOption("output over time, input underneath", &o->plot),
      Option::Flag("--native-rate",
                   "run the module at the file's rate, as a host there\n"
                   "would (default off: at " +
                       HelpValue(kReferenceRate) +
                       " Hz, where calibrated);\n"
                       "--native-rate=no turns it off (or yes, true/false,\n"
                       "on/off, 1/0)",
                   &o->native_rate),
      Option::Parsed("--prefilter", "KIND",
                     PrefilterOption(o->prefilter) +
                         " (default), follow (a band around each note,\n"
                         "steered by a melody tracker), live (the same as\n"
                         "it comes, as the tracker plug-ins), live:hold\n"
                         "(live, each note's reading held through the\n"
                         "silence after it, as their hold), note:F (8-pole\n"
                         "elliptic low-pass at 1.3 F) or range:LO (high-pass\n"
                         "at LO/2, 4-pole low-pass at LO); F, LO in Hz (110,\n"
                         "110Hz) or as notes (E1)",
                     ParsePrefilter, &o->prefilter),
      GateOption(&o->check.gate_db),
      Option::Parsed("--report", "KIND", "notes (default) or slices:SECONDS (0.5 or 0.5s)",
                     ParseReport, &o->report),
  };
}

// Reads render's arguments; answers 0 or the exit code of a reported error.
int ReadRenderOptions(const Invocation& invocation, RenderOptions* o) {
  std::string error;
  if (!ReadOptions(RenderRows(o), invocation, &error)) return UsageError(error);
  const std::vector<std::string>& positional = invocation.args;
  if (positional.empty() || positional.size() > 2)
    return UsageError("render needs IN and at most one OUT (got " +
                      std::to_string(positional.size()) + " arguments)");
  o->in = positional[0];
  if (positional.size() == 2) o->out = positional[1];
  if (!o->out.empty() && !CheckAudioOutputPath(o->out, &error)) return UsageError(error);
  if (!o->plot.empty() && !CheckPlotPath(o->plot, &error)) return UsageError(error);
  if (!o->csv_every.empty() && o->csv.empty()) return UsageError("--csv-every needs --csv");
  // The summary has standard output; a file named "-" is surely not meant.
  if (o->csv == "-") return UsageError("--csv: give a file name; standard output has the summary");
  return 0;
}

// How the module's rate relates to the file's, for the summary; empty at 44100 Hz.
std::string RateLine(const RenderOptions& o, int file_rate) {
  if (file_rate == kReferenceRate) return "";
  char text[320];
  if (o.native_rate)
    std::snprintf(text, sizeof text,
                  "--native-rate: the module runs at %d Hz, as a host at that rate would; its "
                  "1 V/kHz reading is scaled by %.0f/%d = %.4f (%.2f semitones %s) and the "
                  "1 V/oct one moves by as much; implied frequencies are corrected for it",
                  file_rate, kReferenceRate, file_rate, kReferenceRate / file_rate,
                  std::fabs(12 * std::log2(file_rate / kReferenceRate)),
                  file_rate > kReferenceRate ? "flat" : "sharp");
  else
    std::snprintf(text, sizeof text,
                  "resampled to %.0f Hz for the module, where its calibration holds (libsoxr, "
                  "minimum phase), and its output averaged back to %d Hz; --native-rate runs "
                  "it at %d Hz",
                  kReferenceRate, file_rate, file_rate);
  return text;
}

void PrintSummary(const RenderOptions& o, const AudioInfo& info, const StatsSink& stats,
                  const NoteReport& report, const std::string& prefilter, size_t events_beyond_end,
                  const std::string& channel_hint) {
  const double rate = info.sample_rate;
  const uint64_t n = stats.Samples();
  std::printf("Input     %s: %s, %d Hz, %d channel%s", info.name.c_str(), info.format.c_str(),
              info.sample_rate, info.channels, info.channels == 1 ? "" : "s");
  if (info.channels > 1) std::printf(", channel %d used", o.channel);
  std::printf("\nDuration  %.3f s (%llu sample%s)\n", n / rate, static_cast<unsigned long long>(n),
              n == 1 ? "" : "s");
  std::printf("Settings  %s; block %d samples", SettingsText(o.run.settings).c_str(),
              o.run.block_size);
  if (!o.events.empty())
    std::printf("; %zu change%s from %s", o.run.changes.size(),
                o.run.changes.size() == 1 ? "" : "s", Printable(o.events).c_str());
  std::printf("\n");
  if (events_beyond_end > 0)
    std::printf("Events    %zu change%s after the end of the input, not applied\n",
                events_beyond_end, events_beyond_end == 1 ? "" : "s");
  std::string rate_line = RateLine(o, info.sample_rate);
  if (!rate_line.empty()) std::printf("Rate      %s\n", rate_line.c_str());
  std::printf("Prefilter %s\n", prefilter.c_str());
  if (stats.NonFinite() > 0)
    std::printf("Input     %llu sample%s NaN or infinite, processed as the module defines\n",
                static_cast<unsigned long long>(stats.NonFinite()),
                stats.NonFinite() == 1 ? " was" : "s were");
  const MinMax& range = stats.OutputRange();
  // Rounded to zero below the printed precision: never "-0.0000".
  auto volts = [](float value) {
    double v = kVoltsPerUnit * value;
    return std::fabs(v) < 5e-5 ? 0.0 : v;
  };
  if (o.out.empty())
    std::printf("Output    %.4f .. %.4f V (no OUT given: not written)\n", volts(range.lo),
                volts(range.hi));
  else
    std::printf(
        "Output    %s: %.4f .. %.4f V, 32-bit float mono, %d Hz, in the module's units "
        "(1.0 = %g V)\n",
        Printable(o.out).c_str(), volts(range.lo), volts(range.hi), info.sample_rate,
        kVoltsPerUnit);

  PrintReport(report, o.prefilter, stdout);
  // Nothing read right, from a channel with nothing in it.
  if (report.Reliable() == 0 && !channel_hint.empty())
    std::printf("Channel   %s\n", channel_hint.c_str());
  if (!o.csv.empty() || !o.plot.empty()) std::printf("\n");
  if (!o.csv.empty()) std::printf("CSV       %s\n", Printable(o.csv).c_str());
  if (!o.plot.empty()) std::printf("Plot      %s\n", Printable(o.plot).c_str());
}

// Before anything is read or written: no output may be an input or
// another output. Answers 0 or the exit code of the refusal.
int RefuseClashes(const Invocation& invocation, const RenderOptions& o) {
  std::vector<NamedPath> inputs = {{"IN", o.in}, {"--module", ModulePath(invocation)}};
  if (!o.events.empty()) inputs.push_back({"--events", o.events});
  std::vector<NamedPath> outputs;
  if (!o.out.empty()) outputs.push_back({"OUT", o.out});
  if (!o.csv.empty()) outputs.push_back({"--csv", o.csv});
  if (!o.plot.empty()) outputs.push_back({"--plot", o.plot});
  std::string error;
  return CheckDistinct(inputs, outputs, &error) ? 0 : Refuse(error);
}

// The events file's changes into o->run.changes.
bool ReadEventsFile(WBMainProc main, double sample_rate, RenderOptions* o, std::string* error) {
  std::string text;
  std::vector<std::string> names;
  if (!ReadText(o->events, &text, error) || !PinNames(main, &names, error)) return false;
  if (ParseEvents(text, names, sample_rate, &o->run.changes, error)) return true;
  *error = Printable(o->events) + ": " + *error;
  return false;
}

void WarnIfTruncated(const AudioReader& reader) {
  if (!reader.Truncated()) return;
  std::string promised =
      reader.PromisedFrames() >= 0
          ? " of the " + std::to_string(reader.PromisedFrames()) + " its header promises"
          : " before its cut end";
  std::fprintf(stderr, "tonevolt: warning: %s is truncated: read %llu frames%s; processing those\n",
               reader.Info().name.c_str(), static_cast<unsigned long long>(reader.FramesRead()),
               promised.c_str());
}

bool DrawPlot(const RenderOptions& o, const AudioInfo& info, const EnvelopeSink& envelopes,
              const StagedFile& png, std::string* error) {
  PlotRequest plot;
  plot.title = info.name + " (" + SettingsText(o.run.settings) + ")";
  plot.sample_rate = info.sample_rate;
  plot.module_rate = ModuleRate(o, info.sample_rate);
  plot.outputs.push_back({"output, " + ScaleName(o.run.settings.scale) +
                              (o.run.changes.empty() ? "" : " (right axis: settings at start)"),
                          &envelopes.Output(), o.run.settings});
  plot.input = &envelopes.Input();
  return WritePlot(plot, png, error);
}

}  // namespace

int Render(const Invocation& invocation) {
  RenderOptions o;
  if (int code = ReadRenderOptions(invocation, &o)) return code;

  if (int code = RefuseClashes(invocation, o)) return code;
  std::string error;
  if (!o.plot.empty() && !CheckGnuplot(&error)) return Fail(error);

  std::unique_ptr<wbhost::ModuleLibrary> library = LoadModule(invocation);
  if (library == nullptr) return 1;
  const WBMainProc main = library->Main();

  AudioReader reader;
  if (!reader.Open(o.in, o.channel, &error)) return Fail(error);
  const AudioInfo& info = reader.Info();
  o.run.sample_rate = info.sample_rate;
  double csv_step = 1;
  if (!ParseCsvStep(o.csv_every, info.sample_rate, &csv_step, &error))
    return UsageError("--csv-every: " + error);

  if (!o.events.empty() && !ReadEventsFile(main, info.sample_rate, &o, &error)) return Fail(error);

  // Whole host blocks per read, so that the module sees the blocks it would
  // for the whole signal at once.
  const size_t block = static_cast<size_t>(o.run.block_size);
  const size_t read_samples = std::max<size_t>(1, kReadSamples / block) * block;
  std::vector<float> input;
  if (!reader.Read(read_samples, &input, &error))
    return Fail(error.empty() ? info.name + ": has no samples" : error);

  // The report takes the check's marks as the chain makes them.
  const double module_rate = ModuleRate(o, info.sample_rate);
  NoteReport report(o.report, info.sample_rate, module_rate, SettingsTimeline(o.run), &o.check);
  CheckRequest check{o.check, CheckPitchOptions(static_cast<int>(module_rate), CheckStage::kHop),
                     &report};
  Chain chain;
  ChainRequest request;
  request.file_rate = info.sample_rate;
  request.module_rate = module_rate;
  request.prefilter = o.prefilter;
  request.gate_db = o.check.gate_db;
  request.check = &check;
  request.run = o.run;
  if (!chain.Build(main, request, &error)) return Fail(error);

  // Every output gets its temporary file (or is opened, when written
  // through) before any work, so that an unwritable path fails early and
  // nothing is left behind; OUT must fit its container and destination.
  StagedFile out_file, csv_file, plot_file;
  if (!o.out.empty() && !out_file.Create(o.out, &error)) return Fail(error);
  if (!o.out.empty() && !CheckAudioDestination(out_file, reader.PromisedFrames(), &error))
    return Refuse(error);
  if (!o.csv.empty() && !csv_file.Create(o.csv, &error)) return Fail(error);
  if (!o.plot.empty() && !plot_file.Create(o.plot, &error)) return Fail(error);

  // The chain's stages, then a sink for each thing the options ask for.
  Pipeline pipeline;
  chain.AddTo(&pipeline);
  AudioSink audio;
  if (!o.out.empty()) {
    if (!audio.Open(out_file, info.sample_rate, &error)) return Fail(error);
    pipeline.AddSink(&audio);
  }
  CsvSink csv(csv_step, SettingsTimeline(o.run), info.sample_rate, module_rate);
  if (!o.csv.empty()) {
    if (!csv.Open(csv_file, &error)) return Fail(error);
    pipeline.AddSink(&csv);
  }
  EnvelopeSink envelopes;
  if (!o.plot.empty()) pipeline.AddSink(&envelopes);
  StatsSink stats;
  pipeline.AddSink(&stats);
  pipeline.AddSink(&report);
  const int64_t expected = reader.PromisedFrames();
  ProgressSink progress(isatty(STDERR_FILENO) && expected > kProgressSeconds * info.sample_rate,
                        expected > 0 ? static_cast<uint64_t>(expected) : 0);
  pipeline.AddSink(&progress);

  do {
    if (!pipeline.Push(input, &error)) return Fail(error);
  } while (reader.Read(read_samples, &input, &error));
  if (!error.empty()) return Fail(error);
  if (!pipeline.Finish(&error)) return Fail(error);

  WarnIfTruncated(reader);
  if (!o.plot.empty() && !DrawPlot(o, info, envelopes, plot_file, &error)) return Fail(error);
  for (StagedFile* file : {&out_file, &csv_file, &plot_file})
    if (file->Created() && !file->Commit(&error)) return Fail(error);

  size_t events_beyond_end = static_cast<size_t>(
      std::count_if(o.run.changes.begin(), o.run.changes.end(),
                    [&](const Change& c) { return c.sample >= stats.Samples(); }));
  PrintSummary(o, info, stats, report, chain.PrefilterText(), events_beyond_end,
               SilentChannelHint(reader));
  return 0;
}

Command RenderCommand() {
  // The table's rows are bound to a copy nobody reads; their help shows its defaults.
  static RenderOptions defaults;
  return {"render", "render IN [OUT] [options]",
          "process one channel of an audio file (IN -: standard\n"
          "input) and print a summary; OUT gets the output as\n"
          "32-bit float mono (.wav .aiff .caf .au .w64) in the\n"
          "module's units, 1.0 = 10 V (the summary and CSV are\n"
          "in volts)",
          RenderRows(&defaults), Render};
}

}  // namespace tonevolt
