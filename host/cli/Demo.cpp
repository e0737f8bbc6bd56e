#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "Analysis.h"
#include "Commands.h"
#include "Files.h"
#include "Plot.h"
#include "Run.h"

namespace tonevolt {

namespace {

constexpr double kRate = 44100.0;
constexpr double kNoteSeconds = 0.5;  // a 40 Hz one-pole settles in about 30 ms
constexpr double kAmplitude = 0.5;

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

// The settled sine error the module's constants predict: pulse height 1.0022
// and gain 2.2 (as float32) against the ideal 10 V per 10 kHz at 44100 Hz.
double PredictedCents() {
  double volts_per_khz = double(1.0022f) * double(2.2f) * 2.0 / kRate * 10000.0;
  return Cents(volts_per_khz, 1.0);
}

}  // namespace

int Demo(const std::string& module_path, const Args& args) {
  std::string folder = "tonevolt-demo";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--out" && i + 1 < args.size()) {
      folder = args[++i];
    } else if (args[i] == "--out") {
      return UsageError("--out needs a folder");
    } else {
      return UsageError("demo: unexpected argument '" + args[i] + "'");
    }
  }
  WBMainProc main = LoadModule(module_path);
  if (main == nullptr) return 1;
  std::string error;
  if (!MakeFolders(folder, &error)) return Fail(error);
  if (folder.back() != '/') folder += '/';

  std::vector<Held> held;
  std::vector<float> signal = MakeSignal(&held);
  const Scale scales[] = {Scale::kVoltPerKhz, Scale::kVoltPerOctave};
  std::vector<float> outputs[2];
  Settings settings[2];
  for (int s = 0; s < 2; ++s) {
    RunRequest request;
    request.sample_rate = kRate;
    request.settings.scale = scales[s];
    settings[s] = request.settings;
    if (!RunModule(main, signal, request, &outputs[s], &error)) return Fail(error);
  }

  std::string csv =
      "scale,wave,note,input_hz,output_volts,implied_hz,error_cents,ripple_mv,settling_ms\n";
  std::printf(
      "Tonevolt demo: %zu notes of %.1f s at %.0f Hz, amplitude %.1f, default settings "
      "(%s)\n",
      held.size(), kNoteSeconds, kRate, kAmplitude,
      (Describe(settings[0]).substr(0, Describe(settings[0]).find(", 1 V")) + ", " +
       std::to_string(settings[0].order) + "-pole")
          .c_str());
  std::printf("Calibration: 0.99993 V/kHz, so a settled sine reads %+.3f cents in 1 V/kHz\n",
              PredictedCents());
  for (int s = 0; s < 2; ++s) {
    std::printf("\n%s\n%-6s  %-4s  %9s  %9s  %10s  %8s  %9s  %9s\n", ScaleName(scales[s]).c_str(),
                "wave", "note", "input Hz", "volts", "implied Hz", "cents", "ripple mV",
                "settle ms");
    for (const Held& h : held) {
      Settled settled = AnalyseNote(outputs[s].data() + h.begin, h.count, settings[s]);
      double implied = ImpliedHz(settled.mean, settings[s], kRate);
      double cents = implied > 0 ? Cents(implied, h.hz) : NAN;
      std::string note = NoteName(h.hz);
      double settle_ms = 1000.0 * settled.settle_samples / kRate;
      std::printf("%-6s  %-4s  %9.2f  %9.5f  %10.2f  %+8.3f  %9.1f  %9.1f\n", h.wave, note.c_str(),
                  h.hz, 10.0 * settled.mean, implied, cents, 10000.0 * settled.ripple, settle_ms);
      char line[256];
      std::snprintf(line, sizeof line, "%s,%s,%s,%.4f,%.7f,%.4f,%.4f,%.3f,%.2f\n",
                    ScaleName(scales[s]).c_str(), h.wave, note.c_str(), h.hz, 10.0 * settled.mean,
                    implied, cents, 10000.0 * settled.ripple, settle_ms);
      csv += line;
    }
    if (scales[s] == Scale::kVoltPerOctave)
      std::printf(
          "The table takes the logarithm of a rippling value, so the mean lies below the "
          "note;\nthe error shrinks with the ripple (higher notes, lower cutoff, 2 poles).\n");
  }

  // All files are staged first and renamed into place together.
  StagedFile signal_file, khz_file, oct_file, csv_file, plot_file;
  if (!signal_file.Create(folder + "signal.wav", &error) ||
      !khz_file.Create(folder + "output-khz.wav", &error) ||
      !oct_file.Create(folder + "output-oct.wav", &error) ||
      !csv_file.Create(folder + "demo.csv", &error) ||
      !plot_file.Create(folder + "demo.png", &error))
    return Fail(error);
  if (!WriteAudio(signal_file, signal, static_cast<int>(kRate), &error) ||
      !WriteAudio(khz_file, outputs[0], static_cast<int>(kRate), &error) ||
      !WriteAudio(oct_file, outputs[1], static_cast<int>(kRate), &error) ||
      !WriteText(csv_file, csv, &error))
    return Fail(error);
  PlotRequest plot;
  plot.title = "Tonevolt demo: sine, saw and square, A1 to A7, default settings";
  plot.sample_rate = kRate;
  plot.outputs.push_back({"output, 1 V/kHz", &outputs[0], settings[0]});
  plot.outputs.push_back({"output, 1 V/oct", &outputs[1], settings[1]});
  plot.input = &signal;
  if (!WritePlot(plot, plot_file.TempPath(), &error)) return Fail(error);
  for (StagedFile* f : {&signal_file, &khz_file, &oct_file, &csv_file, &plot_file})
    if (!f->Commit(&error)) return Fail(error);

  std::printf("\nWrote %ssignal.wav, output-khz.wav, output-oct.wav, demo.csv, demo.png\n",
              folder.c_str());
  return 0;
}

}  // namespace tonevolt
