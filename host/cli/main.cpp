// tonevolt: runs the Tonevolt module through its real boundary: loads the
// library, creates instances through main and drives their records.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "Analysis.h"
#include "Commands.h"
#include "WBHost.h"

namespace tonevolt {

namespace {

const char kLibraryName[] = "Tonevolt.so";

// The library beside this program.
std::string DefaultModulePath(const char* argv0) {
  std::string self(argv0);
  size_t slash = self.find_last_of('/');
  return slash == std::string::npos ? std::string("./") + kLibraryName
                                    : self.substr(0, slash + 1) + kLibraryName;
}

// Kept loaded until the process ends: instances are closed before that.
std::unique_ptr<wbhost::ModuleLibrary> g_library;

const char kUsage[] =
    "usage: tonevolt [--module PATH] COMMAND [options]\n"
    "\n"
    "  demo [--out DIR]          run a built-in signal of known pitches through the\n"
    "                            module in 1 V/kHz and 1 V/oct; print a table and\n"
    "                            write signal, outputs, CSV and plot to DIR\n"
    "                            (default ./tonevolt-demo)\n"
    "  render IN OUT [options]   process one channel of an audio file into OUT\n"
    "                            (32-bit float mono: .wav .aiff .caf .au .w64)\n"
    "      --channel N           input channel, from 0 (default 0)\n"
    "      --cutoff HZ           filter cutoff, 10..5000 (default 40)\n"
    "      --octave N            octave shift, -3..+3 (default 0)\n"
    "      --scale khz|oct       1 V/kHz or 1 V/oct (default khz)\n"
    "      --order 1|2           filter poles (default 1)\n"
    "      --block N             host block size, 1..65536 (default 1024)\n"
    "      --events FILE         timed changes, one a line: TIME PIN VALUE, TIME in\n"
    "                            samples or seconds with 's' (\"0.5s Octave +1\")\n"
    "      --csv FILE            time, input, output volts, implied Hz per sample\n"
    "      --plot FILE.png       output over time, input underneath\n"
    "  describe                  print the module description and its pins\n"
    "\n"
    "  --module PATH             the module library (default: Tonevolt.so beside\n"
    "                            this program)\n";

}  // namespace

int Fail(const std::string& message) {
  std::fprintf(stderr, "tonevolt: %s\n", message.c_str());
  return 1;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "tonevolt: %s (tonevolt --help for usage)\n", message.c_str());
  return 2;
}

WBMainProc LoadModule(const std::string& path) {
  g_library = std::make_unique<wbhost::ModuleLibrary>();
  std::string error;
  if (!g_library->Load(path, &error)) {
    Fail(error);
    return nullptr;
  }
  return g_library->Main();
}

std::string RateNote(double sample_rate) {
  if (sample_rate == kReferenceRate) return "";
  char text[256];
  std::snprintf(text, sizeof text,
                "at %.0f Hz the module's 1 V/kHz reading is scaled by 44100/%.0f = %.4f; "
                "implied frequencies are corrected for it",
                sample_rate, sample_rate, kReferenceRate / sample_rate);
  return text;
}

}  // namespace tonevolt

int main(int argc, char** argv) {
  std::string module_path = tonevolt::DefaultModulePath(argv[0]);
  std::string command;
  tonevolt::Args args;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (command.empty() && arg == "--module") {
      if (i + 1 >= argc) return tonevolt::UsageError("--module needs a path");
      module_path = argv[++i];
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(tonevolt::kUsage, stdout);
      return 0;
    } else if (command.empty()) {
      command = arg;
    } else {
      args.push_back(arg);
    }
  }
  if (command.empty() || command == "describe") return tonevolt::Describe(module_path, args);
  if (command == "demo") return tonevolt::Demo(module_path, args);
  if (command == "render") return tonevolt::Render(module_path, args);
  return tonevolt::UsageError("unknown command '" + command + "'");
}
