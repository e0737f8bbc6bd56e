#include "Commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "Run.h"
#include "TonevoltPins.h"

namespace tonevolt {

// The handlers, each in its own file.
int Demo(const Invocation& invocation);
int Render(const Invocation& invocation);
int Describe(const Invocation& invocation);
int Advise(const Invocation& invocation);

namespace {

const char kLibraryName[] = "Tonevolt.so";
// Where `cmake --install` puts the library, from the program's folder.
const char kInstalledLibrary[] = "../lib/tonevolt/Tonevolt.so";
const char kModuleOption[] = "--module";
const char kHelpOption[] = "-h,--help";
const char kVersionOption[] = "--version";

const char kGateHelp[] =
    "quieter than this has no pitch, in dBFS (-60 or\n"
    "-60dB; default -60)";

// Where the usage text puts descriptions.
constexpr size_t kHelpColumn = 28;

// "  name  help" with help from kHelpColumn on, continuation lines aligned.
void AppendEntry(const std::string& indent, const std::string& name, const std::string& help,
                 std::string* text) {
  std::string line = indent + name;
  std::string rest = help;
  for (bool first = true;; first = false) {
    size_t end = rest.find('\n');
    std::string piece = rest.substr(0, end);
    if (!first) line.clear();
    if (line.size() + 2 > kHelpColumn) {
      *text += line + "\n";
      line.clear();
    }
    line.resize(kHelpColumn, ' ');
    *text += line + piece + "\n";
    if (end == std::string::npos) break;
    rest = rest.substr(end + 1);
  }
}

std::string OptionName(const Option& option) {
  std::string name = option.name;
  for (size_t at; (at = name.find(",-")) != std::string::npos;) name.replace(at, 1, ", ");
  return option.value.empty() ? name : name + " " + option.value;
}

// "lo..hi (default d)" from the published contract; a range across zero
// signs both ends.
template <typename T>
std::string Range(T lo, T hi, T fallback) {
  std::ostringstream text;
  text << lo << ".." << (lo < 0 && hi > 0 ? "+" : "") << hi << " (default " << fallback << ")";
  return text.str();
}

// The folder of the running program itself, through any symlink on PATH.
std::string ProgramFolder() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  std::string self(path, static_cast<size_t>(length));
  return self.substr(0, self.find_last_of('/'));
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

const std::vector<Command>& CommandTable() {
  static const std::vector<Command> table = {
      {"demo",
       "demo [--out DIR]",
       "run a built-in signal of known pitches through the\n"
       "module in 1 V/kHz and 1 V/oct; print a table and\n"
       "write signal, outputs, CSV and plot to DIR\n"
       "(default ./tonevolt-demo)",
       {{"--out", "DIR", "", "a folder"}},
       Demo},
      {"render",
       "render IN [OUT] [options]",
       "process one channel of an audio file (IN -: standard\n"
       "input) and print a summary; OUT gets the output as\n"
       "32-bit float mono (.wav .aiff .caf .au .w64) in the\n"
       "module's units, 1.0 = 10 V (the summary and CSV are\n"
       "in volts)",
       {{"--channel", "N", "input channel, from 0 (default 0)"},
        {"--cutoff", "HZ",
         "filter cutoff in Hz (20 or 20Hz),\n" +
             Range(kCutoffMinHz, kCutoffMaxHz, kCutoffDefaultHz)},
        {"--octave", "N",
         "octave shift, " + Range(kOctaveMin, kOctaveMax, kOctaveDefaultIndex + kOctaveMin)},
        {"--scale", "khz|oct", "1 V/kHz or 1 V/oct (default khz)"},
        {"--order", "1|2", "filter poles (default 1)"},
        {"--block", "N", "host block size, " + Range(1, kMaxBlockSize, RunRequest().block_size)},
        {"--events", "FILE",
         "timed changes, one a line: TIME PIN VALUE, TIME in\n"
         "samples or seconds with 's' (\"0.5s Octave +1\")",
         "a file"},
        {"--csv", "FILE", "time (s), input, output (V), implied Hz, as it goes", "a file"},
        {"--csv-every", "STEP",
         "one CSV row every STEP samples, or seconds with 's'\n(0.01s; default every sample)"},
        {"--plot", "FILE.png", "output over time, input underneath", "a file"},
        {"--native-rate", "",
         "run the module at the file's rate, as a host there\n"
         "would (default off: at 44100 Hz, where calibrated);\n"
         "--native-rate=no turns it off (or yes, true/false,\n"
         "on/off, 1/0)"},
        {"--prefilter", "KIND",
         "off (default), note:F (8-pole elliptic low-pass\n"
         "at 1.3 F) or range:LO (high-pass at LO/2, 4-pole\n"
         "low-pass at LO); F, LO in Hz (110, 110Hz) or as\n"
         "notes (E1)"},
        {"--gate", "DB", kGateHelp},
        {"--report", "KIND", "notes (default) or slices:SECONDS (0.5 or 0.5s)"}},
       Render},
      {"advise",
       "advise IN | --notes LOW-HIGH",
       "analyse a recording (pitch range, crossings a period,\n"
       "DC offset, vibrato), suggest settings and measure them\n"
       "note by note through the module; or, for a range of\n"
       "notes (E1-A3), from the formulas and test tones",
       {{"--notes", "LOW-HIGH", "a range of notes instead of IN"},
        {"--channel", "N", "input channel, from 0 (default 0)"},
        {"--gate", "DB", kGateHelp},
        {"--plot", "FILE.png", "readings and tracked pitch over time, input underneath", "a file"}},
       Advise},
      {"describe", "describe", "print the module description and its pins", {}, Describe},
  };
  return table;
}

const std::vector<Option>& GlobalOptions() {
  static const std::vector<Option> options = {
      {kModuleOption, "PATH",
       "the module library (default: Tonevolt.so beside\n"
       "this program, or in PREFIX/lib/tonevolt when\n"
       "installed)",
       "a path"},
      {kHelpOption, "", "this text"},
      {kVersionOption, "", "the version"},
  };
  return options;
}

std::string UsageText() {
  std::string text = "usage: tonevolt [--module PATH] COMMAND [options]\n\n";
  for (const Command& command : CommandTable()) {
    AppendEntry("  ", command.usage, command.help, &text);
    for (const Option& option : command.options)
      if (!option.help.empty()) AppendEntry("      ", OptionName(option), option.help, &text);
  }
  text += "\n";
  for (const Option& option : GlobalOptions())
    if (!option.help.empty()) AppendEntry("  ", OptionName(option), option.help, &text);
  text +=
      "\nOptions go before or after the command, as --opt value or --opt=value; given\n"
      "twice, the last counts. Numbers are plain decimals, with the unit or without\n"
      "(20Hz, -60dB, 0.5s). After -- every word is a file (-x.wav).\n"
      "\nOutputs are written beside their place and renamed into it, replacing a file\n"
      "of that name; an output that is an input or another output is refused.\n"
      "Exit status: 0 done, 1 failed, 2 refused (usage or a clash of files),\n"
      "130 or 143 interrupted (nothing written).\n";
  return text;
}

int RunCommandLine(int argc, const char* const* argv) {
  Invocation invocation;
  std::string error;
  if (!ParseCommandLine(argc, argv, &invocation, &error)) return UsageError(error);
  if (invocation.Has(kHelpOption)) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (invocation.Has(kVersionOption)) {
    std::printf("tonevolt %s\n", TONEVOLT_VERSION);
    return 0;
  }
  if (invocation.command == nullptr) {
    std::fputs(UsageText().c_str(), stderr);
    return 2;
  }
  return invocation.command->run(invocation);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "tonevolt: %s\n", message.c_str());
  return 1;
}

int Refuse(const std::string& message) {
  std::fprintf(stderr, "tonevolt: %s\n", message.c_str());
  return 2;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "tonevolt: %s (tonevolt --help for usage)\n", message.c_str());
  return 2;
}

std::string ModulePath(const Invocation& invocation) {
  if (invocation.Has(kModuleOption)) {
    std::string path = invocation.Value(kModuleOption);
    // dlopen would search the library path for a name without a slash.
    return path.find('/') == std::string::npos ? "./" + path : path;
  }
  std::string folder = ProgramFolder();
  std::string beside = folder + "/" + kLibraryName, installed = folder + "/" + kInstalledLibrary;
  return IsFile(beside) || !IsFile(installed) ? beside : installed;
}

std::unique_ptr<wbhost::ModuleLibrary> LoadModule(const Invocation& invocation) {
  auto library = std::make_unique<wbhost::ModuleLibrary>();
  std::string error;
  if (!library->Load(ModulePath(invocation), &error)) {
    Fail(error);
    return nullptr;
  }
  return library;
}

}  // namespace tonevolt
