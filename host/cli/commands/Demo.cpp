#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "commands/Commands.h"
#include "files/Files.h"
#include "files/Paths.h"
#include "module/Readings.h"
#include "module/Run.h"
#include "plot/Plot.h"

namespace tonevolt {

namespace {

constexpr double kRate = kReferenceRate;  // the module's calibration holds here
constexpr double kNoteSeconds = 0.5;      // a 40 Hz one-pole settles in about 30 ms
constexpr double kAmplitude = 0.5;
// Where the files go unless --out names a folder.
const char kDefaultFolder[] = "tonevolt-demo";

// A1 to A7 and a few notes between, as MIDI numbers (A4 = 69).
constexpr int kNotes[] = {33, 45, 57, 60, 69, 76, 81, 93, 105};

enum class Wave { kSine, kSaw, kSquare };
const struct {
  Wave wave;
  const char* name;
} kWaves[] = {{Wave::kSine, "sine"}, {Wave::kSaw, "saw"}, {Wave::kSquare, "square"}};

struct Held {
  const char* wave;
  int midi;
  double hz;
  size_t begin, count;
};

double NoteFrequency(int midi) { return 440.0 * std::exp2((midi - 69) / 12.0); }

// Every note of every wave, held in turn with a continuous phase.
std::vector<float> MakeSignal(std::vector<Held>* held) {
  std::vector<float> signal;
  const size_t per_note = static_cast<size_t>(kNoteSeconds * kRate);
  double phase = 0.25;  // cycles; no sample lands on an exact zero at the start
  for (const auto& w : kWaves) {
    for (int midi : kNotes) {
      double hz = NoteFrequency(midi);
      held->push_back({w.name, midi, hz, signal.size(), per_note});
      for (size_t i = 0; i < per_note; ++i) {
        double x;
        switch (w.wave) {
          case Wave::kSine:
            x = std::sin(2.0 * M_PI * phase);
            break;
          case Wave::kSaw:
            x = 2.0 * (phase - std::floor(phase)) - 1.0;
            break;
          default:
            x = phase - std::floor(phase) < 0.5 ? 1.0 : -1.0;
            break;
        }
        signal.push_back(static_cast<float>(kAmplitude * x));
        phase += hz / kRate;
        phase -= std::floor(phase);
      }
    }
  }
  return signal;
}

// One held note through one scale, as the table shows it.
struct Reading {
  const Held* held;
  Settled settled;
  double implied_hz, cents, settle_ms;
};

struct ScaleRun {
  Settings settings;
  std::vector<float> output;
  std::vector<Reading> readings;
};

// Runs the signal through a fresh instance in this scale and reads every note.
bool RunScale(WBMainProc main, Scale scale, const std::vector<float>& signal,
              const std::vector<Held>& held, ScaleRun* run, std::string* error) {
  RunRequest request;
  request.sample_rate = kRate;
  request.settings.scale = scale;
  run->settings = request.settings;
  if (!RunModule(main, signal, request, &run->output, error)) return false;
  for (const Held& h : held) {
    Reading r{&h, AnalyseNote(run->output.data() + h.begin, h.count, run->settings), 0, 0, 0};
    r.implied_hz = ImpliedHz(r.settled.mean, run->settings, kRate);
    r.cents = r.implied_hz > 0 ? Cents(r.implied_hz, h.hz) : NAN;
    r.settle_ms = 1000.0 * r.settled.settle_samples / kRate;
    run->readings.push_back(r);
  }
  return true;
}

void PrintHeading(const Settings& settings, size_t notes) {
  std::string described = SettingsText(settings);
  std::printf(
      "Tonevolt demo: %zu notes of %.1f s at %.0f Hz, amplitude %.1f, default settings "
      "(%s)\n",
      notes, kNoteSeconds, kRate, kAmplitude,
      (described.substr(0, described.find(", 1 V")) + ", " + std::to_string(settings.order) +
       "-pole")
          .c_str());
  // The settled sine error the calibration predicts against the ideal 1 V/kHz.
  std::printf("Calibration: %.5f V/kHz, so a settled sine reads %+.3f cents in 1 V/kHz\n",
              kVoltsPerKhz, Cents(kVoltsPerKhz, 1.0));
}

void PrintTable(const ScaleRun& run) {
  std::printf("\n%s\n%-6s  %-4s  %9s  %9s  %10s  %8s  %9s  %9s\n",
              ScaleName(run.settings.scale).c_str(), "wave", "note", "input Hz", "volts",
              "implied Hz", "cents", "ripple mV", "settle ms");
  for (const Reading& r : run.readings)
    std::printf("%-6s  %-4s  %9.2f  %9.5f  %10.2f  %+8.3f  %9.1f  %9.1f\n", r.held->wave,
                NoteName(r.held->hz).c_str(), r.held->hz, kVoltsPerUnit * r.settled.mean,
                r.implied_hz, r.cents, 1000.0 * kVoltsPerUnit * r.settled.ripple, r.settle_ms);
  if (run.settings.scale == Scale::kVoltPerOctave)
    std::printf(
        "The table takes the logarithm of a rippling value, so the mean lies below the "
        "note;\nthe error shrinks with the ripple (higher notes, lower cutoff, 2 poles).\n");
}

std::string CsvTable(const std::vector<ScaleRun>& runs) {
  std::string csv =
      "scale,wave,note,input_hz,output_volts,implied_hz,error_cents,ripple_mv,settling_ms\n";
  for (const ScaleRun& run : runs) {
    for (const Reading& r : run.readings) {
      char line[256];
      std::snprintf(line, sizeof line, "%s,%s,%s,%.4f,%.7f,%.4f,%.4f,%.3f,%.2f\n",
                    ScaleName(run.settings.scale).c_str(), r.held->wave,
                    NoteName(r.held->hz).c_str(), r.held->hz, kVoltsPerUnit * r.settled.mean,
                    r.implied_hz, r.cents, 1000.0 * kVoltsPerUnit * r.settled.ripple, r.settle_ms);
      csv += line;
    }
  }
  return csv;
}

const char* const kFileNames[] = {"signal.wav", "output-khz.wav", "output-oct.wav", "demo.csv",
                                  "demo.png"};

// Stages every file first and renames them into place together.
bool WriteDemoFiles(const std::string& folder, const std::vector<float>& signal,
                    const std::vector<ScaleRun>& runs, const std::string& csv, std::string* error) {
  StagedFile signal_file, khz_file, oct_file, csv_file, plot_file;
  StagedFile* files[] = {&signal_file, &khz_file, &oct_file, &csv_file, &plot_file};
  for (size_t f = 0; f < 5; ++f)
    if (!files[f]->Create(folder + kFileNames[f], error)) return false;
  if (!WriteAudio(signal_file, signal, static_cast<int>(kRate), error) ||
      !WriteAudio(khz_file, runs[0].output, static_cast<int>(kRate), error) ||
      !WriteAudio(oct_file, runs[1].output, static_cast<int>(kRate), error) ||
      !WriteText(csv_file, csv, error))
    return false;
  PlotRequest plot;
  plot.title = "Tonevolt demo: sine, saw and square, A1 to A7, default settings";
  plot.sample_rate = kRate;
  std::vector<Envelope> envelopes(runs.size() + 1, Envelope(kEnvelopeColumns));
  for (size_t r = 0; r < runs.size(); ++r) {
    envelopes[r].Add(runs[r].output.data(), runs[r].output.size());
    plot.outputs.push_back(
        {"output, " + ScaleName(runs[r].settings.scale), &envelopes[r], runs[r].settings});
  }
  envelopes.back().Add(signal.data(), signal.size());
  plot.input = &envelopes.back();
  if (!WritePlot(plot, plot_file, error)) return false;
  for (StagedFile* f : files)
    if (!f->Commit(error)) return false;
  return true;
}

std::vector<Option> DemoRows(std::string* folder) {
  return {Option::Text("--out", "DIR", "", "a folder", folder)};
}

int Demo(const Invocation& invocation) {
  std::string folder = kDefaultFolder, error;
  if (!ReadOptions(DemoRows(&folder), invocation, &error)) return UsageError(error);
  if (!invocation.args.empty())
    return UsageError("demo: unexpected argument '" + invocation.args[0] + "'");
  if (folder.back() != '/') folder += '/';
  std::vector<NamedPath> outputs;
  for (const char* name : kFileNames) outputs.push_back({"demo file", folder + name});
  if (!CheckDistinct({{"--module", ModulePath(invocation)}}, outputs, &error)) return Refuse(error);
  if (!CheckGnuplot(&error)) return Fail(error);
  std::unique_ptr<wbhost::ModuleLibrary> library = LoadModule(invocation);
  if (library == nullptr) return 1;
  MadeFolders made;
  if (!made.Make(folder, &error)) return Fail(error);

  std::vector<Held> held;
  std::vector<float> signal = MakeSignal(&held);
  std::vector<ScaleRun> runs(2);
  const Scale scales[] = {Scale::kVoltPerKhz, Scale::kVoltPerOctave};
  for (size_t s = 0; s < runs.size(); ++s)
    if (!RunScale(library->Main(), scales[s], signal, held, &runs[s], &error)) return Fail(error);

  PrintHeading(runs[0].settings, held.size());
  for (const ScaleRun& run : runs) PrintTable(run);
  if (!WriteDemoFiles(folder, signal, runs, CsvTable(runs), &error)) return Fail(error);
  made.Keep();
  std::printf("\nWrote %ssignal.wav, output-khz.wav, output-oct.wav, demo.csv, demo.png\n",
              Printable(folder).c_str());
  return 0;
}

}  // namespace

Command DemoCommand() {
  static std::string folder = kDefaultFolder;  // bound by the table's rows, never read
  return {"demo", "demo [--out DIR]",
          "run a built-in signal of known pitches through the\n"
          "module in 1 V/kHz and 1 V/oct; print a table and\n"
          "write signal, outputs, CSV and plot to DIR\n"
          "(default ./" +
              folder + ")",
          DemoRows(&folder), Demo};
}

}  // namespace tonevolt
